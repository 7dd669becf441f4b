#!/usr/bin/env python3
"""Write the stand-in's two name headers from platform/standin/records/names.list.

freebsd_names.h holds every constant as a value of namespace bsd, named in
lower case, for the stand-in's own code, which also sees the host's headers.
freebsd_clash.h holds every name as FreeBSD's macro, for module code only.

usage: standin_names.py          write both headers
       standin_names.py --check  exit 1 if either differs from the list
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STANDIN = os.path.join(ROOT, 'platform', 'standin')
LIST = os.path.join(STANDIN, 'records', 'names.list')
TYPES = {'int', 'unsigned', 'short', 'unsigned long', 'unsigned long long', 'std::int64_t',
         'std::uint64_t'}
NOTICE = '// Written by tools/standin_names.py from records/names.list: edit the list.\n'


class ListError(Exception):
    pass


def parse(text):
    """Blocks of (title, [(name, value, kind)]); kind is a type, 'member' or 'call'."""
    blocks, header, seen = [], None, {}
    for number, line in enumerate(text.split('\n'), 1):
        where = 'names.list:%d' % number
        if not line.strip():
            continue
        if line.startswith('== '):
            header = line[3:].strip()
            continue
        if line.startswith('#'):
            if header is not None:
                blocks.append(('%s: %s' % (header, line[1:].strip()), []))
            continue
        if not blocks or header is None:
            raise ListError('%s: a name before any header and family' % where)
        fields = line.split(None, 2)
        if len(fields) < 2:
            raise ListError('%s: a name needs a value' % where)
        name, value = fields[0], fields[1]
        kind = fields[2].strip() if len(fields) == 3 else 'int'
        if not re.fullmatch(r'[A-Za-z_]\w*', name):
            raise ListError('%s: %r is not a name' % (where, name))
        if kind not in TYPES | {'member', 'call'}:
            raise ListError('%s: unknown type %r' % (where, kind))
        key = name.lower()
        if key in seen:
            raise ListError('%s: %s repeats line %d' % (where, name, seen[key]))
        seen[key] = number
        blocks[-1][1].append((name, value, kind))
    return [b for b in blocks if b[1]]


def names_header(blocks):
    out = ['// FreeBSD amd64\'s constants as values of namespace bsd, for the stand-in\'s',
           '// own code: each is FreeBSD\'s name in lower case.', NOTICE.rstrip(),
           '#pragma once', '', '#include <cstdint>', '', 'namespace bsd {']
    for title, entries in blocks:
        consts = [e for e in entries if e[2] not in ('member', 'call')]
        if consts:
            out += ['', '// ' + title]
            out += ['inline constexpr %s %s = %s;' % (k, n.lower(), v) for n, v, k in consts]
    return '\n'.join(out + ['', '}  // namespace bsd', ''])


def clash_header(blocks):
    out = ['// FreeBSD\'s names as macros, for module code only. Module code includes',
           '// this after Python.h and the host headers, so FreeBSD\'s definition wins.',
           NOTICE.rstrip(), '#pragma once', '', '#include "freebsd.h"']
    for title, entries in blocks:
        out += ['', '// ' + title]
        for name, value, kind in entries:
            if kind == 'member':
                body = '%s %s' % (name, value)
            elif kind == 'call':
                body = '%s(x) (%s(x))' % (name, value)
            else:
                body = '%s (::bsd::%s)' % (name, name.lower())
            out += ['#undef ' + name, '#define ' + body]
    return '\n'.join(out + [''])


def outputs():
    with open(LIST) as f:
        blocks = parse(f.read())
    return {os.path.join(STANDIN, 'freebsd_names.h'): names_header(blocks),
            os.path.join(STANDIN, 'freebsd_clash.h'): clash_header(blocks)}


def main(argv):
    try:
        wanted = outputs()
    except ListError as e:
        print(e, file=sys.stderr)
        return 2
    stale = []
    for path, text in wanted.items():
        current = open(path).read() if os.path.exists(path) else None
        if current == text:
            continue
        stale.append(os.path.relpath(path, ROOT))
        if '--check' not in argv:
            with open(path, 'w') as f:
                f.write(text)
    if '--check' in argv and stale:
        print('not written from names.list: %s (run tools/standin_names.py)' % ', '.join(stale),
              file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
