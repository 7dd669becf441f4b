// One dump over a netlink socket of the host. The replies are the host
// kernel's, so they are untrusted input: tests and the fuzzer answer them
// from the injection store instead (call "netlink_recv", the key naming the
// dump; each step one datagram, an error step a failed receive).
#pragma once

#include <libmnl/libmnl.h>

#include <cstddef>
#include <cstdint>

namespace standin {

// Sends a dump request of this type with the family header extra (len
// bytes; null: zeros), then hands each reply message to cb until the dump
// ends. A dump of more than max_messages fails with ENOBUFS. Returns 0 or
// an errno; errno is left as it was.
int netlink_dump(int protocol, const char *key, std::uint16_t type, const void *extra,
                 std::size_t len, std::size_t max_messages, mnl_cb_t cb, void *data);

}  // namespace standin

// The live datagrams of every dump, as received, for recording seeds:
// index counts the datagrams of one dump from 0. Null: none.
extern "C" {
typedef void (*standin_netlink_tap_fn)(void *ctx, const char *key, int index, const void *data,
                                       std::size_t len);
void standin_netlink_tap(standin_netlink_tap_fn fn, void *ctx);
}
