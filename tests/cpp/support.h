// What the C++ suites share: the stand-in's call log as one text, values
// read at byte offsets, a kernel-parameter read with its outcome, and a
// fixture that makes every call live again.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/inject/inject.h"

inline std::string call_log() {
    std::size_t need = standin_log(nullptr, 0);
    std::string buf(need, '\0');
    standin_log(buf.data(), buf.size());
    buf.resize(need - 1);  // without the NUL
    return buf;
}

// The value of type T at a byte offset, read whatever its alignment.
template <class T> T at(const void *base, std::size_t offset) {
    T v;
    std::memcpy(&v, static_cast<const char *>(base) + offset, sizeof(v));
    return v;
}

template <class T> T at(const std::string &buf, std::size_t offset) {
    return at<T>(buf.data(), offset);
}

// One bsd::sysctl call: its return, errno and the length it left.
struct read_result {
    int rc;
    int err;
    std::size_t len;
};

inline read_result read_mib(const std::vector<int> &mib, void *buf, std::size_t len) {
    errno = 0;
    int rc = bsd::sysctl(mib.data(), static_cast<unsigned>(mib.size()), buf, &len, nullptr, 0);
    return {rc, errno, len};
}

// Every test starts and ends with nothing injected.
class StandinTest : public testing::Test {
  protected:
    void SetUp() override { standin_reset(); }
    void TearDown() override { standin_reset(); }
};
