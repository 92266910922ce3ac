#pragma once
// A recorded processor: CPUID answers by (leaf, subleaf), zero for anything not recorded.
#include "platform/cpu.hpp"

#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace kestrix::test {

class fake_cpu final : public cpuid_source {
public:
    std::map<std::pair<std::uint32_t, std::uint32_t>, cpuid_regs> leaves;
    std::uint64_t xcr0 = 0;
    mutable int xgetbv_calls = 0;

    cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
        const auto it = leaves.find({leaf, subleaf});
        return it == leaves.end() ? cpuid_regs{} : it->second;
    }
    std::uint64_t xgetbv0() const override {
        ++xgetbv_calls;
        return xcr0;
    }

    fake_cpu& set(std::uint32_t leaf, std::uint32_t subleaf, cpuid_regs r) {
        leaves[{leaf, subleaf}] = r;
        return *this;
    }
    // Leaves 0x80000002..4 from a text of at most 48 bytes, zero-padded.
    fake_cpu& brand(const std::string& text) {
        char bytes[48] = {};
        std::memcpy(bytes, text.data(), text.size() < 48 ? text.size() : 48);
        for (std::uint32_t i = 0; i < 3; ++i) {
            cpuid_regs r;
            std::memcpy(&r.eax, bytes + 16 * i, 4);
            std::memcpy(&r.ebx, bytes + 16 * i + 4, 4);
            std::memcpy(&r.ecx, bytes + 16 * i + 8, 4);
            std::memcpy(&r.edx, bytes + 16 * i + 12, 4);
            set(0x80000002u + i, 0, r);
        }
        return *this;
    }
};

} // namespace kestrix::test
