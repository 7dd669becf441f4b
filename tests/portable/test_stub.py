"""The type stub and the module agree: the same functions, constants and
exception, and each function takes as many arguments as the stub says."""

import ast
import os
import re

import pytest

import _quarn_bsd

# An installed module has its stub beside it; a build folder's is the tree's.
_BESIDE = os.path.join(os.path.dirname(_quarn_bsd.__file__), "_quarn_bsd.pyi")
_TREE = os.path.join(os.path.dirname(__file__), "..", "..", "src", "_quarn_bsd.pyi")
STUB = _BESIDE if os.path.exists(_BESIDE) else _TREE


def _stub():
    tree = ast.parse(open(STUB).read())
    funcs, consts, classes = {}, {}, set()
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            a = node.args
            funcs[node.name] = len(a.posonlyargs) + len(a.args)
        elif isinstance(node, ast.AnnAssign) and not node.target.id.startswith("_"):
            consts[node.target.id] = ast.literal_eval(node.value)
        elif isinstance(node, ast.ClassDef):
            classes.add(node.name)
    return funcs, consts, classes


FUNCS, CONSTS, CLASSES = _stub()


def test_stub_names_every_function_constant_and_the_exception():
    module = {n: v for n, v in vars(_quarn_bsd).items() if not n.startswith("__")}
    assert set(FUNCS) == {n for n, v in module.items() if callable(v) and not isinstance(v, type)}
    assert len(FUNCS) == 46
    assert CONSTS == {n: v for n, v in module.items() if isinstance(v, int)}
    assert CLASSES == {"ZombieProcessError"}
    assert issubclass(_quarn_bsd.ZombieProcessError, Exception)


@pytest.mark.parametrize("name", sorted(n for n, c in FUNCS.items() if c))
def test_argument_count_is_the_stubs(name):
    count = FUNCS[name]
    for given in (count - 1, count + 1):
        with pytest.raises(TypeError) as e:
            getattr(_quarn_bsd, name)(*[None] * given)
        taken = re.search(r"takes exactly (\d+) argument", str(e.value))
        assert taken and int(taken.group(1)) == count, str(e.value)
