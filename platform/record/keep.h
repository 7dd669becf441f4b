// The answers of a recording run: every platform call the module makes,
// kept with its key, in the order made. Built into either platform: the
// stand-in keeps its live answers, the native recording variant the real
// platform's. The format of a kept run is docs/recording.md's key records.
#pragma once

#include <cstddef>
#include <string>

namespace quarn_record {

// True while a recording runs; the keepers below do nothing otherwise.
bool on();

// An answer: bytes in FreeBSD layout, and a return value or count where the
// call has one.
void answer(const char *call, const std::string &key, const void *data, std::size_t len);
void answer_value(const char *call, const std::string &key, long value, const void *data,
                  std::size_t len);
// A failure: the errno, or the call's own error number (0: null, errno 0).
void error(const char *call, const std::string &key, int err);
// A call's result: -1 with an errno keeps the failure, anything else (-1
// with errno 0 too: a priority of -1) the value. errno is left as it was.
void result(const char *call, const std::string &key, long rc);
// A measure of a kernel parameter: the size it reported.
void measure(const char *call, const std::string &key, std::size_t size);
// A kernel parameter read as the module made it: a write is not kept, a
// failure is its errno (a buffer too short its ENOMEM alone: what it holds
// then is no answer, and may be the caller's own memory), a measure its size.
void sysctl(const std::string &key, const void *oldp, const std::size_t *oldlenp,
            const void *newp, int rc);

}  // namespace quarn_record

// The C ABI the recorder (tools/quarn_record) drives.
extern "C" {
// Drops what was kept and starts keeping; 0, or -1 without memory.
int quarn_record_start(void);
void quarn_record_stop(void);
// Lays what was kept out as key records. Returns the size needed (a null or
// short buffer only measures), or SIZE_MAX when answers were lost: the run
// outgrew 1 GiB or memory ran out.
std::size_t quarn_record_take(char *buf, std::size_t size);
}
