// FreeBSD amd64's sys/caprights.h, as the stand-in provides it: a
// descriptor's capability rights.
#pragma once

#include <cstdint>

namespace bsd {

struct cap_rights {
    std::uint64_t cr_rights[2];
};
static_assert(sizeof(cap_rights) == 16);

using cap_rights_t = cap_rights;

}  // namespace bsd
