"""The snapshot's parts: gathering (system, network, procs), and the three
ways of showing it (text, html, watch). tools/snapshot.py is the entry."""
