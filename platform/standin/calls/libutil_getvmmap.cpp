// kinfo_getvmmap from the host: one entry per mapping of /proc/PID/smaps,
// in address order, read and parsed in one streaming pass.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "standin/freebsd.h"
#include "standin/host/files.h"
#include "standin/calls/libutil.h"
#include "standin/calls/call.h"

namespace standin {
namespace {

constexpr std::string_view deleted_suffix = " (deleted)";

// Shared memory the host shows as a deleted file: anonymous on FreeBSD.
constexpr std::string_view shared_anon[] = {"/dev/zero", "/SYSV", "/memfd:", "/[aio]"};

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// The hexadecimal number at the start of text; pos moves past it.
std::uint64_t hex_at(std::string_view text, std::size_t &pos) {
    std::uint64_t v = 0;
    for (int digits = 0; pos < text.size() && is_hex(text[pos]) && digits < 16; pos++, digits++) {
        char c = text[pos];
        v = v * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return v;
}

// The decimal number after "Key:" and blanks.
long long kb_value(std::string_view line) {
    std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? 0 : to_ll(line.substr(colon + 1));
}

// A sum of sizes that stops at the largest, whatever the file states.
long long add_kb(long long sum, long long kb) {
    if (kb <= 0)
        return sum;
    return kb > LLONG_MAX - sum ? LLONG_MAX : sum + kb;
}

int to_pages(long long kb, long page_kb) {
    long long pages = kb / page_kb;
    return pages > INT_MAX ? INT_MAX : pages < 0 ? 0 : static_cast<int>(pages);
}

// Copies a path from the host's text, where a newline in a name is "\012".
void set_map_path(bsd::kinfo_vmentry &e, std::string_view path) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < path.size() && out < sizeof(e.kve_path) - 1; i++) {
        if (path[i] == '\\' && path.substr(i, 4) == "\\012") {
            e.kve_path[out++] = '\n';
            i += 3;
        } else {
            e.kve_path[out++] = path[i];
        }
    }
    e.kve_path[out] = '\0';
}

// What backs a mapping, from the rest of its header line after the inode.
// Returns false for anonymous memory, whose kind waits for its Swap line.
bool set_backing(bsd::kinfo_vmentry &e, std::string_view rest) {
    if (rest.empty())
        return false;
    if (rest[0] != '/') {
        if (rest == "[vdso]") {
            e.kve_type = bsd::kvme_type_phys;  // FreeBSD's shared page
            return true;
        }
        if (rest == "[vvar]" || rest == "[vvar_vclock]" || rest == "[vsyscall]") {
            e.kve_type = bsd::kvme_type_device;
            return true;
        }
        return false;  // [heap], [stack], [anon:name], anonymous inodes
    }
    if (rest.ends_with(deleted_suffix)) {
        for (std::string_view prefix : shared_anon) {
            if (rest.starts_with(prefix))
                return false;
        }
        // A file without a name any more: FreeBSD cannot name it either.
        e.kve_type = bsd::kvme_type_vnode;
        e.kve_vn_type = bsd::kf_vtype_vreg;
        return true;
    }
    if (rest.starts_with("/dev/")) {
        std::string path(rest);
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
            e.kve_type = bsd::kvme_type_device;  // device memory has no path
            return true;
        }
    }
    e.kve_type = bsd::kvme_type_vnode;
    e.kve_vn_type = bsd::kf_vtype_vreg;
    set_map_path(e, rest);
    return true;
}

// Builds the table line by line: a header line opens a mapping, the
// "Key: value" lines after it fill its page counts.
class smaps_parser {
  public:
    smaps_parser(entry_array<bsd::kinfo_vmentry> &table, long page_kb)
        : table_(table), page_kb_(page_kb) {}

    // False when the table cannot grow.
    bool line(std::string_view line) {
        if (line.empty())
            return true;
        if (is_hex(line[0]))
            return header(line);
        if (cur_ == nullptr)
            return true;
        switch (line[0]) {
        case 'R':
            if (line.starts_with("Rss:"))
                cur_->kve_resident = to_pages(kb_value(line), page_kb_);
            break;
        case 'P':
            if (line.starts_with("Private_Clean:") || line.starts_with("Private_Dirty:"))
                private_kb_ = add_kb(private_kb_, kb_value(line));
            break;
        case 'S':
            if (line.starts_with("Swap:"))
                swap_kb_ = kb_value(line);
            break;
        case 'V':
            if (line.starts_with("VmFlags:"))
                vm_flags(line.substr(8));
            break;
        default:
            break;
        }
        return true;
    }

    void finish() {
        if (cur_ == nullptr)
            return;
        cur_->kve_private_resident = to_pages(private_kb_, page_kb_);
        if (anon_)
            cur_->kve_type = swap_kb_ > 0 ? bsd::kvme_type_swap : bsd::kvme_type_default;
        cur_ = nullptr;
    }

  private:
    // "start-end perms offset dev inode [path]"
    bool header(std::string_view line) {
        std::string_view w[5];
        if (split_words(line, w, 5) < 5 || w[1].size() < 4)
            return true;
        finish();
        std::size_t pos = 0;
        std::uint64_t start = hex_at(w[0], pos);
        if (pos >= w[0].size() || w[0][pos] != '-')
            return true;
        pos++;
        std::uint64_t end = hex_at(w[0], pos);
        bsd::kinfo_vmentry *e = table_.add();
        if (e == nullptr)
            return false;
        cur_ = e;
        private_kb_ = swap_kb_ = 0;
        e->kve_structsize = sizeof(bsd::kinfo_vmentry);
        e->kve_start = start;
        e->kve_end = end;
        pos = 0;
        e->kve_offset = hex_at(w[2], pos);
        e->kve_vn_fileid = to_ull(w[4]);
        e->kve_protection = (w[1][0] == 'r' ? bsd::kvme_prot_read : 0) |
                            (w[1][1] == 'w' ? bsd::kvme_prot_write : 0) |
                            (w[1][2] == 'x' ? bsd::kvme_prot_exec : 0);
        if (w[1][3] == 'p')
            e->kve_flags = bsd::kvme_flag_cow;
        // The path is the rest of the line after the inode and its padding.
        std::size_t after = static_cast<std::size_t>(w[4].data() - line.data()) + w[4].size();
        std::string_view rest = line.substr(after);
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        anon_ = !set_backing(*e, rest);
        return true;
    }

    void vm_flags(std::string_view text) {
        std::string_view f[32];
        std::size_t n = split_words(text, f, 32);
        for (std::size_t i = 0; i < n; i++) {
            if (f[i] == "gd")
                cur_->kve_flags |= bsd::kvme_flag_grows_down;
            else if (f[i] == "dd")
                cur_->kve_flags |= bsd::kvme_flag_nocoredump;
            else if (f[i] == "lo")
                cur_->kve_flags |= bsd::kvme_flag_user_wired;
        }
    }

    entry_array<bsd::kinfo_vmentry> &table_;
    long page_kb_;
    bsd::kinfo_vmentry *cur_ = nullptr;
    bool anon_ = false;
    long long private_kb_ = 0;
    long long swap_kb_ = 0;
};

bsd::kinfo_vmentry *live_getvmmap(int pid, int *cntp) {
    process_stat stat;
    if (pid < 0 || !is_process(pid) || !read_process_stat(pid, stat) || stat.exited)
        return fail<bsd::kinfo_vmentry>(ESRCH);
    // Another user's map is refused with the host's errno.
    fd_owner fd(::open(host_file("/proc/%d/smaps", pid).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0)
        return fail<bsd::kinfo_vmentry>(errno == ENOENT ? ESRCH : errno);
    long page_kb = ::sysconf(_SC_PAGESIZE) / 1024;
    if (page_kb <= 0)
        page_kb = 4;

    entry_array<bsd::kinfo_vmentry> table;
    smaps_parser parser(table, page_kb);
    // Whole lines are parsed; a partial one waits for the next read. A line
    // that fills the buffer alone is taken as it stands, so the walk always
    // moves on.
    std::string buf(1 << 16, '\0');
    std::size_t have = 0;
    for (;;) {
        ssize_t n = ::read(fd.fd, buf.data() + have, buf.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail<bsd::kinfo_vmentry>(errno);
        }
        bool eof = n == 0;
        have += static_cast<std::size_t>(n);
        std::string_view text(buf.data(), have);
        std::size_t pos = 0;
        for (;;) {
            std::size_t eol = text.find('\n', pos);
            if (eol == std::string_view::npos) {
                if (!eof && !(pos == 0 && have == buf.size()))
                    break;
                eol = text.size();
            }
            if (eol > pos && !parser.line(text.substr(pos, eol - pos)))
                return fail<bsd::kinfo_vmentry>(ENOMEM);
            pos = eol + 1;
            if (pos >= text.size())
                break;
        }
        if (eof)
            break;
        if (pos >= have) {
            have = 0;
        } else {
            std::memmove(buf.data(), buf.data() + pos, have - pos);
            have -= pos;
        }
    }
    parser.finish();
    return table.release(cntp);
}

}  // namespace
}  // namespace standin

namespace bsd {

kinfo_vmentry *kinfo_getvmmap(pid_t pid, int *cntp) {
    return standin::run(
        "kinfo_getvmmap", pid, {}, standin::fails_with(static_cast<kinfo_vmentry *>(nullptr)),
        [&](const standin::step &st) { return standin::injected_table<kinfo_vmentry>(st, cntp); },
        [&] { return standin::live_getvmmap(pid, cntp); }, standin::no_checks(),
        [&](const std::string &k, const kinfo_vmentry *table) {
            standin::keep_table("kinfo_getvmmap", k, table, cntp);
        });
}

}  // namespace bsd
