#include "standin/inject/replay.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <string_view>

#include "standin/inject/recording.h"

namespace standin {
namespace {

// A recording file larger than this is refused unread.
constexpr std::streamoff file_limit = std::streamoff(512) << 20;

struct replay_store {
    std::mutex lock;
    replay_keys keys;
};

replay_store &the_replay() {
    static replay_store s;
    return s;
}

std::atomic<bool> active{false};

bool read_file(const char *path, std::string &out, std::string &err) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return err = std::string("cannot open ") + path + ": " + std::strerror(errno), false;
    std::streamoff size = in.tellg();
    if (size < 0 || size > file_limit)
        return err = "recording is corrupt: a file over 512 MiB", false;
    out.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(out.data(), size))
        return err = std::string("cannot read ") + path, false;
    return true;
}

int load(const char *path, std::string &err) try {
    replay_store &s = the_replay();
    if (path == nullptr) {
        std::lock_guard<std::mutex> g(s.lock);
        active = false;
        s.keys.clear();
        return 0;
    }
    std::string file;
    replay_keys keys;
    bool ok = read_file(path, file, err) && read_recording(file, keys, err);
    std::lock_guard<std::mutex> g(s.lock);
    // A file that cannot be read replays nothing, and no host answer either.
    if (!ok)
        keys.clear();
    s.keys.swap(keys);
    active = true;
    return ok ? 0 : -1;
} catch (const std::bad_alloc &) {
    err = "recording cannot be read: no memory for it";
    return -1;
}

}  // namespace

// QUARN_REPLAY names a recording for the whole run; read at the first call.
bool replaying() {
    static const bool from_env = [] {
        const char *path = std::getenv("QUARN_REPLAY");
        if (path == nullptr || *path == '\0')
            return false;
        std::string err;
        if (load(path, err) != 0)
            std::fprintf(stderr, "quarn: QUARN_REPLAY=%s: %s\n", path, err.c_str());
        return true;
    }();
    (void)from_env;
    return active.load(std::memory_order_acquire);
}

namespace {

// The calls that open or close a handle, or set: nothing of the machine's
// is in their answer, so they go on as live (a setter through replay_set).
// A name lookup is replayed by its address (replay_answer).
bool passes(std::string_view call) {
    for (std::string_view c : {"kvm_open", "kvm_openfiles", "kvm_close", "kvm_geterr", "socket",
                               "close", "setpriority", "cpuset_setaffinity", "getnameinfo"})
        if (call == c)
            return true;
    return false;
}

// What FreeBSD answers for what the machine did not have: no such process
// for a call about one, no such parameter or entry for the rest.
step missing(std::string_view call, std::string_view key) {
    step st;
    st.kind = step::error;
    st.err = ENOENT;
    bool per_process = call == "kill" || call == "kinfo_getfile" || call == "kinfo_getvmmap" ||
                       call == "kvm_getprocs" || call == "kvm_getenvv" ||
                       call == "cpuset_getaffinity" || call == "getpriority";
    if (per_process || (call == "sysctl" && key.substr(0, 5) == "1.14."))
        st.err = ESRCH;
    else if (call == "ioctl")
        st.err = ENXIO;  // no such interface
    else if (call == "getnameinfo")
        st.err = 0;  // EAI_FAIL: no name for an address the machine did not have
    else if (call == "utmpx" || call == "devstat_checkversion")
        st.kind = step::answer;  // no login records; the library's version
    else if (call == "mallctl" && (key.ends_with(".purge") || key.ends_with(".flush")))
        st.kind = step::answer;  // the allocator's actions read nothing: they succeed
    return st;
}

}  // namespace

bool replay_step(const char *call, const std::string &key, step &out) {
    return !passes(call) && replay_answer(call, key, out);
}

bool replay_answer(const char *call, const std::string &key, step &out) {
    if (!replaying())
        return false;
    replay_store &s = the_replay();
    std::lock_guard<std::mutex> g(s.lock);
    if (!active.load(std::memory_order_relaxed))
        return false;
    auto it = s.keys.find(replay_name(call, key));
    out = it != s.keys.end() ? it->second.take() : missing(call, key);
    return true;
}

int replay_has(const char *call, const std::string &key) {
    if (!replaying())
        return -1;
    replay_store &s = the_replay();
    std::lock_guard<std::mutex> g(s.lock);
    if (!active.load(std::memory_order_relaxed))
        return -1;
    return s.keys.count(replay_name(call, key)) ? 0 : missing(call, key).err;
}

int replay_set(const char *call, const std::string &key, step st) try {
    if (!replaying())
        return -1;
    replay_store &s = the_replay();
    std::lock_guard<std::mutex> g(s.lock);
    if (!active.load(std::memory_order_relaxed))
        return -1;
    auto it = s.keys.find(replay_name(call, key));
    if (it == s.keys.end())
        return missing(call, key).err;
    replay_key &k = it->second;
    k.runs.assign(1, replay_run{std::move(st), 1});
    k.pos = 0;
    k.used = 0;
    return 0;
} catch (const std::bad_alloc &) {
    return ENOMEM;
}

}  // namespace standin

extern "C" int standin_replay(const char *path, char *err, std::size_t errlen) {
    standin::replaying();  // QUARN_REPLAY first, so a later load stands
    std::string why;
    int rc = standin::load(path, why);
    if (rc != 0 && err != nullptr && errlen > 0)
        std::snprintf(err, errlen, "%s", why.c_str());
    return rc;
}
