// The stand-in's calls are C calls to the module: a std::bad_alloc from
// their containers must not unwind into it (or through the interpreter).
// Each entry point that allocates ends in
//
//     } catch (const std::bad_alloc &) {
//         return standin::no_memory(-1);
//     }
//
// and so fails as FreeBSD's call does when the kernel or the library runs
// out of memory: errno ENOMEM and the call's failure value.
#pragma once

#include <cerrno>
#include <new>

namespace standin {

template <class T> T no_memory(T failed) {
    errno = ENOMEM;
    return failed;
}

}  // namespace standin
