// The stand-in's per-process calls in FreeBSD's terms: the kernel memory
// interface's handle and what it owns, resource numbers and limit writes,
// and the process check behind them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <future>
#include <thread>
#include <vector>

#include "support.h"
#include "standin/freebsd.h"
#include "standin/inject/inject.h"
#include "standin/host/proc_id.h"

namespace {

class StandinProcTest : public StandinTest {};

std::string read_answer(std::vector<int> mib, int *err) {
    std::size_t len = 0;
    errno = 0;
    if (bsd::sysctl(mib.data(), static_cast<unsigned>(mib.size()), nullptr, &len, nullptr, 0)) {
        *err = errno;
        return {};
    }
    std::string buf(len, '\0');
    *err = bsd::sysctl(mib.data(), static_cast<unsigned>(mib.size()), buf.data(), &len, nullptr, 0)
               ? errno
               : 0;
    buf.resize(len);
    return buf;
}

TEST_F(StandinProcTest, HandleOwnsRecordsAndEnvironmentUntilClosed) {
    char errbuf[2048] = "untouched";
    bsd::kvm_t *kd = bsd::kvm_openfiles(nullptr, "/dev/null", nullptr, 0, errbuf);
    ASSERT_NE(kd, nullptr);
    EXPECT_STREQ(errbuf, "untouched");
    int cnt = -1;
    bsd::kinfo_proc *p = bsd::kvm_getprocs(kd, bsd::kern_proc_pid, ::getpid(), &cnt);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(cnt, 1);
    EXPECT_EQ(p->ki_pid, ::getpid());
    char **env = bsd::kvm_getenvv(kd, p, 0);
    ASSERT_NE(env, nullptr);
    std::size_t n = 0;
    while (env[n] != nullptr)
        n++;
    EXPECT_GT(n, 0u);
    // A limit counts bytes: four of them hold no more than the first string.
    char **cut = bsd::kvm_getenvv(kd, p, 4);
    ASSERT_NE(cut, nullptr);
    ASSERT_NE(cut[0], nullptr);
    EXPECT_LE(std::strlen(cut[0]), 4u);
    EXPECT_EQ(cut[1], nullptr);
    EXPECT_EQ(bsd::kvm_close(kd), 0);
}

TEST_F(StandinProcTest, MissingProcessAndForeignCoreFileFail) {
    char errbuf[2048] = "";
    EXPECT_EQ(bsd::kvm_openfiles(nullptr, "/dev/mem", nullptr, 0, errbuf), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_STREQ(errbuf, "/dev/mem: Permission denied");
    bsd::kvm_t *kd = bsd::kvm_openfiles(nullptr, "/dev/null", nullptr, 0, errbuf);
    ASSERT_NE(kd, nullptr);
    int cnt = 5;
    EXPECT_EQ(bsd::kvm_getprocs(kd, bsd::kern_proc_pid, 1 << 23, &cnt), nullptr);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_STREQ(bsd::kvm_geterr(kd), "kvm_getprocs: No such process");
    bsd::kvm_close(kd);
}

// Whatever count is claimed, the array holds it; a claim below the int
// range is its lowest value, never one that wraps to a large count.
TEST_F(StandinProcTest, InjectedCountNeverOutrunsTheArray) {
    struct {
        long value;
        int count;  // -1 with null: fails
    } cases[] = {{3, 3}, {-3, -3}, {LONG_MIN, INT_MIN}, {-(1L << 31) - 1, INT_MIN},
                 {1L << 21, -1}};
    for (const auto &c : cases) {
        standin_reset();
        ASSERT_EQ(standin_answer_value("kvm_getprocs", "9", c.value, "", 0), 0);
        bsd::kvm_t *kd = bsd::kvm_openfiles(nullptr, "/dev/null", nullptr, 0, nullptr);
        ASSERT_NE(kd, nullptr);
        int cnt = 0;
        errno = 0;
        bsd::kinfo_proc *p = bsd::kvm_getprocs(kd, bsd::kern_proc_pid, 9, &cnt);
        if (c.count == -1) {
            EXPECT_EQ(p, nullptr) << c.value;
            EXPECT_EQ(errno, ENOMEM) << c.value;
        } else {
            ASSERT_NE(p, nullptr) << c.value;
            EXPECT_EQ(cnt, c.count) << c.value;
            if (cnt > 0) {
                EXPECT_EQ(p[cnt - 1].ki_pid, 0);  // zeroed, and there to be read
            }
        }
        bsd::kvm_close(kd);
    }
}

TEST_F(StandinProcTest, ResourceNumbersAreFreeBSDs) {
    struct {
        int bsd_res;
        __rlimit_resource host_res;
    } pairs[] = {{bsd::rlimit_nofile, RLIMIT_NOFILE}, {bsd::rlimit_nproc, RLIMIT_NPROC},
                 {bsd::rlimit_memlock, RLIMIT_MEMLOCK}, {bsd::rlimit_as, RLIMIT_AS},
                 {bsd::rlimit_stack, RLIMIT_STACK}};
    for (const auto &pr : pairs) {
        int err = -1;
        std::string rec =
            read_answer({bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_rlimit, ::getpid(), pr.bsd_res}, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(rec.size(), 16u);
        bsd::rlimit rl;
        std::memcpy(&rl, rec.data(), sizeof(rl));
        struct rlimit host;
        ASSERT_EQ(::getrlimit(pr.host_res, &host), 0);
        auto expect = [](rlim_t v) {
            return v == RLIM_INFINITY ? bsd::rlim_infinity : static_cast<bsd::rlim_t>(v);
        };
        EXPECT_EQ(rl.rlim_cur, expect(host.rlim_cur)) << pr.bsd_res;
        EXPECT_EQ(rl.rlim_max, expect(host.rlim_max)) << pr.bsd_res;
    }
    int err = 0;
    read_answer({bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_rlimit, ::getpid(), bsd::rlim_nlimits}, &err);
    EXPECT_EQ(err, EINVAL);
    read_answer({bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_rlimit, ::getpid()}, &err);
    EXPECT_EQ(err, EINVAL);
}

TEST_F(StandinProcTest, RlimitWritesOfTheWrongSizeOrWithAReadAreRefused) {
    int mib[5] = {bsd::ctl_kern, bsd::kern_proc, bsd::kern_proc_rlimit, ::getpid(), bsd::rlimit_core};
    bsd::rlimit rl{0, 0};
    EXPECT_EQ(bsd::sysctl(mib, 5, nullptr, nullptr, &rl, 8), -1);
    EXPECT_EQ(errno, EINVAL);
    std::size_t len = sizeof(rl);
    bsd::rlimit old;
    EXPECT_EQ(bsd::sysctl(mib, 5, &old, &len, &rl, sizeof(rl)), -1);
    EXPECT_EQ(errno, EPERM);
}

TEST_F(StandinProcTest, ProcessCheckTellsProcessesFromThreads) {
    int saved = errno = 1234;
    EXPECT_TRUE(standin::thread_group(::getpid()));
    EXPECT_FALSE(standin::thread_group(0));
    EXPECT_FALSE(standin::thread_group(1 << 23));
    pid_t tid = 0;
    std::thread t([&] { tid = static_cast<pid_t>(::gettid()); });
    t.join();  // an exited thread's number names nothing
    EXPECT_FALSE(standin::thread_group(tid));
    std::promise<void> done;
    pid_t live_tid = 0;
    std::promise<void> ready;
    std::thread u([&] {
        live_tid = static_cast<pid_t>(::gettid());
        ready.set_value();
        done.get_future().wait();
    });
    ready.get_future().wait();
    EXPECT_FALSE(standin::thread_group(live_tid));
    done.set_value();
    u.join();
    EXPECT_EQ(errno, saved);
}

}  // namespace
