// Process records from /proc, in FreeBSD's kinfo_proc layout.
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/answers/answers.h"
#include "standin/answers/proc_record.h"

namespace standin {
namespace {

// Linux's flag for kernel threads in /proc/PID/stat.
constexpr unsigned long pf_kthread = 0x00200000;

char map_state(char linux_state) {
    switch (linux_state) {
    case 'R':
    case 'W':
        return bsd::srun;
    case 'T':
    case 't':
        return bsd::sstop;
    case 'Z':
    case 'X':
    case 'x':
        return bsd::szomb;
    default:  // S, D, I, P, K: waiting in the kernel
        return bsd::ssleep;
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

// The lines of /proc/PID/status a record needs, found in one pass.
struct status_info {
    long long tgid = -1;
    char state = 0;
    std::string_view uid, gid, groups;
    long long tracer = 0, nvcsw = 0, nivcsw = 0;
    long long hwm = 0, rss_kb = -1, exe_kb = 0, data_kb = 0, stk_kb = 0;
};

void parse_status(std::string_view text, status_info &st) {
    for_each_line(text, [&](std::string_view line) {
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        std::string_view key = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        if (key == "Tgid")
            st.tgid = to_ll(value, -1);
        else if (key == "State")
            st.state = value.empty() ? 0 : value[0];
        else if (key == "Uid")
            st.uid = value;
        else if (key == "Gid")
            st.gid = value;
        else if (key == "Groups")
            st.groups = value;
        else if (key == "TracerPid")
            st.tracer = to_ll(value);
        else if (key == "VmHWM")
            st.hwm = to_ll(value);
        else if (key == "VmRSS")
            st.rss_kb = to_ll(value, -1);
        else if (key == "VmExe")
            st.exe_kb = to_ll(value);
        else if (key == "VmData")
            st.data_kb = to_ll(value);
        else if (key == "VmStk")
            st.stk_kb = to_ll(value);
        else if (key == "voluntary_ctxt_switches")
            st.nvcsw = to_ll(value);
        else if (key == "nonvoluntary_ctxt_switches") {
            st.nivcsw = to_ll(value);
            return false;  // the last line a record needs
        }
        return true;
    });
}

// Fields 3 to 39 of a stat line (f[0] is the state), and the name between
// the first '(' and the last ')'.
struct stat_info {
    std::string_view comm;
    std::string_view f[37];
};

bool parse_stat(std::string_view stat, stat_info &si) {
    std::size_t open = stat.find('(');
    std::size_t close = stat.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    si.comm = stat.substr(open + 1, close - open - 1);
    return split_words(stat.substr(close + 1), si.f, 37) == 37;
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
    std::string text;
    for (int tid : list_numeric(host_file("/proc/%d/task", pid).c_str())) {
        if (!read_piece(host_file("/proc/%d/task/%d/status", pid, tid).c_str(), text))
            continue;
        status_info ts;
        parse_status(text, ts);
        sums.nvcsw += static_cast<long>(ts.nvcsw);
        sums.nivcsw += static_cast<long>(ts.nivcsw);
        char st = ts.state;
        if (replace_state && st != 0 && st != 'Z' && st != 'X') {
            // A running thread makes the process running; otherwise the
            // first live thread's state stands.
            if (sums.state == main_state || st == 'R')
                sums.state = st;
        }
    }
    return sums;
}

// The fields of a record that /proc/PID/stat gives: all a table entry
// carries. kp is cleared first.
void fill_from_stat(const stat_info &si, int pid, int tid, const host_clock &clk,
                    bsd::kinfo_proc &kp) {
    auto num = [&](int field_no) { return to_ull(si.f[field_no - 3]); };
    auto snum = [&](int field_no) { return to_ll(si.f[field_no - 3]); };

    std::memset(&kp, 0, sizeof(kp));
    kp.ki_structsize = sizeof(bsd::kinfo_proc);
    kp.ki_layout = 1;
    kp.ki_pid = pid;
    kp.ki_tid = tid;
    kp.ki_ppid = static_cast<int>(snum(4));
    kp.ki_pgid = static_cast<int>(snum(5));
    kp.ki_sid = static_cast<int>(snum(6));
    kp.ki_tpgid = static_cast<int>(snum(8));

    unsigned long long tty_nr = num(7);
    kp.ki_tdev = tty_nr ? tty_device(tty_nr) : bsd::nodev;
    kp.ki_tdev_freebsd11 = static_cast<std::uint32_t>(kp.ki_tdev);

    unsigned long long utime = num(14), stime = num(15), cutime = num(16), cstime = num(17);
    kp.ki_rusage.ru_utime = ticks_to_timeval(utime, clk.hz);
    kp.ki_rusage.ru_stime = ticks_to_timeval(stime, clk.hz);
    kp.ki_rusage.ru_minflt = static_cast<long>(num(10));
    kp.ki_rusage.ru_majflt = static_cast<long>(num(12));
    kp.ki_rusage_ch.ru_utime = ticks_to_timeval(cutime, clk.hz);
    kp.ki_rusage_ch.ru_stime = ticks_to_timeval(cstime, clk.hz);
    kp.ki_rusage_ch.ru_minflt = static_cast<long>(num(11));
    kp.ki_rusage_ch.ru_majflt = static_cast<long>(num(13));
    kp.ki_childtime = ticks_to_timeval(cutime + cstime, clk.hz);
    kp.ki_runtime = (utime + stime) * 1000000ULL / static_cast<unsigned long long>(clk.hz);

    kp.ki_nice = static_cast<signed char>(snum(19));
    long long prio = snum(18) + 100;  // Linux 0..139 (RT below 0) onto 0..255
    kp.ki_pri.pri_level = static_cast<bsd::u_char>(prio < 0 ? 0 : prio > 255 ? 255 : prio);
    kp.ki_pri.pri_user = kp.ki_pri.pri_level;
    kp.ki_numthreads = static_cast<int>(snum(20));
    kp.ki_stat = map_state(si.f[0].empty() ? 'S' : si.f[0][0]);

    kp.ki_start = ticks_to_timeval(num(22), clk.hz);
    kp.ki_start.tv_sec += clk.boot;
    kp.ki_size = num(23);
    kp.ki_rssize = static_cast<bsd::segsz_t>(snum(24));  // the host's resident pages

    int cpu = static_cast<int>(snum(39));
    kp.ki_lastcpu = cpu;
    kp.ki_oncpu = kp.ki_stat == bsd::srun ? cpu : bsd::nocpu;
    kp.ki_lastcpu_old = static_cast<bsd::u_char>(cpu);
    kp.ki_oncpu_old = static_cast<bsd::u_char>(kp.ki_oncpu);

    kp.ki_flag = bsd::p_inmem;
    if (num(9) & pf_kthread)
        kp.ki_flag |= bsd::p_system;
    if (tty_nr)
        kp.ki_flag |= bsd::p_controlt;
    kp.ki_sflag = bsd::ps_inmem;

    copy_name(kp.ki_comm, sizeof(kp.ki_comm), si.comm);
    copy_name(kp.ki_tdname, sizeof(kp.ki_tdname), si.comm);
}

// The credentials, memory sizes and counters that status adds.
void fill_from_status(const status_info &st, const host_clock &clk, bsd::kinfo_proc &kp) {
    std::string_view w[4];
    if (split_words(st.uid, w, 4) >= 3) {
        kp.ki_ruid = static_cast<bsd::uid_t>(to_ull(w[0]));
        kp.ki_uid = static_cast<bsd::uid_t>(to_ull(w[1]));
        kp.ki_svuid = static_cast<bsd::uid_t>(to_ull(w[2]));
    }
    bsd::gid_t egid = 0;
    if (split_words(st.gid, w, 4) >= 3) {
        kp.ki_rgid = static_cast<bsd::gid_t>(to_ull(w[0]));
        egid = static_cast<bsd::gid_t>(to_ull(w[1]));
        kp.ki_svgid = static_cast<bsd::gid_t>(to_ull(w[2]));
    }
    // As on FreeBSD, the effective group comes first in the group list.
    kp.ki_groups[0] = egid;
    std::string_view groups[bsd::ki_ngroups - 1];
    std::size_t ng = split_words(st.groups, groups, bsd::ki_ngroups - 1);
    for (std::size_t i = 0; i < ng; i++)
        kp.ki_groups[i + 1] = static_cast<bsd::gid_t>(to_ull(groups[i]));
    kp.ki_ngroups = static_cast<short>(ng + 1);
    kp.ki_tracer = static_cast<int>(st.tracer);
    kp.ki_rusage.ru_nvcsw = static_cast<long>(st.nvcsw);
    kp.ki_rusage.ru_nivcsw = static_cast<long>(st.nivcsw);
    kp.ki_rusage.ru_maxrss = static_cast<long>(st.hwm);
    // The host's data size (VmData) leaves the stack (VmStk) out, as
    // FreeBSD's does. Kernel threads have none of these lines: the sizes
    // stay 0, the resident size stat's.
    // Pages of a page size in whole KiB: dividing, not multiplying, keeps
    // any size the host file states in range.
    long long kb_per_page = clk.pagesize >= 1024 ? clk.pagesize / 1024 : 1;
    if (st.rss_kb >= 0)
        kp.ki_rssize = st.rss_kb / kb_per_page;
    kp.ki_tsize = st.exe_kb / kb_per_page;
    kp.ki_dsize = st.data_kb / kb_per_page;
    kp.ki_ssize = st.stk_kb / kb_per_page;
}

}  // namespace

host_clock clock_now() {
    static const std::int64_t boot = host_boot_time();
    return {::sysconf(_SC_CLK_TCK), ::sysconf(_SC_PAGESIZE), boot};
}

bool fill_thread(int pid, int tid, const host_clock &clk, const std::string &pcomm,
                 std::string &stat, bsd::kinfo_proc &kp) {
    if (!read_piece(host_file("/proc/%d/task/%d/stat", pid, tid).c_str(), stat))
        return false;
    stat_info si;
    if (!parse_stat(stat, si))
        return false;
    fill_from_stat(si, pid, tid, clk, kp);
    if (!pcomm.empty())
        copy_name(kp.ki_comm, sizeof(kp.ki_comm), pcomm);
    return true;
}

bool fill_record(const char *dir, int pid, int tid, const host_clock &clk, bsd::kinfo_proc &kp) {
    std::string stat, status;
    if (!read_piece(host_file("%s/stat", dir).c_str(), stat))
        return false;
    if (!read_piece(host_file("%s/status", dir).c_str(), status))
        return false;
    status_info st;
    parse_status(status, st);
    if (st.tgid != pid)
        return false;
    stat_info si;
    if (!parse_stat(stat, si))
        return false;
    fill_from_stat(si, pid, tid, clk, kp);
    fill_from_status(st, clk, kp);

    // status is parsed: its buffer serves again
    if (read_piece(host_file("%s/io", dir).c_str(), status)) {
        kp.ki_rusage.ru_inblock = static_cast<long>(to_ull(field(status, "read_bytes")) / 512);
        kp.ki_rusage.ru_oublock = static_cast<long>(to_ull(field(status, "write_bytes")) / 512);
    }
    if (kp.ki_numthreads > 1) {
        char main_state = si.f[0].empty() ? 'S' : si.f[0][0];
        thread_sums sums = sum_threads(pid, main_state);
        kp.ki_stat = map_state(sums.state);
        kp.ki_oncpu = kp.ki_stat == bsd::srun ? kp.ki_lastcpu : bsd::nocpu;
        kp.ki_oncpu_old = static_cast<bsd::u_char>(kp.ki_oncpu);
        kp.ki_rusage.ru_nvcsw = sums.nvcsw;
        kp.ki_rusage.ru_nivcsw = sums.nivcsw;
    }
    return true;
}

}  // namespace standin
