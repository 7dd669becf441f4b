// The stand-in's call log as one text, for the C++ suites.
#pragma once

#include <string>

#include "standin/inject/inject.h"

inline std::string call_log() {
    std::size_t need = standin_log(nullptr, 0);
    std::string buf(need, '\0');
    standin_log(buf.data(), buf.size());
    buf.resize(need - 1);  // without the NUL
    return buf;
}
