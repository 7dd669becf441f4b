// libFuzzer harness: turns the fuzzer's bytes into injected platform answers,
// makes the target's module calls in an embedded interpreter, and checks that
// each returns a plain value or raises a documented kind of exception.
// Each input runs twice, with fresh heap blocks filled with two different
// patterns: the results must be equal, since a value decoded from bytes
// nobody wrote is the one thing that changes with the pattern.
//
// An input is a series of records: slot (1 byte), kind (1 byte), length
// (2 bytes, little-endian), payload. Records for the same slot form a
// sequence, answered in order. Kind 0 and 1: an answer; 2: an error with the
// payload's first byte as errno (none: a null result with errno 0); 3: an
// answer whose first 8 payload bytes are its value (a length or count the
// kernel claims). A slot without records fails with ENOENT, so that no call
// reaches the live host. A "file" slot's records make the content of a file
// under the made-up root, a "link" slot's the target of a symbolic link;
// without records neither exists.
//
// QUARN_FUZZ_NO_CLAIMS=1 reads kind 3 as kind 0, for a campaign past a
// known fault with claimed lengths.
// QUARN_FUZZ_TARGET picks the target of the table (QUARN_FUZZ_TABLE, else
// the source tree's targets.txt; "list" prints their names);
// QUARN_FUZZ_SEED=dir writes one seed input made of the live host's answers
// into dir and exits.
#include <Python.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "live_record.h"
#include "recording_target.h"
#include "standin/inject/inject.h"

extern "C" PyObject *PyInit__quarn_bsd(void);

namespace {

fuzz::target the_target;
std::size_t nslots;
std::vector<PyObject *> functions;  // one per call of the target
std::vector<PyObject *> arguments;
PyObject *allowed;                  // the exception types a call may raise
std::string root;                   // the made-up host root, for "file" slots
bool no_claims;

[[noreturn]] void fail(const char *what, const char *detail) {
    std::fprintf(stderr, "quarn-fuzz: %s: %s\n", what, detail);
    if (PyErr_Occurred())
        PyErr_Print();
    std::abort();
}

PyObject *eval(const char *expr) {
    PyObject *globals = PyDict_New();
    PyObject *v = PyRun_String(expr, Py_eval_input, globals, globals);
    Py_XDECREF(globals);
    if (v == nullptr)
        fail("cannot evaluate", expr);
    return v;
}

// A result is made of plain values only, nested at most a few levels.
bool plain(PyObject *v, int depth) {
    if (depth > 4)
        return false;
    if (v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) || PyFloat_CheckExact(v) ||
        PyUnicode_CheckExact(v) || PyBytes_CheckExact(v))
        return true;
    if (PyTuple_CheckExact(v) || PyList_CheckExact(v)) {
        Py_ssize_t n = PySequence_Fast_GET_SIZE(v);
        for (Py_ssize_t i = 0; i < n; i++)
            if (!plain(PySequence_Fast_GET_ITEM(v, i), depth + 1))
                return false;
        return true;
    }
    if (PyDict_CheckExact(v)) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(v, &pos, &key, &value))
            if (!plain(key, depth + 1) || !plain(value, depth + 1))
                return false;
        return true;
    }
    return false;
}

std::string file_path(const std::string &key) {
    return root + key;
}

void make_dirs(const std::string &path) {
    for (std::size_t i = 1; i < path.size(); i++) {
        if (path[i] == '/') {
            std::string dir = path.substr(0, i);
            mkdir(dir.c_str(), 0700);
        }
    }
}

void write_file(const std::string &path, const std::string &data) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        fail("cannot write", path.c_str());
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// The made-up root is the harness's own directory under /dev/shm.
void remove_root() {
    if (!root.empty())
        std::system(("rm -rf '" + root + "'").c_str());
}

void pick_target() {
    const char *table = std::getenv("QUARN_FUZZ_TABLE");
    std::vector<fuzz::target> targets;
    if (!fuzz::read_targets(table ? table : QUARN_FUZZ_DEFAULT_TABLE, targets))
        std::exit(2);
    const char *name = std::getenv("QUARN_FUZZ_TARGET");
    if (name == nullptr)
        fail("no target", "set QUARN_FUZZ_TARGET");
    if (std::strcmp(name, "list") == 0) {
        for (const fuzz::target &t : targets)
            std::printf("%s\n", t.name.c_str());
        std::printf("recording\n");
        std::exit(0);
    }
    for (const fuzz::target &t : targets)
        if (t.name == name)
            the_target = t;
    if (the_target.name.empty())
        fail("unknown target", name);
    nslots = the_target.slots.size();
    if (nslots == 0 || nslots > 256 || the_target.calls.empty())
        fail("a target needs 1 to 256 slots and a call", name);
}

void put_u16(std::string &out, std::size_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}

void put_record(std::string &input, std::size_t slot, int kind, std::string_view payload) {
    input += static_cast<char>(slot);
    input += static_cast<char>(kind);
    put_u16(input, payload.size());
    input += payload;
}

bool has_slot(const char *call) {
    for (const fuzz::slot &s : the_target.slots)
        if (s.call == call)
            return true;
    return false;
}

// The live host's answers as the seed of a corpus: one record per slot; a
// file longer than a record in several (they add up); each datagram of the
// netlink dumps made while the target's calls run live, in a record of its
// own (a sequence, which successive dumps read on from where the last
// ended). A file or link that cannot be read has no record.
void write_seed(const char *dir) {
    if (has_slot("link"))
        fuzz::open_seed_sockets();
    if (has_slot("netlink_recv")) {
        fuzz::record_netlink(true);
        for (std::size_t i = 0; i < functions.size(); i++) {
            Py_XDECREF(PyObject_Call(functions[i], arguments[i], nullptr));
            PyErr_Clear();
        }
        fuzz::record_netlink(false);
    }
    std::string input;
    for (std::size_t i = 0; i < nslots; i++) {
        const fuzz::slot &sl = the_target.slots[i];
        if (sl.call == "netlink_recv") {
            for (const std::string &d : fuzz::recorded_netlink(sl.key))
                put_record(input, i, 0, std::string_view(d).substr(0, 0xffff));
            continue;
        }
        std::string data;
        int err = fuzz::live_answer(sl, data);
        if (sl.call == "file" || sl.call == "link") {
            for (std::size_t pos = 0; err == 0 && pos < data.size(); pos += 0xffff)
                put_record(input, i, 0, std::string_view(data).substr(pos, 0xffff));
            if (err == 0 && data.empty())
                put_record(input, i, 0, "");
        } else if (err) {
            put_record(input, i, 2, std::string(1, static_cast<char>(err)));
        } else {
            put_record(input, i, 0, std::string_view(data).substr(0, 0xffff));
        }
    }
    make_dirs(std::string(dir) + "/");
    write_file(std::string(dir) + "/live-" + std::to_string(getpid()), input);
}

// Installs the input's answers; returns the file slots' contents written.
void install(const std::uint8_t *data, std::size_t size) {
    std::vector<bool> given(nslots, false);
    std::vector<std::string> files(nslots);
    std::size_t pos = 0;
    while (pos + 4 <= size) {
        std::size_t s = data[pos] % nslots;
        int kind = data[pos + 1] % 4;
        std::size_t len = data[pos + 2] | (static_cast<std::size_t>(data[pos + 3]) << 8);
        pos += 4;
        if (len > size - pos)
            len = size - pos;
        const std::uint8_t *payload = data + pos;
        pos += len;
        const fuzz::slot &sl = the_target.slots[s];
        if (sl.call == "file" || sl.call == "link") {
            // A file has one content; a later record adds to it.
            files[s].append(reinterpret_cast<const char *>(payload), len);
            given[s] = true;
            continue;
        }
        given[s] = true;
        const char *c = sl.call.c_str(), *k = sl.key.c_str();
        if (kind == 2) {
            standin_error(c, k, len ? payload[0] : 0);
        } else if (kind == 3 && len >= 8 && !no_claims) {
            std::int64_t value;
            std::memcpy(&value, payload, 8);
            standin_answer_value(c, k, static_cast<long>(value), payload + 8, len - 8);
        } else {
            standin_answer(c, k, payload, len);
        }
    }
    for (std::size_t s = 0; s < nslots; s++) {
        const fuzz::slot &sl = the_target.slots[s];
        if (sl.call == "file" || sl.call == "link") {
            std::string path = file_path(sl.key);
            unlink(path.c_str());
            if (given[s] && sl.call == "file")
                write_file(path, files[s]);
            else if (given[s])
                (void)symlink(files[s].c_str(), path.c_str());  // an empty target makes none
        } else if (!given[s]) {
            standin_error(sl.call.c_str(), sl.key.c_str(), ENOENT);
        }
    }
}

// The text of a value, or of an exception's type and message, for the
// comparison of the two runs.
std::string text_of(PyObject *v) {
    PyObject *r = v != nullptr ? PyObject_Repr(v) : nullptr;
    const char *t = r != nullptr ? PyUnicode_AsUTF8(r) : nullptr;
    std::string out = t != nullptr ? t : "<no text>";
    Py_XDECREF(r);
    PyErr_Clear();
    return out;
}

// Makes call i and checks it; returns what it gave, as text.
std::string check_call(std::size_t i) {
    PyObject *result = PyObject_Call(functions[i], arguments[i], nullptr);
    const char *fn = the_target.calls[i].function.c_str();
    if (result != nullptr) {
        if (PyErr_Occurred())
            fail("result with an exception pending", fn);
        if (!plain(result, 0))
            fail("not a plain value", fn);
        std::string out = text_of(result);
        Py_DECREF(result);
        return out;
    }
    if (!PyErr_Occurred())
        fail("no result and no exception", fn);
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    // The interpreter turns a result given with an exception set, or a null
    // without one, into SystemError: a fault of the module either way.
    bool ok = PyErr_GivenExceptionMatches(type, allowed) &&
              !PyErr_GivenExceptionMatches(type, PyExc_SystemError);
    if (!ok) {
        PyErr_Restore(type, value, tb);
        fail("unexpected exception", fn);
    }
    std::string out = text_of(type) + ": " + text_of(value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
    return out;
}

// Two fills unlike each other and unlike zero: small lengths and counts in
// one, huge or negative ones in the other.
const unsigned char fill_a[8] = {0x40, 0, 0, 0, 0, 0, 0, 0};
const unsigned char fill_b[1] = {0xa5};

// One run of the input's answers with fresh blocks filled with pattern.
std::vector<std::string> run_filled(const std::uint8_t *data, std::size_t size,
                                    const unsigned char *pattern, std::size_t len) {
    standin_reset();
    install(data, size);
    standin_alloc_fill(pattern, len);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < functions.size(); i++)
        out.push_back(check_call(i));
    standin_alloc_fill(nullptr, 0);
    standin_reset();
    return out;
}

}  // namespace

// The reader of recordings is a target of its own, outside the table.
bool reader_target = false;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *name = std::getenv("QUARN_FUZZ_TARGET");
    if (name != nullptr && std::strcmp(name, "recording") == 0) {
        reader_target = true;
        if (const char *seed = std::getenv("QUARN_FUZZ_SEED"))
            std::exit(fuzz::recording_seed(seed) ? 0 : 1);
        return 0;
    }
    pick_target();
    no_claims = std::getenv("QUARN_FUZZ_NO_CLAIMS") != nullptr;
    if (PyImport_AppendInittab("_quarn_bsd", PyInit__quarn_bsd) == -1)
        fail("cannot register", "_quarn_bsd");
    Py_InitializeEx(0);
    PyObject *mod = PyImport_ImportModule("_quarn_bsd");
    if (mod == nullptr)
        fail("cannot import", "_quarn_bsd");
    for (const fuzz::call &c : the_target.calls) {
        PyObject *f = PyObject_GetAttrString(mod, c.function.c_str());
        if (f == nullptr) {
            // Targets are written ahead of the functions they reach.
            std::printf("quarn-fuzz: %s is not in the module yet: target skipped\n",
                        c.function.c_str());
            std::exit(0);
        }
        functions.push_back(f);
        arguments.push_back(eval(c.args.c_str()));
    }
    PyObject *zombie = PyObject_GetAttrString(mod, "ZombieProcessError");
    if (zombie == nullptr)
        fail("no exception class", "ZombieProcessError");
    allowed = Py_BuildValue("(OOOOOO)", PyExc_OSError, PyExc_RuntimeError, PyExc_MemoryError,
                            PyExc_ValueError, PyExc_OverflowError, zombie);
    Py_DECREF(zombie);
    Py_DECREF(mod);

    if (const char *seed = std::getenv("QUARN_FUZZ_SEED")) {
        write_seed(seed);
        std::exit(0);
    }
    if (the_target.host_root) {
        char tmpl[] = "/dev/shm/quarn-fuzz-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            fail("cannot make", tmpl);
        root = tmpl;
        for (std::size_t s = 0; s < nslots; s++)
            if (the_target.slots[s].call == "file" || the_target.slots[s].call == "link")
                make_dirs(file_path(the_target.slots[s].key));
        standin_host_root(root.c_str());
        std::atexit(remove_root);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (reader_target)
        return fuzz::recording_input(data, size);
    std::vector<std::string> a = run_filled(data, size, fill_a, sizeof(fill_a));
    std::vector<std::string> b = run_filled(data, size, fill_b, sizeof(fill_b));
    for (std::size_t i = 0; i < a.size(); i++) {
        if (a[i] != b[i]) {
            std::fprintf(stderr, "quarn-fuzz: with one fill: %s\nwith the other: %s\n",
                         a[i].c_str(), b[i].c_str());
            fail("results differ with the fill pattern", the_target.calls[i].function.c_str());
        }
    }
    return 0;
}
