#!/usr/bin/env python3
"""Write the stand-in's name headers from the lists in platform/standin/records/.

Each list gives two headers: one holds every constant as a value of
namespace bsd, named in lower case, for the stand-in's own code, which also
sees the host's headers; the other holds every name as FreeBSD's macro, for
module code only. The first list's headers take in the others'.

usage: standin_names.py          write the headers
       standin_names.py --check  exit 1 if any differs from its list
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STANDIN = os.path.join(ROOT, 'platform', 'standin')
# Each list and the two headers written from it.
LISTS = [('names.list', 'freebsd_names.h', 'freebsd_clash.h'),
         ('names_net.list', 'freebsd_names_net.h', 'freebsd_clash_net.h')]
TYPES = {'int', 'unsigned', 'short', 'unsigned long', 'unsigned long long', 'std::int64_t',
         'std::uint64_t'}
NOTICE = '// Written by tools/standin_names.py from records/%s: edit the list.'


class ListError(Exception):
    pass


def parse(text, list_name='names.list', seen=None):
    """Blocks of (title, [(name, value, kind)]); kind is a type, 'member' or
    'call'. seen: the names of the lists read before, with where they are."""
    blocks, header = [], None
    seen = {} if seen is None else seen
    for number, line in enumerate(text.split('\n'), 1):
        where = '%s:%d' % (list_name, number)
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
        if kind not in TYPES | {'member', 'call'} and not re.fullmatch(r'enum \w+', kind):
            raise ListError('%s: unknown type %r' % (where, kind))
        key = name.lower()
        if key in seen:
            raise ListError('%s: %s repeats %s' % (where, name, seen[key]))
        seen[key] = where
        blocks[-1][1].append((name, value, kind))
    return [b for b in blocks if b[1]]


def names_header(blocks, list_name='names.list', includes=()):
    out = ['// FreeBSD amd64\'s constants as values of namespace bsd, for the stand-in\'s',
           '// own code: each is FreeBSD\'s name in lower case.', NOTICE % list_name,
           '#pragma once', '', '#include <cstdint>']
    out += ['#include "%s"' % h for h in includes]
    out += ['', 'namespace bsd {']
    for title, entries in blocks:
        consts = [e for e in entries if e[2] not in ('member', 'call')]
        if consts:
            out += ['', '// ' + title]
        for i, (name, value, kind) in enumerate(consts):
            if not kind.startswith('enum '):
                out.append('inline constexpr %s %s = %s;' % (kind, name.lower(), value))
                continue
            # Consecutive names of one enum type are that enum's members.
            if i == 0 or consts[i - 1][2] != kind:
                out.append('%s {' % kind)
            out.append('    %s = %s,' % (name.lower(), value))
            if i + 1 == len(consts) or consts[i + 1][2] != kind:
                out.append('};')
    return '\n'.join(out + ['', '}  // namespace bsd', ''])


def clash_header(blocks, list_name='names.list', includes=()):
    out = ['// FreeBSD\'s names as macros, for module code only. Module code includes',
           '// this after Python.h and the host headers, so FreeBSD\'s definition wins.',
           NOTICE % list_name, '#pragma once', '', '#include "standin/freebsd.h"']
    out += ['#include "%s"' % h for h in includes]
    out.append('')
    for title, entries in blocks:
        out.append('// ' + title)
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
    wanted, seen = {}, {}
    for i, (list_name, names, clash) in enumerate(LISTS):
        with open(os.path.join(STANDIN, 'records', list_name)) as f:
            blocks = parse(f.read(), list_name, seen)
        rest = LISTS[1:] if i == 0 else []
        wanted[os.path.join(STANDIN, names)] = names_header(
            blocks, list_name, ['standin/' + r[1] for r in rest])
        wanted[os.path.join(STANDIN, clash)] = clash_header(
            blocks, list_name, ['standin/' + r[2] for r in rest])
    return wanted


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
        print('not written from their lists: %s (run tools/standin_names.py)' % ', '.join(stale),
              file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
