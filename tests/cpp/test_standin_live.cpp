// The stand-in's live answers checked against this process: its process
// records, open files and memory map. Records are read at their documented
// offsets, so a layout slip fails here too.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"

namespace {

constexpr std::size_t kinfo_proc_size = 1088;
constexpr std::size_t kinfo_file_size = 1392;
constexpr std::size_t kinfo_vmentry_size = 1160;

std::string text_at(const void *base, std::size_t offset, std::size_t field_size) {
    const char *p = static_cast<const char *>(base) + offset;
    return std::string(p, strnlen(p, field_size));
}

int host_tid() { return static_cast<int>(::syscall(SYS_gettid)); }

// A second thread of this process that waits until the owner goes away.
class other_thread {
public:
    other_thread() : released_(release_.get_future().share()) {
        std::promise<int> started;
        std::future<int> tid = started.get_future();
        th_ = std::thread([this, &started] {
            started.set_value(host_tid());
            released_.wait();
        });
        tid_ = tid.get();
    }
    ~other_thread() {
        release_.set_value();
        th_.join();
    }
    int tid() const { return tid_; }

private:
    std::promise<void> release_;
    std::shared_future<void> released_;
    std::thread th_;
    int tid_ = 0;
};

using LiveProcTest = StandinTest;
using LibutilTest = StandinTest;

}  // namespace

// --- live process records ---------------------------------------------------

TEST_F(LiveProcTest, OwnRecord) {
    const int pid = getpid();
    EXPECT_EQ(read_mib({1, 14, 1, pid}, nullptr, 0).len, kinfo_proc_size);

    std::vector<char> buf(2 * kinfo_proc_size, '#');
    read_result r = read_mib({1, 14, 1, pid}, buf.data(), buf.size());
    ASSERT_EQ(r.rc, 0) << r.err;
    ASSERT_EQ(r.len, kinfo_proc_size);
    EXPECT_EQ(at<int>(buf.data(), 0), static_cast<int>(kinfo_proc_size));  // ki_structsize
    EXPECT_EQ(at<int>(buf.data(), 72), pid);                               // ki_pid
    EXPECT_EQ(at<int>(buf.data(), 76), getppid());                         // ki_ppid
    EXPECT_EQ(buf[388], 2);                                                // ki_stat: running

    std::string comm;
    ASSERT_TRUE(standin::read_file("/proc/self/comm", comm));
    if (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    EXPECT_EQ(text_at(buf.data(), 447, 20), comm.substr(0, 19));  // ki_comm
    EXPECT_EQ(buf[kinfo_proc_size], '#');
}

TEST_F(LiveProcTest, ShortBufferGetsTheStartOfTheRecord) {
    char buf[100];
    read_result r = read_mib({1, 14, 1, getpid()}, buf, sizeof(buf));
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ENOMEM);
    EXPECT_EQ(r.len, sizeof(buf));
    EXPECT_EQ(at<int>(buf, 72), getpid());
}

TEST_F(LiveProcTest, MissingProcessIsESRCH) {
    std::vector<char> buf(kinfo_proc_size);
    for (int pid : {INT_MAX, -1}) {
        read_result r = read_mib({1, 14, 1, pid}, buf.data(), buf.size());
        EXPECT_EQ(r.rc, -1) << pid;
        EXPECT_EQ(r.err, ESRCH) << pid;
        r = read_mib({1, 14, 1, pid}, nullptr, 0);
        EXPECT_EQ(r.err, ESRCH) << pid;
        r = read_mib({1, 14, 17, pid}, buf.data(), buf.size());
        EXPECT_EQ(r.err, ESRCH) << pid;
    }
    read_result r = read_mib({1, 14, 1}, buf.data(), buf.size());
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, EINVAL);
}

TEST_F(LiveProcTest, ThreadIdIsNoProcessButIsAmongTheThreads) {
    other_thread other;
    const int tid = other.tid();
    const int pid = getpid();
    ASSERT_NE(tid, pid);

    std::vector<char> buf(kinfo_proc_size);
    read_result r = read_mib({1, 14, 1, tid}, buf.data(), buf.size());
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ESRCH);
    r = read_mib({1, 14, 17, tid}, buf.data(), buf.size());
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, ESRCH);

    std::size_t need = read_mib({1, 14, 17, pid}, nullptr, 0).len;
    std::vector<char> table(need + 8 * kinfo_proc_size);
    r = read_mib({1, 14, 17, pid}, table.data(), table.size());
    ASSERT_EQ(r.rc, 0) << r.err;
    ASSERT_EQ(r.len % kinfo_proc_size, 0u);
    ASSERT_GE(r.len / kinfo_proc_size, 2u);
    std::set<int> tids;
    for (std::size_t off = 0; off < r.len; off += kinfo_proc_size) {
        EXPECT_EQ(at<int>(table.data() + off, 72), pid);  // ki_pid
        tids.insert(at<int>(table.data() + off, 600));    // ki_tid
    }
    EXPECT_EQ(tids.count(tid), 1u);
    EXPECT_EQ(tids.count(pid), 1u);  // the main thread
}

// The process record already refuses a thread ID; the other per-process
// calls must agree with it, as on FreeBSD.
TEST_F(LiveProcTest, ThreadIdIsNoProcessForKillAndLibutil) {
    other_thread other;
    const int tid = other.tid();

    errno = 0;
    EXPECT_EQ(bsd::kill(tid, 0), -1);
    EXPECT_EQ(errno, ESRCH);

    int count = -1;
    errno = 0;
    bsd::kinfo_file *files = bsd::kinfo_getfile(tid, &count);
    EXPECT_EQ(files, nullptr);
    EXPECT_EQ(errno, ESRCH);
    std::free(files);

    errno = 0;
    bsd::kinfo_vmentry *map = bsd::kinfo_getvmmap(tid, &count);
    EXPECT_EQ(map, nullptr);
    EXPECT_EQ(errno, ESRCH);
    std::free(map);
}

TEST_F(LiveProcTest, AllProcessesIncludeThisOneAndItsParent) {
    std::size_t need = read_mib({1, 14, 8, 0}, nullptr, 0).len;
    ASSERT_GT(need, 0u);
    EXPECT_EQ(need % kinfo_proc_size, 0u);
    std::vector<char> table(need + 64 * kinfo_proc_size);
    read_result r = read_mib({1, 14, 8, 0}, table.data(), table.size());
    ASSERT_EQ(r.rc, 0) << r.err;
    ASSERT_EQ(r.len % kinfo_proc_size, 0u);
    std::set<int> pids;
    for (std::size_t off = 0; off < r.len; off += kinfo_proc_size)
        pids.insert(at<int>(table.data() + off, 72));
    EXPECT_EQ(pids.size(), r.len / kinfo_proc_size);  // one record per process
    EXPECT_EQ(pids.count(getpid()), 1u);
    EXPECT_EQ(pids.count(getppid()), 1u);
}

// --- open files and memory maps ---------------------------------------------

namespace {

void local_function() {}

std::string real(const char *path) {
    char *r = ::realpath(path, nullptr);
    std::string s = r ? r : "";
    std::free(r);
    return s;
}

}  // namespace

TEST_F(LibutilTest, OwnOpenFiles) {
    char path[] = "/tmp/quarn_files_XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_NE(fd, -1);
    const std::string opened = real(path);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);

    int count = -1;
    errno = 0;
    bsd::kinfo_file *files = bsd::kinfo_getfile(getpid(), &count);
    ::close(fd);
    ::unlink(path);
    ASSERT_NE(files, nullptr) << errno;
    ASSERT_GT(count, 0);

    bool saw_cwd = false, saw_file = false;
    for (int i = 0; i < count; i++) {
        const char *e = reinterpret_cast<const char *>(files) + i * kinfo_file_size;
        EXPECT_EQ(at<int>(e, 0), static_cast<int>(kinfo_file_size));  // kf_structsize
        int kf_fd = at<int>(e, 8);
        if (kf_fd == -1) {
            saw_cwd = true;
            EXPECT_EQ(at<int>(e, 4), 1);   // a vnode
            EXPECT_EQ(at<int>(e, 32), 2);  // a directory
            EXPECT_EQ(text_at(e, 368, 1024), cwd);
        }
        if (kf_fd == fd) {
            saw_file = true;
            EXPECT_EQ(at<int>(e, 4), 1);               // kf_type: a vnode
            EXPECT_EQ(at<int>(e, 32), 1);              // kf_vnode_type: a regular file
            EXPECT_EQ(text_at(e, 368, 1024), opened);  // kf_path
        }
    }
    std::free(files);
    EXPECT_TRUE(saw_cwd);
    EXPECT_TRUE(saw_file);
}

TEST_F(LibutilTest, OwnMemoryMapHoldsTheCode) {
    const auto addr = reinterpret_cast<std::uint64_t>(&local_function);
    int count = -1;
    bsd::kinfo_vmentry *map = bsd::kinfo_getvmmap(getpid(), &count);
    ASSERT_NE(map, nullptr) << errno;
    ASSERT_GT(count, 0);
    int hits = 0;
    for (int i = 0; i < count; i++) {
        const char *e = reinterpret_cast<const char *>(map) + i * kinfo_vmentry_size;
        EXPECT_EQ(at<int>(e, 0), static_cast<int>(kinfo_vmentry_size));  // kve_structsize
        auto start = at<std::uint64_t>(e, 8), end = at<std::uint64_t>(e, 16);
        EXPECT_LT(start, end);
        if (start <= addr && addr < end) {
            hits++;
            EXPECT_NE(at<int>(e, 56) & 4, 0);            // kve_protection: exec
            EXPECT_EQ(at<int>(e, 4), 2);                 // kve_type: a vnode, the binary
            EXPECT_EQ(text_at(e, 136, 1024), real("/proc/self/exe"));
        }
    }
    std::free(map);
    EXPECT_EQ(hits, 1);
}

TEST_F(LibutilTest, MissingProcessIsNullWithESRCH) {
    int count = 7;
    errno = 0;
    EXPECT_EQ(bsd::kinfo_getfile(INT_MAX, &count), nullptr);
    EXPECT_EQ(errno, ESRCH);
    errno = 0;
    EXPECT_EQ(bsd::kinfo_getvmmap(INT_MAX, &count), nullptr);
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(LibutilTest, InjectedErrors) {
    const std::string key = std::to_string(getpid());
    for (const char *call : {"kinfo_getfile", "kinfo_getvmmap"}) {
        for (int err : {0, EPERM}) {
            standin_reset();
            ASSERT_EQ(standin_error(call, key.c_str(), err), 0);
            int count = 7;
            errno = EXDEV;
            void *p = std::string(call) == "kinfo_getfile"
                          ? static_cast<void *>(bsd::kinfo_getfile(getpid(), &count))
                          : static_cast<void *>(bsd::kinfo_getvmmap(getpid(), &count));
            EXPECT_EQ(p, nullptr) << call << " " << err;
            EXPECT_EQ(errno, err) << call;
            EXPECT_EQ(call_log(), std::string(call) + "\t" + key + "\tcall\t0\n");
        }
    }
}

TEST_F(LibutilTest, InjectedTablesAreHeapCopies) {
    std::string files(2 * kinfo_file_size, '\0');
    for (int i = 0; i < 2; i++) {
        int fd = 40 + i;
        std::memcpy(&files[i * kinfo_file_size + 8], &fd, sizeof(fd));
    }
    ASSERT_EQ(standin_answer("kinfo_getfile", "4242", files.data(), files.size()), 0);
    int count = -1;
    bsd::kinfo_file *kf = bsd::kinfo_getfile(4242, &count);
    ASSERT_NE(kf, nullptr);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::memcmp(kf, files.data(), files.size()), 0);
    std::free(kf);

    // A count of its own with an array: the empty table still has to be freed.
    ASSERT_EQ(standin_answer_value("kinfo_getvmmap", "4242", 0, nullptr, 0), 0);
    count = -1;
    bsd::kinfo_vmentry *kve = bsd::kinfo_getvmmap(4242, &count);
    EXPECT_NE(kve, nullptr);
    EXPECT_EQ(count, 0);
    std::free(kve);
}
