#include "platform/cpu.hpp"
#include "solver/family_table.hpp"
#include "solver/solver.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace kestrix {

solver::~solver() = default;

namespace {

using constructor = solver* (*)(std::uint32_t);

struct factory_row {
    isa_kind isa;
    kernel_family family;
    constructor standing_wave;
    constructor soft_gaussian;
};

// One row per isa_kind, in its order.
constexpr std::array<factory_row, 9> factory_table = {{
    {isa_kind::sse2, kernel_family::scalar_sse2, scalar_sse2::new_standing_wave,
     scalar_sse2::new_soft_gaussian_sse2},
    {isa_kind::avx, kernel_family::scalar_avx, scalar_avx::new_standing_wave,
     scalar_avx::new_soft_gaussian_avx},
    {isa_kind::avx2, kernel_family::scalar_avx, scalar_avx::new_standing_wave,
     avx2::new_soft_gaussian_avx2},
    {isa_kind::fma, kernel_family::fma256, fma256::new_standing_wave,
     fma256::new_soft_gaussian_fma},
    {isa_kind::fma_apx, kernel_family::fma256_apx, fma256_apx::new_standing_wave,
     fma256_apx::new_soft_gaussian_fma_apx},
    {isa_kind::avx512f, kernel_family::avx512_512, avx512_512::new_standing_wave,
     avx512_512::new_soft_gaussian_avx512f},
    {isa_kind::avx512vl, kernel_family::avx512_256, avx512_256::new_standing_wave,
     avx512_256::new_soft_gaussian_avx512vl},
    {isa_kind::avx10_2_256, kernel_family::avx512_256, avx512_256::new_standing_wave,
     avx512_256::new_soft_gaussian_avx10_2_256},
    {isa_kind::avx10_2_512, kernel_family::avx512_512, avx512_512::new_standing_wave,
     avx512_512::new_soft_gaussian_avx10_2_512},
}};

// In kernel_family order.
constexpr std::array<family_entry, 6> family_table = {{
    {kernel_family::scalar_sse2, "scalar_sse2", scalar_sse2::update_h, scalar_sse2::update_e,
     scalar_sse2::node_energy, scalar_sse2::total_energy},
    {kernel_family::scalar_avx, "scalar_avx", scalar_avx::update_h, scalar_avx::update_e,
     scalar_avx::node_energy, scalar_avx::total_energy},
    {kernel_family::fma256, "fma256", fma256::update_h, fma256::update_e, fma256::node_energy,
     fma256::total_energy},
    {kernel_family::fma256_apx, "fma256_apx", fma256_apx::update_h, fma256_apx::update_e,
     fma256_apx::node_energy, fma256_apx::total_energy},
    {kernel_family::avx512_512, "avx512_512", avx512_512::update_h, avx512_512::update_e,
     avx512_512::node_energy, avx512_512::total_energy},
    {kernel_family::avx512_256, "avx512_256", avx512_256::update_h, avx512_256::update_e,
     avx512_256::node_energy, avx512_256::total_energy},
}};

const factory_row& row_of(isa_kind isa) {
    return factory_table[static_cast<std::size_t>(isa)];
}

} // namespace

kernel_family family_of(isa_kind isa) {
    return row_of(isa).family;
}

const family_entry& family_code(kernel_family family) {
    return family_table[static_cast<std::size_t>(family)];
}

solver_view view_solver(solver& s) {
    solver_view v;
    bool (*const views[])(solver&, solver_view&) = {
        scalar_sse2::view_solver, scalar_avx::view_solver, avx2::view_solver,
        fma256::view_solver,      fma256_apx::view_solver, avx512_512::view_solver,
        avx512_256::view_solver,
    };
    for (auto* view : views) {
        if (view(s, v)) {
            break;
        }
    }
    return v;
}

std::optional<workload_kind> parse_workload_name(std::string_view text) {
    if (text == "standing_wave") {
        return workload_kind::standing_wave;
    }
    if (text == "soft_gaussian") {
        return workload_kind::soft_gaussian;
    }
    return std::nullopt;
}

std::unique_ptr<solver> make_solver(workload_kind workload, isa_kind isa,
                                    std::uint32_t thread_index) {
    const factory_row& row = row_of(isa);
    return std::unique_ptr<solver>(workload == workload_kind::standing_wave
                                       ? row.standing_wave(thread_index)
                                       : row.soft_gaussian(thread_index));
}

std::unique_ptr<solver> make_solver(std::string_view workload, std::string_view isa,
                                    std::uint32_t thread_index) {
    const std::optional<isa_kind> kind = parse_isa_name(isa);
    const std::optional<workload_kind> w = parse_workload_name(workload);
    if (!kind || !w) {
        return nullptr;
    }
    return make_solver(*w, *kind, thread_index);
}

bool is_known_workload(std::string_view workload) {
    return parse_workload_name(workload).has_value();
}

namespace {

#if defined(KX_APX_CODEGEN)
constexpr bool apx_codegen = true;
#else
constexpr bool apx_codegen = false;
#endif

struct requirement {
    const char* name;
    bool present;
};

} // namespace

std::optional<std::string> check_variant_runnable_for(std::string_view isa, const cpu_features& f) {
    const std::optional<isa_kind> kind = parse_isa_name(isa);
    if (!kind) {
        return "unknown isa '" + std::string(isa) + "'";
    }
    return check_variant_runnable_for(*kind, workload_kind::soft_gaussian, f);
}

std::optional<std::string> check_variant_runnable_for(isa_kind isa, workload_kind /*workload*/,
                                                      const cpu_features& f) {
    const std::optional<isa_kind> kind = isa;
    // What each family's compiled code executes, the system's register state included.
    std::vector<requirement> needs;
    const kernel_family family = family_of(*kind);
    if (family != kernel_family::scalar_sse2) {
        needs.push_back({"AVX register state", f.os_avx_state});
        needs.push_back({"AVX", f.avx});
    }
    if (*kind == isa_kind::avx2 ||
        (family != kernel_family::scalar_sse2 && family != kernel_family::scalar_avx)) {
        needs.push_back({"AVX2", f.avx2});
    }
    if (family == kernel_family::fma256 || family == kernel_family::fma256_apx ||
        family == kernel_family::avx512_512 || family == kernel_family::avx512_256) {
        needs.push_back({"FMA", f.fma});
    }
    if (family == kernel_family::fma256_apx && apx_codegen) {
        needs.push_back({"APX register state", f.os_apx_state});
        needs.push_back({"APX", f.apx});
    }
    if (family == kernel_family::avx512_512 || family == kernel_family::avx512_256) {
        needs.push_back({"AVX-512 register state", f.os_avx512_state});
        needs.push_back({"AVX512F", f.avx512f});
    }
    if (family == kernel_family::avx512_256) {
        needs.push_back({"AVX512VL", f.avx512vl});
    }
    std::string missing;
    for (const requirement& r : needs) {
        if (!r.present) {
            missing += missing.empty() ? "" : ", ";
            missing += r.name;
        }
    }
    if (missing.empty()) {
        return std::nullopt;
    }
    return "its code needs " + missing;
}

std::optional<std::string> check_variant_runnable(std::string_view isa) {
    return check_variant_runnable_for(isa, detect_cpu_features());
}

std::optional<std::string> check_variant_runnable(isa_kind isa, workload_kind workload) {
    return check_variant_runnable_for(isa, workload, detect_cpu_features());
}

} // namespace kestrix
