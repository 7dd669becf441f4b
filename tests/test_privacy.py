"""The recorder's replacement of private values (tools/quarn_record/privacy.py)."""

import ipaddress

import pytest

from quarn_record.privacy import Scrubber


@pytest.fixture
def s():
    return Scrubber(secret=b"k" * 16)


def shape(b):
    return [(c.isupper(), c.isdigit(), None if c.isalnum() else c) for c in b.decode()]


@pytest.mark.parametrize("text", [b"/home/alice/Projects/x2.txt", b"--token=Hunter2", b"bob",
                                  b"A-b_C.d e"])
def test_text_keeps_length_and_shape(s, text):
    out = s.text(text)
    assert out != text and len(out) == len(text) and shape(out) == shape(text)
    assert s.text(text) == out  # the same value, the same way


@pytest.mark.parametrize("text", [b"12345", b"/usr/lib/", b"/proc/42/", b"-- ./"])
def test_numbers_and_common_names_stay(s, text):
    assert s.text(text) == text


def test_joins_hold_and_values_stay_apart(s):
    assert s.text(b"/srv/alice/data") == s.text(b"/srv/alice") + s.text(b"/data")
    words = [s.word(b"ab%d" % i) for i in range(500)]
    assert len(set(words)) == 500


@pytest.mark.parametrize("addr, kept", [
    ("127.0.0.1", "127.0.0.1"), ("0.0.0.0", "0.0.0.0"), ("224.0.0.251", "224.0.0.251"),
    ("::1", "::1"), ("ff02::1", "ff02::1"),
    ("10.1.2.3", "10."), ("fe80::1234:5678", "fe80::"), ("2001:db8::7", "2001:"),
])
def test_addresses_keep_their_kind(s, addr, kept):
    raw = ipaddress.ip_address(addr).packed
    out = str(ipaddress.ip_address(s.addr(raw)))
    assert out.startswith(kept) and len(s.addr(raw)) == len(raw)
    assert (out == addr) == (kept == addr)


def test_addresses_in_text_and_lookups_agree(s):
    raw = ipaddress.ip_address("192.168.7.9").packed
    text = str(ipaddress.ip_address(s.addr(raw))).encode()
    assert s.text(b"from 192.168.7.9").endswith(b" " + text)
    assert s.nameinfo(b"192.168.7.9") == text
    assert s.key("getnameinfo", "2.%s.0" % raw.hex()) == "2.%s.0" % s.addr(raw).hex()
