// show, compare and report on fuzzed records: the input is up to four record files (of kestrix
// runs or of kestrix-stress) separated by a line "--8<--"; those that read are shown, compared
// and drawn in every format. The JSON outputs must be JSON.
#include "cli/any_records.hpp"
#include "cli/commands.hpp"
#include "model/storage.hpp"
#include "output/exporters.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using namespace kestrix::results;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<loaded_record> all;
    constexpr std::string_view cut = "\n--8<--\n";
    for (int i = 0; i < 4 && !text.empty(); ++i) {
        const auto at = text.find(cut);
        const std::string_view doc = text.substr(0, at);
        text = at == std::string_view::npos ? std::string_view() : text.substr(at + cut.size());
        try {
            all.push_back(
                {"r" + std::to_string(i) + ".json", any_record_from_json(parse_json_text(doc))});
        } catch (const input_error&) {
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
    const std::string page = html_report(k.runs, k.views, "2026-12-10T00:00:00Z", k.stress);
    if (page.find("<script") != std::string::npos) {
        broken("a text of a record became markup");
    }
    return 0;
}
