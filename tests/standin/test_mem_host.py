"""Swap answers of the stand-in from a made-up /proc/swaps."""

import pytest

import _quarn_bsd as q


class TestMadeUpSwap:
    """The swap table parser, on a made-up /proc/swaps."""

    @pytest.fixture
    def swaps_file(self, host_tree):
        def write(text):
            host_tree("/proc/swaps", text)
            for name in ("vmstat", "meminfo"):
                with open(f"/proc/{name}") as src:
                    host_tree(f"/proc/{name}", src.read())

        return write

    def test_devices_are_summed(self, swaps_file):
        ps = q.getpagesize()
        swaps_file("Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                   "/dev/sda2                               partition\t1048572\t\t2048\t\t-2\n"
                   "/swap\\040file                           file\t\t524288\t\t0\t\t-3\n")
        total, used, free, _, _ = q.swap_mem()
        assert total == (1048572 * 1024 // ps + 524288 * 1024 // ps) * ps
        assert used == 2048 * 1024
        assert free == total - used

    def test_header_only_is_no_swap(self, swaps_file):
        swaps_file("Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n")
        assert q.swap_mem()[:3] == (0, 0, 0)

    def test_garbled_lines_are_skipped(self, swaps_file):
        ps = q.getpagesize()
        swaps_file("Filename Type Size Used Priority\nonly two\n\n/dev/x part 8 4 0")
        assert q.swap_mem()[:3] == (8 * 1024 // ps * ps, 4 * 1024 // ps * ps,
                                    (8 * 1024 // ps - 4 * 1024 // ps) * ps)

    def test_unreadable_table_fails_the_swapinfo_call(self, swaps_file):
        with pytest.raises(RuntimeError, match=r"^kvm_getswapinfo\(\) syscall failed$"):
            q.swap_mem()
