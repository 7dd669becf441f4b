// FreeBSD constants whose names host headers also define, with other values.
// Only module code includes this, after Python.h, so the FreeBSD value wins.
#pragma once

#include "freebsd.h"

#undef _SC_PAGESIZE
#define _SC_PAGESIZE (::bsd::sc_pagesize)

#undef PATH_MAX
#define PATH_MAX PATH_MAX_FREEBSD

#undef O_RDONLY
#define O_RDONLY 0x0000
