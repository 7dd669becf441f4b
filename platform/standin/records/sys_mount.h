// FreeBSD amd64's sys/mount.h, as the stand-in provides it: the mount table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

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
    char f_fstypename[mfsnamelen];
    char f_mntfromname[mnamelen];
    char f_mntonname[mnamelen];
};
static_assert(sizeof(statfs) == 2344);
static_assert(offsetof(statfs, f_flags) == 8);
static_assert(offsetof(statfs, f_fstypename) == 280);
static_assert(offsetof(statfs, f_mntfromname) == 296);
static_assert(offsetof(statfs, f_mntonname) == 1320);

int getfsstat(statfs *buf, long bufsize, int mode);

}  // namespace bsd
