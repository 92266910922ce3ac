#pragma once
// Record files of either kind (kestrix runs and kestrix-stress runs) for show and report.
#include "analysis/views.hpp"
#include "cli/commands.hpp"
#include "model/stress_record.hpp"
#include "output/stress.hpp"

#include <string>
#include <vector>

namespace kestrix::results {

struct loaded_record {
    std::string file;
    any_record rec;
};
std::vector<loaded_record> load_any_records(const std::vector<std::string>& files);

// The records split by kind, in file order; the stress entries point into `all`.
struct records_by_kind {
    std::vector<record> runs;
    std::vector<record_view> views;
    std::vector<named_stress> stress;
};
records_by_kind by_kind(const std::vector<loaded_record>& all);

// show's text for records of both kinds in file order. csv cannot put both kinds in one
// table: input_error.
std::string show_any_text(const std::vector<loaded_record>& all, table_format f);

} // namespace kestrix::results
