// The live host's answer to one slot, in the bytes an injected step gives.
#pragma once

#include <string>

#include "harness.h"

namespace fuzz {

// Fills data with the answer; returns 0, or the errno of a failed call.
int live_answer(const slot &s, std::string &data);

}  // namespace fuzz
