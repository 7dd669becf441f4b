"""The few figures the module does not serve, each in one small function so
that a replay of a recording can put the recorded machine's values in their
place (assign to these names)."""

import os
import pwd
import sys

_recording = []


def recorded():
    """The description of the recording QUARN_REPLAY names, or None when the
    module answers from this machine."""
    path = os.environ.get("QUARN_REPLAY")
    if not path:
        return None
    if not _recording:
        from quarn_record import fileformat
        try:
            _recording.append(fileformat.read(path)[0])
        except (OSError, fileformat.RecordingError) as e:
            sys.exit("snapshot: QUARN_REPLAY=%s: %s" % (path, e))
    return _recording[0]


def identity():
    """(host name, operating system text): the recorded machine's under a
    replay."""
    meta = recorded()
    if meta is not None:
        return meta.get("host"), "%s %s, recorded" % (meta.get("os"), meta.get("release"))
    u = os.uname()
    return u.nodename, f"{u.sysname} {u.release}"


def load_average():
    """The 1, 5 and 15 minute load averages, or None (unknown under a replay:
    this machine's would be wrong)."""
    if recorded() is not None:
        return None
    try:
        return list(os.getloadavg())
    except OSError:
        return None


def fs_usage(mountpoint):
    """(size, used, available) bytes of a mounted file system, or None: the
    module names the mounts but does not size them."""
    if recorded() is not None:
        return None
    try:
        st = os.statvfs(mountpoint)
    except OSError:
        return None
    size = st.f_blocks * st.f_frsize
    return size, size - st.f_bfree * st.f_frsize, st.f_bavail * st.f_frsize


_names = {}


def user_name(uid):
    """The account name of a user ID, or the number as text."""
    if uid not in _names:
        try:
            _names[uid] = pwd.getpwuid(uid).pw_name
        except (KeyError, OverflowError):
            _names[uid] = str(uid)
    return _names[uid]


def uid_of(name):
    """The user ID of an account name (or a number given as text), or None."""
    try:
        return pwd.getpwnam(name).pw_uid
    except KeyError:
        return int(name) if name.isdigit() else None
