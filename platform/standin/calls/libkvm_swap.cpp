// kvm_getswapinfo: the host's swap table as the kernel memory interface's
// swap totals.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standin/freebsd.h"
#include "standin/answers/answers.h"
#include "standin/calls/call.h"
#include "standin/calls/kvm_handle.h"

namespace standin {
namespace {

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

// Copies injected kvm_swap entries, at most swap_max of them.
int injected_swapinfo(const step &st, bsd::kvm_swap *swap_ary, int swap_max) {
    std::size_t n = st.data().size() / sizeof(bsd::kvm_swap);
    std::size_t room = swap_max > 0 ? static_cast<std::size_t>(swap_max) : 0;
    if (n > room)
        n = room;
    if (n)
        std::memcpy(swap_ary, st.data().data(), n * sizeof(bsd::kvm_swap));
    return st.has_value ? static_cast<int>(st.value) : 0;
}

int live_swapinfo(bsd::kvm_t *kd, bsd::kvm_swap *swap_ary, int swap_max) {
    std::vector<swap_device> devs;
    if (!live_swap_devices(devs)) {
        std::snprintf(kd->errbuf, sizeof(kd->errbuf), "cannot read the swap table");
        errno = EIO;
        return -1;
    }
    return fill_swapinfo(devs, swap_ary, swap_max);
}

}  // namespace
}  // namespace standin

namespace bsd {

// Injected: an error step fails with its errno and -1; an answer step copies
// its data as whole kvm_swap entries (at most swap_max) and returns its
// value, or 0 without one.
int kvm_getswapinfo(kvm_t *kd, kvm_swap *swap_ary, int swap_max, int flags) {
    (void)flags;
    return standin::run(
        "kvm_getswapinfo", "", {"call", standin::count_logged(swap_max)},
        standin::fails_with(-1),
        [&](const standin::step &st) {
            return standin::injected_swapinfo(st, swap_ary, swap_max);
        },
        [&] { return standin::live_swapinfo(kd, swap_ary, swap_max); },
        [&] { return kd == nullptr || swap_ary == nullptr ? EINVAL : 0; },
        [&](const std::string &k, int n) {
            if (n == -1)
                quarn_record::error("kvm_getswapinfo", k, errno);
            else
                quarn_record::answer_value("kvm_getswapinfo", k, n, swap_ary,
                                           standin::count_logged(swap_max) * sizeof(kvm_swap));
        });
}

}  // namespace bsd
