// The machine's floor for a hand-shake that sleeps between blocks: a native
// process wakes another one, blocked in FUTEX_WAIT on a word of a shared
// mapping, once per block period, and spins until it answers. Nothing of the
// bridge is involved; the figure says what any sleeping partner costs here.
#pragma once

#include "bench_support.h"

#include <csignal>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

struct FloorWords {
    std::atomic<std::int32_t> request;
    std::atomic<std::int32_t> answer;
    std::atomic<std::int32_t> stop;
};

// Answer times (ns) of `period`-paced wake-ups for `seconds`.
inline std::vector<double> measureFloor(Clock::duration period, double seconds) {
    void* shared = ::mmap(nullptr, sizeof(FloorWords), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return {};
    auto* words = new (shared) FloorWords{};
    const pid_t partner = ::fork();
    if (partner == 0) {
        // The partner sleeps until asked, answers, and sleeps again.
        for (;;) {
            Tandem::futexWait(&words->request, 0, 1000000000);
            if (words->stop.load()) ::_exit(0);
            if (words->request.exchange(0) == 0) continue;
            words->answer.store(1);
        }
    }
    std::vector<double> times;
    const auto start = Clock::now() + std::chrono::milliseconds(100);
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (auto next = start; next < end; next += period) {
        std::this_thread::sleep_until(next);
        words->answer.store(0);
        const auto t0 = Clock::now();
        words->request.store(1);
        Tandem::futexWake(&words->request);
        while (words->answer.load() == 0) Tandem::cpuPause();
        times.push_back(nanosSince(t0));
    }
    words->stop.store(1);
    words->request.store(1);
    Tandem::futexWake(&words->request);
    ::waitpid(partner, nullptr, 0);
    ::munmap(shared, sizeof(FloorWords));
    return times;
}

}  // namespace bench
