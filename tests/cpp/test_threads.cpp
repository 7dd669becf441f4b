// The stand-in is called from several threads at once (the module releases
// the interpreter lock around some calls): injection, the log and the live
// answers must hold up under that.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/inject/inject.h"

namespace {

TEST(StandinThreads, ConcurrentInjectionReadsAndLiveAnswers) {
    standin_reset();
    constexpr int threads = 4;
    constexpr int rounds = 300;
    std::atomic<int> failures{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([t, &failures] {
            std::string key = "test.thread." + std::to_string(t);
            for (int i = 0; i < rounds; i++) {
                int value = t * 100000 + i;
                standin_answer("sysctl", key.c_str(), &value, sizeof(value));
                int got = 0;
                std::size_t len = sizeof(got);
                // Each thread owns its key. Steps are handed out in order and
                // the last one stays, so round i reads the answer of round i-1.
                int expected = t * 100000 + (i > 0 ? i - 1 : 0);
                if (bsd::sysctlbyname(key.c_str(), &got, &len, nullptr, 0) != 0 ||
                    len != sizeof(got) || got != expected)
                    failures++;
                int mib[4] = {bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_pid, static_cast<int>(getpid())};
                bsd::kinfo_proc kp;
                len = sizeof(kp);
                if (bsd::sysctl(mib, 4, &kp, &len, nullptr, 0) != 0 || kp.ki_pid != getpid())
                    failures++;
            }
        });
    }
    for (auto &th : pool)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    std::string log = call_log();
    std::size_t lines = 0;
    for (char c : log)
        lines += c == '\n';
    EXPECT_EQ(lines, static_cast<std::size_t>(threads * rounds * 2));
    standin_reset();
}

}  // namespace
