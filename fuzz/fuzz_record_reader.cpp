// Any bytes as a record file (of a kestrix run or of kestrix-stress): JSON of any shape, depth and
// version. Refusals are one-line input errors; whatever is accepted writes a record that reads
// back to the same text.
#include "model/storage.hpp"
#include "record_checks.hpp"

#include <cstdint>
#include <string_view>

using namespace kestrix::results;
using kestrix::results::fuzzing::broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    any_record r;
    try {
        r = any_record_from_json(parse_json_text(text));
    } catch (const input_error& e) {
        if (std::string_view(e.what()).find('\n') != std::string_view::npos) {
            broken("a refusal of more than one line");
        }
        return 0;
    }
    fuzzing::check_round_trip(r);
    return 0;
}
