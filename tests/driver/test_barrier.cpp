// The phase barrier: nobody passes a phase before everyone still taking part has arrived.
#include "driver/phase_barrier.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kestrix {
namespace {

TEST(phase_barrier, every_phase_waits_for_all_and_dropped_ones_are_not_awaited) {
    struct row {
        int participants;
        int droppers; // leave after the first phase
        int rounds;
    };
    for (const row r :
         {row{1, 0, 3}, row{2, 0, 200}, row{4, 1, 200}, row{8, 3, 50}, row{3, 2, 100}}) {
        for (int round = 0; round < r.rounds; ++round) {
            phase_barrier barrier(r.participants);
            std::atomic<int> arrived_first{0};
            std::atomic<int> arrived_second{0};
            std::atomic<bool> early{false};
            std::vector<std::thread> threads;
            for (int i = 0; i < r.participants; ++i) {
                threads.emplace_back([&, i] {
                    ++arrived_first;
                    if (i < r.droppers) {
                        barrier.arrive_and_drop();
                        return;
                    }
                    barrier.arrive_and_wait();
                    if (arrived_first.load() != r.participants) {
                        early = true;
                    }
                    ++arrived_second;
                    barrier.arrive_and_wait();
                    if (arrived_second.load() != r.participants - r.droppers) {
                        early = true;
                    }
                });
            }
            for (auto& t : threads) {
                t.join();
            }
            ASSERT_FALSE(early) << r.participants << " participants, " << r.droppers << " dropped";
        }
    }
}

TEST(phase_barrier, dropping_the_missing_participants_releases_the_waiting_ones) {
    phase_barrier barrier(4);
    std::thread waiting([&] { barrier.arrive_and_wait(); });
    for (int i = 0; i < 3; ++i) {
        barrier.arrive_and_drop();
    }
    waiting.join();            // hangs if a drop did not count as an arrival
    barrier.arrive_and_wait(); // the one left alone passes at once
    SUCCEED();
}

} // namespace
} // namespace kestrix
