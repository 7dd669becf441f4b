#include "inject.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
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

struct store {
    std::mutex lock;
    std::map<std::pair<std::string, std::string>, std::deque<standin::step>> steps;
    std::vector<log_entry> log;
};

store &the_store() {
    static store s;
    return s;
}

// Nothing is logged until a test first speaks to the injection interface, so
// live use never pays for the log.
std::atomic<bool> log_active{false};

int push(const char *call, const char *key, standin::step st) {
    log_active = true;
    if (call == nullptr || key == nullptr)
        return -1;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    s.steps[{call, key}].push_back(std::move(st));
    return 0;
}

}  // namespace

namespace standin {

bool next_step(const char *call, const std::string &key, step &out) {
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.steps.empty())
        return false;
    auto it = s.steps.find({call, key});
    if (it == s.steps.end() || it->second.empty())
        return false;
    out = it->second.front();
    if (it->second.size() > 1)
        it->second.pop_front();
    return out.kind != step::live;
}

void log_call(const char *call, const std::string &key, const char *op, std::size_t size) {
    if (!log_active)
        return;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    if (s.log.size() < log_limit)
        s.log.push_back({call, key, op, size});
}

}  // namespace standin

extern "C" void standin_reset(void) {
    log_active = true;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    s.steps.clear();
    s.log.clear();
}

extern "C" int standin_answer(const char *call, const char *key, const void *data,
                              std::size_t len) {
    standin::step st;
    st.kind = standin::step::answer;
    if (len)
        st.bytes = std::make_shared<const std::string>(static_cast<const char *>(data), len);
    return push(call, key, std::move(st));
}

extern "C" int standin_answer_value(const char *call, const char *key, long value,
                                    const void *data, std::size_t len) {
    standin::step st;
    st.kind = standin::step::answer;
    st.value = value;
    st.has_value = true;
    if (len)
        st.bytes = std::make_shared<const std::string>(static_cast<const char *>(data), len);
    return push(call, key, std::move(st));
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
// kernel measure, a null buffer asks for the size needed.
extern "C" std::size_t standin_log(char *buf, std::size_t size) {
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
}

extern "C" void standin_log_clear(void) {
    log_active = true;
    store &s = the_store();
    std::lock_guard<std::mutex> g(s.lock);
    s.log.clear();
}
