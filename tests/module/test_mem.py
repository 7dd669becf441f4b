"""Memory figures: page queues, swap and the allocator's statistics,
injected; and the leak checks, live and injected. The live checks against
/proc are in test_mem_live.py."""

import errno
import os
import struct

import pytest

import _quarn_bsd as q
import standin
from conftest import leave_errno
from leakcheck import assert_flat

VM_METER = (2, 1)
SC_PAGESIZE = 47  # FreeBSD's number for the page size
MEM_NAMES = ["hw.physmem", "vm.stats.vm.v_active_count", "vm.stats.vm.v_inactive_count",
             "vm.stats.vm.v_wire_count", "vm.stats.vm.v_cache_count",
             "vm.stats.vm.v_free_count", "vfs.bufspace"]
PAGING_NAMES = ["vm.stats.vm.v_swapin", "vm.stats.vm.v_swapout", "vm.stats.vm.v_vnodein",
                "vm.stats.vm.v_vnodeout"]
HEAP_STEPS = ["thread.tcache.flush", "epoch", "epoch", "stats.allocated", "stats.mapped"]


def vmtotal(vmshr=0, rmshr=0, **fields):
    """struct vmtotal: nine 64-bit page counts, five thread counts, padding."""
    names = ["t_vm", "t_avm", "t_rm", "t_arm", "t_vmshr", "t_avmshr", "t_rmshr", "t_armshr",
             "t_free"]
    fields.update(t_vmshr=vmshr, t_rmshr=rmshr)
    counts = [fields.get(n, 0) for n in names]
    rec = struct.pack("<9Q5h3H", *counts, 1, 2, 3, 4, 5, 0, 0, 0)
    assert len(rec) == 88
    return rec


def kvm_swap(total, used, name=b"total"):
    rec = struct.pack("<32sIIiii", name, used, total, 0, 0, 0)
    assert len(rec) == 52
    return rec


def u32(v):
    return struct.pack("<I", v)


def u64(v):
    return struct.pack("<Q", v)


def page_size(size):
    standin.push("sysconf", str(SC_PAGESIZE), standin.answer(value=size))


def answer_memory(physmem=u64(1 << 34), active=1, inactive=2, wire=3, cache=None, free=4,
                  bufspace=12345, vm=None, vm_error=None, vm_claim=None):
    """Answers every read of virtual_mem; vm_error fails the vmtotal read,
    vm_claim is the length its answer claims."""
    standin.sysctl_answer("hw.physmem", physmem)
    standin.sysctl_answer("vm.stats.vm.v_active_count", u32(active))
    standin.sysctl_answer("vm.stats.vm.v_inactive_count", u32(inactive))
    standin.sysctl_answer("vm.stats.vm.v_wire_count", u32(wire))
    if cache is not None:
        standin.sysctl_answer("vm.stats.vm.v_cache_count", u32(cache))
    standin.sysctl_answer("vm.stats.vm.v_free_count", u32(free))
    standin.sysctl_answer("vfs.bufspace", u64(bufspace))
    if vm_error is not None:
        standin.sysctl_error(VM_METER, vm_error)
    else:
        standin.push("sysctl", VM_METER,
                     standin.answer(vm if vm is not None else vmtotal(), value=vm_claim))


def answer_paging(swapin=0, swapout=0, vnodein=0, vnodeout=0):
    for name, v in zip(PAGING_NAMES, (swapin, swapout, vnodein, vnodeout)):
        standin.sysctl_answer(name, u32(v))


# ---- injected ----

class TestVirtualMem:
    def test_elements_in_order_and_in_bytes(self):
        page_size(8192)
        answer_memory(physmem=u64(123456789), active=10, inactive=20, wire=30, cache=40, free=50,
                      bufspace=777, vm=vmtotal(vmshr=6, rmshr=7, t_vm=99, t_free=98))
        assert q.virtual_mem() == (123456789, 50 * 8192, 10 * 8192, 20 * 8192, 30 * 8192,
                                   40 * 8192, 777, 13 * 8192)

    def test_reading_order(self):
        answer_memory()
        q.virtual_mem()
        reads = [(c.key, c.size) for c in standin.calls_to("sysctl")]
        assert reads == [(n, 8 if n in ("hw.physmem", "vfs.bufspace") else 4)
                         for n in MEM_NAMES] + [("2.1", 88)]

    def test_missing_cache_count_gives_zero(self):
        answer_memory()
        # The live stand-in has no v_cache_count, as a current FreeBSD.
        assert q.virtual_mem()[5] == 0
        assert standin.calls_to("sysctl", "vm.stats.vm.v_cache_count")[0].op == "read"

    @pytest.mark.parametrize("err", [errno.EPERM, errno.EIO])
    def test_failing_cache_count_is_zero_whatever_the_error(self, err):
        answer_memory()
        standin.sysctl_error("vm.stats.vm.v_cache_count", err)
        assert q.virtual_mem()[5] == 0

    def test_page_counts_are_unsigned_and_widened_before_multiplying(self):
        page_size(4096)
        answer_memory(active=0xFFFFFFFF, free=0x80000000,
                      vm=vmtotal(vmshr=2**40, rmshr=2**40))
        got = q.virtual_mem()
        assert got[1] == 0x80000000 * 4096
        assert got[2] == 0xFFFFFFFF * 4096
        assert got[7] == 2**41 * 4096

    def test_shared_is_the_sum_of_both_counts(self):
        page_size(4096)
        answer_memory(vm=vmtotal(vmshr=5, rmshr=0))
        assert q.virtual_mem()[7] == 5 * 4096
        standin.reset()
        page_size(4096)
        answer_memory(vm=vmtotal(vmshr=0, rmshr=3))
        assert q.virtual_mem()[7] == 3 * 4096

    @pytest.mark.parametrize("failing", [n for n in MEM_NAMES if "cache" not in n])
    def test_first_failure_ends_the_call(self, failing):
        for name in MEM_NAMES:
            if name == failing:
                standin.sysctl_error(name, errno.EACCES)
                break
            standin.sysctl_answer(name, u64(1) if name in ("hw.physmem",) else u32(1))
        with pytest.raises(PermissionError) as exc:
            q.virtual_mem()
        assert exc.value.strerror.endswith(f"(originated from sysctlbyname('{failing}'))")
        keys = [c.key for c in standin.calls_to("sysctl")]
        assert keys == MEM_NAMES[:MEM_NAMES.index(failing) + 1]

    @pytest.mark.parametrize("err,exc_type", [(errno.EPERM, PermissionError),
                                              (errno.ENOENT, FileNotFoundError),
                                              (errno.EIO, OSError)])
    def test_failing_vmtotal_is_the_annotated_oserror(self, err, exc_type):
        answer_memory(vm_error=err)
        with pytest.raises(exc_type) as exc:
            q.virtual_mem()
        assert exc.value.errno == err
        assert exc.value.strerror == (
            f"{os.strerror(err)} (originated from sysctl(CTL_VM | VM_METER))")

    # The cache count's own failure (absent live: ENOENT) is the errno left
    # behind when the vmtotal read is then refused for its size.
    @pytest.mark.parametrize("cache_err,left", [
        (None, 0), (None, errno.EPERM), (errno.EIO, errno.EIO)])
    def test_vmtotal_size_mismatch_stands_whatever_errno_was_left(self, cache_err, left):
        answer_memory(vm_claim=96)
        if cache_err is not None:
            standin.sysctl_error("vm.stats.vm.v_cache_count", cache_err)
        leave_errno(left)
        with pytest.raises(RuntimeError) as exc:
            q.virtual_mem()
        assert type(exc.value) is RuntimeError
        assert str(exc.value) == "sysctl() size mismatch"

    def test_short_answers_leave_zero(self):
        answer_memory(physmem=b"\x01", vm=b"")
        got = q.virtual_mem()
        assert got[0] == 1 and got[7] == 0


class TestSwapMem:
    def test_totals_and_paging_sums(self):
        page_size(4096)
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(1000, 250), value=2))
        answer_paging(1, 2, 30, 40)
        assert q.swap_mem() == (1000 * 4096, 250 * 4096, 750 * 4096, 3, 70)

    def test_free_is_total_minus_used(self):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(0xFFFFFFFF, 0xFFFFFFFE)))
        answer_paging()
        total, used, free, _, _ = q.swap_mem()
        assert free == total - used == q.getpagesize()

    def test_used_beyond_total_leaves_no_free_swap(self):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(10, 12)))
        answer_paging()
        assert q.swap_mem()[2] == 0

    def test_paging_sums_wrap_modulo_2_32(self):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(0, 0)))
        answer_paging(0xFFFFFFFF, 2, 0x80000000, 0x80000001)
        assert q.swap_mem()[3:] == (1, 1)

    def test_calls_in_order_and_the_handle_closed_before_the_reads(self):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(8, 1)))
        answer_paging()
        q.swap_mem()
        calls = [(c.call, c.key) for c in standin.log()]
        assert calls == [("sysconf", str(SC_PAGESIZE)), ("kvm_open", ""),
                         ("kvm_getswapinfo", ""), ("kvm_close", "")] + [
            ("sysctl", n) for n in PAGING_NAMES]
        assert standin.calls_to("kvm_getswapinfo")[0].size == 1
        assert [c.size for c in standin.calls_to("sysctl")] == [4] * 4

    @pytest.mark.parametrize("err", [errno.EACCES, errno.ENOMEM, 0])
    def test_failing_kvm_open(self, err, capfd):
        standin.push("kvm_open", "", standin.error(err))
        with pytest.raises(RuntimeError, match=r"^kvm_open\(\) syscall failed$"):
            q.swap_mem()
        assert standin.calls_to("kvm_getswapinfo") == []
        assert standin.calls_to("kvm_close") == []
        # The library says why under the module's prefix.
        assert capfd.readouterr().err.startswith("kvm_open failed: ")

    @pytest.mark.parametrize("step", [standin.error(errno.EIO), standin.answer(value=-1),
                                      standin.answer(kvm_swap(5, 5), value=-7)])
    def test_negative_swapinfo_closes_then_fails(self, step):
        standin.push("kvm_getswapinfo", "", step)
        with pytest.raises(RuntimeError, match=r"^kvm_getswapinfo\(\) syscall failed$"):
            q.swap_mem()
        assert len(standin.calls_to("kvm_close")) == 1
        assert standin.calls_to("sysctl") == []

    def test_a_failing_close_is_not_looked_at(self):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(4, 0)))
        standin.push("kvm_close", "", standin.error(errno.EBADF))
        answer_paging()
        assert q.swap_mem()[0] == 4 * q.getpagesize()

    def test_the_swapinfo_copy_is_bounded_by_the_one_entry(self):
        # Three entries offered; the module's array holds one.
        standin.push("kvm_getswapinfo", "", standin.answer(
            kvm_swap(1, 0) + kvm_swap(2, 0) + kvm_swap(3, 0), value=2))
        answer_paging()
        assert q.swap_mem()[0] == q.getpagesize()

    @pytest.mark.parametrize("failing", PAGING_NAMES)
    def test_failing_paging_counter(self, failing):
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(1, 0)))
        for name in PAGING_NAMES:
            if name == failing:
                standin.sysctl_error(name, errno.ENOENT)
                break
            standin.sysctl_answer(name, u32(1))
        with pytest.raises(FileNotFoundError) as exc:
            q.swap_mem()
        assert f"sysctlbyname('{failing}')" in exc.value.strerror
        assert [c.key for c in standin.calls_to("sysctl")] == \
            PAGING_NAMES[:PAGING_NAMES.index(failing) + 1]


class TestHeapInfo:
    def test_statistics_after_a_refresh(self):
        standin.push("mallctl", "epoch", standin.answer(u64(41)))
        standin.push("mallctl", "stats.allocated", standin.answer(u64(2**40 + 1)))
        standin.push("mallctl", "stats.mapped", standin.answer(u64(2**63)))
        assert q.heap_info() == (2**40 + 1, 2**63)
        calls = [(c.key, c.op, c.size) for c in standin.calls_to("mallctl")]
        assert calls == [("thread.tcache.flush", "call", 0), ("epoch", "read", 8),
                         ("epoch", "write", 8), ("stats.allocated", "read", 8),
                         ("stats.mapped", "read", 8)]

    @pytest.mark.parametrize("step,text,err", [
        (0, "mallctl('thread.tcache.flush')", errno.EPERM),
        (1, "mallctl('epoch')", errno.EINVAL),
        (2, "mallctl('epoch') update", errno.EAGAIN),
        (3, "mallctl('stats.allocated')", errno.ENOENT),
        (4, "mallctl('stats.mapped')", errno.EFAULT),
    ])
    def test_each_failure_names_its_step_with_the_returned_number(self, step, text, err):
        name = HEAP_STEPS[step]
        if step == 2:
            standin.sequence("mallctl", "epoch", [standin.answer(u64(1)), standin.error(err)])
        else:
            standin.push("mallctl", name, standin.error(err))
        with pytest.raises(OSError) as exc:
            q.heap_info()
        assert exc.value.errno == err
        assert exc.value.strerror == f"{os.strerror(err)} (originated from {text})"
        assert len(standin.calls_to("mallctl")) == step + 1

    def test_returned_number_need_not_be_an_errno(self):
        standin.push("mallctl", "stats.mapped", standin.answer(value=12345))
        with pytest.raises(OSError) as exc:
            q.heap_info()
        assert exc.value.errno == 12345
        assert exc.value.strerror.endswith("(originated from mallctl('stats.mapped'))")

    def test_update_writes_back_the_length_the_read_left(self):
        # A 4-byte epoch leaves 4 as the length; the allocator refuses it.
        standin.push("mallctl", "epoch", standin.answer(b"\1\0\0\0"))
        standin.push("mallctl", "epoch", standin.live())
        with pytest.raises(OSError) as exc:
            q.heap_info()
        assert exc.value.errno == errno.EINVAL
        assert exc.value.strerror.endswith("(originated from mallctl('epoch') update)")
        assert standin.calls_to("mallctl", "epoch")[1].size == 4


class TestHeapTrim:
    def test_purges_every_arena(self):
        assert q.heap_trim() is None
        assert [(c.key, c.op) for c in standin.calls_to("mallctl")] == [
            ("arena.4096.purge", "call")]

    def test_failure_is_the_plain_oserror(self):
        standin.push("mallctl", "arena.4096.purge", standin.error(errno.EFAULT))
        with pytest.raises(OSError) as exc:
            q.heap_trim()
        assert exc.value.errno == errno.EFAULT
        assert exc.value.strerror == os.strerror(errno.EFAULT)


# ---- leaks ----

class TestLeaks:
    @pytest.mark.parametrize("fn", [q.virtual_mem, q.swap_mem, q.heap_info, q.heap_trim])
    def test_live_success(self, fn):
        assert_flat(fn, calls=3000)

    def test_failure_paths(self):
        answer_memory(vm_error=errno.EIO)
        assert_flat(q.virtual_mem, expect=OSError)
        standin.reset()
        standin.sysctl_error("hw.physmem", errno.EIO)
        assert_flat(q.virtual_mem, expect=OSError)

        standin.reset()
        standin.push("kvm_open", "", standin.error(errno.EACCES))
        assert_flat(q.swap_mem, expect=RuntimeError, calls=2000)
        standin.reset()
        standin.push("kvm_getswapinfo", "", standin.error(errno.EIO))
        assert_flat(q.swap_mem, expect=RuntimeError)
        standin.reset()
        standin.push("kvm_getswapinfo", "", standin.answer(kvm_swap(1, 0)))
        standin.sysctl_error("vm.stats.vm.v_vnodeout", errno.EIO)
        assert_flat(q.swap_mem, expect=OSError)

        standin.reset()
        standin.push("mallctl", "stats.mapped", standin.error(errno.EIO))
        assert_flat(q.heap_info, expect=OSError)
        standin.push("mallctl", "thread.tcache.flush", standin.error(errno.EIO))
        assert_flat(q.heap_info, expect=OSError)
        standin.push("mallctl", "arena.4096.purge", standin.error(errno.EIO))
        assert_flat(q.heap_trim, expect=OSError)
