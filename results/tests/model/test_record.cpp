// The record's types against JSON: version 1 records of kestrix-results 1.2.0 read through the
// migration, records survive a write and a read unchanged, and JSON of the wrong shape, version
// or depth is refused with one line that names the field.
#include "model/migrate.hpp"
#include "model/storage.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace kestrix::results;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

template <class T> json opt(const std::optional<T>& v) {
    return v ? json(*v) : json(nullptr);
}

std::vector<fs::path> v1_records() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(test::data_file("v1"))) {
        out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Record, Version1ReadsThroughTheMigration) {
    const auto files = v1_records();
    ASSERT_GE(files.size(), 8u);
    const char* out_dir = std::getenv("KX_MIGRATED_OUT");
    for (const auto& f : files) {
        SCOPED_TRACE(f.filename().string());
        const json v1 = json::parse(read_whole_file(f.string()));
        const record r = load_record(f.string());
        EXPECT_EQ(r.migrated_from, 1);
        EXPECT_EQ(std::string(mode_name(r.mode)), v1["mode"].get<std::string>());
        EXPECT_EQ(r.source, v1["source"]);
        EXPECT_EQ(r.sub_runs.size(), v1["sub_runs"].size());
        EXPECT_EQ(r.valid_sub_runs(), v1["valid_sub_runs"]);
        // What version 1 could not know stays unknown; what it knew keeps its place.
        EXPECT_FALSE(r.options.decided);
        EXPECT_FALSE(r.options.shown.threads || r.options.shown.workload);
        EXPECT_FALSE(r.system.facts);
        const json& p = v1["system"]["processor"];
        EXPECT_EQ(opt(r.system.timer_rule.vendor), p["vendor"]);
        EXPECT_EQ(opt(r.system.timer_rule.family), p["family"]);
        EXPECT_EQ(opt(r.system.processor.brand), p["brand"]);
        const json& o = v1["options"]["resolved"];
        EXPECT_EQ(opt(r.options.resolved.workload), o["workload"]);
        EXPECT_EQ(r.options.resolved.size.has_value(), o["size"].is_number());
        EXPECT_EQ(opt(r.options.given), v1["options"]["given"]);
        EXPECT_EQ(r.kestrix_version.has_value(), v1["kestrix"]["version"].is_string());
        // Written as version 2, it reads back the same.
        const json once = json(r);
        EXPECT_EQ(once["schema_version"], 2);
        EXPECT_EQ(json(record_from_json(once)), once);
        if (out_dir) {
            fs::create_directories(out_dir);
            write_file_atomic((fs::path(out_dir) / f.filename()).string(), record_text(r));
        }
    }
}

TEST(Record, RefusesOtherShapesWithOneLineNamingTheField) {
    const json good = json(load_record((test::data_file("v1") + "/sweep_threads.json")));
    struct row {
        const char* what;
        json doc;
        const char* message;
    };
    auto with = [&](const json::json_pointer& at, json v) {
        json d = good;
        d[at] = std::move(v);
        return d;
    };
    auto without = [&](const char* key) {
        json d = good;
        d.erase(key);
        return d;
    };
    const row rows[] = {
        {"array", json::array(), "no JSON object"},
        {"no version", without("schema_version"), "no schema_version"},
        {"newer", with("/schema_version"_json_pointer, 3),
         "schema version 3, this program reads versions 1 to 2"},
        {"zero", with("/schema_version"_json_pointer, 0), "schema version 0"},
        {"negative", with("/schema_version"_json_pointer, -1), "schema version -1"},
        {"huge", with("/schema_version"_json_pointer, 18446744073709551615u),
         "schema version 18446744073709551615"},
        {"text version", with("/schema_version"_json_pointer, "2"), "no schema_version"},
        {"score", with("/sub_runs/1/score"_json_pointer, "fast"),
         "\"sub_runs[1].score\": not a number"},
        {"index", with("/sub_runs/0/index"_json_pointer, -4),
         "\"sub_runs[0].index\": not a whole number"},
        {"mode", with("/mode"_json_pointer, "sometimes"), "unknown mode \"sometimes\""},
        {"stress", with("/mode"_json_pointer, "stress"),
         "a kestrix-stress record, not one of a kestrix run"},
        {"source", without("source"), "\"source\": missing"},
        {"threads", with("/options/resolved/threads"_json_pointer, 1.5),
         "\"options.resolved.threads\": not a whole number"},
        {"fact", with("/system/facts"_json_pointer, {{"cpu.vendor", {{"value", "AuthenticAMD"}}}}),
         "\"system.facts.cpu.vendor\": names neither"},
        {"features", with("/system/processor/features"_json_pointer, {"SSE2", 3}),
         "\"system.processor.features[1]\": not a text"},
        {"v1 without options",
         [] {
             json d = json::parse(read_whole_file(test::data_file("v1") + "/help.json"));
             d.erase("options");
             return d;
         }(),
         "version 1 record lacks \"options\""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        try {
            record_from_json(r.doc);
            ADD_FAILURE() << "accepted";
        } catch (const input_error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(r.message), std::string::npos) << m;
            EXPECT_EQ(m.find('\n'), std::string::npos);
        }
    }
    // A fact either way is accepted.
    json facts = good;
    facts["system"]["facts"] = {
        {"cpu.vendor", {{"value", "AuthenticAMD"}, {"source", "cpuid leaf 0"}}},
        {"cpu.microcode", {{"value", nullptr}, {"unavailable", "not in /proc/cpuinfo"}}}};
    EXPECT_EQ(json(record_from_json(facts))["system"]["facts"], facts["system"]["facts"]);
}

TEST(Record, NestingDepthIsCappedBeforeParsing) {
    auto nested = [](int depth, const std::string& inside) {
        return std::string(static_cast<std::size_t>(depth), '[') + inside +
               std::string(static_cast<std::size_t>(depth), ']');
    };
    EXPECT_NO_THROW(parse_json_text(nested(max_json_depth, "1")));
    EXPECT_THROW(parse_json_text(nested(max_json_depth + 1, "1")), input_error);
    EXPECT_THROW(parse_json_text(nested(200000, "")), input_error);
    // Brackets inside texts are no nesting.
    EXPECT_NO_THROW(parse_json_text("[\"" + std::string(1000, '[') + "\\\"{\"]"));
    try {
        parse_json_text(nested(100, ""));
    } catch (const input_error& e) {
        EXPECT_NE(std::string(e.what()).find("nested deeper than 64 levels"), std::string::npos);
    }
}

} // namespace
