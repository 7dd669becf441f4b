#include "standin/host/mountinfo.h"

#include "standin/host/files.h"

namespace standin {

bool split_mountinfo(std::string_view line, mountinfo_line &out) {
    // Six fixed fields, optional ones up to "-", then three more.
    std::string_view w[6];
    if (split_words(line, w, 6) < 6)
        return false;
    std::size_t at = static_cast<std::size_t>(w[5].data() + w[5].size() - line.data());
    std::size_t sep = line.find(" - ", at);
    if (sep == std::string_view::npos)
        return false;
    std::string_view tail[3];
    if (split_words(line.substr(sep + 3), tail, 3) < 3)
        return false;
    out.target = w[4];
    out.mount_opts = w[5];
    out.fstype = tail[0];
    out.source = tail[1];
    out.super_opts = tail[2];
    return true;
}

void unescape_field(std::string_view field, char *dst, std::size_t size) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < field.size() && n + 1 < size; i++) {
        char c = field[i];
        if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' &&
            field[i + 3] <= '7') {
            c = static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                  (field[i + 3] - '0'));
            i += 3;
        }
        dst[n++] = c;
    }
    dst[n] = '\0';
}

bool has_option(std::string_view options, std::string_view name) {
    while (!options.empty()) {
        std::size_t comma = options.find(',');
        std::string_view opt = options.substr(0, comma);
        if (opt == name || (opt.size() > name.size() && opt.substr(0, name.size()) == name &&
                            opt[name.size()] == '='))
            return true;
        if (comma == std::string_view::npos)
            break;
        options.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace standin
