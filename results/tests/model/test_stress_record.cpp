// kestrix-stress records through the record model: recorded runs read back to the same JSON,
// and every malformed one is refused in one line that names the field.
#include "model/storage.hpp"
#include "model/stress_record.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace kestrix::results;
using nlohmann::json;

namespace {

json stress_file(const char* name) {
    return json::parse(read_whole_file(test::data_file(std::string("stress/") + name)));
}

TEST(StressRecord, RecordedRunsReadBackToTheSameJson) {
    for (const char* name : {"stopped_at_error.json", "running_keep_going.json"}) {
        SCOPED_TRACE(name);
        const json j = stress_file(name);
        const any_record a = any_record_from_json(j);
        ASSERT_TRUE(a.stress);
        EXPECT_FALSE(a.run);
        EXPECT_EQ(json(*a.stress), j);
        EXPECT_EQ(json::parse(stress_record_text(*a.stress)), j);
    }
    const stress_record r = stress_record_from_json(stress_file("stopped_at_error.json"));
    ASSERT_EQ(r.cores.size(), 3u);
    ASSERT_TRUE(r.cores[2].first_error);
    EXPECT_EQ(r.cores[2].first_error->cpus, std::vector<std::uint32_t>{2});
    EXPECT_EQ(r.machine_checks.edac_corrected, 0u);
    EXPECT_FALSE(r.machine_checks.machine_check_exceptions);
    // Run records still go their own way.
    EXPECT_TRUE(any_record_from_json(json(record{})).run);
}

TEST(StressRecord, MalformedRecordsAreRefusedInOneLineNamingTheField) {
    const json good = stress_file("running_keep_going.json");
    auto with = [&](const json::json_pointer& at, json v) {
        json d = good;
        d[at] = std::move(v);
        return d;
    };
    auto without = [&](const json::json_pointer& at) {
        json d = good;
        d[at.parent_pointer()].erase(at.back());
        return d;
    };
    struct row {
        const char* what;
        json doc;
        const char* message;
    };
    const row rows[] = {
        {"newer", with("/schema_version"_json_pointer, 3), "schema version 3"},
        {"version one", with("/schema_version"_json_pointer, 1), "schema version 1"},
        {"no version", without("/schema_version"_json_pointer), "schema version (none)"},
        {"program", with("/program"_json_pointer, "kestrix"),
         "\"program\": not \"kestrix-stress\""},
        {"cores", with("/cores"_json_pointer, {{"cpu", 0}}), "\"cores\": not a list"},
        {"core", with("/cores"_json_pointer, json::array({1})), "\"cores[0]\": not an object"},
        {"no cores", without("/cores"_json_pointer), "\"cores\": missing"},
        {"negative time", with("/cores/1/time_under_test_s"_json_pointer, -1),
         "\"cores[1].time_under_test_s\": not a number of seconds"},
        {"endless time", with("/errors/0/time_s"_json_pointer, 1e300),
         "\"errors[0].time_s\": not a number of seconds"},
        {"cpu beyond 32 bits", with("/cores/0/cpu"_json_pointer, 4294967296u),
         "\"cores[0].cpu\": not a whole number in range"},
        {"negative checkpoints", with("/checkpoints"_json_pointer, -5),
         "\"checkpoints\": not a whole number in range"},
        {"first error kind", without("/cores/0/first_error/kind"_json_pointer),
         "\"cores[0].first_error.kind\": missing"},
        {"first error list", with("/cores/0/first_error"_json_pointer, json::array()),
         "\"cores[0].first_error\": not an object"},
        {"error cpus", with("/errors/1/cpus"_json_pointer, {"one"}),
         "\"errors[1].cpus[0]\": not a whole number"},
        {"settings", with("/settings"_json_pointer, "all"), "\"settings\": not an object"},
        {"slice", without("/settings/slice_s"_json_pointer), "\"settings.slice_s\": missing"},
        {"edac", with("/machine_checks/edac_corrected"_json_pointer, "3"),
         "\"machine_checks.edac_corrected\": not a whole number"},
        {"exit code", with("/exit_code"_json_pointer, 2.5), "\"exit_code\": not a whole number"},
        {"state", with("/state"_json_pointer, nullptr), "\"state\": not a text"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        try {
            any_record_from_json(r.doc);
            ADD_FAILURE() << "accepted";
        } catch (const input_error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find(r.message), std::string::npos) << m;
            EXPECT_EQ(m.find('\n'), std::string::npos) << m;
        }
    }
}

} // namespace
