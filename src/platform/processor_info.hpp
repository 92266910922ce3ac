#pragma once
// Parser of the variable-length buffer that GetLogicalProcessorInformationEx fills. Pure byte
// decoding, so hand-built buffers test it on any system.
#include "platform/topology.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix {

// Records are walked by their Size fields; a record that would run past the buffer, or whose
// Size cannot hold its fixed part, ends the walk. Relationships other than core, NUMA node and
// cache are skipped.
std::vector<processor_record> parse_processor_information(const std::uint8_t* data,
                                                          std::size_t size);

} // namespace kestrix
