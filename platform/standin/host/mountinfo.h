// One line of the host's /proc/self/mountinfo, split in place: the fields
// a statfs record needs, still in the kernel's escaped form.
#pragma once

#include <cstddef>
#include <string_view>

namespace standin {

struct mountinfo_line {
    std::string_view target;      // field 5, the mount point
    std::string_view mount_opts;  // field 6, the mount's own options
    std::string_view fstype;      // after the "-" separator
    std::string_view source;
    std::string_view super_opts;  // the file system's options
};

// False when the line lacks a field or the separator: such a line is no
// mount.
bool split_mountinfo(std::string_view line, mountinfo_line &out);

// Copies an escaped field into dst (size bytes, size > 0), undoing the
// kernel's \ooo escapes, cut to fit and always terminated.
void unescape_field(std::string_view field, char *dst, std::size_t size);

// Whether a comma-separated option list holds the option, alone or with a
// value ("name=...").
bool has_option(std::string_view options, std::string_view name);

}  // namespace standin
