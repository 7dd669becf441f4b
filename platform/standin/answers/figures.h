// What the CPU and memory answers share: the host files they read under
// the host root, and the units of their figures.
#pragma once

#include <string>

namespace standin {

// Whether the answers read the live host (no made-up root is set).
bool live_root();

// Reads a host file once. The host writes /proc/stat, /proc/meminfo and
// /sys attributes out in one piece; /proc/vmstat and /proc/swaps come line
// by line and are read to their end.
bool read_host(const char *path, std::string &out, bool one_piece = true);

long host_pagesize();

// FreeBSD's 32-bit views of its counters wrap.
void append_u32(std::string &out, unsigned long long v);

}  // namespace standin
