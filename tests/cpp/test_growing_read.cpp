// The growing reads of kernel tables, driven by injected answers.
#include "errors_support.h"

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
