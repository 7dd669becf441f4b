// The fuzz target "recording": the reader of recording files. An input's
// first byte says what the rest is: even, a whole file (header and xz
// stream); odd, a body as it is once uncompressed, so that the fuzzer
// reaches the record walk without making valid xz. Every input must be
// read or refused with a reason, and what is read must be walked to its
// end: each key's answers taken in turn.
#include <lzma.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "record/keep.h"
#include "recording_target.h"
#include "standin/inject/recording.h"

namespace fuzz {
namespace {

void check(bool ok, const std::string &err, const standin::replay_keys &keys) {
    if (!ok && (err.empty() || !keys.empty())) {
        std::fprintf(stderr, "quarn-fuzz: refused without a reason, or kept answers: %s\n",
                     err.c_str());
        std::abort();
    }
    for (const auto &[name, k] : keys) {
        standin::replay_key walk = k;
        std::size_t steps = 0;
        for (const standin::replay_run &r : walk.runs)
            steps += r.repeat < 3 ? r.repeat : 3;
        for (std::size_t i = 0; i < steps && i < 4096; i++)
            (void)walk.take().data().size();
    }
}

void put(std::string &out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}

bool write(const std::string &dir, const char *name, const std::string &data) {
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int recording_input(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string_view in(reinterpret_cast<const char *>(data) + 1, size - 1);
    standin::replay_keys keys;
    std::string err;
    bool ok = data[0] % 2 == 0 ? standin::read_recording(in, keys, err)
                               : standin::read_recording_body(in, keys, err);
    check(ok, err, keys);
    return 0;
}

// Two seeds, a body and a whole file, of answers the recorder keeps.
bool recording_seed(const char *dir) {
    quarn_record_start();
    quarn_record::answer_value("sysconf", "47", 4096, nullptr, 0);
    quarn_record::measure("sysctl", "1.14.8.0", 2176);
    quarn_record::answer("sysctl", "1.14.8.0", std::string(1088, '\1').data(), 1088);
    quarn_record::error("sysctl", "1.14.8.0", 12);
    quarn_record::answer("sysctl", "1.14.8.0", std::string(1088, '\1').data(), 1088);
    quarn_record::answer("getnameinfo", "2.7f000001.0", "127.0.0.1", 9);
    quarn_record_stop();
    std::string body(quarn_record_take(nullptr, 0), '\0');
    quarn_record_take(body.data(), body.size());
    put(body, 0, 5);  // the end record
    std::string packed(lzma_stream_buffer_bound(body.size()), '\0');
    std::size_t n = 0;
    if (lzma_easy_buffer_encode(2, LZMA_CHECK_CRC64, nullptr,
                                reinterpret_cast<const std::uint8_t *>(body.data()),
                                body.size(), reinterpret_cast<std::uint8_t *>(packed.data()),
                                &n, packed.size()) != LZMA_OK)
        return false;
    std::string file = std::string(1, '\0') + "QUARNREC";
    put(file, 1, 4);
    put(file, body.size(), 4);
    file.append(packed, 0, n);
    return write(dir, "body", std::string(1, '\1') + body) && write(dir, "file", file);
}

}  // namespace fuzz
