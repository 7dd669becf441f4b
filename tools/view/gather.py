"""Asking the module, with every refusal kept as a short reason."""

from .units import reason

# What a module function may raise when the system refuses a figure
# (NotImplementedError, a feature the kernel lacks, is a RuntimeError).
REFUSED = (OSError, RuntimeError, MemoryError, ValueError, OverflowError)


class Gather:
    """The errors of one snapshot: each an entry {"section", "what",
    "reason"} in the JSON document and a line of the report."""

    def __init__(self):
        self.errors = []

    def ask(self, section, what, fn, *args, default=None):
        """fn(*args), or default with the refusal noted."""
        try:
            return fn(*args)
        except REFUSED as e:
            self.errors.append({"section": section, "what": what, "reason": reason(e)})
        return default

    def optional(self, fn, *args):
        """fn(*args), or None where the machine lacks the feature or will
        not say (no battery, no sensor, no frequency): an absence, not an
        error of the snapshot."""
        try:
            return fn(*args)
        except REFUSED:
            return None
