// FreeBSD amd64's libutil.h, as the stand-in provides it: the open-file and
// memory-map tables of a process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"
#include "standin/records/sys_types.h"
#include "standin/records/sys_user.h"

namespace bsd {

kinfo_file *kinfo_getfile(pid_t pid, int *cntp);

kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp);

}  // namespace bsd
