// The majority rule on the hashes of one step.
#include "stress/verdict.hpp"

#include <gtest/gtest.h>

namespace kestrix::stress {
namespace {

struct verdict_case {
    const char* name;
    std::vector<std::uint64_t> hashes; // of cpu 10, 11, 12, ...
    std::vector<std::uint32_t> failing;
    std::vector<std::uint32_t> disagreeing;
};

TEST(StressVerdict, StrictMajorityNamesTheFailingCoreElseTheSplit) {
    const verdict_case cases[] = {
        {"one core alone", {7}, {}, {}},
        {"all agree", {7, 7, 7, 7}, {}, {}},
        {"two that differ", {7, 8}, {}, {10, 11}},
        {"two against one", {7, 8, 7}, {11}, {}},
        {"one against two, first", {8, 7, 7}, {10}, {}},
        {"three against one", {7, 7, 9, 7}, {12}, {}},
        {"two against two", {7, 8, 8, 7}, {}, {10, 11, 12, 13}},
        {"two, one, one: no strict majority", {7, 7, 8, 9}, {}, {10, 11, 12, 13}},
        {"three different", {1, 2, 3}, {}, {10, 11, 12}},
        {"three against two", {5, 6, 5, 6, 5}, {11, 13}, {}},
    };
    for (const verdict_case& c : cases) {
        std::vector<hash_entry> entries;
        for (std::size_t i = 0; i < c.hashes.size(); ++i) {
            entries.push_back({static_cast<std::uint32_t>(10 + i), c.hashes[i]});
        }
        const verdict v = judge(entries);
        EXPECT_EQ(v.failing, c.failing) << c.name;
        EXPECT_EQ(v.disagreeing, c.disagreeing) << c.name;
        EXPECT_EQ(v.clean(), c.failing.empty() && c.disagreeing.empty()) << c.name;
    }
}

} // namespace
} // namespace kestrix::stress
