// The one way into a stand-in call.
//
// Every platform call of the stand-in logs itself under its name and key,
// then takes the next injected step for them: an error step fails the call
// as the call fails, an answer step is delivered, and with no step the live
// host answers. The calls are C calls to the module, so a std::bad_alloc
// from their containers never unwinds into it (or through the interpreter):
// running out of memory fails the call as FreeBSD's does when the kernel or
// the library runs out.
//
// Each call supplies its name, its key, what its log line says, how it
// fails, how an injected answer is delivered and its live answer:
//
//     return standin::run("kill", pid, {"call", sig}, standin::fails_with(-1),
//                         [](const standin::step &) { return 0; },
//                         [&] { return live_kill(pid); });
#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "record/keep.h"
#include "standin/inject/inject.h"

namespace standin {

// What the log line of a call says besides its name and key.
struct logged {
    const char *op = "call";
    std::size_t size = 0;
};

// The failure of most calls: errno and the call's failure value, ENOMEM when
// memory runs out.
template <class R> struct fails_with {
    R failed;
    explicit fails_with(R value) : failed(value) {}
    R error(int err) const {
        errno = err;
        return failed;
    }
    R out_of_memory() const { return error(ENOMEM); }
};

// A key is made into text inside the call's guard, so that running out of
// memory there fails the call like any other allocation.
inline std::string key_text(const char *text) {
    return text;
}
inline std::string key_text(const std::string &text) {
    return text;
}
template <class N>
    requires std::is_integral_v<N>
std::string key_text(N number) {
    return std::to_string(number);
}
template <class F>
    requires std::is_invocable_r_v<std::string, F>
std::string key_text(const F &make) {
    return make();
}

// Nothing to check before the step.
struct no_checks {
    int operator()() const { return 0; }
};

// Nothing of the live answer to keep for a recording.
struct no_keep {
    template <class R> void operator()(const std::string &, const R &) const {}
};

// Keeps a call's result (a value, or -1 and its errno) for a recording.
inline auto keeps_result(const char *name) {
    return [name](const std::string &k, long rc) { quarn_record::result(name, k, rc); };
}

// One call: logs it; checks() may refuse it with an errno before any step is
// taken (errno and fail.failed); then the next injected (or replayed) step
// decides: an error step is fail.error(its errno), an answer step
// injected(step); with none, live() answers, and while a recording runs
// keep(key, its result) keeps the answer (leaving errno as it was). A kernel
// parameter's write takes no replayed step: under replay, its live path
// changes the replayed answer.
template <class Fail, class Key, class Injected, class Live, class Checks = no_checks,
          class Keep = no_keep>
auto run(const char *name, const Key &key, logged log, const Fail &fail, Injected injected,
         Live live, Checks checks = Checks(), Keep keep = Keep()) -> decltype(live()) {
    try {
        std::string k = key_text(key);
        log_call(name, k, log.op, log.size);
        if (int err = checks(); err != 0) {
            errno = err;
            return fail.failed;
        }
        step st;
        bool write = std::string_view(name) == "sysctl" && std::string_view(log.op) == "write";
        if (write ? injected_step(name, k, st) : next_step(name, k, st)) {
            if (st.kind == step::error)
                return fail.error(st.err);
            return injected(st);
        }
        auto out = live();
        if (quarn_record::on()) {
            int err = errno;
            keep(k, out);
            errno = err;
        }
        return out;
    } catch (const std::bad_alloc &) {
        return fail.out_of_memory();
    }
}

// No injected table is laid out with more entries than this; a count
// claimed beyond it fails the call as the allocation would.
inline constexpr std::size_t max_table_entries = std::size_t(1) << 20;

// The entries an injected table is laid out with: the whole entries its
// bytes hold, or the count its value claims where that is more, with zeroed
// entries behind them, since a library's count always has an array behind
// it. False when that is more than max_table_entries.
inline bool table_slots(const step &st, std::size_t held, std::size_t &slots) {
    slots = held;
    if (st.has_value && st.value > 0 && static_cast<std::size_t>(st.value) > held)
        slots = static_cast<std::size_t>(st.value);
    return slots <= max_table_entries;
}

// The count an injected table reports: its value if it has one, else the
// whole entries held; the library's count is an int, so a claim below the
// int range is held at its lowest value. Never above table_slots' slots.
inline int table_count(const step &st, std::size_t held) {
    long count = st.has_value ? st.value : static_cast<long>(held);
    return count < INT_MIN ? INT_MIN : static_cast<int>(count);
}

}  // namespace standin
