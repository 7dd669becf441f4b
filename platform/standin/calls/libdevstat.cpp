// devstat_checkversion and devstat_getdevs: the host's /proc/diskstats as
// FreeBSD device statistics records, one per whole block device.
//
// Host names become a driver name and a unit number whose "%s%d" gives back
// a name the user knows (see split_name and docs/standin.md).
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/inject/inject.h"
#include "standin/calls/call.h"
#include "standin/answers/answers.h"

namespace standin {
namespace {

constexpr std::size_t record_size = sizeof(bsd::devstat);
constexpr std::size_t name_room = bsd::devstat_name_len - 1;

// Disk drivers whose drives the host names by letters: sda, vdb, xvdc,
// hdd. Their letters count from a as unit 0 (sdz 25, sdaa 26).
const char *const lettered[] = {"xvd", "sd", "vd", "hd"};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A name ending in digits is the driver name and the unit number (loop0,
// nvme0n1, mmcblk0, dm-0), so the key is the host's name. A lettered disk
// becomes its driver and the drive's number (sda as sd0). Anything else is
// unit 0 of a driver of its own name. False when it has no usable form.
bool split_name(std::string_view name, std::string &driver, int &unit) {
    std::size_t end = name.size();
    while (end > 0 && is_digit(name[end - 1]))
        end--;
    if (end > 0 && end < name.size()) {
        auto [p, ec] = std::from_chars(name.data() + end, name.data() + name.size(), unit);
        if (ec != std::errc() || p != name.data() + name.size())
            return false;
        driver.assign(name.substr(0, end));
        return driver.size() <= name_room;
    }
    for (const char *prefix : lettered) {
        std::string_view pre(prefix);
        if (name.size() <= pre.size() || name.substr(0, pre.size()) != pre ||
            name.size() - pre.size() > 4)
            continue;
        long n = 0;
        bool letters = true;
        for (char c : name.substr(pre.size())) {
            if (c < 'a' || c > 'z') {
                letters = false;
                break;
            }
            n = n * 26 + (c - 'a' + 1);
        }
        if (!letters)
            continue;
        driver.assign(pre);
        unit = static_cast<int>(n - 1);
        return true;
    }
    driver.assign(name);
    unit = 0;
    return !name.empty() && name.size() <= name_room;
}

// Milliseconds as a bintime whose fraction reads back as the same whole
// milliseconds: the upper 32 bits are rounded up, never down.
bsd::bintime from_ms(unsigned long long ms) {
    bsd::bintime bt;
    bt.sec = static_cast<std::int64_t>(ms / 1000);
    std::uint64_t rest = ms % 1000;
    std::uint64_t upper = ((rest << 32) + 999) / 1000;
    bt.frac = upper << 32;
    return bt;
}

bool is_partition(std::string_view name) {
    host_file path("/sys/class/block/%.*s/partition", static_cast<int>(name.size()), name.data());
    return ::access(path.c_str(), F_OK) == 0;
}

// One record per whole device of /proc/diskstats; partitions are not
// devices of their own on FreeBSD.
int live_devices(std::string &out) {
    std::string text;
    if (!read_file(host_file("/proc/diskstats").c_str(), text))
        return ENOENT;
    for_each_line(text, [&](std::string_view line) {
        std::string_view w[14];
        if (split_words(line, w, 14) < 13)
            return true;
        std::string_view name = w[2];
        std::string driver;
        int unit;
        if (!split_name(name, driver, unit) || is_partition(name))
            return true;
        bsd::devstat ds;
        std::memset(&ds, 0, sizeof(ds));
        ds.allocated = 1;
        ds.device_number = static_cast<std::uint32_t>(to_ull(w[0]) << 8 | (to_ull(w[1]) & 0xff));
        std::memcpy(ds.device_name, driver.data(), driver.size());
        ds.unit_number = unit;
        ds.operations[bsd::devstat_read] = to_ull(w[3]);
        ds.bytes[bsd::devstat_read] = to_ull(w[5]) * 512;
        ds.duration[bsd::devstat_read] = from_ms(to_ull(w[6]));
        ds.operations[bsd::devstat_write] = to_ull(w[7]);
        ds.bytes[bsd::devstat_write] = to_ull(w[9]) * 512;
        ds.duration[bsd::devstat_write] = from_ms(to_ull(w[10]));
        ds.busy_time = from_ms(to_ull(w[12]));
        ds.block_size = 512;
        append_record(out, ds);
        return true;
    });
    return 0;
}

long double monotonic_seconds() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long double>(ts.tv_sec) + static_cast<long double>(ts.tv_nsec) / 1e9L;
}

// Lays the records out in mem_ptr (grown when the caller passes one back),
// after a long that holds the generation; numdevs is the number of whole
// records held, or a lower count claimed.
int publish(bsd::statinfo *stats, const std::string &records, bool claimed, long claim) {
    std::size_t held = records.size() / record_size;
    bsd::devinfo *di = stats->dinfo;
    std::size_t size = sizeof(long) + held * record_size;
    auto *block = static_cast<std::uint8_t *>(std::realloc(di->mem_ptr, size));
    if (block == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    long generation = 1;
    std::memcpy(block, &generation, sizeof(long));
    if (held)
        std::memcpy(block + sizeof(long), records.data(), held * record_size);
    int changed = di->generation != generation ? 1 : 0;
    di->mem_ptr = block;
    di->devices = reinterpret_cast<bsd::devstat *>(block + sizeof(long));
    di->generation = generation;
    di->numdevs = static_cast<int>(held);
    if (claimed && claim < static_cast<long>(held))
        di->numdevs = static_cast<int>(claim < INT_MIN ? INT_MIN : claim);
    stats->snap_time = monotonic_seconds();
    return changed;
}

}  // namespace

std::string freebsd_disk_name(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || name[0] == '.')
        return {};
    int len = static_cast<int>(name.size());
    host_file dir("/sys/class/block/%.*s", len, name.data());
    if (::access(dir.c_str(), F_OK) != 0)
        return {};
    std::string disk(name), part;
    if (is_partition(name)) {
        std::string number;
        if (!read_file(host_file("/sys/class/block/%.*s/partition", len, name.data()).c_str(),
                       number, 64))
            return {};
        while (!number.empty() && is_blank(number.back()))
            number.pop_back();
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
            return {};
        // /sys/class/block/vda1 leads to .../block/vda/vda1: the disk is
        // the folder above the partition's.
        char real[PATH_MAX];
        if (::realpath(dir.c_str(), real) == nullptr)
            return {};
        std::string_view r(real);
        std::size_t cut = r.rfind('/');
        if (cut == std::string_view::npos || cut == 0)
            return {};
        r = r.substr(0, cut);
        disk.assign(r.substr(r.rfind('/') + 1));
        part = "p" + number;
    }
    std::string driver;
    int unit;
    if (!split_name(disk, driver, unit))
        return {};
    return driver + std::to_string(unit) + part;
}

}  // namespace standin

namespace bsd {

// Injected: an answer returns its value (0 if none), an error fails with
// its errno.
int devstat_checkversion(kvm_t *) {
    return standin::run(
        "devstat_checkversion", "", {}, standin::fails_with(-1),
        [](const standin::step &st) { return st.has_value ? static_cast<int>(st.value) : 0; },
        [] { return 0; });
}

// As FreeBSD's library: the records go into mem_ptr; an injected value
// claims numdevs, but the library never claims more records than it holds.
int devstat_getdevs(kvm_t *, statinfo *stats) {
    return standin::run(
        "devstat_getdevs", "", {}, standin::fails_with(-1),
        [&](const standin::step &st) {
            return standin::publish(stats, st.data(), st.has_value, st.value);
        },
        [&] {
            std::string records;
            if (int err = standin::live_devices(records); err != 0) {
                errno = err;
                return -1;
            }
            return standin::publish(stats, records, false, -1);
        },
        [&] { return stats == nullptr || stats->dinfo == nullptr ? EINVAL : 0; },
        [&](const std::string &k, int rc) {
            if (rc == -1)
                quarn_record::error("devstat_getdevs", k, errno);
            else
                quarn_record::answer("devstat_getdevs", k, stats->dinfo->devices,
                                     static_cast<std::size_t>(stats->dinfo->numdevs) *
                                         sizeof(devstat));
        });
}

}  // namespace bsd
