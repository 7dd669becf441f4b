// getfsstat: the host's mount table as FreeBSD statfs records.
//
// The table is /proc/self/mountinfo, parsed by libmount (which undoes its
// octal escapes). Mount options with a FreeBSD flag become that flag. In
// MNT_NOWAIT mode no file system is asked anything, so a hung one (a dead
// network server) never blocks the call; the sizes are then left 0. See
// docs/standin.md.
#include <libmount.h>
#include <sys/statfs.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

constexpr long record_size = static_cast<long>(sizeof(bsd::statfs));

struct option_flag {
    const char *option;
    std::uint64_t flag;
};

// Per-mount options (the mount's own, then the file system's) that have a
// FreeBSD flag. The host has no counterpart for the others.
const option_flag mount_flags[] = {
    {"ro", MNT_RDONLY},       {"nosuid", MNT_NOSUID},           {"noexec", MNT_NOEXEC},
    {"sync", MNT_SYNCHRONOUS}, {"noatime", MNT_NOATIME},         {"nosymfollow", MNT_NOSYMFOLLOW},
};
const option_flag fs_flags[] = {
    {"ro", MNT_RDONLY},
    {"sync", MNT_SYNCHRONOUS},
    {"acl", MNT_ACLS},
};

template <std::size_t N>
std::uint64_t flags_of(const char *options, const option_flag (&table)[N]) {
    std::uint64_t flags = 0;
    if (options == nullptr)
        return 0;
    for (const option_flag &o : table) {
        if (mnt_optstr_get_option(options, o.option, nullptr, nullptr) == 0)
            flags |= o.flag;
    }
    return flags;
}

// Copies text into a FreeBSD name field, cut to fit and always terminated.
template <std::size_t N> void set_name(char (&field)[N], const char *text) {
    if (text == nullptr)
        return;
    std::size_t n = std::strlen(text);
    if (n >= N)
        n = N - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// Sizes from the file system itself; false when it cannot answer, so the
// record is skipped as FreeBSD skips a file system whose statfs fails.
bool fill_sizes(bsd::statfs &rec) {
    struct ::statfs host;
    if (::statfs(rec.f_mntonname, &host) != 0)
        return false;
    rec.f_bsize = static_cast<std::uint64_t>(host.f_frsize ? host.f_frsize : host.f_bsize);
    rec.f_iosize = static_cast<std::uint64_t>(host.f_bsize);
    rec.f_blocks = host.f_blocks;
    rec.f_bfree = host.f_bfree;
    rec.f_bavail = static_cast<std::int64_t>(host.f_bavail);
    rec.f_files = host.f_files;
    rec.f_ffree = static_cast<std::int64_t>(host.f_ffree);
    rec.f_namemax = static_cast<std::uint32_t>(host.f_namelen);
    std::memcpy(&rec.f_fsid, &host.f_fsid, sizeof(rec.f_fsid));
    return true;
}

void fill_record(libmnt_fs *fs, bsd::statfs &rec) {
    std::memset(&rec, 0, sizeof(rec));
    rec.f_version = STATFS_VERSION;
    rec.f_flags = flags_of(mnt_fs_get_vfs_options(fs), mount_flags) |
                  flags_of(mnt_fs_get_fs_options(fs), fs_flags);
    const char *target = mnt_fs_get_target(fs);
    if (target != nullptr && std::strcmp(target, "/") == 0)
        rec.f_flags |= MNT_ROOTFS;
    set_name(rec.f_fstypename, mnt_fs_get_fstype(fs));
    // A host disk goes by the name the device statistics give it, so the
    // two tables agree (/dev/vda1 is /dev/vd0p1 beside vd0).
    const char *source = mnt_fs_get_source(fs);
    std::string disk;
    if (source != nullptr && std::strncmp(source, "/dev/", 5) == 0)
        disk = freebsd_disk_name(source + 5);
    set_name(rec.f_mntfromname, disk.empty() ? source : ("/dev/" + disk).c_str());
    set_name(rec.f_mntonname, target);
}

// Returns the number of records, or -1 with errno.
int live_getfsstat(bsd::statfs *buf, long bufsize, int mode) {
    static std::once_flag debug_once;
    // libmount sets up its debug mask on first use; once, not from racing threads.
    std::call_once(debug_once, [] { mnt_init_debug(0); });
    libmnt_table *tb = mnt_new_table();
    if (tb == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    int rc = mnt_table_parse_file(tb, host_file("/proc/self/mountinfo").c_str());
    if (rc != 0) {
        mnt_unref_table(tb);
        errno = rc < 0 ? -rc : EIO;
        return -1;
    }
    int count = 0;
    if (buf == nullptr) {
        count = mnt_table_get_nents(tb);
    } else {
        long room = bufsize / record_size;
        libmnt_iter *it = mnt_new_iter(MNT_ITER_FORWARD);
        libmnt_fs *fs = nullptr;
        while (it != nullptr && count < room && mnt_table_next_fs(tb, it, &fs) == 0) {
            bsd::statfs &rec = buf[count];
            fill_record(fs, rec);
            if (mode != MNT_NOWAIT && !fill_sizes(rec))
                continue;
            count++;
        }
        mnt_free_iter(it);
    }
    mnt_unref_table(tb);
    return count;
}

// An injected answer: the records as bytes; a value claims the count.
int injected_getfsstat(const step &st, bsd::statfs *buf, long bufsize) {
    const std::string &data = st.data();
    long have = static_cast<long>(data.size()) / record_size;
    if (buf == nullptr)
        return st.has_value ? static_cast<int>(st.value) : static_cast<int>(have);
    long room = bufsize / record_size;
    long n = have < room ? have : room;
    if (n > 0)
        std::memcpy(buf, data.data(), static_cast<std::size_t>(n * record_size));
    return st.has_value ? static_cast<int>(st.value) : static_cast<int>(n);
}

// A gate that tests close to hold getfsstat inside the stand-in, proving the
// caller released the interpreter lock around it. A closed gate opens by
// itself after a while, so a faulty caller cannot hang a test run.
std::mutex gate_lock;
std::condition_variable gate_cv;
bool gate_closed = false;
int gate_waiting = 0;

void pass_gate() {
    std::unique_lock<std::mutex> g(gate_lock);
    if (!gate_closed)
        return;
    gate_waiting++;
    gate_cv.wait_for(g, std::chrono::seconds(10), [] { return !gate_closed; });
    gate_waiting--;
}

}  // namespace
}  // namespace standin

extern "C" int standin_getfsstat_hold(int hold) {
    std::lock_guard<std::mutex> g(standin::gate_lock);
    standin::gate_closed = hold != 0;
    if (!standin::gate_closed)
        standin::gate_cv.notify_all();
    return 0;
}

// How many getfsstat calls wait at the closed gate now.
extern "C" int standin_getfsstat_waiting(void) {
    std::lock_guard<std::mutex> g(standin::gate_lock);
    return standin::gate_waiting;
}

namespace bsd {

// Injected: an answer is the records (a value claims the count), an error
// fails with its errno.
int getfsstat(statfs *buf, long bufsize, int mode) {
    return standin::run(
        "getfsstat", "",
        {buf == nullptr ? "measure" : "read", bufsize > 0 ? static_cast<std::size_t>(bufsize) : 0},
        standin::fails_with(-1),
        [&](const standin::step &st) { return standin::injected_getfsstat(st, buf, bufsize); },
        [&] { return standin::live_getfsstat(buf, bufsize, mode); },
        [&] {
            if (mode != MNT_WAIT && mode != MNT_NOWAIT)
                return EINVAL;
            if (buf != nullptr && bufsize < 0)
                return EINVAL;
            standin::pass_gate();
            return 0;
        });
}

}  // namespace bsd
