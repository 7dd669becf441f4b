// The one header through which module code reaches the platform.
//
// Types and calls are in namespace bsd under their FreeBSD names; constants
// keep their FreeBSD names as macros. The build defines QUARN_PLATFORM_NATIVE
// on FreeBSD; everywhere else the stand-in answers.
#pragma once

#if defined(QUARN_PLATFORM_NATIVE)
#include "native/freebsd.h"
#else
#include "standin/freebsd_clash.h"
#endif
