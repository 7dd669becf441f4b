"""--watch: the report again every few seconds. On a terminal each frame is
drawn over the last (ANSI, no curses needed) and q ends it; elsewhere the
frames follow each other, plain. Ctrl-C ends either cleanly."""

import os
import select
import shutil
import sys
import termios
import time
import tty

from . import text

HOME, CLEAR_LINE, CLEAR_BELOW = "\x1b[H", "\x1b[K", "\x1b[J"
HIDE, SHOW, CLEAR = "\x1b[?25l", "\x1b[?25h", "\x1b[2J"


def frame_lines(doc, width, full, height=None):
    lines = text.render(doc, width, full)
    if height is not None and len(lines) > height - 1:
        lines = lines[:height - 2] + [f"... {len(lines) - height + 2} more lines below"]
    return lines


class Keys:
    """The terminal's keys one at a time, without echo, restored on exit."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        self.saved = termios.tcgetattr(self.fd)
        tty.setcbreak(self.fd)

    def wait_for_q(self, seconds):
        """True when q was pressed within seconds."""
        end = time.monotonic() + seconds
        while (left := end - time.monotonic()) > 0:
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready and os.read(self.fd, 1) in (b"q", b"Q"):
                return True
        return False

    def restore(self):
        termios.tcsetattr(self.fd, termios.TCSADRAIN, self.saved)


def run(args, out, collect, width):
    live = out.isatty() and sys.stdin.isatty()
    keys = Keys(sys.stdin) if live else None
    status, before = 0, None
    try:
        if live:
            out.write(HIDE + CLEAR)
        while True:
            doc, before = collect(args, before)
            status = 2 if doc["errors"] else 0
            if live:
                size = shutil.get_terminal_size((80, 24))
                lines = frame_lines(doc, args.width or size.columns, args.all, size.lines)
                hint = f"every {args.watch:g} s; q quits"
                out.write(HOME + "".join(line + CLEAR_LINE + "\n" for line in lines)
                          + hint + CLEAR_LINE + CLEAR_BELOW)
                out.flush()
                if keys.wait_for_q(args.watch):
                    break
            else:
                stamp = time.strftime("%H:%M:%S", time.localtime(doc["host"]["time"]))
                out.write(f"--- {stamp}\n" + "\n".join(frame_lines(doc, width, args.all)) + "\n\n")
                out.flush()
                time.sleep(args.watch)
    except KeyboardInterrupt:
        pass
    finally:
        if live:
            keys.restore()
            out.write(SHOW + "\n")
            out.flush()
    return status
