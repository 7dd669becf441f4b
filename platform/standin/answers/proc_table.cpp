// The process tables of kern.proc: one process, its threads, every process
// or every thread, in FreeBSD's kinfo_proc layout; and kern.argmax.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/proc_record.h"

namespace standin {
namespace {

// An entry of the all-process table. Its one consumer, the process list,
// reads the process ID alone, and reading a file of every process would make
// a list of thousands cost thousands of reads: the entry carries the IDs.
void fill_entry(int pid, bsd::kinfo_proc &kp) {
    std::memset(&kp, 0, sizeof(kp));
    kp.ki_structsize = sizeof(bsd::kinfo_proc);
    kp.ki_layout = 1;
    kp.ki_pid = pid;
    kp.ki_tid = pid;
}

// Appends one record per thread of pid, stopping once out holds more than
// room; false when the process is gone.
bool append_threads(int pid, const host_clock &clk, std::string &out, std::size_t room) {
    std::vector<int> tids = list_numeric(host_file("/proc/%d/task", pid).c_str());
    std::string pcomm;
    if (read_piece(host_file("/proc/%d/comm", pid).c_str(), pcomm) && !pcomm.empty() &&
        pcomm.back() == '\n')
        pcomm.pop_back();
    bool any = false;
    std::string stat;
    for (int tid : tids) {
        if (out.size() > room)
            break;
        bsd::kinfo_proc kp;
        if (fill_thread(pid, tid, clk, pcomm, stat, kp)) {
            append_record(out, kp);
            any = true;
        }
    }
    return any;
}

// FreeBSD's measure of a process table leaves room for this many more
// records, so a table that grows a little between measure and read still
// fits the buffer.
constexpr std::size_t headroom = 5;

// The number of processes for a measure of the whole table, without listing
// /proc: the host gives its root as many links as there are processes (of
// every namespace, as FreeBSD counts a jail's table) plus its fixed
// entries. Any other tree, or a count past the host's largest process
// number, is listed.
constexpr unsigned long most_processes = 4194304;

std::size_t process_count() {
    struct stat st;
    if (!host_rooted() && ::stat("/proc", &st) == 0 && st.st_nlink > 2 &&
        st.st_nlink <= most_processes)
        return static_cast<std::size_t>(st.st_nlink);
    return list_numeric(host_file("/proc").c_str()).size();
}

std::size_t thread_count(int pid) {
    return list_numeric(host_file("/proc/%d/task", pid).c_str()).size();
}

// One process's record, or the records of its threads.
int pid_records(int pid, bool threads, answer &a) {
    constexpr std::size_t rec = sizeof(bsd::kinfo_proc);
    if (pid <= 0)
        return ESRCH;
    if (threads && a.measure) {
        if (!is_process(pid))
            return ESRCH;
        a.measured_as((thread_count(pid) + headroom) * rec);
        return 0;
    }
    host_clock clk = clock_now();
    // Records past what the caller's buffer holds cannot be delivered: the
    // build stops at the first one beyond it, which makes the read ENOMEM.
    if (threads)
        return is_process(pid) && append_threads(pid, clk, a.out, a.room) ? 0 : ESRCH;
    char dir[64];
    std::snprintf(dir, sizeof(dir), "/proc/%d", pid);
    bsd::kinfo_proc kp;
    if (!fill_record(dir, pid, pid, clk, kp))
        return ESRCH;
    append_record(a.out, kp);
    return 0;
}

// The table of every process, or of every thread. Process entries are
// written straight into the caller's buffer.
int table_records(bool threads, answer &a) {
    constexpr std::size_t rec = sizeof(bsd::kinfo_proc);
    std::size_t room = a.room;
    if (a.measure && !threads) {
        a.measured_as((process_count() + headroom) * rec);
        return 0;
    }
    std::vector<int> pids = list_numeric(host_file("/proc").c_str());
    if (a.measure) {
        std::size_t count = 0;
        for (int pid : pids)
            count += thread_count(pid);
        a.measured_as((count + headroom) * rec);
        return 0;
    }
    if (char *dst = threads ? nullptr : a.buffer) {
        std::size_t len = 0;
        for (int pid : pids) {
            bsd::kinfo_proc kp;
            fill_entry(pid, kp);
            if (room - len < rec) {
                std::memcpy(dst + len, &kp, room - len);  // the first bytes
                a.wrote(room, true);
                return 0;
            }
            std::memcpy(dst + len, &kp, rec);
            len += rec;
        }
        a.wrote(len, false);
        return 0;
    }
    host_clock clk = clock_now();
    for (int pid : pids) {
        if (a.out.size() > room)
            break;
        if (threads) {
            append_threads(pid, clk, a.out, room);
            continue;
        }
        bsd::kinfo_proc kp;
        fill_entry(pid, kp);
        append_record(a.out, kp);
    }
    return 0;
}

}  // namespace

int live_kern_proc(const int *mib, unsigned n, answer &a) {
    if (n < 3)
        return EINVAL;
    int what = mib[2] & ~bsd::kern_proc_inc_thread;
    bool threads = (mib[2] & bsd::kern_proc_inc_thread) != 0;
    if (what == bsd::kern_proc_pid)
        return n == 4 ? pid_records(mib[3], threads, a) : EINVAL;
    if (what == bsd::kern_proc_proc || what == bsd::kern_proc_all) {
        // The whole table takes no argument; KERN_PROC_PROC allows one.
        if (n > 4 || (what == bsd::kern_proc_all && n != 3))
            return EINVAL;
        return table_records(threads, a);
    }
    return ENOENT;
}

int live_argmax(const int *, unsigned n, answer &a) {
    if (n != 2)
        return ENOENT;
    int argmax = static_cast<int>(::sysconf(_SC_ARG_MAX));
    append_record(a.out, argmax);
    return 0;
}

}  // namespace standin
