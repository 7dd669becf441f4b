// The stand-in at scale: the process table's measure and its reads into
// buffers that are too short, the host-file reader's limits, and the
// injection store's quick path for names with nothing injected.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"

namespace {

constexpr std::size_t rec = 1088;
constexpr std::size_t headroom = 5;

std::size_t measure(std::vector<int> mib) {
    std::size_t len = 0;
    EXPECT_EQ(bsd::sysctl(mib.data(), static_cast<unsigned>(mib.size()), nullptr, &len, nullptr, 0),
              0);
    return len;
}

std::size_t entries(const char *dir) { return standin::list_numeric(dir).size(); }

class ScaleTest : public StandinTest {};

// The host's table may change between the listings: the measure must lie
// within what it could have seen, plus the headroom. The process count
// behind the whole table's measure covers every namespace, so only the
// host's largest process number bounds it from above.
TEST_F(ScaleTest, TableMeasuresLeaveRoomForFiveMoreRecords) {
    char task[64];
    std::snprintf(task, sizeof(task), "/proc/%d/task", getpid());
    std::string pid_max;
    ASSERT_TRUE(standin::read_file("/proc/sys/kernel/pid_max", pid_max, 64));
    struct case_t {
        std::vector<int> mib;
        const char *dir;
        bool bounded_by_listing;
    };
    for (const case_t &c : {case_t{{1, 14, 8, 0}, "/proc", false},
                            case_t{{1, 14, 17, getpid()}, task, true}}) {
        std::size_t before = entries(c.dir);
        std::size_t got = measure(c.mib);
        std::size_t after = entries(c.dir);
        EXPECT_EQ(got % rec, 0u);
        EXPECT_GE(got / rec, std::min(before, after) + headroom) << c.dir;
        std::size_t most = c.bounded_by_listing ? std::max(before, after)
                                                : std::strtoul(pid_max.c_str(), nullptr, 10);
        EXPECT_LE(got / rec, most + headroom) << c.dir;
    }
}

// A buffer too short gets whole records up to its size, its own size as the
// length and ENOMEM; a measured buffer takes the whole table.
TEST_F(ScaleTest, TableReadsFillTheBufferOrFailWithEnomem) {
    int mib[4] = {1, 14, 8, 0};
    for (std::size_t size : {std::size_t(0), rec - 1, rec, 2 * rec + 100}) {
        std::vector<char> buf(size + 1, '\x7f');
        std::size_t len = size;
        errno = 0;
        EXPECT_EQ(bsd::sysctl(mib, 4, buf.data(), &len, nullptr, 0), -1) << size;
        EXPECT_EQ(errno, ENOMEM) << size;
        EXPECT_EQ(len, size);
        EXPECT_EQ(buf[size], '\x7f') << "written past the buffer";
        for (std::size_t off = 0; off + rec <= size; off += rec) {
            int pid;
            std::memcpy(&pid, buf.data() + off + 72, sizeof(pid));
            EXPECT_GT(pid, 0);
        }
    }
    std::size_t need = measure({1, 14, 8, 0});
    std::vector<char> buf(need);
    std::size_t len = need;
    ASSERT_EQ(bsd::sysctl(mib, 4, buf.data(), &len, nullptr, 0), 0) << errno;
    EXPECT_EQ(len % rec, 0u);
    EXPECT_LE(len, need);
}

struct file_case {
    std::size_t file_size;
    std::size_t limit;
    bool whole;
};

class ReadFileTest : public ::testing::TestWithParam<file_case> {};

// A file longer than the limit is refused, never handed over cut.
TEST_P(ReadFileTest, WholeFilesOnlyUpToTheLimit) {
    const file_case c = GetParam();
    char path[] = "/tmp/quarn-read-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_NE(fd, -1);
    std::string data(c.file_size, 'x');
    for (std::size_t i = 0; i < data.size(); i += 61)
        data[i] = '\n';
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    for (bool piece : {false, true}) {
        std::string out = "stale";
        errno = 1234;
        bool ok = piece ? standin::read_piece(path, out, c.limit)
                        : standin::read_file(path, out, c.limit);
        EXPECT_EQ(ok, c.whole) << c.file_size << " " << c.limit << " " << piece;
        EXPECT_EQ(errno, 1234);  // the reader leaves errno alone
        if (c.whole)
            EXPECT_EQ(out, data);
        else
            EXPECT_TRUE(out.empty());
    }
    unlink(path);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadFileTest,
                         ::testing::Values(file_case{0, 64, true}, file_case{64, 64, true},
                                           file_case{65, 64, false}, file_case{4096, 4096, true},
                                           file_case{4097, 4096, false},
                                           file_case{100000, 1 << 20, true},
                                           file_case{(1 << 20) + 1, 1 << 20, false}));

struct keys_case {
    const char *name;
    std::string text;
    std::size_t least;  // the bytes read must reach past the wanted line
};

class ReadToKeysTest : public ::testing::TestWithParam<keys_case> {};

// The read stops once every wanted line is whole, wherever the reads cut the
// text; a key that is only a prefix of another line's is not its line.
TEST_P(ReadToKeysTest, ReadsAsFarAsTheWantedLines) {
    const keys_case c = GetParam();
    char path[] = "/tmp/quarn-keys-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_NE(fd, -1);
    ASSERT_EQ(write(fd, c.text.data(), c.text.size()), static_cast<ssize_t>(c.text.size()));
    close(fd);
    std::string out;
    ASSERT_TRUE(standin::read_to_keys(path, out, {"pswpin", "nr_written"}));
    unlink(path);
    EXPECT_GE(out.size(), c.least) << c.name;
    EXPECT_EQ(c.text.compare(0, out.size(), out), 0) << c.name;
    EXPECT_EQ(standin::to_ull(standin::field(out, "pswpin")), 7u) << c.name;
}

const std::string filler = std::string(1500, 'x') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadToKeysTest,
    ::testing::Values(
        keys_case{"first", "nr_written 3\npswpin 7\n" + filler, 22},
        keys_case{"past-a-cut", filler + "nr_written 3\npswpin 7\n" + filler,
                  filler.size() + 22},
        keys_case{"prefix-trap", "pswpin_x 9\nnr_written 3\npswpin 7\n" + filler, 33},
        keys_case{"missing-key", "pswpin 7\n" + filler + filler, 9 + 2 * filler.size()}),
    [](const auto &info) {
        std::string n = info.param.name;
        for (char &ch : n)
            ch = ch == '-' ? '_' : ch;
        return n;
    });

// Many keys under one call name, each answered its own; another call name
// with nothing injected answers live; a reset makes every call live again.
TEST_F(ScaleTest, HashedStoreAnswersEveryKeyAndSkipsOtherNames) {
    for (int i = 0; i < 2000; i++) {
        std::string key = std::to_string(i);
        ASSERT_EQ(standin_answer_value("sysconf", key.c_str(), i * 3, nullptr, 0), 0);
    }
    for (int i : {0, 1, 999, 1999}) {
        standin::step st;
        ASSERT_TRUE(standin::next_step("sysconf", std::to_string(i), st));
        EXPECT_EQ(st.value, i * 3);
    }
    standin::step st;
    EXPECT_FALSE(standin::next_step("sysconf", "2000", st));
    EXPECT_FALSE(standin::next_step("kill", "1", st));
    standin_reset();
    EXPECT_FALSE(standin::next_step("sysconf", "1", st));
}

}  // namespace
