// Allocation failures on demand, for tests of the module's MemoryError
// paths, and fresh blocks filled with a pattern, so that bytes nobody wrote
// show as the pattern rather than as whatever the allocator recycled. The module is linked with --wrap for malloc, calloc and realloc and
// for every operator new, so its own calls (and the stand-in's, the
// containers' included) come here; the interpreter's and those made inside
// the C++ library's own objects do not. standin_call_failing makes one
// module call with the nth allocation of one kind failing; disarmed, the
// wrappers only pass through.
//
// operator new is wrapped rather than replaced: the deletes stay the
// library's (or the sanitizer's), always paired with the new that made the
// block, and no other library in the process can take the module's
// references to new away from these wrappers.
#include <Python.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>

extern "C" {
// Weak: builds that link the objects without --wrap never call the wrappers.
void *__real_malloc(std::size_t size) __attribute__((weak));
void *__real_calloc(std::size_t n, std::size_t size) __attribute__((weak));
void *__real_realloc(void *p, std::size_t size) __attribute__((weak));
// operator new, new[], each also nothrow and aligned, by their linker names.
void *__real__Znwm(std::size_t size) __attribute__((weak));
void *__real__Znam(std::size_t size) __attribute__((weak));
void *__real__ZnwmRKSt9nothrow_t(std::size_t size, const std::nothrow_t &) __attribute__((weak));
void *__real__ZnamRKSt9nothrow_t(std::size_t size, const std::nothrow_t &) __attribute__((weak));
void *__real__ZnwmSt11align_val_t(std::size_t size, std::align_val_t) __attribute__((weak));
void *__real__ZnamSt11align_val_t(std::size_t size, std::align_val_t) __attribute__((weak));
void *__real__ZnwmSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t,
                                                 const std::nothrow_t &) __attribute__((weak));
void *__real__ZnamSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t,
                                                 const std::nothrow_t &) __attribute__((weak));
}

namespace {

enum kind_t { c_allocator = 1, python_allocator = 2, cpp_allocator = 3 };

// The allocations of one wrapped kind: counted while armed, the nth fails.
struct wrapped_kind {
    std::atomic<bool> armed{false};
    std::atomic<long> seen{0};
    std::atomic<long> fail_at{0};

    bool fails() {
        if (!armed.load(std::memory_order_relaxed))
            return false;
        return ++seen == fail_at.load();
    }
};

wrapped_kind c_allocs;
wrapped_kind cpp_allocs;

bool c_fails() {
    return c_allocs.fails();
}

long py_seen = 0;  // under the interpreter lock
long py_fail_at = 0;
PyMemAllocatorEx py_orig[2];

bool py_fails() {
    return ++py_seen == py_fail_at;
}

void *py_malloc(void *ctx, std::size_t size) {
    auto *a = static_cast<PyMemAllocatorEx *>(ctx);
    return py_fails() ? nullptr : a->malloc(a->ctx, size);
}

void *py_calloc(void *ctx, std::size_t n, std::size_t size) {
    auto *a = static_cast<PyMemAllocatorEx *>(ctx);
    return py_fails() ? nullptr : a->calloc(a->ctx, n, size);
}

void *py_realloc(void *ctx, void *p, std::size_t size) {
    auto *a = static_cast<PyMemAllocatorEx *>(ctx);
    return py_fails() ? nullptr : a->realloc(a->ctx, p, size);
}

void py_free(void *ctx, void *p) {
    auto *a = static_cast<PyMemAllocatorEx *>(ctx);
    a->free(a->ctx, p);
}

const PyMemAllocatorDomain py_domains[2] = {PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ};

void py_arm() {
    for (int i = 0; i < 2; i++) {
        PyMem_GetAllocator(py_domains[i], &py_orig[i]);
        PyMemAllocatorEx hook = {&py_orig[i], py_malloc, py_calloc, py_realloc, py_free};
        PyMem_SetAllocator(py_domains[i], &hook);
    }
}

void py_disarm() {
    for (int i = 0; i < 2; i++)
        PyMem_SetAllocator(py_domains[i], &py_orig[i]);
}

// The fill pattern: set by tests between calls. A block allocated while it
// changes may get a mix of the old and the new; nothing else can go wrong.
constexpr std::size_t fill_max = 65536;
unsigned char fill_pattern[fill_max];
std::atomic<std::size_t> fill_len{0};

// Bytes [from, to) of a fresh block get the pattern, repeated from the
// block's first byte.
void *fill(void *p, std::size_t from, std::size_t to) {
    std::size_t len = fill_len.load(std::memory_order_acquire);
    if (p == nullptr || len == 0)
        return p;
    auto *d = static_cast<unsigned char *>(p);
    for (std::size_t i = from; i < to;) {
        std::size_t at = i % len;
        std::size_t n = std::min(len - at, to - i);
        std::memcpy(d + i, fill_pattern + at, n);
        i += n;
    }
    return p;
}

}  // namespace

// Every later fresh block of the module gets this pattern (len 0: none, the
// allocator's own bytes). calloc's blocks stay zero, as calloc promises.
extern "C" int standin_alloc_fill(const void *pattern, std::size_t len) {
    if (len > fill_max || (len > 0 && pattern == nullptr))
        return -1;
    fill_len.store(0, std::memory_order_release);
    if (len > 0)
        std::memcpy(fill_pattern, pattern, len);
    fill_len.store(len, std::memory_order_release);
    return 0;
}

extern "C" void *__wrap_malloc(std::size_t size) {
    if (c_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    return fill(__real_malloc(size), 0, size);
}

extern "C" void *__wrap_calloc(std::size_t n, std::size_t size) {
    if (c_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __real_calloc(n, size);
}

extern "C" void *__wrap_realloc(void *p, std::size_t size) {
    if (c_fails()) {
        errno = ENOMEM;
        return nullptr;
    }
    // Only what the block grows by is fresh.
    std::size_t old = p != nullptr ? malloc_usable_size(p) : 0;
    return fill(__real_realloc(p, size), std::min(old, size), size);
}

// An armed failure makes new throw, as it does when memory runs out, and the
// nothrow forms return null.
extern "C" void *__wrap__Znwm(std::size_t size) {
    if (cpp_allocs.fails())
        throw std::bad_alloc();
    return fill(__real__Znwm(size), 0, size);
}

extern "C" void *__wrap__Znam(std::size_t size) {
    if (cpp_allocs.fails())
        throw std::bad_alloc();
    return fill(__real__Znam(size), 0, size);
}

extern "C" void *__wrap__ZnwmRKSt9nothrow_t(std::size_t size, const std::nothrow_t &nt) {
    return cpp_allocs.fails() ? nullptr : fill(__real__ZnwmRKSt9nothrow_t(size, nt), 0, size);
}

extern "C" void *__wrap__ZnamRKSt9nothrow_t(std::size_t size, const std::nothrow_t &nt) {
    return cpp_allocs.fails() ? nullptr : fill(__real__ZnamRKSt9nothrow_t(size, nt), 0, size);
}

extern "C" void *__wrap__ZnwmSt11align_val_t(std::size_t size, std::align_val_t al) {
    if (cpp_allocs.fails())
        throw std::bad_alloc();
    return fill(__real__ZnwmSt11align_val_t(size, al), 0, size);
}

extern "C" void *__wrap__ZnamSt11align_val_t(std::size_t size, std::align_val_t al) {
    if (cpp_allocs.fails())
        throw std::bad_alloc();
    return fill(__real__ZnamSt11align_val_t(size, al), 0, size);
}

extern "C" void *__wrap__ZnwmSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t al,
                                                            const std::nothrow_t &nt) {
    if (cpp_allocs.fails())
        return nullptr;
    return fill(__real__ZnwmSt11align_val_tRKSt9nothrow_t(size, al, nt), 0, size);
}

extern "C" void *__wrap__ZnamSt11align_val_tRKSt9nothrow_t(std::size_t size, std::align_val_t al,
                                                            const std::nothrow_t &nt) {
    if (cpp_allocs.fails())
        return nullptr;
    return fill(__real__ZnamSt11align_val_tRKSt9nothrow_t(size, al, nt), 0, size);
}

// Calls fn(*args) with the nth allocation of the kind failing (0: none
// fails); *seen gets the number of allocations of that kind the call made.
// Returns (result, None) or (None, exception): the exception travels as a
// value, since ctypes keeps hold of a MemoryError raised through it.
// Called through ctypes.PyDLL, with the interpreter lock held.
extern "C" PyObject *standin_call_failing(PyObject *fn, PyObject *args, int kind, long nth,
                                          long *seen) {
    PyObject *result;
    if (kind == c_allocator || kind == cpp_allocator) {
        wrapped_kind &w = kind == c_allocator ? c_allocs : cpp_allocs;
        w.seen = 0;
        w.fail_at = nth;
        w.armed = true;
        result = PyObject_Call(fn, args, nullptr);
        w.armed = false;
        *seen = w.seen.load();
    } else if (kind == python_allocator) {
        py_seen = 0;
        py_fail_at = nth;
        py_arm();
        result = PyObject_Call(fn, args, nullptr);
        py_disarm();
        *seen = py_seen;
    } else {
        PyErr_SetString(PyExc_ValueError, "unknown allocator kind");
        return nullptr;
    }
    if (result != nullptr)
        return Py_BuildValue("(NO)", result, Py_None);
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr)
        return Py_BuildValue("(OO)", Py_None, Py_None);
    PyErr_NormalizeException(&type, &value, &tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Py_BuildValue("(ON)", Py_None, value);
}
