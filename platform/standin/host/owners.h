// A descriptor or directory stream of our own, closed on every path, also
// when an allocation fails and unwinds past it.
#pragma once

#include <dirent.h>
#include <unistd.h>

namespace standin {

struct fd_owner {
    int fd;
    explicit fd_owner(int f) : fd(f) {}
    fd_owner(const fd_owner &) = delete;
    fd_owner &operator=(const fd_owner &) = delete;
    ~fd_owner() {
        if (fd >= 0)
            ::close(fd);
    }
};

struct dir_owner {
    DIR *dir;
    explicit dir_owner(DIR *d) : dir(d) {}
    dir_owner(const dir_owner &) = delete;
    dir_owner &operator=(const dir_owner &) = delete;
    ~dir_owner() {
        if (dir != nullptr)
            ::closedir(dir);
    }
};

}  // namespace standin
