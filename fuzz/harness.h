// The shared harness of the fuzz targets: a target names the platform
// answers the fuzzer's bytes stand in for and the module calls to make.
// The targets are listed in targets.txt.
#pragma once

#include <string>
#include <vector>

namespace fuzz {

// Where one slot of an input goes: injected steps for a platform call and
// key, or (call "file", "link") a file or symbolic link under the made-up
// host root.
struct slot {
    std::string call;
    std::string key;
};

// One module call: the function's name and its arguments as a Python tuple.
struct call {
    std::string function;
    std::string args;
};

struct target {
    std::string name;
    std::vector<slot> slots;
    std::vector<call> calls;
    bool host_root = false;  // some slots are host files or links
};

// The targets of the table file; false (and a message) when it cannot be
// read or a line is not understood.
bool read_targets(const char *path, std::vector<target> &out);

}  // namespace fuzz
