// FreeBSD amd64's net/if_media.h, as the stand-in provides it: the media
// request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

struct ifmediareq {
    char ifm_name[16];
    int ifm_current;
    int ifm_mask;
    int ifm_status;
    int ifm_active;
    int ifm_count;
    int *ifm_ulist;
};
static_assert(sizeof(ifmediareq) == 48);
static_assert(offsetof(ifmediareq, ifm_active) == 28);
static_assert(offsetof(ifmediareq, ifm_ulist) == 40);

}  // namespace bsd
