// CPUID and XGETBV are instructions, not system calls: one implementation for every system.
#include "platform/cpu.hpp"

#include <cpuid.h>

namespace kestrix {

namespace {

class host_cpuid_source final : public cpuid_source {
public:
    cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
        cpuid_regs r;
        __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
        return r;
    }
    // Encoded by hand so that no file needs -mxsave; callers check OSXSAVE first.
    std::uint64_t xgetbv0() const override {
        std::uint32_t lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        return (static_cast<std::uint64_t>(hi) << 32) | lo;
    }
};

} // namespace

const cpuid_source& host_cpuid() {
    static const host_cpuid_source source;
    return source;
}

} // namespace kestrix
