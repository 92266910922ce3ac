// Console output from raw bytes through the log reader, as a saved log and as the timed events
// of a run cut into pieces anywhere; the record made of it must survive its own file format.
// Invariants: both readings agree, and a record written and read back writes the same text.
#include "capture/assemble.hpp"
#include "model/storage.hpp"
#include "record_checks.hpp"

#include <cstdint>
#include <string_view>

using namespace kestrix::results;
using kestrix::results::fuzzing::broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const run_log whole = read_log(text);
    if (text.find('\0') == std::string_view::npos) {
        // The same bytes arriving in pieces of a size taken from the first byte.
        const std::size_t piece = size > 0 ? 1 + data[0] % 61 : 1;
        event_recorder rec;
        for (std::size_t at = 0; at < size; at += piece) {
            rec.feed(text.substr(at, piece), static_cast<std::int64_t>(at));
        }
        const run_log pieces = read_log(rec.finish());
        if (pieces.recognized != whole.recognized || pieces.complete != whole.complete ||
            pieces.problem != whole.problem ||
            nlohmann::json(pieces.sub_runs) != nlohmann::json(whole.sub_runs)) {
            broken("reading from events differs from reading the text");
        }
    }
    if (!whole.recognized) {
        return 0;
    }
    any_record r;
    r.run = make_record(whole, {"import", "fuzz", std::nullopt, system_from_log(whole)});
    fuzzing::check_round_trip(r);
    return 0;
}
