// The kernel memory interface: kvm_open, kvm_getswapinfo and kvm_close.
//
// A handle needs no kernel image here: swap figures come from the host's
// swap table. All three calls log themselves and take injected steps under
// the key "".
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "freebsd.h"
#include "inject.h"
#include "live.h"

namespace bsd {

// What an open handle holds; kvm_geterr's text lives here.
struct kvm_t {
    int flags;
    char errbuf[2048];
};

}  // namespace bsd

namespace standin {
namespace {

bsd::kvm_t *new_handle(int flags) {
    auto *kd = new (std::nothrow) bsd::kvm_t;
    if (kd == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    kd->flags = flags;
    kd->errbuf[0] = '\0';
    return kd;
}

bsd::u_int clamp_pages(std::uint64_t pages) {
    return pages > UINT_MAX ? UINT_MAX : static_cast<bsd::u_int>(pages);
}

void set_devname(bsd::kvm_swap &sw, const std::string &name) {
    std::size_t n = name.size() < sizeof(sw.ksw_devname) - 1 ? name.size()
                                                               : sizeof(sw.ksw_devname) - 1;
    std::memcpy(sw.ksw_devname, name.data(), n);
    sw.ksw_devname[n] = '\0';
}

// As the library does: one entry per device while there is room for it and
// the totals, the totals after the last device (or in the last entry), and
// the index of the totals as the result.
int fill_swapinfo(const std::vector<swap_device> &devs, bsd::kvm_swap *swap_ary, int swap_max) {
    bsd::kvm_swap tot;
    std::memset(&tot, 0, sizeof(tot));
    set_devname(tot, "total");
    std::uint64_t total = 0, used = 0;
    int ndev = devs.size() > INT_MAX ? INT_MAX : static_cast<int>(devs.size());
    for (int i = 0; i < ndev; i++) {
        if (i + 1 < swap_max) {
            bsd::kvm_swap &sw = swap_ary[i];
            std::memset(&sw, 0, sizeof(sw));
            set_devname(sw, devs[i].name);
            sw.ksw_total = clamp_pages(devs[i].total);
            sw.ksw_used = clamp_pages(devs[i].used);
        }
        total += devs[i].total;
        used += devs[i].used;
    }
    tot.ksw_total = clamp_pages(total);
    tot.ksw_used = clamp_pages(used);
    int ti = ndev < swap_max ? ndev : swap_max - 1;
    if (ti >= 0)
        swap_ary[ti] = tot;
    return ti;
}

}  // namespace
}  // namespace standin

namespace bsd {

kvm_t *kvm_open(const char *execfile, const char *corefile, const char *swapfile, int flags,
                const char *errstr) {
    (void)execfile;
    (void)swapfile;
    standin::log_call("kvm_open", "", "call", 0);
    standin::step st;
    int err = 0;
    if (standin::next_step("kvm_open", "", st)) {
        if (st.kind == standin::step::answer)
            return standin::new_handle(flags);
        err = st.err;
    } else if (corefile != nullptr && std::strcmp(corefile, "/dev/null") != 0) {
        // Only the live kernel is offered, never a crash dump.
        err = EACCES;
    } else {
        kvm_t *kd = standin::new_handle(flags);
        if (kd != nullptr)
            return kd;
        err = ENOMEM;
    }
    // The library reports its own failure under the caller's prefix.
    if (errstr != nullptr)
        std::fprintf(stderr, "%s: %s\n", errstr, std::strerror(err));
    errno = err;
    return nullptr;
}

// Injected: an error step fails with its errno and -1; an answer step copies
// its data as whole kvm_swap entries (at most swap_max) and returns its
// value, or 0 without one.
int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags) {
    (void)flags;
    standin::log_call("kvm_getswapinfo", "", "call",
                      swap_max > 0 ? static_cast<std::size_t>(swap_max) : 0);
    if (kd == nullptr || swap_ary == nullptr) {
        errno = EINVAL;
        return -1;
    }
    standin::step st;
    if (standin::next_step("kvm_getswapinfo", "", st)) {
        if (st.kind == standin::step::error) {
            errno = st.err;
            return -1;
        }
        std::size_t n = st.data().size() / sizeof(kvm_swap);
        std::size_t room = swap_max > 0 ? static_cast<std::size_t>(swap_max) : 0;
        if (n > room)
            n = room;
        if (n)
            std::memcpy(swap_ary, st.data().data(), n * sizeof(kvm_swap));
        return st.has_value ? static_cast<int>(st.value) : 0;
    }
    std::vector<standin::swap_device> devs;
    if (!standin::live_swap_devices(devs)) {
        std::snprintf(kd->errbuf, sizeof(kd->errbuf), "cannot read the swap table");
        errno = EIO;
        return -1;
    }
    return standin::fill_swapinfo(devs, swap_ary, swap_max);
}

// Injected: an error step still releases the handle, then fails with its
// errno.
int kvm_close(kvm_t *kd) {
    standin::log_call("kvm_close", "", "call", 0);
    standin::step st;
    bool failed = standin::next_step("kvm_close", "", st) && st.kind == standin::step::error;
    delete kd;
    if (failed) {
        errno = st.err;
        return -1;
    }
    return 0;
}

}  // namespace bsd
