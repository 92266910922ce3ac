// show, compare, report and the fleet report on fuzzed records: the input is up to four record
// files (of kestrix runs or of kestrix-stress) separated by a line "--8<--"; those that read
// are shown, compared, drawn and judged as a fleet in every format. The JSON outputs must be
// JSON.
#include "analysis/fleet.hpp"
#include "cli/any_records.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"
#include "record_checks.hpp"

#include <cstdint>
#include <string_view>

using namespace kestrix::results;
using kestrix::results::fuzzing::broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<loaded_record> all;
    std::vector<fleet_input> fleet;
    constexpr std::string_view cut = "\n--8<--\n";
    for (int i = 0; i < 4 && !text.empty(); ++i) {
        const auto at = text.find(cut);
        const std::string_view doc = text.substr(0, at);
        text = at == std::string_view::npos ? std::string_view() : text.substr(at + cut.size());
        try {
            all.push_back(
                {"r" + std::to_string(i) + ".json", any_record_from_json(parse_json_text(doc))});
            if (all.back().rec.run) {
                fleet.push_back({all.back().file, *all.back().rec.run, "", ""});
            } else {
                fleet.push_back({all.back().file, std::nullopt, "", "a kestrix-stress record"});
            }
        } catch (const input_error&) {
            fleet.push_back({"r" + std::to_string(i) + ".json", std::nullopt, "unreadable", ""});
        }
    }
    if (all.empty()) {
        return 0;
    }
    // Records of kestrix runs and of kestrix-stress, as show and report take them.
    const records_by_kind k = by_kind(all);
    for (const auto f : {table_format::md, table_format::csv, table_format::json}) {
        std::string shown;
        try {
            shown = show_any_text(all, f);
        } catch (const input_error&) {
            if (f != table_format::csv || k.runs.empty() || k.stress.empty()) {
                broken("show refused records it had read");
            }
        }
        const std::string compared = compare_text(k.views, f);
        if (f == table_format::json &&
            (nlohmann::json::parse(shown, nullptr, false).is_discarded() ||
             nlohmann::json::parse(compared, nullptr, false).is_discarded())) {
            broken("show or compare --format json is not JSON");
        }
    }
    for (const auto m : {fleet_metric::all, fleet_metric::single_baseline}) {
        const fleet_report r = fleet_of(fleet, m, {}, {"r0", "node"});
        (void)fleet_markdown(r);
        (void)fleet_csv(r);
        if (nlohmann::json::parse(fleet_json(r), nullptr, false).is_discarded()) {
            broken("fleet --format json is not JSON");
        }
    }
    const std::string page = html_report(k.runs, k.views, "2026-12-10T00:00:00Z", k.stress);
    if (page.find("<script") != std::string::npos) {
        broken("a text of a record became markup");
    }
    return 0;
}
