// Bounded string helpers: exact buffer contents and results, and what each
// kind of trouble writes (or ends) under the debug and testing flags.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <regex>
#include <string>

#include "arch/all/globals.h"
#include "arch/all/str.h"

namespace {

// Runs fn and returns what it wrote to the standard error stream.
std::string stderr_of(const std::function<void()> &fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

// One debug line written from the string helpers' own source file.
std::regex debug_line(const std::string &escaped_msg) {
    return std::regex("^quarn-debug \\[[^\\]]*str\\.cpp:[1-9][0-9]*\\]> " + escaped_msg + "\n$");
}

// Each case picks its flags; the previous values come back afterwards.
class StrTest : public testing::Test {
protected:
    void SetUp() override {
        saved_debug_ = QUARN_DEBUG;
        saved_testing_ = QUARN_TESTING;
        flags(0, 0);
    }
    void TearDown() override {
        QUARN_DEBUG = saved_debug_;
        QUARN_TESTING = saved_testing_;
    }
    static void flags(int debug, int testing) {
        QUARN_DEBUG = debug;
        QUARN_TESTING = testing;
    }

private:
    int saved_debug_ = 0;
    int saved_testing_ = 0;
};

using StrDeathTest = StrTest;

// A text that cannot be converted in any locale (a lone surrogate).
const wchar_t bad_wide[] = {L'a', static_cast<wchar_t>(0xD800), 0};

// The child's report must be the whole of its standard error stream.
const char fatal_size0[] = "^CRITICAL: str_format: invalid arg 'size' = 0\n$";
const char fatal_copy0[] = "^CRITICAL: str_copy: invalid arg 'dst_size' = 0\n$";
const char fatal_append_arg[] = "^CRITICAL: str_append: invalid arg\n$";
const char fatal_append_cut[] = "^CRITICAL: str_append: truncated\n$";

}  // namespace

// --- str_format -------------------------------------------------------------

TEST_F(StrTest, FormatThatFitsReturnsItsLength) {
    char buf[16];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(str_format(buf, sizeof(buf), "%d-%s", 12, "ab"), 5);
    EXPECT_STREQ(buf, "12-ab");

    char four[4];
    EXPECT_EQ(str_format(four, sizeof(four), "%s", "abc"), 3);
    EXPECT_STREQ(four, "abc");

    EXPECT_EQ(str_format(four, sizeof(four), "%s", ""), 0);
    EXPECT_STREQ(four, "");
}

TEST_F(StrTest, FormatCutKeepsFirstCharactersAndFails) {
    char buf[4];
    std::memset(buf, 'x', sizeof(buf));
    std::string err = stderr_of([&] { EXPECT_EQ(str_format(buf, sizeof(buf), "%s", "abcdef"), -1); });
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(err, "");

    // One character too many is a cut as well.
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(str_format(buf, sizeof(buf), "%s", "abcd"), -1);
    EXPECT_STREQ(buf, "abc");

    char one[1] = {'x'};
    EXPECT_EQ(str_format(one, sizeof(one), "%s", "a"), -1);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(StrTest, FormatCutWritesOneDebugLineNamingTheFormat) {
    flags(1, 0);
    char buf[4];
    std::string err = stderr_of([&] { EXPECT_EQ(str_format(buf, sizeof(buf), "%s", "abcdef"), -1); });
    EXPECT_STREQ(buf, "abc");
    EXPECT_TRUE(std::regex_match(err, debug_line("str_format: error in format '%s'"))) << err;

    // The line names the format, not the text that was cut.
    err = stderr_of([&] { str_format(buf, sizeof(buf), "<%d:%d>", 100, 200); });
    EXPECT_TRUE(std::regex_match(err, debug_line("str_format: error in format '<%d:%d>'"))) << err;
    EXPECT_STREQ(buf, "<10");
}

TEST_F(StrTest, FormatThatFitsWritesNothingInDebugMode) {
    flags(1, 0);
    char buf[8];
    std::string err = stderr_of([&] { EXPECT_EQ(str_format(buf, sizeof(buf), "%s", "abc"), 3); });
    EXPECT_EQ(err, "");
}

TEST_F(StrTest, FormatErrorLeavesBufferTerminated) {
    char buf[8];
    std::memset(buf, 'x', sizeof(buf));
    std::string err = stderr_of([&] { EXPECT_EQ(str_format(buf, sizeof(buf), "%ls", bad_wide), -1); });
    EXPECT_EQ(buf[sizeof(buf) - 1], '\0');
    EXPECT_EQ(err, "");

    flags(1, 0);
    err = stderr_of([&] { EXPECT_EQ(str_format(buf, sizeof(buf), "%ls", bad_wide), -1); });
    EXPECT_TRUE(std::regex_match(err, debug_line("str_format: error in format '%ls'"))) << err;
}

TEST_F(StrTest, FormatSizeZeroLeavesBufferUntouched) {
    char buf[4] = {'q', 'q', 'q', 'q'};
    std::string err = stderr_of([&] { EXPECT_EQ(str_format(buf, 0, "%s", "abc"), -1); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::memcmp(buf, "qqqq", 4), 0);

    flags(1, 0);
    err = stderr_of([&] { EXPECT_EQ(str_format(buf, 0, "%s", "abc"), -1); });
    EXPECT_TRUE(std::regex_match(err, debug_line("str_format: invalid arg 'size' = 0"))) << err;
    EXPECT_EQ(std::memcmp(buf, "qqqq", 4), 0);
}

// --- str_copy ---------------------------------------------------------------

TEST_F(StrTest, CopyPadsWithNulBytes) {
    char buf[16];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(str_copy(buf, sizeof(buf), "eth0"), 0);
    const char expected[16] = {'e', 't', 'h', '0'};
    EXPECT_EQ(std::memcmp(buf, expected, sizeof(buf)), 0);
}

TEST_F(StrTest, CopyCutsSilently) {
    flags(1, 0);
    char buf[16];
    std::memset(buf, 'x', sizeof(buf));
    std::string err = stderr_of([&] { EXPECT_EQ(str_copy(buf, sizeof(buf), "abcdefghijklmnopqrst"), 0); });
    EXPECT_STREQ(buf, "abcdefghijklmno");
    EXPECT_EQ(err, "");

    char one[1] = {'x'};
    EXPECT_EQ(str_copy(one, sizeof(one), "abc"), 0);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(StrTest, CopySizeZero) {
    char buf[4] = {'q', 'q', 'q', 'q'};
    std::string err = stderr_of([&] { EXPECT_EQ(str_copy(buf, 0, "abc"), -1); });
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::memcmp(buf, "qqqq", 4), 0);

    flags(1, 0);
    err = stderr_of([&] { EXPECT_EQ(str_copy(buf, 0, "abc"), -1); });
    EXPECT_TRUE(std::regex_match(err, debug_line("str_copy: invalid arg 'dst_size' = 0"))) << err;
    EXPECT_EQ(std::memcmp(buf, "qqqq", 4), 0);
}

// --- str_append -------------------------------------------------------------

TEST_F(StrTest, AppendJoinsTexts) {
    char buf[200] = "rw";
    EXPECT_EQ(str_append(buf, sizeof(buf), ",sync"), 0);
    EXPECT_STREQ(buf, "rw,sync");

    // An exact fit is not a cut.
    char four[4] = "ab";
    EXPECT_EQ(str_append(four, sizeof(four), "c"), 0);
    EXPECT_STREQ(four, "abc");
}

TEST_F(StrTest, AppendCutKeepsWhatFits) {
    char full[4] = "abc";
    std::string err = stderr_of([&] { EXPECT_EQ(str_append(full, sizeof(full), "r"), -1); });
    EXPECT_EQ(std::memcmp(full, "abc", 4), 0);
    EXPECT_EQ(err, "");

    char partial[4] = "ab";
    EXPECT_EQ(str_append(partial, sizeof(partial), "cde"), -1);
    EXPECT_STREQ(partial, "abc");
}

TEST_F(StrTest, AppendCutIsADebugLine) {
    flags(1, 0);
    char full[4] = "abc";
    std::string err = stderr_of([&] { EXPECT_EQ(str_append(full, sizeof(full), "r"), -1); });
    EXPECT_EQ(std::memcmp(full, "abc", 4), 0);
    EXPECT_TRUE(std::regex_match(err, debug_line("str_append: truncated"))) << err;
}

TEST_F(StrTest, AppendInvalidArguments) {
    char buf[8] = "ab";
    std::string err = stderr_of([&] {
        EXPECT_EQ(str_append(nullptr, sizeof(buf), "x"), -1);
        EXPECT_EQ(str_append(buf, sizeof(buf), nullptr), -1);
        EXPECT_EQ(str_append(buf, 0, "x"), -1);
    });
    EXPECT_EQ(err, "");
    EXPECT_STREQ(buf, "ab");

    flags(1, 0);
    for (int which = 0; which < 3; which++) {
        err = stderr_of([&] {
            int rc = which == 0   ? str_append(nullptr, sizeof(buf), "x")
                     : which == 1 ? str_append(buf, sizeof(buf), nullptr)
                                  : str_append(buf, 0, "x");
            EXPECT_EQ(rc, -1);
        });
        EXPECT_TRUE(std::regex_match(err, debug_line("str_append: invalid arg"))) << which << ": " << err;
    }
    EXPECT_STREQ(buf, "ab");
}

// --- testing mode -----------------------------------------------------------

TEST_F(StrDeathTest, TestingModeEndsTheProcessOnMisuse) {
    flags(0, 1);
    char buf[4] = "abc";
    EXPECT_EXIT(str_format(buf, 0, "%s", "x"), testing::ExitedWithCode(1), fatal_size0);
    EXPECT_EXIT(str_copy(buf, 0, "x"), testing::ExitedWithCode(1), fatal_copy0);
    EXPECT_EXIT(str_append(buf, 0, "x"), testing::ExitedWithCode(1), fatal_append_arg);
    EXPECT_EXIT(str_append(nullptr, 4, "x"), testing::ExitedWithCode(1), fatal_append_arg);
    EXPECT_EXIT(str_append(buf, 4, nullptr), testing::ExitedWithCode(1), fatal_append_arg);
    EXPECT_EXIT(str_append(buf, sizeof(buf), "r"), testing::ExitedWithCode(1), fatal_append_cut);
}

TEST_F(StrDeathTest, TestingModeWinsOverDebugMode) {
    flags(1, 1);
    char buf[4] = "abc";
    EXPECT_EXIT(str_format(buf, 0, "%s", "x"), testing::ExitedWithCode(1), fatal_size0);
    EXPECT_EXIT(str_copy(buf, 0, "x"), testing::ExitedWithCode(1), fatal_copy0);
    EXPECT_EXIT(str_append(buf, sizeof(buf), "r"), testing::ExitedWithCode(1), fatal_append_cut);
}

// Cuts inside str_format and str_copy are no misuse: the process goes on
// and, without the debug flag, says nothing.
TEST_F(StrDeathTest, TestingModeLetsCutsThrough) {
    flags(0, 1);
    EXPECT_EXIT(
        {
            char buf[4];
            int a = str_format(buf, sizeof(buf), "%s", "abcdef");
            int b = str_format(buf, sizeof(buf), "%ls", bad_wide);
            char name[16];
            int c = str_copy(name, sizeof(name), "abcdefghijklmnopqrst");
            std::fprintf(stderr, "alive %d %d %d", a, b, c);
            std::fflush(stderr);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^alive -1 -1 0$");
}
