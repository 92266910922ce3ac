#pragma once
// Older records into the current shape. Each step takes one version to the next; what the
// older version could not know becomes null.
#include <nlohmann/json.hpp>

#include <string>

namespace kestrix::results {

// Version 1 (kestrix-results 1.2.0) as version 2 JSON. Throws record_error when the record
// lacks what version 1 always had.
nlohmann::json migrate_v1_to_v2(const nlohmann::json& v1);

} // namespace kestrix::results
