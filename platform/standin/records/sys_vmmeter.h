// FreeBSD amd64's sys/vmmeter.h, as the stand-in provides it: virtual memory
// totals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "standin/freebsd_names.h"

namespace bsd {

// Virtual memory totals of vm.vmtotal.
struct vmtotal {
    std::uint64_t t_vm;
    std::uint64_t t_avm;
    std::uint64_t t_rm;
    std::uint64_t t_arm;
    std::uint64_t t_vmshr;
    std::uint64_t t_avmshr;
    std::uint64_t t_rmshr;
    std::uint64_t t_armshr;
    std::uint64_t t_free;
    std::int16_t t_rq;
    std::int16_t t_dw;
    std::int16_t t_pw;
    std::int16_t t_sl;
    std::int16_t t_sw;
    std::uint16_t t_pad[3];
};
static_assert(sizeof(vmtotal) == 88);
static_assert(offsetof(vmtotal, t_vmshr) == 32);
static_assert(offsetof(vmtotal, t_rmshr) == 48);
static_assert(offsetof(vmtotal, t_rq) == 72);

}  // namespace bsd
