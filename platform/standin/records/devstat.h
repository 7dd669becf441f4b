// FreeBSD amd64's devstat.h and sys/devicestat.h, as the stand-in provides it:
// device statistics.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/kvm.h"
#include "standin/records/sys_time.h"

namespace bsd {

struct devstat {
    unsigned sequence0;
    int allocated;
    unsigned start_count;
    unsigned end_count;
    bintime busy_from;
    devstat *dev_links;
    std::uint32_t device_number;
    char device_name[devstat_name_len];
    int unit_number;
    std::uint64_t bytes[devstat_n_trans_flags];
    std::uint64_t operations[devstat_n_trans_flags];
    bintime duration[devstat_n_trans_flags];
    bintime busy_time;
    bintime creation_time;
    std::uint32_t block_size;
    std::uint64_t tag_types[3];
    int flags;
    int device_type;
    int priority;
    const void *id;
    unsigned sequence1;
};
static_assert(sizeof(devstat) == 288);
static_assert(offsetof(devstat, device_name) == 44);
static_assert(offsetof(devstat, unit_number) == 60);
static_assert(offsetof(devstat, bytes) == 64);
static_assert(offsetof(devstat, operations) == 96);
static_assert(offsetof(devstat, duration) == 128);
static_assert(offsetof(devstat, busy_time) == 192);

struct devinfo {
    devstat *devices;
    std::uint8_t *mem_ptr;
    long generation;
    int numdevs;
};
static_assert(sizeof(devinfo) == 32);

struct statinfo {
    long cp_time[cpustates];
    long tk_nin;
    long tk_nout;
    devinfo *dinfo;
    long double snap_time;
};

int devstat_checkversion(kvm_t *kd);

int devstat_getdevs(kvm_t *kd, statinfo *stats);

}  // namespace bsd
