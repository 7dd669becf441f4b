// What the suites of the raising operations, the kernel-parameter reads and
// the process lookups share: the pending exception taken over, injected
// answers, a process record at its offsets, and the fixture that leaves
// flags, injection and the log as it found them.
#pragma once

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

inline std::string stderr_of(const std::function<void()> &fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

inline std::size_t count_of(const std::string &text, const std::string &part) {
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

inline std::string annotated(int err, const std::string &what) {
    return std::string(std::strerror(err)) + " (originated from " + what + ")";
}

inline std::size_t ops_in_log(const char *op) {
    return count_of(call_log(), std::string("\t") + op + "\t");
}

inline void answer(const char *call, const std::string &key, const void *data, std::size_t len) {
    ASSERT_EQ(standin_answer(call, key.c_str(), data, len), 0);
}

template <class T> inline void answer_value(const std::string &key, const T &v) {
    answer("sysctl", key, &v, sizeof(v));
}

inline void answer_bytes(const std::string &key, std::size_t n, char fill) {
    std::string data(n, fill);
    answer("sysctl", key, data.data(), data.size());
}

inline void fail_with(const char *call, const std::string &key, int err) {
    ASSERT_EQ(standin_error(call, key.c_str(), err), 0);
}

// A process record built at the documented offsets, not through the struct.
inline std::string proc_record(int pid, char stat) {
    std::string rec(1088, '\0');
    std::memcpy(&rec[72], &pid, sizeof(pid));
    rec[388] = stat;
    return rec;
}

// Process states of ki_stat.
inline constexpr char srun = 2, ssleep = 3, szomb = 5;

inline std::string pid_key(int pid) { return "1.14.1." + std::to_string(pid); }

inline constexpr int absent_pid = INT_MAX;  // above every host's pid_max
inline constexpr int fake_pid = 4242;       // only ever answered by injection

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

