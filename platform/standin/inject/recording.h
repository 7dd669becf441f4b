// Reading a recording of a machine's platform answers (docs/recording.md):
// a file is input, so every length and count in it is checked before use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "standin/inject/inject.h"

namespace standin {

// A run of one answer given `repeat` times in a row.
struct replay_run {
    step st;
    std::uint32_t repeat = 1;
};

// The answers of one call and key, taken in order; the last stays in force.
struct replay_key {
    std::vector<replay_run> runs;
    std::size_t pos = 0;
    std::uint32_t used = 0;

    const step &take() {
        const replay_run &r = runs[pos];
        if (++used >= r.repeat && pos + 1 < runs.size()) {
            pos++;
            used = 0;
        }
        return r.st;
    }
};

// Keyed by the call name, a NUL and the key.
using replay_keys = std::unordered_map<std::string, replay_key>;

std::string replay_name(std::string_view call, std::string_view key);

// A whole file: the header, then the compressed body. False with the reason
// in err; out is then left empty.
bool read_recording(std::string_view file, replay_keys &out, std::string &err);
// The body alone, once uncompressed.
bool read_recording_body(std::string_view body, replay_keys &out, std::string &err);

}  // namespace standin
