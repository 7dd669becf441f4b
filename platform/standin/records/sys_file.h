// FreeBSD amd64's sys/file.h, as the stand-in provides it: the records of the
// open-file table kern.file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct xfile {
    ksize_t xf_size;
    pid_t xf_pid;
    uid_t xf_uid;
    int xf_fd;
    int _xf_int_pad1;
    kvaddr_t xf_file;
    short xf_type;
    short _xf_short_pad1;
    int xf_count;
    int xf_msgcount;
    int _xf_int_pad2;
    std::int64_t xf_offset;
    kvaddr_t xf_data;
    kvaddr_t xf_vnode;
    u_int xf_flag;
    int _xf_int_pad3;
    std::int64_t _xf_int64_pad[6];
};
static_assert(sizeof(xfile) == 128);
static_assert(offsetof(xfile, xf_size) == 0);
static_assert(offsetof(xfile, xf_pid) == 8);
static_assert(offsetof(xfile, xf_fd) == 16);
static_assert(offsetof(xfile, xf_data) == 56);

}  // namespace bsd
