// Replay of a recording: every platform call answers from it, and never
// from the host (docs/recording.md).
#pragma once

#include <string>

#include "standin/inject/inject.h"

namespace standin {

// While a recording is replayed: the next recorded answer of call and key,
// or the failure FreeBSD gives for a missing parameter or process. False
// when nothing is replayed, or for the calls that hold no answer of the
// machine's (opening and closing handles), which go on as live.
bool replay_step(const char *call, const std::string &key, step &out);

// The recorded answer of call and key, or the failure of a missing one,
// for a call that keys its replay otherwise than its injection. False when
// nothing is replayed.
bool replay_answer(const char *call, const std::string &key, step &out);

// A setter under replay: the getter's key (call, key) answers st from now
// on. -1 when nothing is replayed (go on live), 0 when set, or the errno
// when the recording has no such key (no such process or parameter).
int replay_set(const char *call, const std::string &key, step st);

// While replaying: 0 when the recording has call and key, else the errno of
// a missing one. -1 when nothing is replayed.
int replay_has(const char *call, const std::string &key);

// True while a recording is replayed.
bool replaying();

}  // namespace standin

extern "C" {
// Replays the recording at path (null: stop replaying). 0, or -1 with the
// reason in err (cut to errlen); a failed load replays nothing.
int standin_replay(const char *path, char *err, std::size_t errlen);
}
