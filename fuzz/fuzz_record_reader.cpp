// Any bytes as a record file (of a kestrix run or of kestrix-stress): JSON of any shape, depth and
// version. Refusals are one-line input errors; whatever is accepted writes a record that reads
// back to the same text.
#include "model/storage.hpp"
#include "model/stress_record.hpp"

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
    auto text_of = [](const any_record& a) {
        return a.run ? record_text(*a.run) : stress_record_text(*a.stress);
    };
    const std::string once = text_of(r);
    try {
        if (text_of(any_record_from_json(parse_json_text(once))) != once) {
            broken("a record read back writes different text");
        }
    } catch (const input_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        broken("a record this program wrote does not read back");
    }
    return 0;
}
