// What the kernel memory interface's calls share: the handle.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "standin/freebsd.h"

namespace bsd {

// What an open handle holds; kvm_geterr's text lives here.
struct kvm_t {
    int flags;
    char errbuf[2048];
    std::vector<kinfo_proc> procs;
    std::string env_text;
    std::vector<char *> env;
};

}  // namespace bsd

namespace standin {

// A count as the size logged; none below zero.
inline std::size_t count_logged(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

}  // namespace standin
