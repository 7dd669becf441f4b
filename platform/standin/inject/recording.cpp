#include "standin/inject/recording.h"

#include <lzma.h>

#include <cstring>
#include <memory>
#include <new>

namespace standin {
namespace {

constexpr char magic[8] = {'Q', 'U', 'A', 'R', 'N', 'R', 'E', 'C'};
constexpr std::uint32_t version = 1;
constexpr std::size_t header_size = 16;
// Bounds on what a file may claim, so that no claim drives an allocation
// or a loop beyond the data: the body, one record, one key's runs, all runs.
constexpr std::uint64_t body_limit = std::uint64_t(512) << 20;
constexpr std::uint64_t record_limit = std::uint64_t(256) << 20;
constexpr std::size_t answer_limit = std::size_t(64) << 20;
constexpr std::uint32_t runs_limit = 1u << 20;
constexpr std::size_t total_runs_limit = std::size_t(1) << 22;
constexpr std::uint64_t measure_limit = std::uint64_t(1) << 30;
constexpr std::size_t call_limit = 64, key_limit = 1024;
constexpr int errno_limit = 4096;

enum : std::uint8_t { r_end = 0, r_meta = 1, r_key = 2, r_results = 3 };
enum : std::uint8_t { k_answer = 1, k_error = 2, k_measure = 3, k_again = 4 };

// Little-endian reads that never pass the end: a failed read leaves ok false.
struct cursor {
    std::string_view data;
    std::size_t pos = 0;
    bool ok = true;

    std::size_t left() const { return data.size() - pos; }
    std::uint64_t num(int bytes) {
        if (!ok || left() < static_cast<std::size_t>(bytes)) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; i++)
            v |= std::uint64_t(static_cast<unsigned char>(data[pos + i])) << (8 * i);
        pos += static_cast<std::size_t>(bytes);
        return v;
    }
    std::string_view text(std::uint64_t n) {
        if (!ok || n > left()) {
            ok = false;
            return {};
        }
        std::string_view t = data.substr(pos, static_cast<std::size_t>(n));
        pos += static_cast<std::size_t>(n);
        return t;
    }
};

bool fail(std::string &err, const std::string &why) {
    err = why;
    return false;
}

bool corrupt(std::string &err, const std::string &why) {
    return fail(err, "recording is corrupt: " + why);
}

// A call name is a word of the platform's: lower-case letters, digits, '_'.
bool good_call(std::string_view call) {
    if (call.empty() || call.size() > call_limit)
        return false;
    for (char c : call)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

// last: the bytes of the key's answer before, for an answer given again.
bool read_run(cursor &c, replay_run &run, std::shared_ptr<const std::string> &last,
              bool &has_last, std::string &err) {
    std::uint64_t kind = c.num(1);
    std::uint64_t repeat = c.num(4);
    if (c.ok && (repeat == 0 || repeat > 0x7fffffff))
        return corrupt(err, "a repeat count of " + std::to_string(repeat));
    run.repeat = static_cast<std::uint32_t>(repeat);
    if (kind == k_answer || kind == k_again) {
        std::uint64_t flags = c.num(1);
        std::int64_t value = static_cast<std::int64_t>(c.num(8));
        std::string_view bytes = kind == k_answer ? c.text(c.num(4)) : std::string_view();
        if (c.ok && flags > 1)
            return corrupt(err, "answer flags " + std::to_string(flags));
        if (c.ok && kind == k_again && !has_last)
            return corrupt(err, "an answer given again before it was given");
        if (c.ok && bytes.size() > answer_limit)
            return corrupt(err, "an answer of " + std::to_string(bytes.size()) +
                                    " bytes, over the limit of 64 MiB");
        run.st.kind = step::answer;
        run.st.has_value = flags == 1;
        run.st.value = value;
        if (kind == k_answer && c.ok) {
            last = bytes.empty() ? nullptr : std::make_shared<const std::string>(bytes);
            has_last = true;
        }
        run.st.bytes = last;
    } else if (kind == k_error) {
        std::int64_t e = static_cast<std::int32_t>(c.num(4));
        if (c.ok && (e < 0 || e >= errno_limit))
            return corrupt(err, "an error number of " + std::to_string(e));
        run.st.kind = step::error;
        run.st.err = static_cast<int>(e);
    } else if (kind == k_measure) {
        std::uint64_t size = c.num(8);
        if (c.ok && size > measure_limit)
            return corrupt(err, "a measure of " + std::to_string(size) + " bytes");
        run.st.kind = step::answer;
        run.st.measure = static_cast<long>(size);
    } else if (c.ok) {
        return corrupt(err, "an answer of kind " + std::to_string(kind));
    }
    if (!c.ok)
        return corrupt(err, "an answer runs past its record");
    return true;
}

// A measure answers with the bytes of the answer after it, so a read that
// meets it out of turn still finds that answer.
void link_measures(replay_key &k) {
    std::shared_ptr<const std::string> next;
    for (std::size_t i = k.runs.size(); i-- > 0;) {
        step &st = k.runs[i].st;
        if (st.measure >= 0)
            st.bytes = next;
        else if (st.kind == step::answer)
            next = st.bytes;
    }
}

bool read_key(std::string_view rec, replay_keys &out, std::size_t &total, std::string &err) {
    cursor c{rec};
    std::string_view call = c.text(c.num(1));
    std::string_view key = c.text(c.num(2));
    std::uint64_t n = c.num(4);
    if (!c.ok)
        return corrupt(err, "a key record is cut short");
    if (!good_call(call))
        return corrupt(err, "a call name that is no call");
    if (key.size() > key_limit)
        return corrupt(err, "a key of " + std::to_string(key.size()) + " bytes");
    // Every run takes 9 bytes at least: a count beyond that is a lie.
    if (n == 0 || n > runs_limit || n > c.left() / 9 || total + n > total_runs_limit)
        return corrupt(err, "a key with " + std::to_string(n) + " answers");
    total += static_cast<std::size_t>(n);
    replay_key k;
    k.runs.resize(static_cast<std::size_t>(n));
    std::shared_ptr<const std::string> last;
    bool has_last = false;
    for (replay_run &run : k.runs)
        if (!read_run(c, run, last, has_last, err))
            return false;
    if (c.left() != 0)
        return corrupt(err, "bytes left over in a key record");
    link_measures(k);
    std::string name = replay_name(call, key);
    if (!out.emplace(std::move(name), std::move(k)).second)
        return fail(err, "recording gives the key " + std::string(call) + " " +
                             std::string(key) + " twice");
    return true;
}

// The body is one xz stream; its dictionary may not ask for more memory
// than this to uncompress.
constexpr std::uint64_t memory_limit = std::uint64_t(128) << 20;
constexpr std::uint64_t first_room = std::uint64_t(64) << 10;

// The body grows as it is uncompressed, never past the size stated: a
// stated size is no more than a claim until the stream bears it out.
bool unpack_body(std::string_view packed, std::uint64_t size, std::string &body,
                 std::string &err) {
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&z, memory_limit, 0) != LZMA_OK)
        return fail(err, "recording cannot be read: no memory to uncompress it");
    body.resize(static_cast<std::size_t>(size < first_room ? size : first_room));
    z.next_in = reinterpret_cast<const std::uint8_t *>(packed.data());
    z.avail_in = packed.size();
    z.next_out = reinterpret_cast<std::uint8_t *>(body.data());
    z.avail_out = body.size();
    lzma_ret rc = LZMA_OK;
    // Each turn grows the body or makes progress in the stream; a stream
    // that does neither ends the loop with LZMA_BUF_ERROR.
    for (int turn = 0; turn < 100000 && rc == LZMA_OK; turn++) {
        if (z.avail_out == 0 && body.size() < size) {
            std::size_t done = body.size();
            std::uint64_t more = std::uint64_t(done) * 2;
            body.resize(static_cast<std::size_t>(more < size ? more : size));
            z.next_out = reinterpret_cast<std::uint8_t *>(body.data()) + done;
            z.avail_out = body.size() - done;
        }
        rc = lzma_code(&z, LZMA_FINISH);
    }
    bool whole = rc == LZMA_STREAM_END && z.avail_in == 0 && z.avail_out == 0 &&
                 body.size() == size;
    // All input taken and the stream not ended: the file stops short.
    bool cut = (rc == LZMA_OK || rc == LZMA_BUF_ERROR) && z.avail_in == 0;
    lzma_end(&z);
    if (cut)
        return fail(err, "recording is cut short");
    if (rc == LZMA_MEMLIMIT_ERROR || rc == LZMA_MEM_ERROR)
        return corrupt(err, "its body needs over 128 MiB to uncompress");
    if (!whole)
        return corrupt(err, "the compressed body does not give the size it states");
    return true;
}

}  // namespace

std::string replay_name(std::string_view call, std::string_view key) {
    std::string name(call);
    name += '\0';
    name += key;
    return name;
}

namespace {

bool walk_body(std::string_view body, replay_keys &out, std::string &err) {
    cursor c{body};
    std::size_t total = 0;
    while (true) {
        std::uint64_t type = c.num(1);
        std::uint64_t len = c.num(4);
        if (!c.ok)
            return fail(err, "recording is cut short");
        if (len > record_limit)
            return corrupt(err, "a record of " + std::to_string(len) +
                                    " bytes, over the limit of 256 MiB");
        std::string_view rec = c.text(len);
        if (!c.ok)
            return fail(err, "recording is cut short");
        if (type == r_end) {
            if (len != 0 || c.left() != 0)
                return corrupt(err, "data after the end record");
            return true;
        }
        if (type == r_key) {
            if (!read_key(rec, out, total, err))
                return false;
        } else if (type != r_meta && type != r_results) {
            return corrupt(err, "a record of type " + std::to_string(type));
        }
    }
}

}  // namespace

// A file refused is refused whole: none of its answers is kept.
bool read_recording_body(std::string_view body, replay_keys &out, std::string &err) try {
    out.clear();
    if (walk_body(body, out, err))
        return true;
    out.clear();
    return false;
} catch (const std::bad_alloc &) {
    out.clear();
    return fail(err, "recording cannot be read: no memory for its answers");
}

bool read_recording(std::string_view file, replay_keys &out, std::string &err) try {
    out.clear();
    if (file.size() < 8 || std::memcmp(file.data(), magic, 8) != 0)
        return fail(err, "not a recording (no QUARNREC header)");
    cursor c{file, 8};
    std::uint64_t ver = c.num(4);
    std::uint64_t size = c.num(4);
    if (!c.ok)
        return fail(err, "recording is cut short");
    if (ver != version)
        return fail(err, "recording version " + std::to_string(ver) +
                             " is not supported (this build reads version 1)");
    if (size > body_limit)
        return corrupt(err, "a body of " + std::to_string(size) +
                                " bytes, over the limit of 512 MiB");
    std::string body;
    if (!unpack_body(file.substr(header_size), size, body, err))
        return false;
    return read_recording_body(body, out, err);
} catch (const std::bad_alloc &) {
    out.clear();
    return fail(err, "recording cannot be read: no memory for its answers");
}

}  // namespace standin
