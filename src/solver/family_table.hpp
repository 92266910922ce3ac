#pragma once
// The factory's table seen from inside the solver room: which family serves an instruction
// set, and plain entry points into each family's code for tests and benchmarks.
#include "platform/isa.hpp"
#include "solver/solver.hpp"
#include "solver/variants/variant_api.hpp"

#include <cstdint>
#include <string_view>

namespace kestrix {

struct family_entry {
    kernel_family family;
    std::string_view name; // the family's namespace
    bool (*update_h)(field_grid&);
    bool (*update_e)(field_grid&);
    double (*node_energy)(const field_grid&, std::uint64_t, std::uint64_t, std::uint64_t);
    double (*total_energy)(const field_grid&);
};

kernel_family family_of(isa_kind isa);
const family_entry& family_code(kernel_family family);

// What the solver holds, whatever its family; a view with a null grid for a foreign class.
solver_view view_solver(solver& s);

} // namespace kestrix
