"""Asking the module, with every refusal kept as a short reason."""

import _quarn_bsd as q

from .units import reason

# What a module function may raise when the system refuses a figure.
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
        except NotImplementedError as e:
            self.errors.append({"section": section, "what": what, "reason": reason(e)})
        except REFUSED as e:
            self.errors.append({"section": section, "what": what, "reason": reason(e)})
        return default

    def optional(self, fn, *args):
        """fn(*args), or None where the machine lacks the feature (no
        battery, no sensor): an absence, not an error."""
        try:
            return fn(*args)
        except NotImplementedError:
            return None
        except REFUSED:
            return None

    def failed(self, section):
        return any(e["section"] == section for e in self.errors)


def zombie_error():
    return q.ZombieProcessError
