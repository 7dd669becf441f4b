// What kinfo_getfile and kinfo_getvmmap share: one heap array of
// fixed-size entries, released by the caller with free, or null with or
// without errno.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "standin/calls/call.h"
#include "standin/host/owners.h"

namespace standin {

// What the tables need from /proc/PID/stat: whether the process has exited
// (FreeBSD refuses both tables of an exiting process) and its terminal.
struct process_stat {
    bool exited = false;
    unsigned long long tty_nr = 0;
};
// False when the process is gone.
bool read_process_stat(int pid, process_stat &out);

// A null result with errno as the failure left it.
template <class T> T *fail(int err) {
    errno = err;
    return nullptr;
}

// A heap array of zeroed entries that grows by doubling and is handed to the
// caller whole; it frees what it still holds.
template <class T> class entry_array {
  public:
    entry_array() = default;
    entry_array(const entry_array &) = delete;
    entry_array &operator=(const entry_array &) = delete;
    ~entry_array() { std::free(items_); }

    // A new zeroed entry, or null when the table cannot grow.
    T *add() {
        if (count_ == cap_) {
            std::size_t cap = cap_ ? cap_ * 2 : 64;
            if (cap > max_table_entries)
                cap = max_table_entries;
            if (count_ == cap)
                return nullptr;
            void *grown = std::realloc(items_, cap * sizeof(T));
            if (grown == nullptr)
                return nullptr;
            items_ = static_cast<T *>(grown);
            cap_ = cap;
        }
        T *e = &items_[count_++];
        std::memset(static_cast<void *>(e), 0, sizeof(T));
        return e;
    }
    // Takes the last entry back (one that turned out not to exist).
    void drop_last() { count_--; }
    std::size_t size() const { return count_; }
    T &back() { return items_[count_ - 1]; }

    // Hands the array over with its count; an empty table is still an array.
    T *release(int *cntp) {
        if (items_ == nullptr) {
            items_ = static_cast<T *>(std::calloc(1, sizeof(T)));
            if (items_ == nullptr)
                return fail<T>(ENOMEM);
        }
        *cntp = static_cast<int>(count_);
        T *out = items_;
        items_ = nullptr;
        count_ = cap_ = 0;
        return out;
    }

  private:
    T *items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t cap_ = 0;
};

// Keeps a live table for a recording: its entries, or the failure.
template <class T> void keep_table(const char *call, const std::string &key, const T *table,
                                   const int *cntp) {
    if (table == nullptr)
        quarn_record::error(call, key, errno);
    else
        quarn_record::answer(call, key, table, static_cast<std::size_t>(*cntp) * sizeof(T));
}

// Copies an injected table into a heap array of its own, laid out with
// table_slots' entries.
template <class T> T *injected_table(const step &st, int *cntp) {
    std::size_t n = st.data().size() / sizeof(T);
    std::size_t slots;
    if (!table_slots(st, n, slots))
        return fail<T>(ENOMEM);
    T *arr = static_cast<T *>(std::calloc(slots ? slots : 1, sizeof(T)));
    if (arr == nullptr)
        return fail<T>(ENOMEM);
    if (n)
        std::memcpy(static_cast<void *>(arr), st.data().data(), n * sizeof(T));
    *cntp = table_count(st, n);
    return arr;
}

// Copies a path into a FreeBSD path field, cut to fit.
inline void set_path(char *dst, std::size_t size, const char *src, std::size_t n) {
    if (n > size - 1)
        n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace standin
