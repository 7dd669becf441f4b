// One process record from /proc, in FreeBSD's kinfo_proc layout, for the
// process tables of answers/proc_table.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "standin/freebsd.h"

namespace standin {

struct host_clock {
    long hz;
    long pagesize;
    std::int64_t boot;
};

// The boot time is read once: every record's start time then rests on the
// same instant, and no lookup pays for a read of /proc/stat.
host_clock clock_now();

// Fills kp from /proc/PID; false when the process is gone. A TID is not a
// process: pid must be the thread group.
bool fill_record(const char *dir, int pid, int tid, const host_clock &clk, bsd::kinfo_proc &kp);

// A thread record: what the thread's stat gives, and the process's name in
// ki_comm. Its one consumer, the thread list, reads the thread ID and times,
// so no thread's status or io is read; false when the thread is gone. stat
// is the caller's buffer, kept across threads.
bool fill_thread(int pid, int tid, const host_clock &clk, const std::string &pcomm,
                 std::string &stat, bsd::kinfo_proc &kp);

}  // namespace standin
