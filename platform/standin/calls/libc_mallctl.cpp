// mallctl over the host C library's allocator.
//
// The allocator's control interface is emulated for the few names the module
// uses: "epoch" (a write takes a statistics snapshot), "stats.allocated" and
// "stats.mapped" (read from that snapshot), "thread.tcache.flush" and
// "arena.4096.purge" (all arenas, a trim). Like the real interface, failures
// are the returned number and errno is left alone.
#include <malloc.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "standin/freebsd.h"
#include "standin/calls/call.h"

namespace standin {
namespace {

// The arena index that stands for every arena at once.
constexpr unsigned arenas_all = 4096;

struct allocator_stats {
    std::mutex lock;
    std::uint64_t epoch = 1;
    bool have_snapshot = false;
    std::uint64_t allocated = 0;
    std::uint64_t mapped = 0;
};

allocator_stats &the_stats() {
    static allocator_stats s;
    return s;
}

// Caller holds the lock.
void take_snapshot(allocator_stats &s) {
    struct mallinfo2 mi = ::mallinfo2();
    // In use: the arenas' allocated chunks plus the chunks mapped on their own.
    s.allocated = mi.uordblks + mi.hblkhd;
    // Mapped: the arenas' whole extent plus those separate mappings.
    s.mapped = mi.arena + mi.hblkhd;
    s.have_snapshot = true;
}

const char *op_of(const void *oldp, const void *newp) {
    if (newp != nullptr)
        return "write";
    return oldp == nullptr ? "call" : "read";
}

// Hands a 64-bit value to the caller: only an 8-byte old value fits.
int read_u64(std::uint64_t value, void *oldp, std::size_t *oldlenp) {
    if (oldp == nullptr)
        return 0;
    if (oldlenp == nullptr || *oldlenp != sizeof(value))
        return EINVAL;
    std::memcpy(oldp, &value, sizeof(value));
    return 0;
}

// A control that takes no value: either side given is refused.
bool has_values(void *oldp, std::size_t *oldlenp, void *newp, std::size_t newlen) {
    return oldp != nullptr || oldlenp != nullptr || newp != nullptr || newlen != 0;
}

int live_mallctl(const char *name, void *oldp, std::size_t *oldlenp, void *newp,
                 std::size_t newlen) {
    allocator_stats &s = the_stats();
    if (std::strcmp(name, "thread.tcache.flush") == 0) {
        // The host allocator offers no flush of a thread's cache; its cached
        // chunks count as in use either way.
        return has_values(oldp, oldlenp, newp, newlen) ? EPERM : 0;
    }
    if (std::strcmp(name, "epoch") == 0) {
        std::lock_guard<std::mutex> g(s.lock);
        if (newp != nullptr) {
            if (newlen != sizeof(std::uint64_t))
                return EINVAL;
            take_snapshot(s);
            s.epoch++;
        }
        return read_u64(s.epoch, oldp, oldlenp);
    }
    bool allocated = std::strcmp(name, "stats.allocated") == 0;
    if (allocated || std::strcmp(name, "stats.mapped") == 0) {
        if (newp != nullptr)
            return EPERM;
        std::lock_guard<std::mutex> g(s.lock);
        // Statistics exist from the start, as after the interface's own
        // first refresh.
        if (!s.have_snapshot)
            take_snapshot(s);
        return read_u64(allocated ? s.allocated : s.mapped, oldp, oldlenp);
    }
    std::string purge = "arena." + std::to_string(arenas_all) + ".purge";
    if (purge == name) {
        if (has_values(oldp, oldlenp, newp, newlen))
            return EPERM;
        ::malloc_trim(0);
        return 0;
    }
    return ENOENT;
}

}  // namespace
}  // namespace standin

namespace bsd {

// Injected: an error step returns its errno as the result; an answer step
// copies its data into the old value (cut to the caller's length) and
// returns 0, or its value when it has one.
int mallctl(const char *name, void *oldp, std::size_t *oldlenp, void *newp, std::size_t newlen) {
    // Like the real interface, failures are the returned number.
    struct number_failure {
        int failed = EINVAL;
        int error(int err) const { return err; }
        int out_of_memory() const { return EAGAIN; }  // the library's answer
    };
    if (name == nullptr)
        return EINVAL;
    return standin::run(
        "mallctl", name,
        {standin::op_of(oldp, newp), newp != nullptr ? newlen : (oldlenp ? *oldlenp : 0)},
        number_failure{},
        [&](const standin::step &st) {
            if (oldp != nullptr && oldlenp != nullptr) {
                std::size_t n = st.data().size() < *oldlenp ? st.data().size() : *oldlenp;
                std::memcpy(oldp, st.data().data(), n);
                *oldlenp = n;
            }
            return st.has_value ? static_cast<int>(st.value) : 0;
        },
        [&] { return standin::live_mallctl(name, oldp, oldlenp, newp, newlen); },
        standin::no_checks(), [&](const std::string &k, int rc) {
            if (rc != 0)
                quarn_record::error("mallctl", k, rc);
            else if (oldp != nullptr && oldlenp != nullptr)
                quarn_record::answer("mallctl", k, oldp, *oldlenp);
            else
                quarn_record::answer("mallctl", k, nullptr, 0);
        });
}

}  // namespace bsd
