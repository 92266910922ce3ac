// The score over time on synthetic progress streams whose true rate is known: streams written
// the way kestrix writes them (the sum of the workers' averages since the start, to four
// significant digits; the fastest worker's step count), and delivered the way a pipe delivers
// them (one at a time, or several per read with the read's time).
#include "capture/score_timeline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace kestrix::results;

namespace {

struct segment {
    double until_s;
    double mgups; // the true aggregate rate until then
};

struct stream_shape {
    std::vector<segment> rate;
    unsigned workers = 4;
    std::uint64_t grid = 64;
    std::uint64_t duration_s = 20;
    double line_every_s = 0.01;
    unsigned burst = 1; // lines per read: all but the read's last are stale when they arrive
};

double true_updates(const std::vector<segment>& rate, double t) {
    double done = 0, from = 0;
    for (const auto& s : rate) {
        const double to = std::min(t, s.until_s);
        if (to > from) {
            done += (to - from) * s.mgups;
        }
        from = s.until_s;
    }
    return done;
}

double four_digits(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return std::strtod(buf, nullptr);
}

std::vector<progress_sample> stream(const stream_shape& s) {
    const double per_step = 2.0 * std::pow(static_cast<double>(s.grid), 3) / 1e6;
    std::vector<progress_sample> out;
    const auto lines = static_cast<std::size_t>(std::llround(s.duration_s / s.line_every_s));
    for (std::size_t k = 0; k <= lines; ++k) {
        const double t = static_cast<double>(k) * s.line_every_s;
        const double done = true_updates(s.rate, t);
        progress_sample p;
        p.mgups = t > 0 ? four_digits(done / t) : 0.0;
        // One worker's count is every step; with more, the fastest worker's is a share of them.
        p.iterations = s.workers == 1
                           ? static_cast<std::uint64_t>(std::floor(done / per_step))
                           : static_cast<std::uint64_t>(done / per_step / s.workers * 1.05);
        p.duration_s = s.duration_s;
        // Read when the burst's last line was written.
        const std::size_t read_at = std::min(lines, (k / s.burst + 1) * s.burst - 1);
        p.at_ns = std::llround(static_cast<double>(read_at) * s.line_every_s * 1e9);
        out.push_back(p);
    }
    return out;
}

score_timeline derive(const stream_shape& s, double interval = 1.0) {
    return derive_timeline(stream(s), {s.workers, s.grid, 1.0 / 250, interval});
}

struct stream_case {
    const char* name;
    stream_shape shape;
    const char* method;
    std::optional<double> drift; // null: drift_unavailable holds `why`
    const char* why;
    double last_rate; // the true rate of the last interval
    std::size_t points;
};

} // namespace

TEST(ScoreTimeline, RatePerIntervalAndDriftFromKnownStreams) {
    const std::vector<stream_case> cases = {
        {"steady, four workers", {{{20, 100}}}, "rate_times_time", 1.0, "", 100, 20},
        // The shown rate ends at 95: the average since the start hides the halving.
        {"late drop", {{{18, 100}, {20, 50}}}, "rate_times_time", 0.5, "", 50, 20},
        {"late drop, one worker", {{{18, 100}, {20, 50}}, 1}, "iterations", 0.5, "", 50, 20},
        {"climbs", {{{10, 80}, {30, 120}}, 2, 64, 30}, "rate_times_time", 1.5, "", 120, 30},
        {"too short", {{{5, 100}}, 4, 64, 5}, "rate_times_time", std::nullopt, "too short", 100, 5},
        {"9 s", {{{9, 100}}, 1, 64, 9}, "iterations", std::nullopt, "too short", 100, 9},
        // Reads of 20 lines at once: the first of each read arrives 0.2 s after it was written.
        {"bursts, one worker", {{{20, 100}}, 1, 64, 20, 0.01, 20}, "iterations", 1.0, "", 100, 20},
        {"bursts, late drop",
         {{{18, 100}, {20, 50}}, 3, 64, 20, 0.01, 20},
         "rate_times_time",
         0.5,
         "",
         50,
         20},
        // A big grid: a line every 2.5 s makes every interval 2.5 s long.
        {"slow lines", {{{30, 100}}, 2, 512, 30, 2.5}, "rate_times_time", 1.0, "", 100, 12},
        {"too few lines",
         {{{30, 100}}, 2, 512, 30, 5},
         "rate_times_time",
         std::nullopt,
         "too few progress lines",
         100,
         6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tl = derive(c.shape);
        EXPECT_EQ(tl.method, c.method);
        ASSERT_EQ(tl.points.size(), c.points);
        ASSERT_TRUE(tl.relative_precision);
        // The stated precision holds for every interval, plus one step of the count and what
        // a late first line shifts.
        const double tol = *tl.relative_precision + 0.011;
        const auto& last = tl.points.back();
        EXPECT_NEAR(last.mgups, c.last_rate, c.last_rate * tol) << "t=" << last.t_s;
        // The timeline starts when the first line arrived.
        const double shift = static_cast<double>(stream(c.shape).front().at_ns) / 1e9;
        for (std::size_t i = 0; i < tl.points.size(); ++i) {
            const double lo = (i == 0 ? 0.0 : tl.points[i - 1].t_s) + shift;
            const double hi = tl.points[i].t_s + shift;
            const double want =
                (true_updates(c.shape.rate, hi) - true_updates(c.shape.rate, lo)) / (hi - lo);
            EXPECT_NEAR(tl.points[i].mgups, want, want * tol) << "t=" << tl.points[i].t_s;
        }
        if (c.drift) {
            ASSERT_TRUE(tl.summary.drift) << tl.summary.drift_unavailable.value_or("");
            ASSERT_TRUE(tl.summary.drift_relative_precision);
            EXPECT_NEAR(*tl.summary.drift, *c.drift,
                        *c.drift * (*tl.summary.drift_relative_precision + 0.006));
            EXPECT_EQ(drift_note(tl.summary).empty(), *c.drift >= drift_mark_below);
        } else {
            EXPECT_FALSE(tl.summary.drift);
            EXPECT_EQ(tl.summary.drift_unavailable.value_or(""), c.why);
            EXPECT_EQ(drift_note(tl.summary), "");
        }
    }
}

TEST(ScoreTimeline, PrecisionFollowsTheFourDigitsAndTheCount) {
    // With the rate times time, an interval of 1 s at t = 20 s is known to 5e-4 * (19 + 20)
    // plus two ticks of the workers' 4 ms clock; the exact count needs neither.
    const auto many = derive({{{20, 100}}});
    ASSERT_TRUE(many.relative_precision);
    EXPECT_NEAR(*many.relative_precision, 5e-4 * 39 + 2 * 0.004, 0.002);
    const auto one = derive({{{20, 100}}, 1});
    EXPECT_EQ(one.relative_precision, 0.0);
    // Longer intervals are known better.
    const auto coarse = derive({{{20, 100}}}, 4.0);
    EXPECT_LT(*coarse.relative_precision, *many.relative_precision / 3);
    EXPECT_EQ(coarse.points.size(), 5u);
}

TEST(ScoreTimeline, NoLinesNoIntervals) {
    const auto none = derive_timeline({}, {4, 64, std::nullopt, 1.0});
    EXPECT_TRUE(none.points.empty());
    EXPECT_FALSE(none.relative_precision);
    EXPECT_FALSE(none.summary.drift);
    EXPECT_TRUE(none.summary.drift_unavailable);
    // One line only (stopped at once): no interval, no division by zero.
    const auto one = derive_timeline({{5, 0, 0, 10}}, {4, 64, std::nullopt, 1.0});
    EXPECT_TRUE(one.points.empty());
    EXPECT_EQ(one.summary.drift_unavailable.value_or(""), "too short");
}

TEST(ScoreTimeline, DownsamplingKeepsEverySpikeWithinTheLimit) {
    for (const std::size_t n : {10u, 1000u, 1001u, 5000u, 123457u}) {
        SCOPED_TRACE(n);
        std::vector<timeline_point> pts;
        std::mt19937 rng(static_cast<unsigned>(n));
        std::uniform_real_distribution<double> noise(99, 101);
        for (std::size_t i = 0; i < n; ++i) {
            pts.push_back({static_cast<double>(i), noise(rng)});
        }
        std::vector<double> spikes;
        for (std::size_t i = 3; i < n; i += n / 7 + 1) {
            pts[i].mgups = (i % 2) ? 500.0 + static_cast<double>(i) : 1.0 / static_cast<double>(i);
            spikes.push_back(pts[i].mgups);
        }
        const auto out = downsample(pts);
        EXPECT_LE(out.size(), max_timeline_points);
        if (n <= max_timeline_points) {
            EXPECT_EQ(out.size(), n);
        } else {
            EXPECT_GE(out.size(), max_timeline_points * 9 / 10);
        }
        for (std::size_t i = 1; i < out.size(); ++i) {
            EXPECT_LT(out[i - 1].t_s, out[i].t_s);
        }
        for (const double s : spikes) {
            EXPECT_NE(std::find_if(out.begin(), out.end(),
                                   [&](const timeline_point& p) { return p.mgups == s; }),
                      out.end())
                << s;
        }
    }
}

TEST(ScoreTimeline, ProgressLinesFallIntoTheirSubRuns) {
    event_recorder rec;
    const char* text = "!!HARNESS!! run values:\nnone\n!!HARNESS!! run 1/2\nstarting bench..\n"
                       "\rbenchmarking... 0/1s                0 MGups  0 iterations"
                       "\rbenchmarking... 1/1s            220.8 MGups  421 iterations\n"
                       "!!HARNESS!! run 2/2\n"
                       "\rbenchmarking... 0/1s                0 MGups  0 iterations"
                       "\rbenchmarking... 0/1s              nan MGups  3 iterations\n"
                       "benchmarking... of another kind\n";
    rec.feed(text, 7);
    const auto by_run = progress_samples(rec.finish());
    ASSERT_EQ(by_run.size(), 2u);
    ASSERT_EQ(by_run.at(1).size(), 2u);
    EXPECT_EQ(by_run.at(1)[1].mgups, 220.8);
    EXPECT_EQ(by_run.at(1)[1].iterations, 421u);
    EXPECT_EQ(by_run.at(1)[1].duration_s, 1u);
    EXPECT_EQ(by_run.at(1)[1].at_ns, 7);
    EXPECT_EQ(by_run.at(2).size(), 1u); // a rate that is not a number is no sample
}

TEST(ScoreTimeline, FrequencyTexts) {
    const std::vector<std::pair<const char*, std::optional<double>>> cases = {
        {"250 Hz", 250.0},      {"1.00 GHz", 1e9},
        {"1.00 kHz", 1e3},      {"64.0 Hz", 64.0},
        {"2.5 MHz", 2.5e6},     {"Hz", std::nullopt},
        {"0 Hz", std::nullopt}, {"250 parsecs", std::nullopt},
    };
    for (const auto& [text, hz] : cases) {
        EXPECT_EQ(frequency_hz(text), hz) << text;
    }
}

TEST(ScoreTimeline, RecordKeepsItAndOlderRecordsHaveNone) {
    sub_run s;
    s.index = 1;
    s.point = "none";
    s.timeline = derive({{{18, 100}, {20, 50}}});
    const nlohmann::json j = s;
    const sub_run back = j.get<sub_run>();
    ASSERT_TRUE(back.timeline);
    EXPECT_EQ(nlohmann::json(*back.timeline), j["timeline"]);
    const std::string note = drift_note(back.timeline->summary);
    EXPECT_EQ(note.substr(0, 18), "the score fell by ") << note;
    EXPECT_NEAR(std::atof(note.c_str() + 18), 50.0, 2.0) << note;
    EXPECT_EQ(note.substr(note.size() - 17), " % during the run") << note;

    nlohmann::json old = j;
    old.erase("timeline");
    EXPECT_FALSE(old.get<sub_run>().timeline);
    nlohmann::json bad = j;
    bad["timeline"]["points"][0] = {1.0, "fast"};
    EXPECT_THROW(bad.get<sub_run>(), record_error);
    bad = j;
    bad["timeline"]["intervals"] = -1;
    EXPECT_THROW(bad.get<sub_run>(), record_error);
}
