"""The recording file: a 16-byte header, then one xz stream holding the
body's records. See docs/recording.md."""

import json
import lzma
import struct

MAGIC = b"QUARNREC"
VERSION = 1
END, META, KEY, RESULTS = 0, 1, 2, 3
BODY_LIMIT = 512 << 20
RECORD_LIMIT = 256 << 20
FILE_LIMIT = 512 << 20


class RecordingError(Exception):
    """A file that is no good recording; the message says why."""


def record(rtype, payload):
    if len(payload) > RECORD_LIMIT:
        raise RecordingError("a record of %d bytes, over the limit of 256 MiB" % len(payload))
    return struct.pack("<BI", rtype, len(payload)) + payload


def write(path, keys, meta, results, preset=2):
    """keys: the key records as the module lays them out; meta a dict;
    results the list of encoded calls and outcomes. A file for the moment
    alone may take a quicker preset (0)."""
    body = (record(META, json.dumps(meta, sort_keys=True).encode()) + keys +
            record(RESULTS, json.dumps(results, separators=(",", ":")).encode()) +
            record(END, b""))
    if len(body) > BODY_LIMIT:
        raise RecordingError("a body of %d bytes, over the limit of 512 MiB" % len(body))
    data = MAGIC + struct.pack("<II", VERSION, len(body)) + pack(body, preset)
    with open(path, "wb") as f:
        f.write(data)


MEMORY_LIMIT = 128 << 20


def pack(body, preset=2):
    return lzma.compress(body, format=lzma.FORMAT_XZ, preset=preset)


def _unpack(packed, size):
    z = lzma.LZMADecompressor(format=lzma.FORMAT_XZ, memlimit=MEMORY_LIMIT)
    try:
        body = z.decompress(packed, size + 1)
    except lzma.LZMAError as e:
        if "limit" in str(e):
            raise RecordingError("recording is corrupt: its body needs over 128 MiB "
                                 "to uncompress") from None
        raise RecordingError("recording is corrupt: the compressed body does not give "
                             "the size it states") from None
    if not z.eof and z.needs_input and len(body) <= size:
        raise RecordingError("recording is cut short")
    if not z.eof or len(body) != size or z.unused_data:
        raise RecordingError(
            "recording is corrupt: the compressed body does not give the size it states")
    return body


def split(data):
    """The body's records as (type, payload) pairs; the header checked."""
    if data[:8] != MAGIC:
        raise RecordingError("not a recording (no QUARNREC header)")
    if len(data) < 16:
        raise RecordingError("recording is cut short")
    version, size = struct.unpack_from("<II", data, 8)
    if version != VERSION:
        raise RecordingError("recording version %d is not supported "
                             "(this build reads version %d)" % (version, VERSION))
    if size > BODY_LIMIT:
        raise RecordingError("recording is corrupt: a body of %d bytes, "
                             "over the limit of 512 MiB" % size)
    body = _unpack(data[16:], size)
    out, pos = [], 0
    while True:
        if len(body) - pos < 5:
            raise RecordingError("recording is cut short")
        rtype, n = struct.unpack_from("<BI", body, pos)
        pos += 5
        if n > RECORD_LIMIT:
            raise RecordingError("recording is corrupt: a record of %d bytes, "
                                 "over the limit of 256 MiB" % n)
        if n > len(body) - pos:
            raise RecordingError("recording is cut short")
        payload = body[pos:pos + n]
        pos += n
        if rtype == END:
            if n or pos != len(body):
                raise RecordingError("recording is corrupt: data after the end record")
            return out
        if rtype not in (META, KEY, RESULTS):
            raise RecordingError("recording is corrupt: a record of type %d" % rtype)
        out.append((rtype, payload))


def _json(payload, what):
    try:
        return json.loads(payload.decode())
    except (UnicodeDecodeError, ValueError, RecursionError):
        raise RecordingError("recording is corrupt: its %s is not JSON" % what) from None


def read(path):
    """(meta, key records as bytes, results) of the file at path."""
    with open(path, "rb") as f:
        data = f.read(FILE_LIMIT + 1)
    if len(data) > FILE_LIMIT:
        raise RecordingError("recording is corrupt: a file over 512 MiB")
    meta, results, keys, seen = None, None, [], set()
    for rtype, payload in split(data):
        if rtype == KEY:
            keys.append(record(KEY, payload))
            continue
        what = "description" if rtype == META else "results"
        if rtype in seen:
            raise RecordingError("recording is corrupt: a second %s record" % what)
        seen.add(rtype)
        if rtype == META:
            meta = _json(payload, what)
        else:
            results = _json(payload, what)
    if META not in seen or RESULTS not in seen or not isinstance(meta, dict) or \
            not isinstance(results, (list, type(None))):
        raise RecordingError("recording is corrupt: no description or no results")
    return meta, b"".join(keys), results


# Key records: (call, key, runs), each run (kind, repeat, fields) where an
# answer's fields are (has_value, value, bytes), an answer given again's
# (has_value, value), an error's errno and a measure's size.
ANSWER, ERROR, MEASURE, AGAIN = 1, 2, 3, 4


def parse_keys(data):
    """The key records of data (KEY records, back to back)."""
    out, pos = [], 0
    try:
        while pos < len(data):
            rtype, n = struct.unpack_from("<BI", data, pos)
            rec = data[pos + 5:pos + 5 + n]
            pos += 5 + n
            if rtype != KEY or len(rec) != n:
                raise RecordingError("recording is corrupt: a key record is cut short")
            cl = rec[0]
            call = rec[1:1 + cl].decode("ascii")
            kl, = struct.unpack_from("<H", rec, 1 + cl)
            key = rec[3 + cl:3 + cl + kl].decode("utf-8", "surrogateescape")
            q = 3 + cl + kl
            count, = struct.unpack_from("<I", rec, q)
            q += 4
            runs = []
            for _ in range(count):
                kind, repeat = struct.unpack_from("<BI", rec, q)
                q += 5
                if kind in (ANSWER, AGAIN):
                    hv, value = struct.unpack_from("<Bq", rec, q)
                    q += 9
                    fields = (hv, value)
                    if kind == ANSWER:
                        ln, = struct.unpack_from("<I", rec, q)
                        fields += (rec[q + 4:q + 4 + ln],)
                        q += 4 + ln
                elif kind == ERROR:
                    fields = struct.unpack_from("<i", rec, q)[0]
                    q += 4
                else:
                    fields = struct.unpack_from("<Q", rec, q)[0]
                    q += 8
                runs.append((kind, repeat, fields))
            out.append((call, key, runs))
    except (struct.error, IndexError, UnicodeDecodeError):
        raise RecordingError("recording is corrupt: a key record is cut short") from None
    return out


def lay_out_keys(keys):
    out = []
    for call, key, runs in keys:
        kb = key.encode("utf-8", "surrogateescape")
        rec = [struct.pack("<B", len(call)), call.encode(), struct.pack("<H", len(kb)), kb,
               struct.pack("<I", len(runs))]
        for kind, repeat, fields in runs:
            rec.append(struct.pack("<BI", kind, repeat))
            if kind in (ANSWER, AGAIN):
                rec.append(struct.pack("<Bq", fields[0], fields[1]))
                if kind == ANSWER:
                    rec.append(struct.pack("<I", len(fields[2])) + fields[2])
            elif kind == ERROR:
                rec.append(struct.pack("<i", fields))
            else:
                rec.append(struct.pack("<Q", fields))
        out.append(record(KEY, b"".join(rec)))
    return b"".join(out)
