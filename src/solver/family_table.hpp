#pragma once
// The variant table (variants/variants.def) seen from inside the solver room: which family
// and unit serve an instruction set, what each unit's code needs of the processor, and plain
// entry points into each family's code for tests and benchmarks.
#include "platform/cpu.hpp"
#include "platform/isa.hpp"
#include "solver/solver.hpp"
#include "solver/variants/variant_api.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrix {

// What the fma-apx kernels need beyond the fma target: APX and its register state where the
// build generates APX code for them, nothing for the stand-in.
// Every build writes this header: a missing one must not quietly drop the APX needs.
#include <kestrix/variant_build.hpp> // KX_APX_CODEGEN of this build
#if KX_APX_CODEGEN
inline constexpr cpu_needs apx_codegen_needs = need_apx_state | need_apx;
#else
inline constexpr cpu_needs apx_codegen_needs = 0;
#endif

struct family_entry {
    kernel_family family;
    std::string_view name; // the family's namespace
    bool (*update_h)(field_grid&);
    bool (*update_e)(field_grid&);
    double (*node_energy)(const field_grid&, std::uint64_t, std::uint64_t, std::uint64_t);
    double (*total_energy)(const field_grid&);
    solver* (*new_standing_wave)(std::uint32_t);
};

struct unit_entry {
    variant_unit unit;
    std::string_view name; // the unit's namespace
    kernel_family family;
    std::uint32_t width; // widest vector register its code uses, in bits
    cpu_needs needs;     // what its code executes
    solver* (*new_soft_gaussian)(std::uint32_t, std::uint32_t); // isa_kind number, thread
    bool (*view_solver)(solver&, solver_view&);
    double (*total_energy)(const field_grid&); // the energy pass of its soft Gaussian
    const unit_classes* classes;               // its solvers' classes
};

struct variant_entry {
    isa_kind isa;
    kernel_family family;
    variant_unit unit;
};

// In kernel_family order.
inline constexpr std::array family_table = {
#define KX_FAMILY(ns)                                                                              \
    family_entry{                                                                                  \
        kernel_family::ns,    #ns, ns::update_h, ns::update_e, ns::node_energy, ns::total_energy,  \
        ns::new_standing_wave},
#include "solver/variants/variants.def"
};

// In variant_unit order.
inline constexpr std::array unit_table = {
#define KX_UNIT(ns, fam, bits, code_needs)                                                         \
    unit_entry{variant_unit::ns,   #ns,                                                            \
               kernel_family::fam, bits,                                                           \
               (code_needs),       ns::new_soft_gaussian,                                          \
               ns::view_solver,    ns::total_energy,                                               \
               &ns::classes},
#include "solver/variants/variants.def"
};

// In isa_kind order.
inline constexpr std::array variant_table = {
#define KX_VARIANT(id, fam, u) variant_entry{isa_kind::id, kernel_family::fam, variant_unit::u},
#include "solver/variants/variants.def"
};

static_assert(variant_table.size() == isa_count, "one variant row per instruction set");
static_assert(
    [] {
        for (std::size_t i = 0; i < variant_table.size(); ++i) {
            if (static_cast<std::size_t>(variant_table[i].isa) != i) {
                return false;
            }
        }
        for (std::size_t i = 0; i < family_table.size(); ++i) {
            if (static_cast<std::size_t>(family_table[i].family) != i ||
                unit_table[static_cast<std::size_t>(family_table[i].family)].name !=
                    family_table[i].name) {
                return false;
            }
        }
        return true;
    }(),
    "variant rows in isa_kind order; each family's own unit of the same name and position");

constexpr const variant_entry& variant_of(isa_kind isa) {
    return variant_table[static_cast<std::size_t>(isa)];
}
constexpr const unit_entry& unit_code(variant_unit unit) {
    return unit_table[static_cast<std::size_t>(unit)];
}
constexpr const family_entry& family_code(kernel_family family) {
    return family_table[static_cast<std::size_t>(family)];
}
constexpr kernel_family family_of(isa_kind isa) {
    return variant_of(isa).family;
}

// What the code of a variant's workload class executes: the standing wave is the family's own
// class, the soft Gaussian the unit's.
constexpr cpu_needs variant_needs(isa_kind isa, workload_kind workload) {
    const variant_entry& v = variant_of(isa);
    return workload == workload_kind::standing_wave
               ? unit_code(static_cast<variant_unit>(v.family)).needs
               : unit_code(v.unit).needs;
}

// What the solver holds, whatever its unit; a view with a null grid for a foreign class.
solver_view view_solver(solver& s);

} // namespace kestrix
