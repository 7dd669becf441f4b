// FreeBSD amd64's utmpx.h, as the stand-in provides it: login records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_time.h"

namespace bsd {

struct utmpx {
    short ut_type;
    timeval ut_tv;
    char ut_id[8];
    std::int32_t ut_pid;
    char ut_user[32];
    char ut_line[16];
    char ut_host[128];
    char __ut_spare[64];
};
static_assert(sizeof(utmpx) == 280);
static_assert(offsetof(utmpx, ut_tv) == 8);
static_assert(offsetof(utmpx, ut_pid) == 32);
static_assert(offsetof(utmpx, ut_user) == 36);
static_assert(offsetof(utmpx, ut_line) == 68);
static_assert(offsetof(utmpx, ut_host) == 84);

void setutxent(void);

utmpx *getutxent(void);

void endutxent(void);

}  // namespace bsd
