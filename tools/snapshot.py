"""A one-screen view of this machine, made through the module.

    snapshot.py                 the report: host, CPU, memory, disks, network,
                                connections, users, the busiest processes
    snapshot.py --all           also pseudo file systems, idle devices,
                                counters, topology and the module
    snapshot.py --pid PID       one process in full
    snapshot.py --watch 2       redraw every 2 seconds (q or Ctrl-C ends)
    snapshot.py --json          one JSON document (docs/snapshot.schema.json)
    snapshot.py --html FILE     one self-contained page

Exit status: 0 all read, 1 usage error, 2 some figure could not be read
(the report says which). Run with the built module on the path (make run
does that); the parts live in tools/view/.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from view.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
