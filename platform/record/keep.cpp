#include "keep.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

enum kind : std::uint8_t { k_answer = 1, k_error = 2, k_measure = 3, k_again = 4 };

// A run of equal answers to one key: a table asked for many times over
// while nothing changes is kept once.
struct run {
    kind what;
    bool has_value;
    std::int64_t number;  // the value, errno or measured size
    std::string bytes;    // empty for k_again: the bytes of the answer before
    std::uint32_t repeat;

    bool same(kind w, bool hv, std::int64_t n) const {
        return what == w && has_value == hv && number == n && bytes.empty();
    }
};

// The runs of one key. A table read between failed reads is often the one
// read the time before: it is kept once, its later runs say "again".
struct key_runs {
    std::string call, key;
    std::vector<run> runs;
    std::string last;  // the bytes of the last answer
    bool has_last = false;
};

// A run may not grow past what the file's repeat count holds; a recording
// past these sizes is refused whole, never cut.
constexpr std::uint32_t repeat_limit = 0x7fffffff;
constexpr std::size_t kept_limit = std::size_t(1) << 30;

struct store {
    std::mutex lock;
    std::vector<key_runs> keys;                      // in the order first asked
    std::unordered_map<std::string, std::size_t> at;  // call NUL key: position
    std::size_t kept = 0;
    bool failed = false;
};

store &the_store() {
    static store s;
    return s;
}

std::atomic<bool> recording{false};

void keep(const char *call, const std::string &key, kind what, bool has_value,
          std::int64_t number, const void *data, std::size_t len) {
    if (!recording.load(std::memory_order_relaxed) || call == nullptr)
        return;
    std::string_view bytes(static_cast<const char *>(data), data ? len : 0);
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.failed)
        return;
    try {
        std::string name = std::string(call) + '\0' + key;
        auto [it, added] = s.at.emplace(name, s.keys.size());
        if (added)
            s.keys.push_back({call, key, {}, {}, false});
        key_runs &k = s.keys[it->second];
        // Every answer is the one an answer again refers to; one without
        // bytes is kept as it is (it costs no more), and runs like errors.
        if (what == k_answer && !bytes.empty() && k.has_last && k.last == bytes) {
            what = k_again;
        } else if (what == k_answer) {
            k.last = bytes;
            k.has_last = true;
        }
        if ((what != k_answer || bytes.empty()) && !k.runs.empty() &&
            k.runs.back().same(what, has_value, number) && k.runs.back().repeat < repeat_limit) {
            k.runs.back().repeat++;
            return;
        }
        s.kept += (what == k_answer ? 2 * bytes.size() : 0) + sizeof(run);
        if (s.kept > kept_limit) {
            s.failed = true;
            return;
        }
        k.runs.push_back({what, has_value, number, std::string(what == k_answer ? bytes : ""), 1});
    } catch (const std::bad_alloc &) {
        s.failed = true;
    }
}

void put(std::string &out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}

// One key record: type 2, its length, then the call, the key and the runs.
void lay_out(std::string &out, const key_runs &k) {
    std::string body;
    put(body, k.call.size(), 1);
    body += k.call;
    put(body, k.key.size(), 2);
    body += k.key;
    put(body, k.runs.size(), 4);
    for (const run &r : k.runs) {
        put(body, r.what, 1);
        put(body, r.repeat, 4);
        if (r.what == k_answer || r.what == k_again) {
            put(body, r.has_value ? 1 : 0, 1);
            put(body, static_cast<std::uint64_t>(r.number), 8);
        }
        if (r.what == k_answer) {
            put(body, r.bytes.size(), 4);
            body += r.bytes;
        } else if (r.what == k_error) {
            put(body, static_cast<std::uint32_t>(r.number), 4);
        } else if (r.what == k_measure) {
            put(body, static_cast<std::uint64_t>(r.number), 8);
        }
    }
    put(out, 2, 1);
    put(out, body.size(), 4);
    out += body;
}

}  // namespace

namespace quarn_record {

bool on() {
    return recording.load(std::memory_order_relaxed);
}

void answer(const char *call, const std::string &key, const void *data, std::size_t len) {
    keep(call, key, k_answer, false, 0, data, len);
}

void answer_value(const char *call, const std::string &key, long value, const void *data,
                  std::size_t len) {
    keep(call, key, k_answer, true, value, data, len);
}

void error(const char *call, const std::string &key, int err) {
    keep(call, key, k_error, false, err, nullptr, 0);
}

void result(const char *call, const std::string &key, long rc) {
    int err = errno;
    if (rc == -1 && err != 0)
        keep(call, key, k_error, false, err, nullptr, 0);
    else
        keep(call, key, k_answer, true, rc, nullptr, 0);
    errno = err;
}

void measure(const char *call, const std::string &key, std::size_t size) {
    keep(call, key, k_measure, false, static_cast<std::int64_t>(size), nullptr, 0);
}

void sysctl(const std::string &key, const void *oldp, const std::size_t *oldlenp,
            const void *newp, int rc) {
    if (newp != nullptr)
        return;  // a setter: nothing of the machine's to keep
    if (rc != 0)
        error("sysctl", key, errno);
    else if (oldlenp == nullptr)
        answer("sysctl", key, nullptr, 0);
    else if (oldp == nullptr)
        measure("sysctl", key, *oldlenp);
    else
        answer("sysctl", key, oldp, *oldlenp);
}

}  // namespace quarn_record

extern "C" int quarn_record_start(void) {
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    s.keys.clear();
    s.at.clear();
    s.kept = 0;
    s.failed = false;
    recording = true;
    return 0;
}

extern "C" void quarn_record_stop(void) {
    recording = false;
}

extern "C" std::size_t quarn_record_take(char *buf, std::size_t size) try {
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.failed)
        return SIZE_MAX;
    std::string out;
    for (const key_runs &k : s.keys)
        lay_out(out, k);
    if (buf != nullptr && size >= out.size())
        std::memcpy(buf, out.data(), out.size());
    return out.size();
} catch (const std::bad_alloc &) {
    return SIZE_MAX;
}
