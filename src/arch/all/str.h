// Bounded string helpers: never write past the buffer, always terminate it.
#pragma once

#include <cstddef>

extern "C" {
int str_format(char *buf, std::size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
int str_copy(char *dst, std::size_t dst_size, const char *src);
int str_append(char *dst, std::size_t dst_size, const char *src);
}
