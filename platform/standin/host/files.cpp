#include "standin/host/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>

#include "standin/host/owners.h"

namespace standin {

namespace {

// Where the host's /proc and /sys are found: "" is the host itself. The
// flag lets the live path skip the lock.
std::atomic<bool> rooted{false};
std::mutex root_lock;
std::string root_dir;

bool read_whole(const char *path, std::string &out, std::size_t limit, bool one_piece) {
    int saved = errno;
    out.clear();
    if (limit > SIZE_MAX / 2)
        limit = SIZE_MAX / 2;
    fd_owner fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.fd == -1) {
        errno = saved;
        return false;
    }
    // Most host files fit one chunk: one read, one copy, no zero-filling.
    char chunk[16384];
    bool ok = true;
    for (;;) {
        // One byte past the limit tells a longer file from one that fits.
        std::size_t want = limit + 1 - out.size();
        if (want > sizeof(chunk))
            want = sizeof(chunk);
        ssize_t n = ::read(fd.fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        out.append(chunk, static_cast<std::size_t>(n));
        if (out.size() > limit) {
            ok = false;  // longer than limit
            break;
        }
        if (one_piece && static_cast<std::size_t>(n) < want)
            break;
    }
    if (!ok)
        out.clear();
    errno = saved;
    return ok;
}

}  // namespace

bool read_file(const char *path, std::string &out, std::size_t limit) {
    return read_whole(path, out, limit, false);
}

bool read_piece(const char *path, std::string &out, std::size_t limit) {
    return read_whole(path, out, limit, true);
}

// Whether text holds a whole line "key ..." (ended by its newline).
static bool has_line(std::string_view text, std::string_view key) {
    for (std::size_t at = 0; (at = text.find(key, at)) != std::string_view::npos; at++) {
        bool starts = at == 0 || text[at - 1] == '\n';
        std::size_t end = at + key.size();
        if (starts && end < text.size() && (text[end] == ' ' || text[end] == '\t'))
            return text.find('\n', end) != std::string_view::npos;
    }
    return false;
}

bool read_to_keys(const char *path, std::string &out, std::initializer_list<std::string_view> keys,
                  std::size_t limit) {
    int saved = errno;
    out.clear();
    fd_owner fd(::open(path, O_RDONLY | O_CLOEXEC));
    bool ok = fd.fd != -1;
    char chunk[1024];
    while (ok) {
        ssize_t n = ::read(fd.fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
        if (out.size() > limit) {
            ok = false;
            break;
        }
        bool all = true;
        for (std::string_view k : keys)
            all = all && has_line(out, k);
        if (all)
            break;
    }
    if (!ok)
        out.clear();
    errno = saved;
    return ok;
}

std::string_view field(std::string_view text, std::string_view key) {
    std::string_view value;
    for_each_line(text, [&](std::string_view line) {
        if (line.size() <= key.size() || line.substr(0, key.size()) != key)
            return true;
        char sep = line[key.size()];
        if (sep != ':' && sep != ' ' && sep != '\t')
            return true;
        value = line.substr(key.size() + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        return false;
    });
    return value;
}

static std::string_view skip_blanks(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t'))
        t.remove_prefix(1);
    return t;
}

long long to_ll(std::string_view text, long long fallback) {
    text = skip_blanks(text);
    long long v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() ? v : fallback;
}

unsigned long long to_ull(std::string_view text, unsigned long long fallback) {
    text = skip_blanks(text);
    unsigned long long v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() ? v : fallback;
}

std::size_t split_words(std::string_view text, std::string_view *words, std::size_t max) {
    std::size_t n = 0;
    std::size_t i = 0;
    while (n < max) {
        while (i < text.size() && is_blank(text[i]))
            i++;
        if (i >= text.size())
            break;
        std::size_t start = i;
        while (i < text.size() && !is_blank(text[i]))
            i++;
        words[n++] = text.substr(start, i - start);
    }
    return n;
}

host_file::host_file(const char *fmt, ...) {
    std::size_t used = 0;
    if (rooted.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> g(root_lock);
        used = root_dir.size();
        if (used >= sizeof(path_)) {
            path_[0] = '\0';
            return;
        }
        std::memcpy(path_, root_dir.data(), used);
    }
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(path_ + used, sizeof(path_) - used, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof(path_) - used)
        path_[0] = '\0';
}

bool host_rooted() {
    return rooted.load(std::memory_order_acquire);
}

std::vector<int> list_numeric(const char *dir) {
    std::vector<int> ids;
    dir_owner d(::opendir(dir));
    if (d.dir == nullptr)
        return ids;
    while (dirent *e = ::readdir(d.dir)) {
        const char *s = e->d_name;
        bool digits = *s != '\0';
        for (; *s; s++)
            digits = digits && *s >= '0' && *s <= '9';
        if (digits)
            ids.push_back(std::atoi(e->d_name));
    }
    return ids;
}

bool is_process(int pid) {
    if (pid <= 0)
        return false;
    host_file path("/proc/%d/status", pid);
    std::string status;
    return read_piece(path.c_str(), status) && to_ll(field(status, "Tgid"), -1) == pid;
}

std::int64_t host_boot_time() {
    std::string stat;
    if (!read_piece(host_file("/proc/stat").c_str(), stat))
        return 0;
    return to_ll(field(stat, "btime"));
}

}  // namespace standin

// Points the host readers at another root for /proc, /sys and the login
// records ("" or null: the host itself).
extern "C" int standin_host_root(const char *dir) {
    std::lock_guard<std::mutex> g(standin::root_lock);
    standin::root_dir = dir ? dir : "";
    while (!standin::root_dir.empty() && standin::root_dir.back() == '/')
        standin::root_dir.pop_back();
    standin::rooted.store(!standin::root_dir.empty(), std::memory_order_release);
    return 0;
}
