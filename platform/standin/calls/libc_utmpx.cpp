// setutxent, getutxent and endutxent: the host's login records (its utmp
// file, glibc's utmpx layout) as FreeBSD utmpx records.
//
// Like the C library, there is one read position for the process; a mutex
// keeps concurrent callers from tearing it. Tests may point the calls at a
// file of their own (standin_utmpx_file) or inject the records.
#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"
#include "record/keep.h"

namespace standin {
namespace {

struct login_db {
    std::mutex lock;
    std::string path;  // empty: the host's own
    int fd = -1;
    bool injected = false;
    bool failed = false;  // an injected error: no records, errno err
    int err = 0;
    std::string records;  // injected FreeBSD records
    std::size_t pos = 0;
    bsd::utmpx current;
    // A recording keeps the records read from the host since it was opened.
    bool keeping = false;
    std::string kept;
};

login_db &db() {
    static login_db d;
    return d;
}

// Host types as FreeBSD's; -1 where FreeBSD has no such record.
short freebsd_type(short host) {
    switch (host) {
    case EMPTY: return bsd::empty;
    case BOOT_TIME: return bsd::boot_time;
    case NEW_TIME: return bsd::new_time;
    case OLD_TIME: return bsd::old_time;
    case INIT_PROCESS: return bsd::init_process;
    case LOGIN_PROCESS: return bsd::login_process;
    case USER_PROCESS: return bsd::user_process;
    case DEAD_PROCESS: return bsd::dead_process;
    default: return -1;
    }
}

// Copies a host field into a FreeBSD one: bytes up to the first NUL, cut
// to the field, NUL-padded; a field filled to the end has no NUL, as on
// FreeBSD.
template <std::size_t N, std::size_t M> void copy_field(char (&to)[N], const char (&from)[M]) {
    std::size_t n = 0;
    while (n < M && n < N && from[n] != '\0')
        n++;
    std::memset(to, 0, N);
    std::memcpy(to, from, n);
}

void convert(const struct ::utmpx &host, bsd::utmpx &rec, short type) {
    std::memset(&rec, 0, sizeof(rec));
    rec.ut_type = type;
    rec.ut_tv.tv_sec = host.ut_tv.tv_sec;
    rec.ut_tv.tv_usec = host.ut_tv.tv_usec;
    copy_field(rec.ut_id, host.ut_id);
    rec.ut_pid = host.ut_pid;
    copy_field(rec.ut_user, host.ut_user);
    copy_field(rec.ut_line, host.ut_line);
    copy_field(rec.ut_host, host.ut_host);
}

void close_db(login_db &d) {
    if (d.keeping) {
        quarn_record::answer("utmpx", "", d.kept.data(), d.kept.size());
        d.kept.clear();
        d.keeping = false;
    }
    if (d.fd != -1)
        ::close(d.fd);
    d.fd = -1;
    d.injected = d.failed = false;
    d.records.clear();
    d.pos = 0;
}

// Opens the records afresh, from an injected answer or the host's file.
void open_db(login_db &d) {
    close_db(d);
    step st;
    if (next_step("utmpx", "", st)) {
        d.injected = true;
        if (st.kind == step::error) {
            d.failed = true;
            d.err = st.err;
        } else {
            try {
                d.records = st.data();
            } catch (const std::bad_alloc &) {
                // No room for the records: getutxent fails as on a read error.
                d.failed = true;
                d.err = ENOMEM;
            }
        }
        return;
    }
    // The host's file lies under the host root, when one is set.
    host_file host("%s", _PATH_UTMPX);
    const char *path = d.path.empty() ? host.c_str() : d.path.c_str();
    int saved = errno;
    d.fd = ::open(path, O_RDONLY | O_CLOEXEC);
    errno = saved;
    d.keeping = quarn_record::on();  // no file means no records, not a failure
}

// Reads one whole host record; false at the end or on a short record.
bool read_host(int fd, struct ::utmpx &host) {
    std::size_t got = 0;
    auto *p = reinterpret_cast<char *>(&host);
    while (got < sizeof(host)) {
        ssize_t n = ::read(fd, p + got, sizeof(host) - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bsd::utmpx *next_record(login_db &d) {
    if (d.injected) {
        if (d.failed) {
            errno = d.err;
            return nullptr;
        }
        if (d.records.size() - d.pos < sizeof(bsd::utmpx))
            return nullptr;
        std::memcpy(&d.current, d.records.data() + d.pos, sizeof(bsd::utmpx));
        d.pos += sizeof(bsd::utmpx);
        return &d.current;
    }
    if (d.fd == -1)
        return nullptr;
    struct ::utmpx host;
    int saved = errno;
    // Records FreeBSD has no type for are passed over; the file ends the walk.
    while (read_host(d.fd, host)) {
        short type = freebsd_type(host.ut_type);
        if (type < 0)
            continue;
        convert(host, d.current, type);
        try {
            if (d.keeping)
                d.kept.append(reinterpret_cast<const char *>(&d.current), sizeof(d.current));
        } catch (const std::bad_alloc &) {
            d.keeping = false;  // the recording lacks them rather than the caller
        }
        errno = saved;
        return &d.current;
    }
    errno = saved;
    return nullptr;
}

}  // namespace
}  // namespace standin

// Points the login-record calls at a file in the host's utmp format (null
// or "": the host's own). Takes effect at the next setutxent.
extern "C" int standin_utmpx_file(const char *path) try {
    standin::login_db &d = standin::db();
    std::lock_guard<std::mutex> g(d.lock);
    d.path = path ? path : "";
    return 0;
} catch (const std::bad_alloc &) {
    return -1;
}

namespace bsd {

void setutxent(void) {
    standin::log_call("setutxent", "", "call", 0);
    standin::login_db &d = standin::db();
    std::lock_guard<std::mutex> g(d.lock);
    standin::open_db(d);
}

utmpx *getutxent(void) {
    standin::log_call("getutxent", "", "call", 0);
    standin::login_db &d = standin::db();
    std::lock_guard<std::mutex> g(d.lock);
    if (!d.injected && d.fd == -1)
        standin::open_db(d);  // as FreeBSD, a first read opens the records
    return standin::next_record(d);
}

void endutxent(void) {
    standin::log_call("endutxent", "", "call", 0);
    standin::login_db &d = standin::db();
    std::lock_guard<std::mutex> g(d.lock);
    standin::close_db(d);
}

}  // namespace bsd
