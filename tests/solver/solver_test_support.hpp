#pragma once
// Shared helpers of the solver tests: which families and variants this processor can run,
// read from the variant table, and direct access to cells.
#include "platform/cpu.hpp"
#include "solver/family_table.hpp"
#include "solver/field.hpp"
#include "solver/solver.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::test {

// The solver of two names as the tests write them; nullptr for a name neither list has.
inline std::unique_ptr<solver> make_named_solver(std::string_view workload, std::string_view isa,
                                                 std::uint32_t thread_index) {
    const std::optional<workload_kind> w = parse_workload_name(workload);
    const std::optional<isa_kind> i = parse_isa_name(isa);
    return w && i ? make_solver(*w, *i, thread_index) : nullptr;
}

// Every family of the table, in its order.
inline std::vector<kernel_family> every_family() {
    std::vector<kernel_family> all;
    for (const family_entry& f : family_table) {
        all.push_back(f.family);
    }
    return all;
}

// The first instruction set of the table that selects the family.
inline std::string_view family_isa(kernel_family f) {
    for (const variant_entry& v : variant_table) {
        if (v.family == f) {
            return isa_names[static_cast<std::size_t>(v.isa)];
        }
    }
    return {};
}

// Whether the family's kernels fuse each product with its sum.
inline bool is_fused(kernel_family f) {
    return (unit_code(static_cast<variant_unit>(f)).needs & need_fma) != 0;
}

inline field_cell& cell(field_array& a, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return a.cells[(x * a.edge + y) * a.edge + z];
}

// Why this processor cannot execute the code a variant's workload runs; absent: it can.
inline std::optional<std::string> why_not_runnable(std::string_view isa, workload_kind workload) {
    cpu_features f = detect_cpu_features();
#if defined(KX_TEST_APX_TWIN)
    // This executable links the fma-apx kernels compiled without APX in the APX object's place.
    f.apx = true;
    f.os_apx_state = true;
#endif
    return check_variant_runnable_for(*parse_isa_name(isa), workload, f);
}

inline bool runnable(std::string_view isa, workload_kind workload) {
    return !why_not_runnable(isa, workload);
}

// Skips the calling test when this processor cannot execute the variant's code (either
// workload's).
#define KX_SKIP_UNLESS_RUNNABLE(isa)                                                               \
    do {                                                                                           \
        for (const auto w_ :                                                                       \
             {::kestrix::workload_kind::standing_wave, ::kestrix::workload_kind::soft_gaussian}) { \
            if (auto reason_ = ::kestrix::test::why_not_runnable(isa, w_)) {                       \
                GTEST_SKIP() << *reason_;                                                          \
            }                                                                                      \
        }                                                                                          \
    } while (false)

} // namespace kestrix::test
