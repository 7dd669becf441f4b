#include "arch/freebsd/disk.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "arch/all/errors.h"
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

// A name field as text, never read past the field even without its NUL.
static PyObject *field_to_py(const char *field, std::size_t size) {
    return PyUnicode_DecodeFSDefaultAndSize(field, static_cast<Py_ssize_t>(strnlen(field, size)));
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
        auto *fs = static_cast<struct bsd::statfs *>(
            std::calloc(room > 0 ? static_cast<std::size_t>(room) : 1, sizeof(struct bsd::statfs)));
        if (fs == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        int got = getfsstat_unlocked(fs, room * static_cast<long>(sizeof(struct bsd::statfs)));
        if (got == -1) {
            quarn_oserror();
            std::free(fs);
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
            *out = fs;
            *n = written;
            return 0;
        }
        std::free(fs);
        room = room * 2 < want ? room * 2 : want;
        if (room > max_room)
            room = max_room;
    }
}

extern "C" PyObject *quarn_disk_partitions(PyObject *, PyObject *) {
    PyObject *list = PyList_New(0);
    if (list == nullptr)
        return nullptr;
    struct bsd::statfs *fs;
    int n;
    if (read_mounts(&fs, &n) == -1) {
        Py_DECREF(list);
        return nullptr;
    }
    for (int i = 0; i < n; i++) {
        char opts[200];
        char fstype[MFSNAMELEN + 1];
        mount_options_text(fs[i].f_flags, opts, sizeof(opts));
        std::memcpy(fstype, fs[i].f_fstypename, MFSNAMELEN);
        fstype[MFSNAMELEN] = '\0';
        PyObject *dev = field_to_py(fs[i].f_mntfromname, sizeof(fs[i].f_mntfromname));
        if (dev == nullptr)
            goto error;
        PyObject *mnt = field_to_py(fs[i].f_mntonname, sizeof(fs[i].f_mntonname));
        if (mnt == nullptr) {
            Py_DECREF(dev);
            goto error;
        }
        PyObject *tuple = Py_BuildValue("(OOss)", dev, mnt, fstype, opts);
        Py_DECREF(dev);
        Py_DECREF(mnt);
        if (tuple == nullptr)
            goto error;
        int rc = PyList_Append(list, tuple);
        Py_DECREF(tuple);
        if (rc != 0)
            goto error;
    }
    std::free(fs);
    return list;

error:
    std::free(fs);
    Py_DECREF(list);
    return nullptr;
}

extern "C" std::int64_t quarn_bintime_ms(const bsd::bintime *bt) {
    std::uint64_t upper = static_cast<std::uint32_t>(bt->frac >> 32);
    std::uint64_t ns = (upper * 1000000000ULL) >> 32;
    // Unsigned, so absurd seconds wrap instead of overflowing.
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(bt->sec) * 1000 + ns / 1000000);
}

extern "C" PyObject *quarn_disk_io_counters(PyObject *, PyObject *) {
    PyObject *dict = PyDict_New();
    if (dict == nullptr)
        return nullptr;
    if (bsd::devstat_checkversion(nullptr) < 0) {
        quarn_runtime_error("devstat_checkversion() syscall failed");
        Py_DECREF(dict);
        return nullptr;
    }
    bsd::statinfo stats;
    std::memset(&stats, 0, sizeof(stats));
    stats.dinfo = static_cast<bsd::devinfo *>(std::calloc(1, sizeof(bsd::devinfo)));
    if (stats.dinfo == nullptr) {
        Py_DECREF(dict);
        return PyErr_NoMemory();
    }
    if (bsd::devstat_getdevs(nullptr, &stats) == -1) {
        quarn_runtime_error("devstat_getdevs() syscall failed");
        goto error;
    }
    for (int i = 0; i < stats.dinfo->numdevs; i++) {
        bsd::devstat current;
        std::memcpy(&current, &stats.dinfo->devices[i], sizeof(current));
        char driver[DEVSTAT_NAME_LEN + 1];
        std::memcpy(driver, current.device_name, DEVSTAT_NAME_LEN);
        driver[DEVSTAT_NAME_LEN] = '\0';
        char key[128];
        str_format(key, sizeof(key), "%s%d", driver, current.unit_number);
        PyObject *value = Py_BuildValue(
            "(KKKKLLL)", static_cast<unsigned long long>(current.operations[DEVSTAT_READ]),
            static_cast<unsigned long long>(current.operations[DEVSTAT_WRITE]),
            static_cast<unsigned long long>(current.bytes[DEVSTAT_READ]),
            static_cast<unsigned long long>(current.bytes[DEVSTAT_WRITE]),
            static_cast<long long>(quarn_bintime_ms(&current.duration[DEVSTAT_READ])),
            static_cast<long long>(quarn_bintime_ms(&current.duration[DEVSTAT_WRITE])),
            static_cast<long long>(quarn_bintime_ms(&current.busy_time)));
        if (value == nullptr)
            goto error;
        int rc = PyDict_SetItemString(dict, key, value);
        Py_DECREF(value);
        if (rc != 0)
            goto error;
    }
    std::free(stats.dinfo->mem_ptr);
    std::free(stats.dinfo);
    return dict;

error:
    std::free(stats.dinfo->mem_ptr);
    std::free(stats.dinfo);
    Py_DECREF(dict);
    return nullptr;
}
