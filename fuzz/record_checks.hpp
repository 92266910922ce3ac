#pragma once
// What the record fuzz targets share: how a broken invariant ends the run, and the round trip
// that every record this program writes must survive.
#include "model/storage.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrix::results::fuzzing {

[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Written, read back and written again, a record gives the same text.
inline void check_round_trip(const record& r) {
    const std::string once = record_text(r);
    try {
        if (record_text(record_from_json(parse_json_text(once))) != once) {
            broken("a record read back writes different text");
        }
    } catch (const input_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        broken("a record this program wrote does not read back");
    }
}

} // namespace kestrix::results::fuzzing
