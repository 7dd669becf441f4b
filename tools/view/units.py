"""Figures as a reader writes them."""

import errno
import os
import time

BINARY = ("B", "KiB", "MiB", "GiB", "TiB", "PiB")


def human(n):
    """Bytes in binary units: 512B, 1.5KiB, 20MiB, 3.2GiB; None is '?'."""
    if n is None:
        return "?"
    value = float(n)
    for unit in BINARY:
        if abs(value) < 1024 or unit == BINARY[-1]:
            if unit == "B":
                return f"{int(value)}B"
            return f"{value:.1f}{unit}" if abs(value) < 10 else f"{value:.0f}{unit}"
        value /= 1024
    return str(n)


def pct(share, width=5):
    return "?".rjust(width) if share is None else f"{share:{width}.1f}"


def cpu_clock(seconds):
    """Process CPU time as top writes it: minutes:seconds.hundredths."""
    if seconds is None:
        return "?"
    minutes, secs = divmod(seconds, 60)
    return f"{int(minutes)}:{secs:05.2f}"


def span(seconds):
    """An uptime: 3 days, 4:05 or 4:05 or 12 min."""
    if seconds is None:
        return "?"
    s = int(seconds)
    days, s = divmod(s, 86400)
    hours, s = divmod(s, 3600)
    clock = f"{hours}:{s // 60:02d}" if hours else f"{s // 60} min"
    return f"{days} day{'s' if days != 1 else ''}, {clock}" if days else clock


def stamp(epoch):
    return "?" if epoch is None else time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(epoch))


def cut(text, width):
    """text in at most width columns, marked with '+' where it was cut."""
    if width <= 0:
        return ""
    return text if len(text) <= width else text[:width - 1] + "+"


def reason(exc):
    """A short reason for a figure the system would not give, without the
    module's internal call names."""
    if isinstance(exc, NotImplementedError):
        return str(exc) or "not reported by this system"
    if isinstance(exc, OSError) and exc.errno:
        if exc.errno in (errno.EPERM, errno.EACCES):
            return "permission denied"
        if exc.errno == errno.ESRCH:
            return "process gone"
        return os.strerror(exc.errno).lower()
    if isinstance(exc, MemoryError):
        return "out of memory"
    return "the system's answer could not be read"
