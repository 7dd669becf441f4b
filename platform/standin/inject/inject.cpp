#include "standin/inject/inject.h"
#include "standin/inject/replay.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The log keeps at most this many entries; later calls are counted only.
constexpr std::size_t log_limit = 100000;

struct log_entry {
    std::string call;
    std::string key;
    const char *op;
    std::size_t size;
};

// The steps of one key: consumed in order, the last stays in force. Most
// keys have one step, kept in place; a table of 100,000 keys stays small and
// a lookup touches no further block.
struct queue {
    standin::step first;
    std::vector<standin::step> more;  // the steps after the first
    std::size_t count = 0;
    std::size_t next = 0;

    void add(standin::step st) {
        if (count++ == 0)
            first = std::move(st);
        else
            more.push_back(std::move(st));
    }
    const standin::step &take() {
        const standin::step &st = next == 0 ? first : more[next - 1];
        if (next + 1 < count)
            next++;
        return st;
    }
};

// Steps by key, for one call name. Call names are few, keys may be many:
// the queues lie in one array in the order they were added, found through an
// open-addressing index of (hash, position) slots, so a lookup touches one
// slot and one queue, never a chain of separate nodes.
struct call_steps {
    std::string call;
    std::vector<std::pair<std::string, queue>> queues;
    struct slot {
        std::size_t hash;
        std::size_t pos;  // position in queues plus 1; 0: empty
    };
    std::vector<slot> slots;  // a power of two, at most half full

    static std::size_t hash_of(std::string_view key) {
        return std::hash<std::string_view>{}(key);
    }

    queue *find(std::string_view key) {
        if (slots.empty())
            return nullptr;
        std::size_t h = hash_of(key);
        std::size_t mask = slots.size() - 1;
        // Half the slots at least are empty: the probe ends.
        for (std::size_t i = h & mask; slots[i].pos != 0; i = (i + 1) & mask) {
            if (slots[i].hash == h && queues[slots[i].pos - 1].first == key)
                return &queues[slots[i].pos - 1].second;
        }
        return nullptr;
    }

    void place(std::size_t h, std::size_t pos) {
        std::size_t mask = slots.size() - 1;
        std::size_t i = h & mask;
        while (slots[i].pos != 0)
            i = (i + 1) & mask;
        slots[i] = {h, pos};
    }

    // The queue of key, made empty if new; added tells which.
    queue &get(std::string_view key, bool &added) {
        added = false;
        if (queue *q = find(key))
            return *q;
        added = true;
        if ((queues.size() + 1) * 2 > slots.size()) {
            std::vector<slot> old;
            old.swap(slots);
            slots.assign(old.empty() ? 16 : old.size() * 2, slot{0, 0});
            for (const slot &sl : old)
                if (sl.pos != 0)
                    place(sl.hash, sl.pos);
        }
        queues.emplace_back(std::string(key), queue{});
        place(hash_of(key), queues.size());
        return queues.back().second;
    }
};

// How many call names share a slot of the quick check below.
constexpr std::size_t slots = 64;

struct store {
    std::mutex lock;
    std::vector<call_steps> calls;
    std::vector<log_entry> log;
    // Set once the log holds log_limit entries: later calls skip the lock.
    std::atomic<bool> log_full{false};
    // Keys injected per slot of call names. A call reads its slot without
    // the lock: nothing injected under its name means answer live at once.
    std::atomic<std::size_t> injected[slots] = {};
};

store &the_store() {
    static store s;
    return s;
}

std::size_t slot_of(std::string_view call) {
    return std::hash<std::string_view>{}(call) % slots;
}

// Nothing is logged until a test first speaks to the injection interface, so
// live use never pays for the log.
std::atomic<bool> log_active{false};

call_steps *find_call(store &s, std::string_view call) {
    for (call_steps &c : s.calls)
        if (c.call == call)
            return &c;
    return nullptr;
}

int push(const char *call, const char *key, standin::step st) try {
    log_active = true;
    if (call == nullptr || key == nullptr)
        return -1;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    call_steps *c = find_call(s, call);
    if (c == nullptr) {
        s.calls.emplace_back();
        s.calls.back().call = call;
        c = &s.calls.back();
    }
    bool added;
    c->get(key, added).add(std::move(st));
    if (added)
        s.injected[slot_of(call)].fetch_add(1, std::memory_order_release);
    return 0;
} catch (const std::bad_alloc &) {
    return -1;
}

}  // namespace

namespace standin {

bool injected_step(const char *call, const std::string &key, step &out) {
    store &s = the_store();
    if (s.injected[slot_of(call)].load(std::memory_order_acquire) == 0)
        return false;
    std::lock_guard<std::mutex> g(s.lock);
    call_steps *c = find_call(s, call);
    if (c == nullptr)
        return false;
    queue *q = c->find(key);
    if (q == nullptr)
        return false;
    out = q->take();
    return out.kind != step::live;
}

// An injected step first; then, under replay, the recording's answer.
bool next_step(const char *call, const std::string &key, step &out) {
    if (injected_step(call, key, out))
        return true;
    return replay_step(call, key, out);
}

// A call is not failed for want of room in the log: the entry is dropped.
void log_call(const char *call, const std::string &key, const char *op, std::size_t size) {
    if (!log_active.load(std::memory_order_relaxed))
        return;
    store &s = the_store();
    if (s.log_full.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> g(s.lock);
    try {
        if (s.log.size() < log_limit)
            s.log.push_back({call, key, op, size});
        else
            s.log_full = true;
    } catch (const std::bad_alloc &) {
    }
}

}  // namespace standin

extern "C" void standin_reset(void) {
    log_active = true;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    for (std::atomic<std::size_t> &n : s.injected)
        n.store(0, std::memory_order_release);
    s.calls.clear();
    s.log.clear();
    s.log_full = false;
}
extern "C" int standin_answer(const char *call, const char *key, const void *data,
                              std::size_t len) try {
    standin::step st;
    st.kind = standin::step::answer;
    if (len)
        st.bytes = std::make_shared<const std::string>(static_cast<const char *>(data), len);
    return push(call, key, std::move(st));
} catch (const std::bad_alloc &) {
    return -1;
}

extern "C" int standin_answer_value(const char *call, const char *key, long value,
                                    const void *data, std::size_t len) try {
    standin::step st;
    st.kind = standin::step::answer;
    st.value = value;
    st.has_value = true;
    if (len)
        st.bytes = std::make_shared<const std::string>(static_cast<const char *>(data), len);
    return push(call, key, std::move(st));
} catch (const std::bad_alloc &) {
    return -1;
}

extern "C" int standin_error(const char *call, const char *key, int err) {
    standin::step st;
    st.kind = standin::step::error;
    st.err = err;
    return push(call, key, std::move(st));
}

extern "C" int standin_live(const char *call, const char *key) {
    return push(call, key, standin::step{});
}

// The log as text, one "call<TAB>key<TAB>op<TAB>size" line per call. Like a
// kernel measure, a null buffer asks for the size needed; 0 when there is no
// memory to lay it out.
extern "C" std::size_t standin_log(char *buf, std::size_t size) try {
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    std::string text;
    for (const log_entry &e : s.log) {
        text += e.call;
        text += '\t';
        text += e.key;
        text += '\t';
        text += e.op;
        text += '\t';
        text += std::to_string(e.size);
        text += '\n';
    }
    if (buf != nullptr && size > 0) {
        std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return text.size() + 1;
} catch (const std::bad_alloc &) {
    return 0;
}

extern "C" void standin_log_clear(void) {
    log_active = true;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    s.log.clear();
    s.log_full = false;
}
