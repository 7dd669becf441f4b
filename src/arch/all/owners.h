// The owners of what a function holds, so that every path releases it
// exactly once: a Python reference, a heap block, a descriptor, a kernel
// memory handle and an interface address chain.
#pragma once

#include <Python.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include "bsd.h"

// A new reference, dropped at the end unless handed on with release().
class py_ref {
public:
    explicit py_ref(PyObject *obj = nullptr) : obj_(obj) {}
    ~py_ref() { Py_XDECREF(obj_); }
    py_ref(const py_ref &) = delete;
    py_ref &operator=(const py_ref &) = delete;

    PyObject *get() const { return obj_; }
    explicit operator bool() const { return obj_ != nullptr; }
    void reset(PyObject *obj) {
        Py_XDECREF(obj_);
        obj_ = obj;
    }
    PyObject *release() {
        PyObject *obj = obj_;
        obj_ = nullptr;
        return obj;
    }

private:
    PyObject *obj_;
};

// A block from malloc, calloc or a library that returns one to free.
template <class T> class heap {
public:
    explicit heap(T *ptr = nullptr) : ptr_(ptr) {}
    ~heap() { std::free(ptr_); }
    heap(const heap &) = delete;
    heap &operator=(const heap &) = delete;

    T *get() const { return ptr_; }
    T &operator[](std::size_t i) const { return ptr_[i]; }
    void reset(T *ptr) {
        std::free(ptr_);
        ptr_ = ptr;
    }
    T *release() {
        T *ptr = ptr_;
        ptr_ = nullptr;
        return ptr;
    }

private:
    T *ptr_;
};

// A descriptor, closed keeping the errno of the call that failed before.
class fd_owner {
public:
    explicit fd_owner(int fd) : fd_(fd) {}
    ~fd_owner() {
        if (fd_ != -1) {
            int saved = errno;
            bsd::close(fd_);
            errno = saved;
        }
    }
    fd_owner(const fd_owner &) = delete;
    fd_owner &operator=(const fd_owner &) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// An open kernel memory interface.
class kvm_owner {
public:
    explicit kvm_owner(bsd::kvm_t *kd) : kd_(kd) {}
    ~kvm_owner() {
        if (kd_ != nullptr)
            bsd::kvm_close(kd_);
    }
    kvm_owner(const kvm_owner &) = delete;
    kvm_owner &operator=(const kvm_owner &) = delete;

    bsd::kvm_t *get() const { return kd_; }

private:
    bsd::kvm_t *kd_;
};

// The interface address chain of getifaddrs.
class ifaddrs_owner {
public:
    ifaddrs_owner() = default;
    ~ifaddrs_owner() {
        if (head_ != nullptr)
            bsd::freeifaddrs(head_);
    }
    ifaddrs_owner(const ifaddrs_owner &) = delete;
    ifaddrs_owner &operator=(const ifaddrs_owner &) = delete;

    bsd::ifaddrs **out() { return &head_; }
    bsd::ifaddrs *get() const { return head_; }

private:
    bsd::ifaddrs *head_ = nullptr;
};
