// The fuzz target of the recording reader (recording.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

int recording_input(const std::uint8_t *data, std::size_t size);
// Writes the target's seeds into dir; false when it cannot.
bool recording_seed(const char *dir);

}  // namespace fuzz
