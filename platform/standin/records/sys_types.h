// FreeBSD amd64's sys/types.h, as the stand-in provides it: the basic types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

using pid_t = std::int32_t;

using lwpid_t = std::int32_t;

using uid_t = std::uint32_t;

using gid_t = std::uint32_t;

using dev_t = std::uint64_t;

using segsz_t = std::int64_t;

using vm_size_t = std::uint64_t;

using fixpt_t = std::uint32_t;

using u_char = unsigned char;

using u_short = unsigned short;

using u_int = unsigned int;

using sa_family_t = std::uint8_t;

using in_port_t = std::uint16_t;

using id_t = std::int64_t;

using rlim_t = std::int64_t;

using cpulevel_t = int;

using cpuwhich_t = int;

using kvaddr_t = std::uint64_t;

using ksize_t = std::uint64_t;

using socklen_t = std::uint32_t;

}  // namespace bsd
