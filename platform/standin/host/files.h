// Small helpers for reading the live host: whole /proc and /sys files,
// "Key: value" lines and whitespace-separated numbers.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// A host file's path under the root standin_host_root sets (tests and the
// fuzzer point it at a made-up tree), formatted on the stack. With no root
// set it costs a flag check besides the format. A path that does not fit is
// left empty, which names no file.
class host_file {
public:
    explicit host_file(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    const char *c_str() const { return path_; }

private:
    char path_[PATH_MAX];
};

// Whether a root is set.
bool host_rooted();

// Reads a whole file of at most limit bytes; false when it cannot be read or
// is longer than limit: a cut file never passes as a whole one.
bool read_file(const char *path, std::string &out, std::size_t limit = 1 << 22);

// The same for a file the host writes out in one piece on the first read
// (/proc/PID/stat, status and io, /proc/meminfo, /sys attributes), so a
// read that comes back short has reached its end.
bool read_piece(const char *path, std::string &out, std::size_t limit = 1 << 20);

// Reads a file the host writes line by line as it is read (/proc/vmstat)
// only as far as a whole "key value" line of each key: the host then formats
// no line past the last one wanted. A key the file lacks has the whole file
// read. False when it cannot be read or runs past limit.
bool read_to_keys(const char *path, std::string &out, std::initializer_list<std::string_view> keys,
                  std::size_t limit = 1 << 20);

// The blanks of the host's text files (no locale involved).
inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Calls fn with each line of text, without its newline, until fn returns
// false; the walk ends with the text.
template <class Fn> void for_each_line(std::string_view text, Fn fn) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        if (!fn(text.substr(pos, eol - pos)))
            return;
        pos = eol + 1;
    }
}

// The value of the first line "key<sep>..." of text, after the separator and
// any blanks; empty view when there is none.
std::string_view field(std::string_view text, std::string_view key);

// The leading integer of text (after blanks); fallback when there is none.
long long to_ll(std::string_view text, long long fallback = 0);
unsigned long long to_ull(std::string_view text, unsigned long long fallback = 0);

// Splits text at blanks into at most max words; returns how many.
std::size_t split_words(std::string_view text, std::string_view *words, std::size_t max);

// The numeric entries of a directory (/proc, /proc/PID/task, .../fd), in
// directory order; none when it cannot be read.
std::vector<int> list_numeric(const char *dir);

// Whether pid names a process (a thread group) of the host. The host also
// answers for thread IDs under /proc and to kill(); FreeBSD does not.
bool is_process(int pid);

// The host's boot time in seconds (the btime line of /proc/stat).
std::int64_t host_boot_time();

// Appends the bytes of a record to an answer.
template <class T> void append_record(std::string &out, const T &rec) {
    out.append(reinterpret_cast<const char *>(&rec), sizeof(rec));
}

}  // namespace standin
