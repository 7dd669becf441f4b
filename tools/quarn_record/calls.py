"""Every read-only function of the module across the machine, and their
outcomes in a form that a file holds and compares exactly."""

import json

FAMILIES = [2, 28, 1]   # AF_INET, AF_INET6, AF_UNIX
TYPES = [1, 2, 5]       # SOCK_STREAM, SOCK_DGRAM, SOCK_SEQPACKET
RLIMITS = 16
CPU_LIMIT = 4096

SYSTEM = ["getpagesize", "cpu_count_logical", "cpu_times", "per_cpu_times", "cpu_stats",
          "boot_time", "cpu_topology", "virtual_mem", "swap_mem", "heap_info",
          "disk_io_counters", "sensors_battery", "users", "net_if_addrs", "net_io_counters"]
PER_CPU = ["cpu_freq", "sensors_cpu_temperature"]
PER_IF = ["net_if_flags", "net_if_mtu", "net_if_is_running", "net_if_duplex_speed"]
PER_PID = ["check_pid_range", "proc_oneshot_info", "proc_name", "proc_num_threads",
           "proc_is_zombie", "proc_exe", "proc_cmdline", "proc_environ", "proc_cwd",
           "proc_open_files", "proc_num_fds", "proc_threads", "proc_memory_maps",
           "proc_cpu_affinity_get", "proc_priority_get"]


def encode(value):
    """Tuples, dicts and bytes tagged, so that JSON keeps them apart."""
    if isinstance(value, tuple):
        return {"t": [encode(v) for v in value]}
    if isinstance(value, list):
        return [encode(v) for v in value]
    if isinstance(value, dict):
        return {"d": [[encode(k), encode(v)] for k, v in value.items()]}
    if isinstance(value, bytes):
        return {"b": value.hex()}
    return value


def outcome(fn, args):
    try:
        return {"r": encode(fn(*args))}
    except Exception as e:  # the outcome is what is compared, whatever it is
        return {"e": [type(e).__name__, getattr(e, "errno", None), str(e)]}


def same(a, b):
    return json.dumps(a, sort_keys=True) == json.dumps(b, sort_keys=True)


class Calls:
    """Makes module calls and keeps each with its outcome, in order."""

    def __init__(self, module):
        self.q = module
        self.made = []

    def __call__(self, name, *args):
        result = outcome(getattr(self.q, name), args)
        self.made.append([name, list(args), result])
        return result.get("r")


def _names(addrs, counters):
    """Interface names, from the address list and the counters (encoded)."""
    names = []
    rows = [r["t"][0] for r in addrs if isinstance(r, dict)] if isinstance(addrs, list) else []
    keys = [k for k, _ in counters["d"]] if isinstance(counters, dict) else []
    for name in rows + keys:
        if isinstance(name, str) and name not in names:
            names.append(name)
    return names


def whole_machine(module, only=None):
    """Every read-only call over every CPU, interface and process (those of
    only, if given); the calls made with their outcomes."""
    c = Calls(module)
    found = {name: c(name) for name in SYSTEM}
    ncpu = found["cpu_count_logical"]
    for cpu in range(min(ncpu, CPU_LIMIT) if isinstance(ncpu, int) else 0):
        for name in PER_CPU:
            c(name, cpu)
    for name in _names(found["net_if_addrs"], found["net_io_counters"]):
        for fn in PER_IF:
            c(fn, name)
    c("disk_partitions", True)
    c("disk_partitions", False)
    c("net_connections", FAMILIES, TYPES)
    pids = c("pids")
    for pid in pids if isinstance(pids, list) else []:
        if only is not None and pid not in only:
            continue
        for name in PER_PID:
            c(name, pid)
        for res in range(RLIMITS):
            c("proc_getrlimit", pid, res)
        c("proc_net_connections", pid, FAMILIES, TYPES)
    # A second sample, so that rates over two samples have two to compare.
    c("cpu_times")
    c("per_cpu_times")
    return c.made


RECORDED = set(SYSTEM + PER_CPU + PER_IF + PER_PID) | {
    "disk_partitions", "net_connections", "pids", "proc_getrlimit", "proc_net_connections"}


def _valid(entry):
    return (isinstance(entry, list) and len(entry) == 3 and entry[0] in RECORDED and
            isinstance(entry[1], list) and isinstance(entry[2], dict))


def check(module, made):
    """Makes the recorded calls again in order: the ones whose outcome
    differs, as (name, args, recorded, now). A file's results are input:
    only the recorder's own calls are made again."""
    if not all(_valid(e) for e in made):
        raise ValueError("recording is corrupt: a result that is no call of the recorder's")
    bad = []
    for name, args, want in made:
        got = outcome(getattr(module, name), args)
        if not same(got, want):
            bad.append((name, args, want, got))
    return bad
