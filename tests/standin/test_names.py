"""The stand-in's constants and macros come from its lists of names."""
import pytest

import standin_names


def test_headers_are_written_from_the_lists():
    assert standin_names.main(["--check"]) == 0


GOOD = ("== sys/x.h\n# A family.\nA_B 0x10\nC 7 unsigned long\nm p.q member\nf ::bsd::f call\n"
        "G 3 enum e_t\nH 4 enum e_t\n")


def test_one_entry_gives_a_value_and_a_macro():
    blocks = standin_names.parse(GOOD)
    names, clash = standin_names.names_header(blocks), standin_names.clash_header(blocks)
    assert "// sys/x.h: A family." in names
    assert "inline constexpr int a_b = 0x10;" in names
    assert "inline constexpr unsigned long c = 7;" in names
    assert "enum e_t {\n    g = 3,\n    h = 4,\n};" in names
    assert "p.q" not in names and "::bsd::f" not in names
    assert "#undef A_B\n#define A_B (::bsd::a_b)" in clash
    assert "#define m p.q" in clash
    assert "#define f(x) (::bsd::f(x))" in clash
    assert "#define H (::bsd::h)" in clash


@pytest.mark.parametrize("text, message", [
    ("A 1\n", "names.list:1: a name before any header and family"),
    ("== h\n# f\nA\n", "names.list:3: a name needs a value"),
    ("== h\n# f\nA 1 long double\n", "names.list:3: unknown type 'long double'"),
    ("== h\n# f\nA 1\n# g\na 2\n", "names.list:5: a repeats names.list:3"),
    ("== h\n# f\n1A 1\n", "names.list:3: '1A' is not a name"),
])
def test_a_faulty_list_is_refused_with_its_line(text, message):
    with pytest.raises(standin_names.ListError, match="^%s$" % message.replace("(", r"\(")):
        standin_names.parse(text)
