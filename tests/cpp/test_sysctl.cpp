// The fixed kernel-parameter reads, kern.argmax and the page size, driven by
// injected answers.
#include "errors_support.h"

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
