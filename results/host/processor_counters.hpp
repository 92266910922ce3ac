#pragma once
// Windows' per-processor performance counters name their instances "group,number" ("0,3", "1,12"),
// beside totals ("_Total", "0,_Total"), in no promised order. These place a counter's values in the
// system's processor order and turn the performance counter into a clock. Pure, so that every
// build tests them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrix::results {

// Where the processor an instance names stands in the system's order (group by group, then by
// number within the group), given each active group's processor count; none for a total, for a
// processor outside the active ones and for any other name.
std::optional<std::size_t> processor_position(std::wstring_view instance,
                                              std::span<const std::uint32_t> group_sizes);

// The clock in MHz from "% Processor Performance" (above 100 while boosting) and the nominal clock
// in MHz; none unless both are plausible.
std::optional<double> effective_mhz(double performance_percent, double nominal_mhz);

} // namespace kestrix::results
