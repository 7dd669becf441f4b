#include "live_record.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "bsd.h"

namespace fuzz {
namespace {

bool numeric_name(const char *key, std::vector<int> &mib) {
    if (*key < '0' || *key > '9')
        return false;
    const char *p = key;
    while (*p) {
        char *end;
        mib.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        p = *end == '.' ? end + 1 : end;
        if (end == p && *end)
            return false;
    }
    return true;
}

// A measure, then a read with some room, as a table reader does.
int read_sysctl(const char *key, std::string &data) {
    std::vector<int> mib;
    bool numeric = numeric_name(key, mib);
    auto call = [&](void *buf, std::size_t *len) {
        return numeric ? bsd::sysctl(mib.data(), static_cast<bsd::u_int>(mib.size()), buf, len,
                                     nullptr, 0)
                       : bsd::sysctlbyname(key, buf, len, nullptr, 0);
    };
    std::size_t len = 0;
    if (call(nullptr, &len) == -1)
        return errno;
    len += len / 4 + 64;
    data.assign(len, '\0');
    if (call(data.data(), &len) == -1)
        return errno;
    data.resize(len);
    return 0;
}

template <class T> int read_table(T *(*fn)(bsd::pid_t, int *), const char *key,
                                  std::string &data) {
    int cnt = 0;
    T *arr = fn(std::atoi(key), &cnt);
    if (arr == nullptr)
        return errno ? errno : ENOENT;
    if (cnt > 0)
        data.assign(reinterpret_cast<const char *>(arr), static_cast<std::size_t>(cnt) * sizeof(T));
    std::free(arr);
    return 0;
}

}  // namespace

int live_answer(const slot &s, std::string &data) {
    if (s.call == "sysctl")
        return read_sysctl(s.key.c_str(), data);
    if (s.call == "file") {
        std::ifstream in(s.key, std::ios::binary);
        if (!in)
            return ENOENT;
        std::ostringstream text;
        text << in.rdbuf();
        data = text.str();
        return 0;
    }
    if (s.call == "kinfo_getfile")
        return read_table(bsd::kinfo_getfile, s.key.c_str(), data);
    if (s.call == "kinfo_getvmmap")
        return read_table(bsd::kinfo_getvmmap, s.key.c_str(), data);
    if (s.call == "mallctl") {
        std::uint64_t v = 0;
        std::size_t len = sizeof(v);
        int rc = bsd::mallctl(s.key.c_str(), &v, &len, nullptr, 0);
        if (rc == 0)
            data.assign(reinterpret_cast<const char *>(&v), len);
        return rc;
    }
    // Calls with no table of their own (sysconf, kill, kvm_getswapinfo):
    // an empty answer, which takes the call's plain success.
    return 0;
}

}  // namespace fuzz
