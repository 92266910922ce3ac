#pragma once
// The per-thread field solver: the interface the worker drives, and its factory.
#include "platform/isa.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// Absent on success, the message on failure.
using error_text = std::optional<std::string>;

struct field_params {
    bool large_pages = false;
    std::uint64_t n = 0; // grid edge N
    double dx = 0.01;
};

enum class workload_kind : std::uint8_t { standing_wave, soft_gaussian };

// The kernel families of the variant table (variants/variants.def), in its order.
enum class kernel_family : std::uint8_t {
#define KX_FAMILY(ns) ns,
#include "solver/variants/variants.def"
};

class solver {
public:
    explicit solver(std::int32_t thread_index) : thread_index_(thread_index) {}
    solver(const solver&) = delete;
    solver& operator=(const solver&) = delete;

    virtual ~solver();
    virtual error_text allocate_fields(const field_params& p) = 0;
    virtual error_text init_fields() = 0;
    virtual error_text pre_step(std::uint64_t step_index) = 0;
    virtual error_text step() = 0;
    virtual error_text post_step(std::uint64_t step_index) = 0;
    virtual error_text validate(std::uint64_t steps) = 0;
    virtual std::uint64_t updates_per_step() const = 0;

protected:
    std::int32_t thread_index_;
};

// Exact, case-sensitive comparison with the two workload names.
std::optional<workload_kind> parse_workload_name(std::string_view text);

std::unique_ptr<solver> make_solver(workload_kind workload, isa_kind isa,
                                    std::uint32_t thread_index);
bool is_known_workload(std::string_view workload);

// Whether this processor and system can execute the compiled code of the variant (which may
// need more than the support check tests). Absent: it can; else the reason.
std::optional<std::string> check_variant_runnable(isa_kind isa, workload_kind workload);
// The same for recorded processor facts.
struct cpu_features;
std::optional<std::string> check_variant_runnable_for(isa_kind isa, workload_kind workload,
                                                      const cpu_features& f);

} // namespace kestrix
