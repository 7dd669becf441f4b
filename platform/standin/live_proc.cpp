// Process records from /proc, in FreeBSD's kinfo_proc layout.
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "freebsd.h"
#include "host.h"
#include "live.h"

namespace standin {
namespace {

// Linux's flag for kernel threads in /proc/PID/stat.
constexpr unsigned long pf_kthread = 0x00200000;

struct host_clock {
    long hz;
    long pagesize;
    std::int64_t boot;
};

// The boot time is read once: every record's start time then rests on the
// same instant, and no lookup pays for a read of /proc/stat.
host_clock clock_now() {
    static const std::int64_t boot = host_boot_time();
    return {::sysconf(_SC_CLK_TCK), ::sysconf(_SC_PAGESIZE), boot};
}

char map_state(char linux_state) {
    switch (linux_state) {
    case 'R':
    case 'W':
        return SRUN;
    case 'T':
    case 't':
        return SSTOP;
    case 'Z':
    case 'X':
    case 'x':
        return SZOMB;
    default:  // S, D, I, P, K: waiting in the kernel
        return SSLEEP;
    }
}

bsd::timeval ticks_to_timeval(unsigned long long ticks, long hz) {
    bsd::timeval tv;
    tv.tv_sec = static_cast<std::int64_t>(ticks / hz);
    tv.tv_usec = static_cast<std::int64_t>((ticks % hz) * 1000000 / hz);
    return tv;
}

// The host's device number of the terminal, from the stat field's encoding.
std::uint64_t tty_device(unsigned long long tty_nr) {
    unsigned major = (tty_nr >> 8) & 0xfff;
    unsigned minor = (tty_nr & 0xff) | ((tty_nr >> 12) & 0xfff00);
    return makedev(major, minor);
}

void copy_name(char *dst, std::size_t size, std::string_view src) {
    std::size_t n = src.size() < size - 1 ? src.size() : size - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

struct thread_sums {
    char state;
    long nvcsw;
    long nivcsw;
};

// Context switches are counted per thread by the host, but per process by
// FreeBSD; and a process whose main thread has exited shows that thread's
// zombie state although others run on. Both come from the threads.
thread_sums sum_threads(int pid, char main_state) {
    thread_sums sums{main_state, 0, 0};
    bool replace_state = main_state == 'Z' || main_state == 'X';
    char dir[64];
    std::snprintf(dir, sizeof(dir), "/proc/%d/task", pid);
    for (int tid : list_numeric(dir)) {
        char path[96];
        std::string text;
        std::snprintf(path, sizeof(path), "/proc/%d/task/%d/status", pid, tid);
        if (!read_file(path, text))
            continue;
        sums.nvcsw += static_cast<long>(to_ll(field(text, "voluntary_ctxt_switches")));
        sums.nivcsw += static_cast<long>(to_ll(field(text, "nonvoluntary_ctxt_switches")));
        std::string_view st = field(text, "State");
        if (replace_state && !st.empty() && st[0] != 'Z' && st[0] != 'X') {
            // A running thread makes the process running; otherwise the
            // first live thread's state stands.
            if (sums.state == main_state || st[0] == 'R')
                sums.state = st[0];
        }
    }
    return sums;
}

// Fills kp from dir (/proc/PID or /proc/PID/task/TID); false when the
// process is gone. A TID is not a process: pid must be the thread group.
bool fill_record(const char *dir, int pid, int tid, const host_clock &clk, bsd::kinfo_proc &kp) {
    char path[128];
    std::string stat, status;
    std::snprintf(path, sizeof(path), "%s/stat", dir);
    if (!read_file(path, stat))
        return false;
    std::snprintf(path, sizeof(path), "%s/status", dir);
    if (!read_file(path, status))
        return false;
    if (to_ll(field(status, "Tgid"), -1) != pid)
        return false;

    // The name is between the first '(' and the last ')'.
    std::size_t open = stat.find('(');
    std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    std::string_view comm(stat.data() + open + 1, close - open - 1);
    std::string_view f[52];  // f[0] is field 3 of the stat line (the state)
    std::size_t nf = split_words(std::string_view(stat).substr(close + 1), f, 52);
    if (nf < 37)
        return false;
    auto num = [&](int field_no) { return to_ull(f[field_no - 3]); };
    auto snum = [&](int field_no) { return to_ll(f[field_no - 3]); };

    std::memset(&kp, 0, sizeof(kp));
    kp.ki_structsize = sizeof(bsd::kinfo_proc);
    kp.ki_layout = 1;
    kp.ki_pid = pid;
    kp.ki_tid = tid;
    kp.ki_ppid = static_cast<int>(snum(4));
    kp.ki_pgid = static_cast<int>(snum(5));
    kp.ki_sid = static_cast<int>(snum(6));
    kp.ki_tpgid = static_cast<int>(snum(8));
    char linux_state = f[0].empty() ? 'S' : f[0][0];

    unsigned long long tty_nr = num(7);
    kp.ki_tdev = tty_nr ? tty_device(tty_nr) : NODEV;
    kp.ki_tdev_freebsd11 = static_cast<std::uint32_t>(kp.ki_tdev);

    std::string_view w[4];
    if (split_words(field(status, "Uid"), w, 4) >= 3) {
        kp.ki_ruid = static_cast<bsd::uid_t>(to_ull(w[0]));
        kp.ki_uid = static_cast<bsd::uid_t>(to_ull(w[1]));
        kp.ki_svuid = static_cast<bsd::uid_t>(to_ull(w[2]));
    }
    gid_t egid = 0;
    if (split_words(field(status, "Gid"), w, 4) >= 3) {
        kp.ki_rgid = static_cast<bsd::gid_t>(to_ull(w[0]));
        egid = static_cast<bsd::gid_t>(to_ull(w[1]));
        kp.ki_svgid = static_cast<bsd::gid_t>(to_ull(w[2]));
    }
    // As on FreeBSD, the effective group comes first in the group list.
    kp.ki_groups[0] = egid;
    std::string_view groups[KI_NGROUPS - 1];
    std::size_t ng = split_words(field(status, "Groups"), groups, KI_NGROUPS - 1);
    for (std::size_t i = 0; i < ng; i++)
        kp.ki_groups[i + 1] = static_cast<bsd::gid_t>(to_ull(groups[i]));
    kp.ki_ngroups = static_cast<short>(ng + 1);
    kp.ki_tracer = static_cast<int>(to_ll(field(status, "TracerPid")));

    unsigned long long utime = num(14), stime = num(15), cutime = num(16), cstime = num(17);
    kp.ki_rusage.ru_utime = ticks_to_timeval(utime, clk.hz);
    kp.ki_rusage.ru_stime = ticks_to_timeval(stime, clk.hz);
    kp.ki_rusage.ru_minflt = static_cast<long>(num(10));
    kp.ki_rusage.ru_majflt = static_cast<long>(num(12));
    kp.ki_rusage.ru_nvcsw = static_cast<long>(to_ll(field(status, "voluntary_ctxt_switches")));
    kp.ki_rusage.ru_nivcsw = static_cast<long>(to_ll(field(status, "nonvoluntary_ctxt_switches")));
    kp.ki_rusage.ru_maxrss = static_cast<long>(to_ll(field(status, "VmHWM")));
    kp.ki_rusage_ch.ru_utime = ticks_to_timeval(cutime, clk.hz);
    kp.ki_rusage_ch.ru_stime = ticks_to_timeval(cstime, clk.hz);
    kp.ki_rusage_ch.ru_minflt = static_cast<long>(num(11));
    kp.ki_rusage_ch.ru_majflt = static_cast<long>(num(13));
    kp.ki_childtime = ticks_to_timeval(cutime + cstime, clk.hz);
    kp.ki_runtime = (utime + stime) * 1000000ULL / static_cast<unsigned long long>(clk.hz);

    std::string io;
    std::snprintf(path, sizeof(path), "%s/io", dir);
    if (read_file(path, io)) {
        kp.ki_rusage.ru_inblock = static_cast<long>(to_ull(field(io, "read_bytes")) / 512);
        kp.ki_rusage.ru_oublock = static_cast<long>(to_ull(field(io, "write_bytes")) / 512);
    }

    kp.ki_nice = static_cast<signed char>(snum(19));
    long long prio = snum(18) + 100;  // Linux 0..139 (RT below 0) onto 0..255
    kp.ki_pri.pri_level = static_cast<bsd::u_char>(prio < 0 ? 0 : prio > 255 ? 255 : prio);
    kp.ki_pri.pri_user = kp.ki_pri.pri_level;
    kp.ki_numthreads = static_cast<int>(snum(20));
    if (tid == pid && kp.ki_numthreads > 1) {
        thread_sums sums = sum_threads(pid, linux_state);
        linux_state = sums.state;
        kp.ki_rusage.ru_nvcsw = sums.nvcsw;
        kp.ki_rusage.ru_nivcsw = sums.nivcsw;
    }
    kp.ki_stat = map_state(linux_state);

    std::int64_t start = static_cast<std::int64_t>(num(22));
    kp.ki_start = ticks_to_timeval(static_cast<unsigned long long>(start), clk.hz);
    kp.ki_start.tv_sec += clk.boot;

    kp.ki_size = num(23);
    kp.ki_rssize = static_cast<bsd::segsz_t>(snum(24));
    std::string statm;
    std::snprintf(path, sizeof(path), "/proc/%d/statm", pid);
    std::string_view sm[7];
    if (read_file(path, statm) && split_words(statm, sm, 7) == 7) {
        long long stack_pages = to_ll(field(status, "VmStk")) * 1024 / clk.pagesize;
        kp.ki_rssize = to_ll(sm[1]);
        kp.ki_tsize = to_ll(sm[3]);
        kp.ki_dsize = to_ll(sm[5]) - stack_pages;  // statm's data counts the stack too
        kp.ki_ssize = stack_pages;
        if (kp.ki_dsize < 0)
            kp.ki_dsize = 0;
    }

    int cpu = static_cast<int>(snum(39));
    kp.ki_lastcpu = cpu;
    kp.ki_oncpu = kp.ki_stat == SRUN ? cpu : NOCPU;
    kp.ki_lastcpu_old = static_cast<bsd::u_char>(cpu);
    kp.ki_oncpu_old = static_cast<bsd::u_char>(kp.ki_oncpu);

    kp.ki_flag = P_INMEM;
    if (num(9) & pf_kthread)
        kp.ki_flag |= P_SYSTEM;
    if (tty_nr)
        kp.ki_flag |= P_CONTROLT;
    kp.ki_sflag = PS_INMEM;

    copy_name(kp.ki_comm, sizeof(kp.ki_comm), comm);
    copy_name(kp.ki_tdname, sizeof(kp.ki_tdname), comm);
    if (tid != pid) {
        // A thread record carries the process's name in ki_comm.
        std::string pcomm;
        std::snprintf(path, sizeof(path), "/proc/%d/comm", pid);
        if (read_file(path, pcomm)) {
            if (!pcomm.empty() && pcomm.back() == '\n')
                pcomm.pop_back();
            copy_name(kp.ki_comm, sizeof(kp.ki_comm), pcomm);
        }
    }
    return true;
}

// Appends one record per thread of pid; false when the process is gone.
bool append_threads(int pid, const host_clock &clk, std::string &out) {
    char dir[64];
    std::snprintf(dir, sizeof(dir), "/proc/%d/task", pid);
    std::vector<int> tids = list_numeric(dir);
    bool any = false;
    for (int tid : tids) {
        char tdir[96];
        std::snprintf(tdir, sizeof(tdir), "/proc/%d/task/%d", pid, tid);
        bsd::kinfo_proc kp;
        if (fill_record(tdir, pid, tid, clk, kp)) {
            append_record(out, kp);
            any = true;
        }
    }
    return any;
}

}  // namespace

int live_kern_proc(const int *mib, unsigned n, std::string &out, bool measure) {
    if (n < 3)
        return EINVAL;
    int what = mib[2] & ~KERN_PROC_INC_THREAD;
    bool threads = (mib[2] & KERN_PROC_INC_THREAD) != 0;
    host_clock clk = clock_now();

    if (what == KERN_PROC_PID) {
        if (n != 4)
            return EINVAL;
        int pid = mib[3];
        if (pid <= 0)
            return ESRCH;
        char dir[64];
        std::snprintf(dir, sizeof(dir), "/proc/%d", pid);
        if (threads)
            return append_threads(pid, clk, out) ? 0 : ESRCH;
        bsd::kinfo_proc kp;
        if (!fill_record(dir, pid, pid, clk, kp))
            return ESRCH;
        append_record(out, kp);
        return 0;
    }
    if (what == KERN_PROC_PROC || what == KERN_PROC_ALL) {
        // The whole table takes no argument; KERN_PROC_PROC allows one.
        if (n > 4 || (what == KERN_PROC_ALL && n != 3))
            return EINVAL;
        std::vector<int> pids = list_numeric("/proc");
        if (measure && !threads) {
            out.resize(pids.size() * sizeof(bsd::kinfo_proc));
            return 0;
        }
        for (int pid : pids) {
            if (threads) {
                append_threads(pid, clk, out);
                continue;
            }
            char dir[64];
            std::snprintf(dir, sizeof(dir), "/proc/%d", pid);
            bsd::kinfo_proc kp;
            if (fill_record(dir, pid, pid, clk, kp))
                append_record(out, kp);
        }
        return 0;
    }
    return live_proc_path(mib, n, out, measure);
}

int live_argmax(const int *, unsigned n, std::string &out, bool) {
    if (n != 2)
        return ENOENT;
    int argmax = static_cast<int>(::sysconf(_SC_ARG_MAX));
    append_record(out, argmax);
    return 0;
}

}  // namespace standin
