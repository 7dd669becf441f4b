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

// Fills kp from dir (/proc/PID or /proc/PID/task/TID); false when the
// process is gone. A TID is not a process: pid must be the thread group.
// thread_of: for a thread record, the process's name (it goes in ki_comm);
// null for the record of the whole process.
bool fill_record(const char *dir, int pid, int tid, const host_clock &clk, bsd::kinfo_proc &kp,
                 const std::string *thread_of = nullptr);

}  // namespace standin
