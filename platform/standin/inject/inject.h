// Injected answers and the call log of the stand-in.
//
// Every platform call of the stand-in first logs itself, then asks for an
// injected step under its call name and key; only when there is none does it
// answer from the live host.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace standin {

struct step {
    enum kind_t { answer, error, live } kind = live;
    int err = 0;          // error: the errno (0: a null or failed result, errno 0)
    long value = 0;       // answer: a return value or count, where the call has one
    bool has_value = false;
    // a replayed measure of a kernel parameter: the size it reported (the
    // bytes are the answer of the read that followed it); -1: none
    long measure = -1;
    // answer: the bytes, in FreeBSD layout; shared, so taking a step never
    // copies a large table
    std::shared_ptr<const std::string> bytes;

    const std::string &data() const {
        static const std::string none;
        return bytes ? *bytes : none;
    }
};

// Takes the next step injected for call and key. The last step of a
// sequence stays in force. False means: answer live.
bool next_step(const char *call, const std::string &key, step &out);
// The injected step alone, without a replay's answer.
bool injected_step(const char *call, const std::string &key, step &out);

void log_call(const char *call, const std::string &key, const char *op, std::size_t size);

}  // namespace standin

// The C ABI, for tests (ctypes); see docs/standin.md.
extern "C" {
void standin_reset(void);
int standin_answer(const char *call, const char *key, const void *data, std::size_t len);
int standin_answer_value(const char *call, const char *key, long value, const void *data,
                         std::size_t len);
int standin_error(const char *call, const char *key, int err);
int standin_live(const char *call, const char *key);
std::size_t standin_log(char *buf, std::size_t size);
void standin_log_clear(void);
// Reads every host file of the live answers (/proc, /sys, the utmp file)
// under another root (null or "": the host's own); reset leaves it alone.
int standin_host_root(const char *dir);
// Test builds only (failalloc.cpp): every later fresh block of the module
// gets this pattern (len 0: none), so a read of bytes nobody wrote shows.
int standin_alloc_fill(const void *pattern, std::size_t len);
}
