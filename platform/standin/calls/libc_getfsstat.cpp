// getfsstat: the host's mount table as FreeBSD statfs records.
//
// The table is /proc/self/mountinfo, read whole and parsed here in one
// pass (undoing its octal escapes). Mount options with a FreeBSD flag become that flag. In
// MNT_NOWAIT mode no file system is asked anything, so a hung one (a dead
// network server) never blocks the call; the sizes are then left 0. See
// docs/standin.md.
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/host/mountinfo.h"
#include "standin/host/owners.h"
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
    {"ro", bsd::mnt_rdonly},         {"nosuid", bsd::mnt_nosuid},
    {"noexec", bsd::mnt_noexec},     {"sync", bsd::mnt_synchronous},
    {"noatime", bsd::mnt_noatime},   {"nosymfollow", bsd::mnt_nosymfollow},
};
const option_flag fs_flags[] = {
    {"ro", bsd::mnt_rdonly},
    {"sync", bsd::mnt_synchronous},
    {"acl", bsd::mnt_acls},
};

template <std::size_t N>
std::uint64_t flags_of(std::string_view options, const option_flag (&table)[N]) {
    std::uint64_t flags = 0;
    for (const option_flag &o : table) {
        if (has_option(options, o.option))
            flags |= o.flag;
    }
    return flags;
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

void fill_record(const mountinfo_line &m, bsd::statfs &rec) {
    std::memset(&rec, 0, sizeof(rec));
    rec.f_version = bsd::statfs_version;
    rec.f_flags = flags_of(m.mount_opts, mount_flags) | flags_of(m.super_opts, fs_flags);
    unescape_field(m.fstype, rec.f_fstypename, sizeof(rec.f_fstypename));
    unescape_field(m.source, rec.f_mntfromname, sizeof(rec.f_mntfromname));
    unescape_field(m.target, rec.f_mntonname, sizeof(rec.f_mntonname));
    if (std::strcmp(rec.f_mntonname, "/") == 0)
        rec.f_flags |= bsd::mnt_rootfs;
    // A host disk goes by the name the device statistics give it, so the
    // two tables agree (/dev/vda1 is /dev/vd0p1 beside vd0).
    if (std::strncmp(rec.f_mntfromname, "/dev/", 5) == 0) {
        std::string disk = freebsd_disk_name(rec.f_mntfromname + 5);
        if (!disk.empty() && disk.size() + 5 < sizeof(rec.f_mntfromname))
            std::memcpy(rec.f_mntfromname + 5, disk.c_str(), disk.size() + 1);
    }
}

// The lines of the mount table as it is read, in large reads. The host
// formats the table as it is read, so a read that stops early (a buffer
// full of records) leaves it the rest to write. A table past the limit is
// refused rather than taken cut.
class table_lines {
  public:
    explicit table_lines(const char *path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {
        err_ = fd_.fd == -1 ? errno : 0;
    }

    // The next line, without its newline; false at the end or on a failed
    // read (error() then holds its errno).
    bool next(std::string_view &line) {
        for (;;) {
            std::size_t eol = std::string_view(buf_).substr(start_, used_ - start_).find('\n');
            if (eol != std::string_view::npos) {
                line = std::string_view(buf_).substr(start_, eol);
                start_ += eol + 1;
                return true;
            }
            if (err_ != 0 || done_)
                return false;
            if (!fill()) {
                // A last line without its newline is a line too.
                if (err_ != 0 || start_ == used_)
                    return false;
                line = std::string_view(buf_).substr(start_, used_ - start_);
                start_ = used_;
                return true;
            }
        }
    }

    int error() const { return err_; }

  private:
    static constexpr std::size_t limit = std::size_t(1) << 28;
    static constexpr std::size_t chunk = 262144;

    // Reads more behind what is held; false at the end or on a failure.
    bool fill() {
        // What is left of the held text moves to the front first.
        buf_.erase(0, start_);
        used_ -= start_;
        start_ = 0;
        if (buf_.size() - used_ < chunk)
            buf_.resize(used_ + chunk);
        for (;;) {
            ssize_t n = ::read(fd_.fd, buf_.data() + used_, buf_.size() - used_);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                err_ = n < 0 ? errno : 0;
                done_ = true;
                return false;
            }
            used_ += static_cast<std::size_t>(n);
            total_ += static_cast<std::size_t>(n);
            if (total_ > limit) {
                err_ = EIO;
                return false;
            }
            return true;
        }
    }

    fd_owner fd_;
    std::string buf_;
    std::size_t start_ = 0, used_ = 0, total_ = 0;
    int err_;
    bool done_ = false;
};

// The number of mounts the caller sees, from the host's listing of mount
// IDs (listmount(2), Linux 6.8 on), which writes out no table; -1 where the
// host has no such call, under a made-up root, or when the listing does not
// move on. Its mounts are the mount table's: those reachable from the
// caller's root.
long listed_mounts() {
    if (host_rooted())
        return -1;
    constexpr long sys_listmount = 458;  // one number on every architecture
    constexpr std::uint64_t lsmt_root = ~std::uint64_t(0);
    struct {
        std::uint32_t size, spare;
        std::uint64_t mnt_id, param;
    } req;
    std::uint64_t ids[1024];
    constexpr long batch = sizeof(ids) / sizeof(ids[0]);
    int saved = errno;
    long total = 0;
    std::uint64_t after = 0;
    for (int round = 0; round < 65536; round++) {
        req = {24, 0, lsmt_root, after};
        long n = ::syscall(sys_listmount, &req, ids, batch, 0);
        if (n < 0 || n > batch)
            break;
        total += n;
        if (n < batch) {
            errno = saved;
            return total;
        }
        if (ids[n - 1] <= after)
            break;
        after = ids[n - 1];
    }
    errno = saved;
    return -1;
}

// Returns the number of records, or -1 with errno. A measure is the listed
// mounts, or else counts the table's lines, one per mount, without parsing
// them; a read parses each
// line once, in place, skipping any that is no mount, and reads no line
// past a full buffer.
int live_getfsstat(bsd::statfs *buf, long bufsize, int mode) {
    if (long listed = buf == nullptr ? listed_mounts() : -1; listed >= 0)
        return listed > INT_MAX ? INT_MAX : static_cast<int>(listed);
    table_lines table(host_file("/proc/self/mountinfo").c_str());
    long room = buf == nullptr ? LONG_MAX : bufsize / record_size;
    long count = 0;
    std::string_view line;
    while (count < room && table.next(line)) {
        if (buf == nullptr) {
            count++;
            continue;
        }
        mountinfo_line m;
        if (!split_mountinfo(line, m))
            continue;
        bsd::statfs &rec = buf[count];
        fill_record(m, rec);
        if (mode != bsd::mnt_nowait && !fill_sizes(rec))
            continue;
        count++;
    }
    if (table.error() != 0) {
        errno = table.error();
        return -1;
    }
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
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
            if (mode != bsd::mnt_wait && mode != bsd::mnt_nowait)
                return EINVAL;
            if (buf != nullptr && bufsize < 0)
                return EINVAL;
            standin::pass_gate();
            return 0;
        },
        [&](const std::string &, int n) {
            if (n >= 0 && buf != nullptr)
                quarn_record::answer_value("getfsstat", "", n, buf,
                                           static_cast<std::size_t>(n) * sizeof(statfs));
            else
                quarn_record::result("getfsstat", "", n);
        });
}

}  // namespace bsd
