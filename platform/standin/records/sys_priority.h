// FreeBSD amd64's sys/priority.h, as the stand-in provides it: a thread's
// scheduling priority.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"

namespace bsd {

struct priority {
    u_char pri_class;
    u_char pri_level;
    u_char pri_native;
    u_char pri_user;
};

}  // namespace bsd
