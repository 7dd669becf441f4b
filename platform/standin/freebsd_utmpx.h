// FreeBSD amd64 login records (utmpx.h), as the stand-in provides them.
#pragma once

#include <cstddef>
#include <cstdint>

// Included at the end of freebsd.h, after timeval.
namespace bsd {

// Login record types (utmpx.h). Constants, since the host's utmpx.h has
// macros of these names with other values; freebsd_clash.h gives module code
// the FreeBSD macros.
inline constexpr short ut_empty = 0;
inline constexpr short ut_boot_time = 1;
inline constexpr short ut_old_time = 2;
inline constexpr short ut_new_time = 3;
inline constexpr short ut_user_process = 4;
inline constexpr short ut_init_process = 5;
inline constexpr short ut_login_process = 6;
inline constexpr short ut_dead_process = 7;
inline constexpr short ut_shutdown_time = 8;

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
