// The raising operations and the debug log, then the kernel-parameter reads
// and process lookups that raise through them, driven by injected answers.
#include <Python.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "arch/all/errors.h"
#include "arch/all/globals.h"
#include "arch/all/str.h"
#include "arch/freebsd/proc.h"
#include "arch/posix/posix.h"
#include "arch/posix/sysctl.h"
#include "support.h"
#include "standin/inject/inject.h"

namespace {

std::string stderr_of(const std::function<void()> &fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        n++;
    return n;
}

// The pending exception, taken over from the interpreter.
class Raised {
public:
    Raised() : exc_(PyErr_GetRaisedException()) {}
    ~Raised() { Py_XDECREF(exc_); }
    Raised(const Raised &) = delete;
    Raised &operator=(const Raised &) = delete;

    bool any() const { return exc_ != nullptr; }
    bool is(PyObject *type) const { return exc_ && PyErr_GivenExceptionMatches(exc_, type); }
    bool exactly(PyObject *type) const {
        return exc_ && reinterpret_cast<PyObject *>(Py_TYPE(exc_)) == type;
    }
    std::string type_name() const { return exc_ ? Py_TYPE(exc_)->tp_name : "(none)"; }
    std::string str() const { return text_of(exc_ ? PyObject_Str(exc_) : nullptr); }
    std::string strerror() const { return text_of(attr("strerror")); }
    long err() const {
        PyObject *v = attr("errno");
        long n = (v && PyLong_Check(v)) ? PyLong_AsLong(v) : -1;
        Py_XDECREF(v);
        return n;
    }

private:
    PyObject *attr(const char *name) const {
        if (!exc_)
            return nullptr;
        PyObject *v = PyObject_GetAttrString(exc_, name);
        if (!v)
            PyErr_Clear();
        return v;
    }
    static std::string text_of(PyObject *v) {
        std::string s = "(none)";
        if (v && PyUnicode_Check(v))
            s = PyUnicode_AsUTF8(v);
        else if (v == Py_None)
            s = "None";
        Py_XDECREF(v);
        PyErr_Clear();
        return s;
    }
    PyObject *exc_;
};

std::string annotated(int err, const std::string &what) {
    return std::string(std::strerror(err)) + " (originated from " + what + ")";
}

std::size_t ops_in_log(const char *op) {
    return count_of(call_log(), std::string("\t") + op + "\t");
}

void answer(const char *call, const std::string &key, const void *data, std::size_t len) {
    ASSERT_EQ(standin_answer(call, key.c_str(), data, len), 0);
}

template <class T> void answer_value(const std::string &key, const T &v) {
    answer("sysctl", key, &v, sizeof(v));
}

void answer_bytes(const std::string &key, std::size_t n, char fill) {
    std::string data(n, fill);
    answer("sysctl", key, data.data(), data.size());
}

void fail_with(const char *call, const std::string &key, int err) {
    ASSERT_EQ(standin_error(call, key.c_str(), err), 0);
}

// A process record built at the documented offsets, not through the struct.
std::string proc_record(int pid, char stat) {
    std::string rec(1088, '\0');
    std::memcpy(&rec[72], &pid, sizeof(pid));
    rec[388] = stat;
    return rec;
}

// Process states of ki_stat.
constexpr char srun = 2, ssleep = 3, szomb = 5;

std::string pid_key(int pid) { return "1.14.1." + std::to_string(pid); }

const int absent_pid = INT_MAX;  // above every host's pid_max
const int fake_pid = 4242;       // only ever answered by injection

// Flags off, no injection and no log at the start of every case; a case
// leaves no exception pending behind it.
class ErrorsTest : public testing::Test {
protected:
    void SetUp() override {
        saved_debug_ = QUARN_DEBUG;
        saved_testing_ = QUARN_TESTING;
        QUARN_DEBUG = 0;
        QUARN_TESTING = 0;
        standin_reset();
        errno = 0;
    }
    void TearDown() override {
        EXPECT_EQ(PyErr_Occurred(), nullptr) << "exception left pending";
        PyErr_Clear();
        standin_reset();
        QUARN_DEBUG = saved_debug_;
        QUARN_TESTING = saved_testing_;
    }

private:
    int saved_debug_ = 0;
    int saved_testing_ = 0;
};

using RaiseTest = ErrorsTest;
using DebugLogTest = ErrorsTest;
using SysctlTest = ErrorsTest;
using GrowingReadTest = ErrorsTest;
using ArgmaxTest = ErrorsTest;
using PageSizeTest = ErrorsTest;
using PidExistsTest = ErrorsTest;
using KinfoProcTest = ErrorsTest;

}  // namespace

// --- the raising operations -------------------------------------------------

TEST_F(RaiseTest, PlainFormComesFromErrno) {
    errno = EACCES;
    EXPECT_EQ(quarn_oserror(), nullptr);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_PermissionError)) << r.type_name();
    EXPECT_EQ(r.err(), EACCES);
    EXPECT_EQ(r.strerror(), std::strerror(EACCES));
}

TEST_F(RaiseTest, AnnotatedFormNamesTheCall) {
    errno = ENOENT;
    EXPECT_EQ(quarn_oserror_wsyscall("sysctl()"), nullptr);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_FileNotFoundError)) << r.type_name();
    EXPECT_EQ(r.err(), 2);
    EXPECT_EQ(r.strerror(), annotated(2, "sysctl()"));
}

TEST_F(RaiseTest, AnnotatedFormPicksTheErrnoSubclass) {
    const struct {
        int err;
        PyObject *type;
    } cases[] = {
        {ESRCH, PyExc_ProcessLookupError},
        {EPERM, PyExc_PermissionError},
        {EINVAL, PyExc_OSError},
    };
    for (const auto &c : cases) {
        errno = c.err;
        quarn_oserror_wsyscall("kill()");
        Raised r;
        EXPECT_TRUE(r.exactly(c.type)) << c.err << ": " << r.type_name();
        EXPECT_EQ(r.err(), c.err);
        EXPECT_EQ(r.strerror(), annotated(c.err, "kill()"));
    }
}

TEST_F(RaiseTest, ForcedFormsIgnoreErrno) {
    for (int err : {0, ENOENT, EACCES}) {
        errno = err;
        EXPECT_EQ(quarn_oserror_nsp("kinfo_getfile()"), nullptr);
        Raised nsp;
        EXPECT_TRUE(nsp.exactly(PyExc_ProcessLookupError)) << nsp.type_name();
        EXPECT_EQ(nsp.err(), 3);
        EXPECT_EQ(nsp.strerror(), "force no such process (originated from kinfo_getfile())");

        errno = err;
        EXPECT_EQ(quarn_oserror_ad("kinfo_getfile()"), nullptr);
        Raised ad;
        EXPECT_TRUE(ad.exactly(PyExc_PermissionError)) << ad.type_name();
        EXPECT_EQ(ad.err(), 13);
        EXPECT_EQ(ad.strerror(), "force permission denied (originated from kinfo_getfile())");
    }
}

TEST_F(RaiseTest, LongWhatIsCutTo511Characters) {
    const std::string what(600, 'w');
    const struct {
        std::function<void()> raise;
        std::string full;
        const char *format;
    } cases[] = {
        {[&] {
             errno = ENOENT;
             quarn_oserror_wsyscall(what.c_str());
         },
         annotated(ENOENT, what), "%s (originated from %s)"},
        {[&] { quarn_oserror_nsp(what.c_str()); },
         "force no such process (originated from " + what + ")",
         "force no such process (originated from %s)"},
        {[&] { quarn_oserror_ad(what.c_str()); },
         "force permission denied (originated from " + what + ")",
         "force permission denied (originated from %s)"},
    };
    for (const auto &c : cases) {
        QUARN_DEBUG = 0;
        std::string err = stderr_of(c.raise);
        Raised quiet;
        EXPECT_EQ(quiet.strerror().size(), 511u);
        EXPECT_EQ(quiet.strerror(), c.full.substr(0, 511));
        EXPECT_EQ(err, "");

        // With the flag on, the cut is logged once, before the raise.
        QUARN_DEBUG = 1;
        err = stderr_of(c.raise);
        Raised loud;
        EXPECT_EQ(loud.strerror(), c.full.substr(0, 511));
        EXPECT_EQ(count_of(err, "\n"), 1u) << err;
        EXPECT_EQ(err.rfind("quarn-debug [", 0), 0u) << err;
        EXPECT_NE(err.find(std::string("]> str_format: error in format '") + c.format + "'\n"),
                  std::string::npos)
            << err;
    }
}

TEST_F(RaiseTest, RuntimeErrorUsesTheInterpretersFormatter) {
    EXPECT_EQ(quarn_runtime_error("%s syscall failed", "kinfo_getvmmap()"), nullptr);
    Raised a;
    EXPECT_TRUE(a.exactly(PyExc_RuntimeError)) << a.type_name();
    EXPECT_EQ(a.str(), "kinfo_getvmmap() syscall failed");

    quarn_runtime_error("%d of %zu, %s", -3, static_cast<std::size_t>(70000), "done");
    Raised b;
    EXPECT_EQ(b.str(), "-3 of 70000, done");
}

TEST_F(RaiseTest, BadArgsReturnsMinusOne) {
    EXPECT_EQ(quarn_badargs("quarn_sysctl"), -1);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
    EXPECT_EQ(r.str(), "quarn_sysctl() invalid args passed to function");
}

TEST_F(RaiseTest, KvmPermissionTextsBecomePermissionError) {
    for (const char *text : {"/dev/mem: Operation not permitted", "/dev/mem: Permission denied"}) {
        convert_kvm_err("kvm_openfiles", text);
        Raised r;
        EXPECT_TRUE(r.exactly(PyExc_PermissionError)) << text << ": " << r.type_name();
        EXPECT_EQ(r.err(), 13);
        EXPECT_EQ(r.strerror(), std::string("force permission denied (originated from "
                                            "(originated from kvm_openfiles: ") +
                                    text + "))");
    }
}

TEST_F(RaiseTest, OtherKvmTextsBecomeRuntimeErrorVerbatim) {
    // The phrase match is case-sensitive, and the text is never a format.
    for (const char *text : {"cannot open /dev/kmem", "permission denied", "50% done %s"}) {
        convert_kvm_err("kvm_openfiles", text);
        Raised r;
        EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << text << ": " << r.type_name();
        EXPECT_EQ(r.str(), std::string("(originated from kvm_openfiles: ") + text + ")");
    }
}

TEST_F(RaiseTest, RaisingLeavesErrnoAlone) {
    const std::vector<std::pair<const char *, std::function<void()>>> ops = {
        {"oserror", [] { quarn_oserror(); }},
        {"wsyscall", [] { quarn_oserror_wsyscall("x()"); }},
        {"nsp", [] { quarn_oserror_nsp("x()"); }},
        {"ad", [] { quarn_oserror_ad("x()"); }},
        {"runtime", [] { quarn_runtime_error("%s", "x"); }},
        {"badargs", [] { quarn_badargs("x"); }},
        {"kvm", [] { convert_kvm_err("kvm_openfiles", "nope"); }},
        {"kvm-ad", [] { convert_kvm_err("kvm_openfiles", "Permission denied"); }},
    };
    for (const auto &[name, op] : ops) {
        errno = EXDEV;
        op();
        EXPECT_EQ(errno, EXDEV) << name;
        EXPECT_NE(PyErr_Occurred(), nullptr) << name;
        PyErr_Clear();
    }
}

TEST_F(RaiseTest, RaisingWritesNothingWithoutDebugFlag) {
    std::string err = stderr_of([] {
        errno = ENOENT;
        quarn_oserror_wsyscall("sysctl()");
        PyErr_Clear();
        quarn_oserror_nsp("x()");
        PyErr_Clear();
        quarn_oserror_ad("x()");
        PyErr_Clear();
        convert_kvm_err("kvm_openfiles", "Permission denied");
        PyErr_Clear();
        convert_kvm_err("kvm_openfiles", "other");
        PyErr_Clear();
        quarn_badargs("x");
        PyErr_Clear();
        quarn_debug("never %d", 1);
    });
    EXPECT_EQ(err, "");
}

// --- the debug log ----------------------------------------------------------

TEST_F(DebugLogTest, LineShowsTheCallSite) {
    QUARN_DEBUG = 1;
    int line = 0;
    std::string err = stderr_of([&] {
        line = __LINE__; quarn_debug("value %d and %s", 7, "text");
    });
    EXPECT_EQ(err, std::string("quarn-debug [") + __FILE__ + ":" + std::to_string(line) +
                       "]> value 7 and text\n");
}

TEST_F(DebugLogTest, EachCallSiteShowsItsOwnLine) {
    QUARN_DEBUG = 1;
    int first = 0, second = 0;
    std::string err = stderr_of([&] {
        first = __LINE__; quarn_debug("a");
        second = __LINE__; quarn_debug("b");
    });
    std::string prefix = std::string("quarn-debug [") + __FILE__ + ":";
    EXPECT_EQ(err, prefix + std::to_string(first) + "]> a\n" + prefix + std::to_string(second) +
                       "]> b\n");
}

TEST_F(DebugLogTest, NothingWhenOffAndErrnoKept) {
    std::string err = stderr_of([] { quarn_debug("x %s", "y"); });
    EXPECT_EQ(err, "");

    QUARN_DEBUG = 1;
    errno = EXDEV;
    stderr_of([] { quarn_debug("x"); });
    EXPECT_EQ(errno, EXDEV);
}

// --- fixed reads ------------------------------------------------------------

TEST_F(SysctlTest, BadArgsNeverAskTheKernel) {
    int mib[2] = {1, 8};
    char buf[8];
    const std::vector<std::function<int()>> calls = {
        [&] { return quarn_sysctl(mib, 2, buf, 0); },
        [&] { return quarn_sysctl(mib, 0, buf, sizeof(buf)); },
        [&] { return quarn_sysctl(nullptr, 2, buf, sizeof(buf)); },
        [&] { return quarn_sysctl(mib, 2, nullptr, sizeof(buf)); },
    };
    for (std::size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(calls[i](), -1) << i;
        Raised r;
        EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << i << ": " << r.type_name();
        EXPECT_EQ(r.str(), "quarn_sysctl() invalid args passed to function") << i;
    }
    const std::vector<std::function<int()>> by_name = {
        [&] { return quarn_sysctlbyname(nullptr, buf, sizeof(buf)); },
        [&] { return quarn_sysctlbyname("kern.argmax", nullptr, sizeof(buf)); },
        [&] { return quarn_sysctlbyname("kern.argmax", buf, 0); },
    };
    for (std::size_t i = 0; i < by_name.size(); i++) {
        EXPECT_EQ(by_name[i](), -1) << i;
        Raised r;
        EXPECT_EQ(r.str(), "quarn_sysctlbyname() invalid args passed to function") << i;
    }
    EXPECT_EQ(call_log(), "");
}

TEST_F(SysctlTest, ShortAnswerKeepsTheRestOfTheBuffer) {
    const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    answer("sysctl", "vm.stats.x", data, sizeof(data));
    answer("sysctl", "1.2.3", data, sizeof(data));

    unsigned char buf[16];
    std::memset(buf, 0xab, sizeof(buf));
    EXPECT_EQ(quarn_sysctlbyname("vm.stats.x", buf, sizeof(buf)), 0);
    EXPECT_EQ(std::memcmp(buf, data, 8), 0);
    for (int i = 8; i < 16; i++)
        EXPECT_EQ(buf[i], 0xab) << i;

    int mib[3] = {1, 2, 3};
    std::memset(buf, 0xcd, sizeof(buf));
    EXPECT_EQ(quarn_sysctl(mib, 3, buf, sizeof(buf)), 0);
    EXPECT_EQ(std::memcmp(buf, data, 8), 0);
    for (int i = 8; i < 16; i++)
        EXPECT_EQ(buf[i], 0xcd) << i;

    EXPECT_EQ(call_log(), "sysctl\tvm.stats.x\tread\t16\nsysctl\t1.2.3\tread\t16\n");
}

TEST_F(SysctlTest, UnknownNamesAreFileNotFound) {
    int mib[2] = {1, 9999};
    int v = 0;
    EXPECT_EQ(quarn_sysctl(mib, 2, &v, sizeof(v)), -1);
    Raised a;
    EXPECT_TRUE(a.exactly(PyExc_FileNotFoundError)) << a.type_name();
    EXPECT_EQ(a.err(), 2);
    EXPECT_EQ(a.strerror(), annotated(2, "sysctl()"));

    EXPECT_EQ(quarn_sysctlbyname("no.such.name", &v, sizeof(v)), -1);
    Raised b;
    EXPECT_TRUE(b.exactly(PyExc_FileNotFoundError)) << b.type_name();
    EXPECT_EQ(b.strerror(), annotated(2, "sysctlbyname('no.such.name')"));
}

TEST_F(SysctlTest, KernelErrorsAreAnnotated) {
    fail_with("sysctl", "1.2.3", EPERM);
    fail_with("sysctl", "x.y", EACCES);
    int mib[3] = {1, 2, 3};
    int v = 0;
    EXPECT_EQ(quarn_sysctl(mib, 3, &v, sizeof(v)), -1);
    Raised a;
    EXPECT_TRUE(a.exactly(PyExc_PermissionError)) << a.type_name();
    EXPECT_EQ(a.err(), EPERM);
    EXPECT_EQ(a.strerror(), annotated(EPERM, "sysctl()"));

    EXPECT_EQ(quarn_sysctlbyname("x.y", &v, sizeof(v)), -1);
    Raised b;
    EXPECT_EQ(b.err(), EACCES);
    EXPECT_EQ(b.strerror(), annotated(EACCES, "sysctlbyname('x.y')"));
}

TEST_F(SysctlTest, AnswerLongerThanTheBufferIsENOMEM) {
    answer_bytes("1.2.3", 8, 'a');
    answer_bytes("x.y", 8, 'a');
    int mib[3] = {1, 2, 3};
    int v = 0;
    EXPECT_EQ(quarn_sysctl(mib, 3, &v, sizeof(v)), -1);
    Raised a;
    EXPECT_EQ(a.err(), ENOMEM);
    EXPECT_EQ(a.strerror(), annotated(ENOMEM, "sysctl()"));

    EXPECT_EQ(quarn_sysctlbyname("x.y", &v, sizeof(v)), -1);
    Raised b;
    EXPECT_EQ(b.err(), ENOMEM);
    EXPECT_EQ(b.strerror(), annotated(ENOMEM, "sysctlbyname('x.y')"));
}

TEST_F(SysctlTest, LongNameIsCutInTheMessage) {
    const std::string name = "a." + std::string(298, 'n');
    int v = 0;
    EXPECT_EQ(quarn_sysctlbyname(name.c_str(), &v, sizeof(v)), -1);
    Raised r;
    std::string what = ("sysctlbyname('" + name + "')").substr(0, 255);
    EXPECT_EQ(r.strerror(), annotated(ENOENT, what));
}

// --- growing reads ----------------------------------------------------------

TEST_F(GrowingReadTest, BadArgs) {
    int mib[2] = {1, 14};
    char *buf = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(quarn_sysctl_malloc(mib, 0, &buf, &len), -1);
    Raised a;
    EXPECT_EQ(a.str(), "quarn_sysctl_malloc() invalid args passed to function");
    EXPECT_EQ(quarn_sysctl_malloc(nullptr, 2, &buf, &len), -1);
    Raised b;
    EXPECT_EQ(b.str(), "quarn_sysctl_malloc() invalid args passed to function");
    EXPECT_EQ(quarn_sysctl_malloc(mib, 2, nullptr, &len), -1);
    Raised c;
    EXPECT_EQ(c.str(), "quarn_sysctl_malloc() invalid args passed to function");
    EXPECT_EQ(quarn_sysctl_malloc(mib, 2, &buf, nullptr), -1);
    Raised d;
    EXPECT_EQ(d.str(), "quarn_sysctl_malloc() invalid args passed to function");

    EXPECT_EQ(quarn_sysctlbyname_malloc(nullptr, &buf, &len), -1);
    Raised e;
    EXPECT_EQ(e.str(), "quarn_sysctlbyname_malloc() invalid args passed to function");
    EXPECT_EQ(quarn_sysctlbyname_malloc("x.y", nullptr, &len), -1);
    Raised f;
    EXPECT_EQ(f.str(), "quarn_sysctlbyname_malloc() invalid args passed to function");
    EXPECT_EQ(quarn_sysctlbyname_malloc("x.y", &buf, nullptr), -1);
    Raised g;
    EXPECT_EQ(g.str(), "quarn_sysctlbyname_malloc() invalid args passed to function");
    EXPECT_EQ(call_log(), "");
}

TEST_F(GrowingReadTest, TableThatGrowsOnceIsReadOnTheSecondAttempt) {
    QUARN_DEBUG = 1;
    std::string small(8, 's'), big(16, 'b');
    answer("sysctl", "x.y", small.data(), small.size());  // first measure
    answer("sysctl", "x.y", big.data(), big.size());      // read: too short
    answer("sysctl", "x.y", big.data(), big.size());      // re-measure, read
    char *buf = nullptr;
    std::size_t len = 0;
    std::string err = stderr_of([&] { EXPECT_EQ(quarn_sysctlbyname_malloc("x.y", &buf, &len), 0); });
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::string(buf, len), big);
    std::free(buf);
    EXPECT_EQ(count_of(err, "\n"), 1u) << err;
    EXPECT_NE(err.find("]> quarn_sysctlbyname_malloc() retry\n"), std::string::npos) << err;
    EXPECT_EQ(call_log(), "sysctl\tx.y\tmeasure\t0\nsysctl\tx.y\tread\t8\n"
                          "sysctl\tx.y\tmeasure\t0\nsysctl\tx.y\tread\t16\n");
}

TEST_F(GrowingReadTest, NumericTableThatGrowsOnce) {
    QUARN_DEBUG = 1;
    std::string small(8, 's'), big(24, 'b');
    answer("sysctl", "1.14.8.0", small.data(), small.size());
    answer("sysctl", "1.14.8.0", big.data(), big.size());
    int mib[4] = {1, 14, 8, 0};
    char *buf = nullptr;
    std::size_t len = 0;
    std::string err = stderr_of([&] { EXPECT_EQ(quarn_sysctl_malloc(mib, 4, &buf, &len), 0); });
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(std::string(buf, len), big);
    std::free(buf);
    EXPECT_EQ(count_of(err, "]> quarn_sysctl_malloc() retry\n"), 1u) << err;
    EXPECT_EQ(ops_in_log("measure"), 2u);
    EXPECT_EQ(ops_in_log("read"), 2u);
}

TEST_F(GrowingReadTest, FailuresNameTheirStep) {
    std::string eight(8, 'e'), sixteen(16, 's');
    const struct {
        const char *key;
        int steps;  // answers before the failing step
        int err;
        const char *step;
        PyObject *type;
    } cases[] = {
        {"a.one", 0, EACCES, "1/3", PyExc_PermissionError},
        {"a.three", 1, EPERM, "3/3", PyExc_PermissionError},
        {"a.two", 2, ENOENT, "2/3", PyExc_FileNotFoundError},
    };
    for (const auto &c : cases) {
        standin_reset();
        if (c.steps >= 1)
            answer("sysctl", c.key, eight.data(), eight.size());
        if (c.steps >= 2)
            answer("sysctl", c.key, sixteen.data(), sixteen.size());
        fail_with("sysctl", c.key, c.err);

        char *buf = reinterpret_cast<char *>(0x1);
        std::size_t len = 77;
        EXPECT_EQ(quarn_sysctlbyname_malloc(c.key, &buf, &len), -1) << c.key;
        Raised r;
        EXPECT_TRUE(r.exactly(c.type)) << c.key << ": " << r.type_name();
        EXPECT_EQ(r.err(), c.err) << c.key;
        EXPECT_EQ(r.strerror(),
                  annotated(c.err, std::string("sysctlbyname('") + c.key + "') malloc " + c.step));
        // On failure the out-values stay as they were.
        EXPECT_EQ(buf, reinterpret_cast<char *>(0x1)) << c.key;
        EXPECT_EQ(len, 77u) << c.key;
    }
}

TEST_F(GrowingReadTest, NumericFailuresNameTheirStep) {
    std::string eight(8, 'e'), sixteen(16, 's');
    int mib[3] = {1, 2, 3};
    const struct {
        int steps;
        int err;
        const char *step;
    } cases[] = {{0, EACCES, "1/3"}, {1, EPERM, "3/3"}, {2, ENOENT, "2/3"}};
    for (const auto &c : cases) {
        standin_reset();
        if (c.steps >= 1)
            answer("sysctl", "1.2.3", eight.data(), eight.size());
        if (c.steps >= 2)
            answer("sysctl", "1.2.3", sixteen.data(), sixteen.size());
        fail_with("sysctl", "1.2.3", c.err);
        char *buf = nullptr;
        std::size_t len = 0;
        EXPECT_EQ(quarn_sysctl_malloc(mib, 3, &buf, &len), -1);
        Raised r;
        EXPECT_EQ(r.err(), c.err);
        EXPECT_EQ(r.strerror(), annotated(c.err, std::string("sysctl() malloc ") + c.step));
    }
}

// A kernel that says it wrote more than the buffer holds: refused in either
// form with the fixed reads' message, the buffer released, the out-values
// untouched.
TEST_F(GrowingReadTest, LengthAboveTheBufferIsRefused) {
    const char abc[] = "abc";  // with its NUL: 4 bytes
    ASSERT_EQ(standin_answer_value("sysctl", "x.y", 1L << 28, abc, sizeof(abc)), 0);
    ASSERT_EQ(standin_answer_value("sysctl", "1.2.3", 5, abc, sizeof(abc)), 0);
    int mib[3] = {1, 2, 3};
    for (int numeric = 0; numeric < 2; numeric++) {
        char *buf = reinterpret_cast<char *>(0x1);
        std::size_t len = 77;
        EXPECT_EQ(numeric ? quarn_sysctl_malloc(mib, 3, &buf, &len)
                          : quarn_sysctlbyname_malloc("x.y", &buf, &len),
                  -1);
        Raised r;
        EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
        EXPECT_EQ(r.str(), numeric ? "sysctl() size mismatch"
                                   : "sysctlbyname('x.y') size mismatch: returned 268435456, "
                                     "expected 4");
        EXPECT_EQ(buf, reinterpret_cast<char *>(0x1));
        EXPECT_EQ(len, 77u);
    }
    EXPECT_EQ(ops_in_log("read"), 2u);  // refused at once, not retried
}

TEST_F(GrowingReadTest, FailedReadOtherThanENOMEMIsNotRetried) {
    std::string eight(8, 'e');
    answer("sysctl", "x.y", eight.data(), eight.size());
    fail_with("sysctl", "x.y", EPERM);
    char *buf = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(quarn_sysctlbyname_malloc("x.y", &buf, &len), -1);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_PermissionError)) << r.type_name();
    EXPECT_EQ(call_log(), "sysctl\tx.y\tmeasure\t0\nsysctl\tx.y\tread\t8\n");
}

// Each answer is one record longer than the one before, so every read finds
// the table grown past the last measure.
static void answer_ever_growing(const std::string &key) {
    for (int i = 1; i <= 25; i++)
        answer_bytes(key, 8 * static_cast<std::size_t>(i), 'g');
}

TEST_F(GrowingReadTest, RetryLimitByName) {
    QUARN_DEBUG = 1;
    answer_ever_growing("x.%s");
    char *buf = nullptr;
    std::size_t len = 0;
    std::string err = stderr_of([&] { EXPECT_EQ(quarn_sysctlbyname_malloc("x.%s", &buf, &len), -1); });
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
    EXPECT_EQ(r.str(), "sysctlbyname('x.%s') buffer allocation retry limit exceeded");
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(ops_in_log("measure"), 11u);
    EXPECT_EQ(ops_in_log("read"), 10u);
    EXPECT_EQ(count_of(err, "]> quarn_sysctlbyname_malloc() retry\n"), 10u) << err;
    EXPECT_EQ(count_of(err, "\n"), 10u) << err;
}

TEST_F(GrowingReadTest, RetryLimitByNumber) {
    answer_ever_growing("1.14.8.0");
    int mib[4] = {1, 14, 8, 0};
    char *buf = nullptr;
    std::size_t len = 0;
    EXPECT_EQ(quarn_sysctl_malloc(mib, 4, &buf, &len), -1);
    Raised r;
    EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
    EXPECT_EQ(r.str(), "sysctl() buffer allocation retry limit exceeded");
    EXPECT_EQ(ops_in_log("measure"), 11u);
    EXPECT_EQ(ops_in_log("read"), 10u);
}

TEST_F(GrowingReadTest, ZeroSizeAnswerGivesAReleasableEmptyBuffer) {
    answer("sysctl", "x.empty", nullptr, 0);
    answer("sysctl", "1.2.3", nullptr, 0);

    QUARN_DEBUG = 1;
    char *buf = nullptr;
    std::size_t len = 99;
    std::string err =
        stderr_of([&] { EXPECT_EQ(quarn_sysctlbyname_malloc("x.empty", &buf, &len), 0); });
    EXPECT_NE(buf, nullptr);
    EXPECT_EQ(len, 0u);
    std::free(buf);
    EXPECT_EQ(count_of(err, "\n"), 1u) << err;
    EXPECT_NE(err.find("]> quarn_sysctlbyname_malloc() size = 0\n"), std::string::npos) << err;

    int mib[3] = {1, 2, 3};
    buf = nullptr;
    len = 99;
    err = stderr_of([&] { EXPECT_EQ(quarn_sysctl_malloc(mib, 3, &buf, &len), 0); });
    EXPECT_NE(buf, nullptr);
    EXPECT_EQ(len, 0u);
    std::free(buf);
    EXPECT_NE(err.find("]> quarn_sysctl_malloc() size = 0\n"), std::string::npos) << err;

    // The zero-length read is still made.
    EXPECT_EQ(ops_in_log("read"), 2u);
}

TEST_F(GrowingReadTest, QuietWithoutDebugFlag) {
    answer("sysctl", "x.empty", nullptr, 0);
    answer_ever_growing("x.grow");
    char *buf = nullptr;
    std::size_t len = 0;
    std::string err = stderr_of([&] {
        EXPECT_EQ(quarn_sysctlbyname_malloc("x.empty", &buf, &len), 0);
        std::free(buf);
        EXPECT_EQ(quarn_sysctlbyname_malloc("x.grow", &buf, &len), -1);
        PyErr_Clear();
    });
    EXPECT_EQ(err, "");
}

// --- argmax -----------------------------------------------------------------

TEST_F(ArgmaxTest, ValueIsPassedOn) {
    answer_value("1.8", int{262144});
    EXPECT_EQ(quarn_sysctl_argmax(), 262144);
    EXPECT_EQ(call_log(), "sysctl\t1.8\tread\t4\n");

    standin_reset();
    EXPECT_EQ(quarn_sysctl_argmax(), ::sysconf(_SC_ARG_MAX));
}

TEST_F(ArgmaxTest, FailuresReturnZero) {
    fail_with("sysctl", "1.8", EPERM);
    EXPECT_EQ(quarn_sysctl_argmax(), 0);
    Raised a;
    EXPECT_TRUE(a.exactly(PyExc_PermissionError)) << a.type_name();
    EXPECT_EQ(a.strerror(), annotated(EPERM, "sysctl()"));

    for (int bad : {0, -7}) {
        standin_reset();
        answer_value("1.8", bad);
        EXPECT_EQ(quarn_sysctl_argmax(), 0) << bad;
        Raised r;
        EXPECT_TRUE(r.exactly(PyExc_RuntimeError)) << r.type_name();
        EXPECT_EQ(r.str(), "sysctl(KERN_ARGMAX) return <= 0");
    }

    // Too long for the int: the kernel refuses the read.
    standin_reset();
    answer_value("1.8", static_cast<long long>(1) << 40);
    EXPECT_EQ(quarn_sysctl_argmax(), 0);
    Raised big;
    EXPECT_EQ(big.err(), ENOMEM);
    EXPECT_EQ(big.strerror(), annotated(ENOMEM, "sysctl()"));
}

// --- page size --------------------------------------------------------------

TEST_F(PageSizeTest, SysconfAnswerIsPassedOn) {
    EXPECT_EQ(quarn_getpagesize(), ::getpagesize());
    standin_log_clear();

    ASSERT_EQ(standin_answer_value("sysconf", "47", 16384, nullptr, 0), 0);
    EXPECT_EQ(quarn_getpagesize(), 16384);
    EXPECT_EQ(call_log(), "sysconf\t47\tcall\t0\n");

    // The module function ignores its arguments.
    PyObject *args = Py_BuildValue("(ii)", 1, 2);
    PyObject *v = quarn_getpagesize_pywrapper(nullptr, args);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(PyLong_AsLong(v), 16384);
    Py_DECREF(v);
    Py_DECREF(args);
}

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

// --- the flags from the environment -----------------------------------------

extern "C" int quarn_setup(void);

namespace {

// Sets or unsets one variable for the scope of a test and restores it.
class scoped_env {
public:
    scoped_env(const char *name, const char *value) : name_(name) {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~scoped_env() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char *name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST_F(DebugLogTest, PresenceAloneSwitchesEachFlagOn) {
    {
        scoped_env debug("QUARN_DEBUG", nullptr), testing("QUARN_TESTING", nullptr);
        EXPECT_EQ(quarn_setup(), 0);
        EXPECT_EQ(QUARN_DEBUG, 0);
        EXPECT_EQ(QUARN_TESTING, 0);
    }
    {
        scoped_env debug("QUARN_DEBUG", ""), testing("QUARN_TESTING", nullptr);
        EXPECT_EQ(quarn_setup(), 0);
        EXPECT_EQ(QUARN_DEBUG, 1);
        EXPECT_EQ(QUARN_TESTING, 0);
    }
    QUARN_DEBUG = 0;
    {
        // Any value counts, "0" included.
        scoped_env debug("QUARN_DEBUG", nullptr), testing("QUARN_TESTING", "0");
        EXPECT_EQ(quarn_setup(), 0);
        EXPECT_EQ(QUARN_DEBUG, 0);
        EXPECT_EQ(QUARN_TESTING, 1);
    }
    QUARN_TESTING = 0;
    {
        // An absent variable leaves a flag as it was.
        QUARN_DEBUG = 1;
        scoped_env debug("QUARN_DEBUG", nullptr), testing("QUARN_TESTING", nullptr);
        EXPECT_EQ(quarn_setup(), 0);
        EXPECT_EQ(QUARN_DEBUG, 1);
    }
}
