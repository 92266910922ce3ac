#pragma once
// What the record fuzz targets share: how a broken invariant ends the run, and the round trip
// that every record this program writes must survive.
#include "model/storage.hpp"
#include "model/stress_record.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrix::results::fuzzing {

[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline std::string text_of(const any_record& a) {
    return a.run ? record_text(*a.run) : stress_record_text(*a.stress);
}

// Written, read back and written again, a record of either kind gives the same text.
inline void check_round_trip(const any_record& r) {
    const std::string once = text_of(r);
    try {
        if (text_of(any_record_from_json(parse_json_text(once))) != once) {
            broken("a record read back writes different text");
        }
    } catch (const input_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        broken("a record this program wrote does not read back");
    }
}

} // namespace kestrix::results::fuzzing
