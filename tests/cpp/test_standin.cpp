// The stand-in's own workings: strlcat, the kernel-parameter calls over
// injected answers, the call log and the host-file parsers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"

namespace {

void answer(const char *key, const std::string &data) {
    ASSERT_EQ(standin_answer("sysctl", key, data.data(), data.size()), 0);
}

read_result read_name(const char *name, void *buf, std::size_t len) {
    errno = 0;
    int rc = bsd::sysctlbyname(name, buf, &len, nullptr, 0);
    return {rc, errno, len};
}

using StrlcatTest = StandinTest;
using SysctlSemanticsTest = StandinTest;
using CallLogTest = StandinTest;
using HostParseTest = StandinTest;

}  // namespace

// --- strlcat ----------------------------------------------------------------

TEST_F(StrlcatTest, AppendsAndReturnsTheLengthItTriedToCreate) {
    char buf[10] = "ab";
    EXPECT_EQ(bsd::strlcat(buf, "cde", sizeof(buf)), 5u);
    EXPECT_STREQ(buf, "abcde");

    char exact[4] = "ab";
    EXPECT_EQ(bsd::strlcat(exact, "c", sizeof(exact)), 3u);
    EXPECT_STREQ(exact, "abc");

    char empty[4] = "";
    EXPECT_EQ(bsd::strlcat(empty, "", sizeof(empty)), 0u);
    EXPECT_STREQ(empty, "");
}

TEST_F(StrlcatTest, CutResultIsTerminated) {
    char buf[4] = "ab";
    EXPECT_EQ(bsd::strlcat(buf, "cdefg", sizeof(buf)), 7u);
    EXPECT_EQ(std::memcmp(buf, "abc", 4), 0);

    char full[4] = "abc";
    EXPECT_EQ(bsd::strlcat(full, "xyz", sizeof(full)), 6u);
    EXPECT_EQ(std::memcmp(full, "abc", 4), 0);

    // Only size bytes of the destination are ever touched.
    char wide[8] = {'a', 0, 'q', 'q', 'q', 'q', 'q', 'q'};
    EXPECT_EQ(bsd::strlcat(wide, "bcdef", 3), 6u);
    EXPECT_EQ(std::memcmp(wide, "ab\0qqqqq", 8), 0);
}

TEST_F(StrlcatTest, NoTerminatorWithinSize) {
    char buf[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(bsd::strlcat(buf, "xy", 4), 6u);
    EXPECT_EQ(std::memcmp(buf, "abcdef", 6), 0);

    EXPECT_EQ(bsd::strlcat(buf, "xyz", 0), 3u);
    EXPECT_EQ(std::memcmp(buf, "abcdef", 6), 0);
}

// --- sysctl semantics over injected answers ---------------------------------

TEST_F(SysctlSemanticsTest, MeasureGivesTheSize) {
    answer("1.2.3", std::string(40, 'm'));
    answer("x.y", std::string(12, 'n'));
    EXPECT_EQ(read_mib({1, 2, 3}, nullptr, 0).len, 40u);
    read_result r = read_name("x.y", nullptr, 999);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.len, 12u);
}

TEST_F(SysctlSemanticsTest, ReadCopiesAndSetsTheLength) {
    const std::string data = "0123456789";
    answer("1.2.3", data);
    char buf[32];
    std::memset(buf, '#', sizeof(buf));
    read_result r = read_mib({1, 2, 3}, buf, sizeof(buf));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.len, data.size());
    EXPECT_EQ(std::string(buf, data.size()), data);
    EXPECT_EQ(buf[data.size()], '#');

    // A buffer of exactly the size fits.
    char exact[10];
    r = read_mib({1, 2, 3}, exact, sizeof(exact));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.len, 10u);
    EXPECT_EQ(std::string(exact, 10), data);
}

TEST_F(SysctlSemanticsTest, ShortBufferGetsAPartialCopyAndENOMEM) {
    answer("x.y", "0123456789");
    char buf[8];
    std::memset(buf, '#', sizeof(buf));
    read_result r = read_name("x.y", buf, 4);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ENOMEM);
    EXPECT_EQ(r.len, 4u);
    EXPECT_EQ(std::string(buf, 8), "0123####");
}

TEST_F(SysctlSemanticsTest, UnknownNamesAreENOENT) {
    int v = 0;
    for (const std::vector<int> &mib :
         std::vector<std::vector<int>>{{1, 9999}, {99, 1}, {1, 14, 99, 0}}) {
        read_result r = read_mib(mib, &v, sizeof(v));
        EXPECT_EQ(r.rc, -1) << mib.size();
        EXPECT_EQ(r.err, ENOENT) << mib.size();
        r = read_mib(mib, nullptr, 0);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.err, ENOENT);
    }
    read_result r = read_name("no.such.name", &v, sizeof(v));
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ENOENT);
    r = read_name("no.such.name", nullptr, 0);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ENOENT);
}

TEST_F(SysctlSemanticsTest, MalformedNumericNamesAreEINVAL) {
    int v = 0;
    std::vector<char> buf(4 * 1088);
    for (const std::vector<int> &mib : std::vector<std::vector<int>>{
             {1},                                  // fewer than two elements
             std::vector<int>(25, 1),              // more than FreeBSD's 24
             {1, 14, 0, 0},                        // the whole table takes no argument
             {1, 14, 8, 0, 0},                     // KERN_PROC_PROC takes at most one
             {1, 14, 1}}) {                        // KERN_PROC_PID needs its pid
        read_result r = read_mib(mib, mib.size() < 3 ? static_cast<void *>(&v) : buf.data(),
                                 mib.size() < 3 ? sizeof(v) : buf.size());
        EXPECT_EQ(r.rc, -1) << mib.size();
        EXPECT_EQ(r.err, EINVAL) << mib.size();
    }
    EXPECT_EQ(read_mib({1, 14, 0}, nullptr, 0).rc, 0);
    EXPECT_EQ(read_mib({1, 14, 8}, nullptr, 0).rc, 0);
}

TEST_F(SysctlSemanticsTest, SequenceIsConsumedOneStepPerCallAndTheLastStays) {
    answer("x.seq", std::string(4, 'a'));
    ASSERT_EQ(standin_error("sysctl", "x.seq", EIO), 0);
    answer("x.seq", std::string(8, 'b'));
    answer("x.seq", std::string(12, 'c'));

    EXPECT_EQ(read_name("x.seq", nullptr, 0).len, 4u);  // a measure consumes too
    read_result r = read_name("x.seq", nullptr, 0);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, EIO);
    EXPECT_EQ(read_name("x.seq", nullptr, 0).len, 8u);
    for (int i = 0; i < 3; i++) {
        char buf[16];
        r = read_name("x.seq", buf, sizeof(buf));
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(std::string(buf, r.len), std::string(12, 'c'));
    }
    // Other keys are not touched by the sequence.
    EXPECT_EQ(read_name("x.other", nullptr, 0).err, ENOENT);
}

TEST_F(SysctlSemanticsTest, InjectedErrorsSetErrno) {
    ASSERT_EQ(standin_error("sysctl", "1.2.3", EPERM), 0);
    ASSERT_EQ(standin_error("sysctl", "x.zero", 0), 0);
    char buf[8];
    read_result r = read_mib({1, 2, 3}, buf, sizeof(buf));
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, EPERM);

    errno = EXDEV;
    std::size_t len = sizeof(buf);
    EXPECT_EQ(bsd::sysctlbyname("x.zero", buf, &len, nullptr, 0), -1);
    EXPECT_EQ(errno, 0);
}

TEST_F(SysctlSemanticsTest, LiveStepAndResetReturnToTheHost) {
    const int host_argmax = static_cast<int>(::sysconf(_SC_ARG_MAX));
    answer("1.8", std::string("\x01\x00\x00\x00", 4));
    ASSERT_EQ(standin_live("sysctl", "1.8"), 0);
    int v = 0;
    read_result r = read_mib({1, 8}, &v, sizeof(v));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(v, 1);
    v = 0;
    r = read_mib({1, 8}, &v, sizeof(v));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.len, sizeof(int));
    EXPECT_EQ(v, host_argmax);

    answer("kern.argmax", std::string(4, '\x02'));
    read_name("kern.argmax", &v, sizeof(v));
    EXPECT_EQ(v, 0x02020202);
    standin_reset();
    r = read_name("kern.argmax", &v, sizeof(v));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(v, host_argmax);
}

TEST_F(SysctlSemanticsTest, ConcurrentCallersEachTakeADifferentStep) {
    constexpr int steps = 400, threads = 4;
    for (int i = 0; i < steps; i++) {
        int v = i;
        ASSERT_EQ(standin_answer("sysctl", "x.shared", &v, sizeof(v)), 0);
    }
    std::vector<std::vector<int>> seen(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            // Together one call more per thread than there are steps.
            for (int i = 0; i < steps / threads + 1; i++) {
                int v = -1;
                std::size_t len = sizeof(v);
                if (bsd::sysctlbyname("x.shared", &v, &len, nullptr, 0) == 0)
                    seen[t].push_back(v);
            }
        });
    }
    for (std::thread &th : pool)
        th.join();
    std::multiset<int> all;
    for (const auto &s : seen)
        all.insert(s.begin(), s.end());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(steps + threads));
    // Every step but the last was taken exactly once; the last stayed.
    for (int i = 0; i < steps - 1; i++)
        EXPECT_EQ(all.count(i), 1u) << i;
    EXPECT_EQ(all.count(steps - 1), static_cast<std::size_t>(threads + 1));
}

// --- the call log -----------------------------------------------------------

TEST_F(CallLogTest, RecordsCallKeyOperationAndSize) {
    answer("1.2.3", std::string(20, 'z'));
    std::size_t len = 0;
    int mib[3] = {1, 2, 3};
    bsd::sysctl(mib, 3, nullptr, &len, nullptr, 0);
    char buf[64];
    len = sizeof(buf);
    bsd::sysctl(mib, 3, buf, &len, nullptr, 0);
    len = 5;
    bsd::sysctlbyname("no.such", buf, &len, nullptr, 0);
    bsd::kill(INT_MAX, 0);
    EXPECT_EQ(call_log(), "sysctl\t1.2.3\tmeasure\t0\n"
                          "sysctl\t1.2.3\tread\t64\n"
                          "sysctl\tno.such\tread\t5\n"
                          "kill\t2147483647\tcall\t0\n");
}

TEST_F(CallLogTest, TextIsSizedLikeAKernelAnswer) {
    bsd::kill(INT_MAX, 0);
    const std::string line = "kill\t2147483647\tcall\t0\n";
    EXPECT_EQ(standin_log(nullptr, 0), line.size() + 1);

    char small[6];
    std::memset(small, '#', sizeof(small));
    EXPECT_EQ(standin_log(small, sizeof(small)), line.size() + 1);
    EXPECT_STREQ(small, "kill\t");
}

TEST_F(CallLogTest, ClearKeepsTheStepsResetDropsThem) {
    answer("x.kept", "abcd");
    standin_log_clear();
    EXPECT_EQ(call_log(), "");
    EXPECT_EQ(read_name("x.kept", nullptr, 0).len, 4u);
    EXPECT_EQ(call_log(), "sysctl\tx.kept\tmeasure\t0\n");

    standin_reset();
    EXPECT_EQ(call_log(), "");
    EXPECT_EQ(read_name("x.kept", nullptr, 0).err, ENOENT);
}

// --- host-file parsers ------------------------------------------------------

TEST_F(HostParseTest, FieldFindsTheFirstMatchingLine) {
    const std::string_view text = "Name:\tbash\n"
                                  "VmHWMx: 9\n"
                                  "VmHWM:     1234 kB\n"
                                  "btime 1700000000\n"
                                  "cpu\t 1 2 3\n"
                                  "Empty:\n"
                                  "VmHWM: 5 kB\n"
                                  "Last: end";
    EXPECT_EQ(standin::field(text, "Name"), "bash");
    EXPECT_EQ(standin::field(text, "VmHWM"), "1234 kB");
    EXPECT_EQ(standin::field(text, "VmHWMx"), "9");
    EXPECT_EQ(standin::field(text, "btime"), "1700000000");
    EXPECT_EQ(standin::field(text, "cpu"), "1 2 3");
    EXPECT_EQ(standin::field(text, "Last"), "end");
    EXPECT_TRUE(standin::field(text, "Empty").empty());
}

TEST_F(HostParseTest, FieldMissesWhatIsNoKey) {
    const std::string_view text = "Name:\tbash\nVmHWM: 1 kB\nState";
    EXPECT_TRUE(standin::field(text, "Missing").empty());
    EXPECT_TRUE(standin::field(text, "Vm").empty());     // a prefix of a key
    EXPECT_TRUE(standin::field(text, "HWM").empty());    // not at a line start
    EXPECT_TRUE(standin::field(text, "bash").empty());   // a value
    EXPECT_TRUE(standin::field(text, "State").empty());  // no separator
    EXPECT_TRUE(standin::field("", "Name").empty());
}

TEST_F(HostParseTest, IntegersAndTheirFallbacks) {
    EXPECT_EQ(standin::to_ll("42"), 42);
    EXPECT_EQ(standin::to_ll("  -17 kB"), -17);
    EXPECT_EQ(standin::to_ll("\t7\n"), 7);
    EXPECT_EQ(standin::to_ll("", 5), 5);
    EXPECT_EQ(standin::to_ll("abc", -1), -1);
    EXPECT_EQ(standin::to_ll("kB 12", 3), 3);
    EXPECT_EQ(standin::to_ll("99999999999999999999", 11), 11);
    EXPECT_EQ(standin::to_ll("x"), 0);

    EXPECT_EQ(standin::to_ull("18446744073709551615"), 18446744073709551615ULL);
    EXPECT_EQ(standin::to_ull(" 12x"), 12u);
    EXPECT_EQ(standin::to_ull("-1", 9), 9u);
    EXPECT_EQ(standin::to_ull("", 4), 4u);
}

TEST_F(HostParseTest, SplitWordsKeepsToItsBound) {
    const std::string_view text = "  a\tbb  ccc\n";
    std::string_view w[4] = {"untouched", "untouched", "untouched", "untouched"};
    ASSERT_EQ(standin::split_words(text, w, 4), 3u);
    EXPECT_EQ(w[0], "a");
    EXPECT_EQ(w[1], "bb");
    EXPECT_EQ(w[2], "ccc");
    EXPECT_EQ(w[3], "untouched");
    // The words are views into the text itself.
    EXPECT_EQ(w[1].data(), text.data() + 4);

    std::string_view two[2];
    EXPECT_EQ(standin::split_words(text, two, 2), 2u);
    EXPECT_EQ(two[1], "bb");
    EXPECT_EQ(standin::split_words(text, w, 0), 0u);
    EXPECT_EQ(w[0], "a");
    EXPECT_EQ(standin::split_words("", w, 4), 0u);
    EXPECT_EQ(standin::split_words(" \t\n ", w, 4), 0u);
}

TEST_F(HostParseTest, ReadFile) {
    char path[] = "/tmp/quarn_read_XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_NE(fd, -1);
    std::string content(10000, 'r');
    content += "tail";
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);

    std::string out = "stale";
    EXPECT_TRUE(standin::read_file(path, out));
    EXPECT_EQ(out, content);

    // A file the size calls cannot measure (as in /proc) is read whole too.
    EXPECT_TRUE(standin::read_file("/proc/self/status", out));
    EXPECT_EQ(standin::field(out, "Pid"), std::to_string(getpid()));

    ::unlink(path);
    errno = EXDEV;
    out = "stale";
    EXPECT_FALSE(standin::read_file(path, out));
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(out, "");
}

// The declared contract: "a whole file of at most limit bytes".
TEST_F(HostParseTest, ReadFileStopsAtItsLimit) {
    char path[] = "/tmp/quarn_limit_XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_NE(fd, -1);
    std::string content(1000, 'l');
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    std::string out;
    standin::read_file(path, out, 100);
    ::unlink(path);
    EXPECT_LE(out.size(), 100u);
    EXPECT_EQ(out, content.substr(0, out.size()));
}
