// Live answers of the stand-in: each turns host data into a FreeBSD answer.
//
// A handler fills out with the answer (when measuring, at least with the
// right number of bytes) and returns 0, or returns the errno of the failure.
#pragma once

#include <string>

namespace standin {

using mib_handler = int (*)(const int *mib, unsigned n, std::string &out, bool measure);
using name_handler = int (*)(const char *name, std::string &out, bool measure);

int live_kern_proc(const int *mib, unsigned n, std::string &out, bool measure);
int live_argmax(const int *mib, unsigned n, std::string &out, bool measure);

}  // namespace standin
