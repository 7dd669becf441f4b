#include "arch/freebsd/disk.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "arch/all/convert.h"
#include "arch/all/errors.h"
#include "arch/all/owners.h"
#include "arch/all/str.h"
#include "bsd.h"

// Option words in the order they are listed, which is not bit order.
static const struct {
    std::uint64_t flag;
    const char *word;
} mount_options[] = {
    {MNT_SYNCHRONOUS, ",sync"},     {MNT_NOEXEC, ",noexec"},       {MNT_NOSUID, ",nosuid"},
    {MNT_ASYNC, ",async"},          {MNT_NOATIME, ",noatime"},     {MNT_SOFTDEP, ",softdep"},
    {MNT_UNION, ",union"},          {MNT_SUIDDIR, ",suiddir"},     {MNT_NOSYMFOLLOW, ",nosymfollow"},
    {MNT_GJOURNAL, ",gjournal"},    {MNT_MULTILABEL, ",multilabel"}, {MNT_ACLS, ",acls"},
    {MNT_NOCLUSTERR, ",noclusterr"}, {MNT_NOCLUSTERW, ",noclusterw"}, {MNT_NFS4ACLS, ",nfs4acls"},
};

static void mount_options_text(std::uint64_t f_flags, char *opts, std::size_t size) {
    // Only the low 32 bits carry the flags listed here.
    std::uint32_t flags = static_cast<std::uint32_t>(f_flags);
    opts[0] = '\0';
    str_append(opts, size, (flags & MNT_RDONLY) ? "ro" : "rw");
    for (const auto &o : mount_options) {
        if (flags & o.flag)
            str_append(opts, size, o.word);
    }
}

// getfsstat without the interpreter lock: a slow file system must not stop
// the other threads. ("struct", since FreeBSD's statfs is also a call.)
static int getfsstat_unlocked(struct bsd::statfs *buf, long bufsize) {
    PyThreadState *ts = PyEval_SaveThread();
    int n = bsd::getfsstat(buf, bufsize, MNT_NOWAIT);
    int err = errno;
    PyEval_RestoreThread(ts);
    errno = err;
    return n;
}

// The first buffer holds at most this many records, and no buffer more than
// the last: a count is grown into only while the kernel fills what it got.
// (65,536 mounts are 153 MB of records.)
constexpr long first_room = 1024;
constexpr long max_room = 65536;

// Reads the mount table into *out (the caller frees it) and the number of
// records it holds into *n; -1 with an exception set. The buffer is zeroed,
// so a record the kernel did not write has no version and is not one.
static int read_mounts(struct bsd::statfs **out, int *n) {
    int count = getfsstat_unlocked(nullptr, 0);
    if (count == -1) {
        quarn_oserror();
        return -1;
    }
    // A count below -1 is no count at all.
    long want = count < 0 ? 0 : count;
    long room = want < first_room ? want : first_room;
    for (;;) {
        // One record at least, so an empty table is not taken for a failed
        // allocation.
        heap<struct bsd::statfs> fs(static_cast<struct bsd::statfs *>(
            std::calloc(room > 0 ? static_cast<std::size_t>(room) : 1, sizeof(struct bsd::statfs))));
        if (fs.get() == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        int got = getfsstat_unlocked(fs.get(), room * static_cast<long>(sizeof(struct bsd::statfs)));
        if (got == -1) {
            quarn_oserror();
            return -1;
        }
        // Never more records than the buffer holds, whatever the call says,
        // and none past the first that was not written. Only a buffer full
        // of written records is grown.
        long have = got < 0 ? 0 : (got > room ? room : got);
        int written = 0;
        while (written < have && fs[written].f_version == STATFS_VERSION)
            written++;
        if (written < room || room >= want || room >= max_room) {
            *out = fs.release();
            *n = written;
            return 0;
        }
        room = room * 2 < want ? room * 2 : want;
        if (room > max_room)
            room = max_room;
    }
}

// One mounted file system as the (device, mount point, type, options) tuple.
static PyObject *statfs2py(const struct bsd::statfs &fs) {
    char opts[200];
    char fstype[MFSNAMELEN + 1];
    mount_options_text(fs.f_flags, opts, sizeof(opts));
    std::memcpy(fstype, fs.f_fstypename, MFSNAMELEN);
    fstype[MFSNAMELEN] = '\0';
    py_ref dev(field2py(fs.f_mntfromname, sizeof(fs.f_mntfromname)));
    if (!dev)
        return nullptr;
    py_ref mnt(field2py(fs.f_mntonname, sizeof(fs.f_mntonname)));
    if (!mnt)
        return nullptr;
    return Py_BuildValue("(OOss)", dev.get(), mnt.get(), fstype, opts);
}

extern "C" PyObject *quarn_disk_partitions(PyObject *, PyObject *) {
    py_ref list(PyList_New(0));
    if (!list)
        return nullptr;
    struct bsd::statfs *raw;
    int n;
    if (read_mounts(&raw, &n) == -1)
        return nullptr;
    heap<struct bsd::statfs> fs(raw);
    for (int i = 0; i < n; i++) {
        if (append_new(list.get(), statfs2py(fs[i])) == -1)
            return nullptr;
    }
    return list.release();
}

extern "C" std::int64_t quarn_bintime_ms(const bsd::bintime *bt) {
    std::uint64_t upper = static_cast<std::uint32_t>(bt->frac >> 32);
    std::uint64_t ns = (upper * 1000000000ULL) >> 32;
    // Unsigned, so absurd seconds wrap instead of overflowing.
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(bt->sec) * 1000 + ns / 1000000);
}

// One device's counters as the (reads, writes, bytes read, bytes written,
// read ms, write ms, busy ms) tuple, under its name and unit.
static int append_devstat(PyObject *dict, const bsd::devstat *dev) {
    bsd::devstat current;
    std::memcpy(&current, dev, sizeof(current));
    char driver[DEVSTAT_NAME_LEN + 1];
    std::memcpy(driver, current.device_name, DEVSTAT_NAME_LEN);
    driver[DEVSTAT_NAME_LEN] = '\0';
    char key[128];
    str_format(key, sizeof(key), "%s%d", driver, current.unit_number);
    return set_new(
        dict, key,
        Py_BuildValue("(KKKKLLL)", static_cast<unsigned long long>(current.operations[DEVSTAT_READ]),
                      static_cast<unsigned long long>(current.operations[DEVSTAT_WRITE]),
                      static_cast<unsigned long long>(current.bytes[DEVSTAT_READ]),
                      static_cast<unsigned long long>(current.bytes[DEVSTAT_WRITE]),
                      static_cast<long long>(quarn_bintime_ms(&current.duration[DEVSTAT_READ])),
                      static_cast<long long>(quarn_bintime_ms(&current.duration[DEVSTAT_WRITE])),
                      static_cast<long long>(quarn_bintime_ms(&current.busy_time))));
}

extern "C" PyObject *quarn_disk_io_counters(PyObject *, PyObject *) {
    py_ref dict(PyDict_New());
    if (!dict)
        return nullptr;
    if (bsd::devstat_checkversion(nullptr) < 0)
        return quarn_runtime_error("devstat_checkversion() syscall failed");
    bsd::statinfo stats;
    std::memset(&stats, 0, sizeof(stats));
    heap<bsd::devinfo> dinfo(static_cast<bsd::devinfo *>(std::calloc(1, sizeof(bsd::devinfo))));
    if (dinfo.get() == nullptr)
        return PyErr_NoMemory();
    stats.dinfo = dinfo.get();
    int rc = bsd::devstat_getdevs(nullptr, &stats);
    // The library's device array, whether or not the call succeeded.
    heap<std::uint8_t> devices(stats.dinfo->mem_ptr);
    if (rc == -1)
        return quarn_runtime_error("devstat_getdevs() syscall failed");
    for (int i = 0; i < stats.dinfo->numdevs; i++) {
        if (append_devstat(dict.get(), &stats.dinfo->devices[i]) == -1)
            return nullptr;
    }
    return dict.release();
}
