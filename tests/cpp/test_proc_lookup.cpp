// Process liveness, the process record reads and the exception chosen after
// a failed library call, driven by injected answers.
#include "errors_support.h"

// --- liveness ---------------------------------------------------------------

TEST_F(PidExistsTest, NonPositiveIdsNeverAskTheKernel) {
    EXPECT_EQ(quarn_pid_exists(0), 0);
    EXPECT_EQ(quarn_pid_exists(-1), 0);
    EXPECT_EQ(quarn_pid_exists(INT_MIN), 0);
    EXPECT_EQ(call_log(), "");
}

TEST_F(PidExistsTest, LiveAnswers) {
    EXPECT_EQ(quarn_pid_exists(getpid()), 1);
    EXPECT_EQ(quarn_pid_exists(absent_pid), 0);
    EXPECT_EQ(call_log(), "kill\t" + std::to_string(getpid()) + "\tcall\t0\nkill\t" +
                              std::to_string(absent_pid) + "\tcall\t0\n");
}

TEST_F(PidExistsTest, KillErrnoDecides) {
    const std::string key = std::to_string(fake_pid);
    fail_with("kill", key, EPERM);
    EXPECT_EQ(quarn_pid_exists(fake_pid), 1);

    standin_reset();
    fail_with("kill", key, ESRCH);
    EXPECT_EQ(quarn_pid_exists(fake_pid), 0);

    standin_reset();
    fail_with("kill", key, EINVAL);
    EXPECT_EQ(quarn_pid_exists(fake_pid), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(PyErr_Occurred(), nullptr);

    standin_reset();
    answer("kill", key, nullptr, 0);
    EXPECT_EQ(quarn_pid_exists(fake_pid), 1);
}

// --- the process record -----------------------------------------------------

TEST_F(KinfoProcTest, BadArgsNeverAskTheKernel) {
    bsd::kinfo_proc kp;
    EXPECT_EQ(quarn_kinfo_proc(-1, &kp), -1);
    Raised a;
    EXPECT_TRUE(a.exactly(PyExc_RuntimeError)) << a.type_name();
    EXPECT_EQ(a.str(), "quarn_kinfo_proc() invalid args passed to function");
    EXPECT_EQ(quarn_kinfo_proc(getpid(), nullptr), -1);
    Raised b;
    EXPECT_EQ(b.str(), "quarn_kinfo_proc() invalid args passed to function");
    EXPECT_EQ(call_log(), "");
}

TEST_F(KinfoProcTest, Answers) {
    bsd::kinfo_proc kp;
    EXPECT_EQ(quarn_kinfo_proc(getpid(), &kp), 0);
    EXPECT_EQ(kp.ki_pid, getpid());

    EXPECT_EQ(quarn_kinfo_proc(absent_pid, &kp), -1);
    Raised gone;
    EXPECT_TRUE(gone.exactly(PyExc_ProcessLookupError)) << gone.type_name();
    EXPECT_EQ(gone.err(), 3);
    EXPECT_EQ(gone.strerror(), annotated(ESRCH, "sysctl(kinfo_proc)"));

    answer("sysctl", pid_key(fake_pid), nullptr, 0);
    EXPECT_EQ(quarn_kinfo_proc(fake_pid, &kp), -1);
    Raised empty;
    EXPECT_TRUE(empty.exactly(PyExc_ProcessLookupError)) << empty.type_name();
    EXPECT_EQ(empty.err(), 3);
    EXPECT_EQ(empty.strerror(), "force no such process (originated from sysctl(kinfo_proc), size = 0)");

    // ID 0 is handed to the kernel.
    std::string rec = proc_record(0, srun);
    answer("sysctl", pid_key(0), rec.data(), rec.size());
    EXPECT_EQ(quarn_kinfo_proc(0, &kp), 0);
}

TEST_F(KinfoProcTest, IsZombieReadsTheState) {
    std::string zombie = proc_record(fake_pid, szomb), running = proc_record(fake_pid + 1, srun);
    answer("sysctl", pid_key(fake_pid), zombie.data(), zombie.size());
    answer("sysctl", pid_key(fake_pid + 1), running.data(), running.size());
    EXPECT_EQ(is_zombie(fake_pid), 1);
    EXPECT_EQ(is_zombie(fake_pid + 1), 0);
    EXPECT_EQ(is_zombie(getpid()), 0);
}

TEST_F(KinfoProcTest, IsZombieSwallowsFailures) {
    answer("sysctl", pid_key(fake_pid), nullptr, 0);
    fail_with("sysctl", pid_key(fake_pid + 1), EPERM);
    for (int pid : {absent_pid, -1, fake_pid, fake_pid + 1}) {
        errno = EXDEV;
        EXPECT_EQ(is_zombie(pid), 0) << pid;
        EXPECT_EQ(PyErr_Occurred(), nullptr) << pid;
        EXPECT_EQ(errno, 0) << pid;
    }
}

TEST_F(KinfoProcTest, PidListKeepsKernelOrderAndDropsPartialRecords) {
    std::string table = proc_record(30, srun) + proc_record(10, ssleep) + proc_record(20, szomb) +
                        std::string(500, '\x7f');
    answer("sysctl", "1.14.8.0", table.data(), table.size());
    int *ids = nullptr;
    int count = 0;
    ASSERT_EQ(_quarn_pids(&ids, &count), 0);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(ids[0], 30);
    EXPECT_EQ(ids[1], 10);
    EXPECT_EQ(ids[2], 20);
    std::free(ids);

    standin_reset();
    answer_bytes("1.14.8.0", 100, '\0');
    ASSERT_EQ(_quarn_pids(&ids, &count), 0);
    EXPECT_EQ(count, 0);
    std::free(ids);
}

TEST_F(KinfoProcTest, EmptyPidList) {
    answer("sysctl", "1.14.8.0", nullptr, 0);
    int *ids = reinterpret_cast<int *>(0x1);
    int count = 5;
    EXPECT_EQ(_quarn_pids(&ids, &count), -1);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
    EXPECT_EQ(r.str(), "no PIDs found");
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(count, 0);
}

// --- choosing the exception after a failed library call ---------------------

namespace {

PyObject *zombie_class() {
    if (ZombieProcessError == nullptr) {
        int debug = QUARN_DEBUG, testing = QUARN_TESTING;
        PyObject *mod = PyImport_ImportModule("_quarn_bsd");
        QUARN_DEBUG = debug;
        QUARN_TESTING = testing;
        if (mod == nullptr)
            PyErr_Print();
        Py_XDECREF(mod);  // sys.modules keeps it
    }
    return ZombieProcessError;
}

// The zombie class exists only once the module is initialised.
class RaiseForPidTest : public ErrorsTest {
protected:
    static void SetUpTestSuite() { zombie_class(); }
};

}  // namespace

TEST_F(RaiseForPidTest, LibraryErrnoIsReportedAsIs) {
    errno = EACCES;
    EXPECT_EQ(quarn_raise_for_pid(getpid(), "kinfo_getfile()"), nullptr);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_PermissionError)) << r.type_name();
    EXPECT_EQ(r.err(), EACCES);
    EXPECT_EQ(r.strerror(), annotated(EACCES, "kinfo_getfile()"));
    // The library said why: the process is not looked at.
    EXPECT_EQ(call_log(), "");
}

TEST_F(RaiseForPidTest, GoneProcess) {
    fail_with("kill", std::to_string(fake_pid), ESRCH);
    // Liveness is asked before the state, so a stale zombie record is not read.
    std::string rec = proc_record(fake_pid, szomb);
    answer("sysctl", pid_key(fake_pid), rec.data(), rec.size());
    errno = 0;
    EXPECT_EQ(quarn_raise_for_pid(fake_pid, "kinfo_getvmmap()"), nullptr);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_ProcessLookupError)) << r.type_name();
    EXPECT_EQ(r.err(), 3);
    EXPECT_EQ(r.strerror(), "force no such process (originated from kinfo_getvmmap())");
    EXPECT_EQ(call_log(), "kill\t4242\tcall\t0\n");
}

TEST_F(RaiseForPidTest, Zombie) {
    PyObject *cls = zombie_class();
    ASSERT_NE(cls, nullptr);
    std::string rec = proc_record(fake_pid, szomb);
    answer("sysctl", pid_key(fake_pid), rec.data(), rec.size());
    // Exists, and also when kill cannot tell.
    for (int kill_err : {0, EINVAL}) {
        standin_log_clear();
        if (kill_err)
            fail_with("kill", std::to_string(fake_pid), kill_err);
        else
            answer("kill", std::to_string(fake_pid), nullptr, 0);
        errno = 0;
        EXPECT_EQ(quarn_raise_for_pid(fake_pid, "kinfo_getfile()"), nullptr);
        Raised r;
        EXPECT_TRUE(r.exactly(cls)) << kill_err << ": " << r.type_name();
        EXPECT_EQ(r.str(), "") << kill_err;
        EXPECT_NE(call_log().find("sysctl\t" + pid_key(fake_pid) + "\tread\t1088\n"),
                  std::string::npos);
    }
}

TEST_F(RaiseForPidTest, LiveProcessIsARuntimeError) {
    errno = 0;
    EXPECT_EQ(quarn_raise_for_pid(getpid(), "kinfo_getfile()"), nullptr);
    Raised own;
    EXPECT_TRUE(own.exactly(PyExc_RuntimeError)) << own.type_name();
    EXPECT_EQ(own.str(), "kinfo_getfile() syscall failed");

    // A process that exists but whose record cannot be read is no zombie.
    answer("kill", std::to_string(fake_pid), nullptr, 0);
    fail_with("sysctl", pid_key(fake_pid), EPERM);
    errno = 0;
    quarn_raise_for_pid(fake_pid, "kinfo_getvmmap()");
    Raised other;
    EXPECT_TRUE(other.exactly(PyExc_RuntimeError)) << other.type_name();
    EXPECT_EQ(other.str(), "kinfo_getvmmap() syscall failed");
}
