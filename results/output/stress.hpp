#pragma once
// kestrix-stress records in every output: the per-core table and the verdict (markdown, csv,
// json) and, in the page, bar charts of the time under test and the errors per core.
#include "model/stress_record.hpp"
#include "output/markup.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kestrix::results {

struct named_stress {
    std::string name; // the file name without folder and extension
    const stress_record* rec = nullptr;
};

// "passed: no error in 120 checkpoints (finished)", "FAILED: 1 error in ... (stopped at error)";
// a record written while the run went on says when it was written last.
std::string stress_verdict(const stress_record& r);

std::string stress_markdown(const named_stress& s);
std::string stress_csv(const std::vector<named_stress>& all); // one row per core, with a header
nlohmann::json stress_json(const named_stress& s);
void stress_html(markup& m, const named_stress& s);

} // namespace kestrix::results
