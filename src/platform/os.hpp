#pragma once
// The narrow interface to the operating system; one backend per system (linux/, win32/).
// Backends only ask the system and fill plain values: they never print and never throw, and a
// failing query gives 0, false or an empty list.
#include "platform/topology.hpp"

#include <cstdint>
#include <vector>

namespace kestrix::os {

std::int64_t performance_frequency();
std::int64_t coarse_tick_frequency(); // how often the millisecond tick really advances, 0 unknown
bool windows_6_2_or_later();

std::vector<processor_record> processor_records();
void pin_current_thread(std::uint16_t group, std::uint32_t processor);
// Frees the calling thread to run wherever the process could when it started. Where a new
// thread inherits the pin of the thread that started it, it would otherwise stay on that one.
void unpin_current_thread();

std::uint64_t available_physical_memory();
void* aligned_allocate(std::uint64_t size);
void aligned_release(void* p);
std::uint64_t prepare_large_pages(); // privilege step, then the large-page size
void* large_page_map(std::uint64_t rounded_size);
void large_page_unmap(void* p);

} // namespace kestrix::os
