// FreeBSD amd64 records, constants and calls for mounts and device
// statistics, as the stand-in provides them.
#pragma once

#include <cstddef>
#include <cstdint>

// Included at the end of freebsd.h, after timeval and kvm_t.

namespace bsd {

// Mount table (sys/mount.h).
#define MFSNAMELEN 16
#define MNAMELEN 1024

struct fsid_t {
    std::int32_t val[2];
};

struct statfs {
    std::uint32_t f_version;
    std::uint32_t f_type;
    std::uint64_t f_flags;
    std::uint64_t f_bsize;
    std::uint64_t f_iosize;
    std::uint64_t f_blocks;
    std::uint64_t f_bfree;
    std::int64_t f_bavail;
    std::uint64_t f_files;
    std::int64_t f_ffree;
    std::uint64_t f_syncwrites;
    std::uint64_t f_asyncwrites;
    std::uint64_t f_syncreads;
    std::uint64_t f_asyncreads;
    std::uint32_t f_nvnodelistsize;
    std::uint32_t f_spare0;
    std::uint64_t f_spare[9];
    std::uint32_t f_namemax;
    std::uint32_t f_owner;
    fsid_t f_fsid;
    char f_charspare[80];
    char f_fstypename[MFSNAMELEN];
    char f_mntfromname[MNAMELEN];
    char f_mntonname[MNAMELEN];
};
static_assert(sizeof(statfs) == 2344);
static_assert(offsetof(statfs, f_flags) == 8);
static_assert(offsetof(statfs, f_fstypename) == 280);
static_assert(offsetof(statfs, f_mntfromname) == 296);
static_assert(offsetof(statfs, f_mntonname) == 1320);

#define STATFS_VERSION 0x20140518

#define MNT_WAIT 1
#define MNT_NOWAIT 2

#define MNT_RDONLY 0x0000000000000001ULL
#define MNT_SYNCHRONOUS 0x0000000000000002ULL
#define MNT_NOEXEC 0x0000000000000004ULL
#define MNT_NOSUID 0x0000000000000008ULL
#define MNT_NFS4ACLS 0x0000000000000010ULL
#define MNT_UNION 0x0000000000000020ULL
#define MNT_ASYNC 0x0000000000000040ULL
#define MNT_LOCAL 0x0000000000001000ULL
#define MNT_ROOTFS 0x0000000000004000ULL
#define MNT_SUIDDIR 0x0000000000100000ULL
#define MNT_SOFTDEP 0x0000000000200000ULL
#define MNT_NOSYMFOLLOW 0x0000000000400000ULL
#define MNT_GJOURNAL 0x0000000002000000ULL
#define MNT_MULTILABEL 0x0000000004000000ULL
#define MNT_ACLS 0x0000000008000000ULL
#define MNT_NOATIME 0x0000000010000000ULL
#define MNT_NOCLUSTERR 0x0000000040000000ULL
#define MNT_NOCLUSTERW 0x0000000080000000ULL

// Device statistics (sys/devicestat.h, devstat.h).
#define DEVSTAT_VERSION 6
#define DEVSTAT_NAME_LEN 16
#define DEVSTAT_N_TRANS_FLAGS 4
#define DEVSTAT_NO_DATA 0
#define DEVSTAT_READ 1
#define DEVSTAT_WRITE 2
#define DEVSTAT_FREE 3
#define CPUSTATES 5

struct bintime {
    std::int64_t sec;
    std::uint64_t frac;
};

struct devstat {
    unsigned sequence0;
    int allocated;
    unsigned start_count;
    unsigned end_count;
    bintime busy_from;
    devstat *dev_links;
    std::uint32_t device_number;
    char device_name[DEVSTAT_NAME_LEN];
    int unit_number;
    std::uint64_t bytes[DEVSTAT_N_TRANS_FLAGS];
    std::uint64_t operations[DEVSTAT_N_TRANS_FLAGS];
    bintime duration[DEVSTAT_N_TRANS_FLAGS];
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
    long cp_time[CPUSTATES];
    long tk_nin;
    long tk_nout;
    devinfo *dinfo;
    long double snap_time;
};

int devstat_checkversion(kvm_t *kd);
int devstat_getdevs(kvm_t *kd, statinfo *stats);
int getfsstat(statfs *buf, long bufsize, int mode);

}  // namespace bsd
