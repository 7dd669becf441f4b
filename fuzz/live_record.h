// The live host's answer to one slot, in the bytes an injected step gives.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace fuzz {

// Fills data with the answer; returns 0, or the errno of a failed call.
// A "file" slot gives the file's content, a "link" slot the link's target.
int live_answer(const slot &s, std::string &data);

// Opens sockets of each kind the stand-in tells apart (TCP listening and
// connected, UDP over IPv6, UNIX, netlink, packet) and keeps them open: the
// link slots /proc/1/fd/3 and on are then seeded with their names, and the
// socket dumps recorded afterwards list them.
void open_seed_sockets();
// The descriptor of the nth seed socket; -1 when there is none.
int seed_socket(int n);

// Records the live datagrams of every netlink dump made while on, the
// dumps of one key one after the other.
void record_netlink(bool on);
// The datagrams recorded for a key, in order (none: empty).
std::vector<std::string> recorded_netlink(const std::string &key);

}  // namespace fuzz
