// The raising operations and the debug log, and the flags read from the
// environment.
#include "errors_support.h"

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
