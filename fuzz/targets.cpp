#include <cstdio>
#include <fstream>
#include <sstream>

#include "harness.h"

namespace fuzz {

bool read_targets(const char *path, std::vector<target> &out) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "quarn-fuzz: cannot read %s\n", path);
        return false;
    }
    std::string line;
    int lineno = 0;
    while (std::getline(in, line)) {
        lineno++;
        std::istringstream words(line);
        std::string word, a, b;
        if (!(words >> word) || word[0] == '#')
            continue;
        words >> a;
        std::getline(words >> std::ws, b);
        bool ok = !a.empty();
        if (word == "target" && ok) {
            out.push_back(target{a, {}, {}, false});
        } else if (word == "slot" && ok && !out.empty() && !b.empty()) {
            out.back().slots.push_back({a, b == "-" ? "" : b});
            if (a == "file" || a == "link")
                out.back().host_root = true;
        } else if (word == "call" && ok && !out.empty() && !b.empty()) {
            out.back().calls.push_back({a, b});
        } else {
            std::fprintf(stderr, "quarn-fuzz: %s:%d: not understood\n", path, lineno);
            return false;
        }
    }
    return true;
}

}  // namespace fuzz
