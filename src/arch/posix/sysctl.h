// Checked reads of kernel parameters: fixed-size into the caller's buffer,
// or growing into a buffer allocated here at the size the kernel reports;
// and the one read of a kernel table. A table is read into a zeroed buffer
// of its own, bounded in size and in reads. What differs between tables
// (the first size, or a measure before each read; how many reads; how
// failures are raised; the check of what came back) is said in
// quarn_table; the loop that grows a buffer for the kernel exists only in
// quarn_read_table.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

// Kernel tables past this size are refused: every growth ends.
constexpr std::size_t quarn_table_bound = std::size_t(1) << 30;

// How a table's failures are raised.
enum class quarn_table_errors {
    // The growing parameter reads: OSError annotated with the failed step
    // ("sysctl() malloc 1/3", "2/3" for a re-measure, "3/3" for a read),
    // MemoryError, a length past the buffer refused as a size mismatch, and
    // after the last read and its re-measure the retry limit. Debug lines
    // tell a measure of 0 and each retry.
    annotated,
    // OSError from errno, MemoryError for a buffer; a length past the
    // buffer is cut to it.
    plain,
    // As plain, but no memory for a buffer is OSError with ENOMEM too, and
    // so is a measure past quarn_table_bound.
    errno_only,
};

struct quarn_table {
    // The table's name: numeric (mib and miblen) or dotted (name).
    int *mib = nullptr;
    unsigned int miblen = 0;
    const char *name = nullptr;
    // The first buffer's size, doubled while a read says ENOMEM, up to
    // quarn_table_bound. 0: the kernel is asked for the size before each
    // read instead, and reads are made at most `reads` times.
    std::size_t first = 0;
    int reads = 0;
    quarn_table_errors errors = quarn_table_errors::plain;
    // Checks what a read returned, given `unit` (the size of the list's
    // header and trailer, or of its records): 0 when it is good; 1 when the
    // table changed while the kernel copied it, to read it again at the
    // same size at most `repeats` times (after that it is taken as it is);
    // -1 with an exception set.
    int (*check)(const char *buf, std::size_t len, std::size_t unit) = nullptr;
    std::size_t unit = 0;
    int repeats = 0;
};

// Reads the table: 0 with the buffer in *buf (the caller frees it) and the
// bytes the kernel returned in *len, never more than the buffer; -1 with an
// exception set and nothing held.
int quarn_read_table(const quarn_table &t, char **buf, std::size_t *len);

// The RuntimeError of a read whose answer does not fit what was asked:
// "sysctlbyname('<name>') size mismatch: returned <len>, expected <size>",
// or "sysctl() size mismatch" for a numeric name (name null). Returns -1.
int quarn_size_mismatch(const char *name, std::size_t len, std::size_t size);

// A record's size as the kernel gives it against the size expected:
// 0 when equal, else -1 with RuntimeError "struct <record> size mismatch".
int quarn_check_size(std::uint64_t got, std::size_t want, const char *record);

extern "C" {
int quarn_sysctl(int *name, unsigned int namelen, void *buf, std::size_t buflen);
int quarn_sysctl_malloc(int *name, unsigned int namelen, char **buf, std::size_t *buflen);
int quarn_sysctlbyname(const char *name, void *buf, std::size_t buflen);
// As quarn_sysctlbyname, and gives the bytes the kernel wrote (never more
// than buflen), for a table whose count is what actually came back.
int quarn_sysctlbyname_len(const char *name, void *buf, std::size_t buflen, std::size_t *got);
// After a failed read: 1 when a kernel call failed, so errno is its cause;
// 0 when the read was refused without one (a size mismatch, bad arguments),
// whose RuntimeError must stand rather than give way to a stale errno.
int quarn_sysctl_call_failed(void);
int quarn_sysctlbyname_malloc(const char *name, char **buf, std::size_t *buflen);
std::int64_t quarn_sysctl_argmax(void);
long quarn_getpagesize(void);
PyObject *quarn_getpagesize_pywrapper(PyObject *self, PyObject *args);
}
