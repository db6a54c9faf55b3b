"""Errors: a formula's as FormulaError with its places, a caller's as
TypeError or ValueError, a host function's as itself; never a crash."""
import gc
import pickle

import numpy as np
import pytest

import lib_parse


def test_formula_errors_carry_every_error_and_a_caret():
    p = lib_parse.Parser()
    p["x"] = 1.0
    with pytest.raises(lib_parse.FormulaError) as caught:
        p.calc("2 × (x + 1)")
    error = caught.value
    assert isinstance(error, ValueError)
    first = error.errors[0]
    # Places count characters: '×' is two bytes of UTF-8 but one character.
    assert (first.offset, first.length) == (2, 1) and "'×'" in first.message
    lines = str(error).splitlines()
    assert lines[1] == "  2 × (x + 1)" and lines[2] == "    ^"
    with pytest.raises(lib_parse.FormulaError) as caught:
        p.calc("log(x) + sin x")
    error = caught.value
    assert [(e.code, e.offset, e.length) for e in error.errors] == [(14, 9, 3), (16, 13, 1)]
    assert str(error).startswith("'sin' is a function: write sin(x) (and 1 more error)")
    # The exception travels whole (between processes, for instance).
    copy = pickle.loads(pickle.dumps(error))
    assert copy.errors == error.errors and str(copy) == str(error)


def test_a_value_regardless_when_asked():
    p = lib_parse.Parser()
    assert np.isnan(p.calc("1 +", errors="nan"))
    assert np.isnan(p.eval(errors="nan"))
    with pytest.raises(lib_parse.FormulaError):
        p.eval()
    values = p.bulk("y * 2", errors="nan", x=[1.0, 2.0])  # y is no column: every row NaN
    assert np.isnan(values).all()
    with pytest.raises(ValueError):
        p.calc("1", errors="ignore")


def test_errors_come_before_any_row():
    out = np.zeros(3, dtype=np.float32)
    with pytest.raises(lib_parse.FormulaError) as caught:
        lib_parse.evaluate("x + z", x=[1, 2, 3], out=out)
    assert "'z'" in str(caught.value)
    assert not out.any()


def test_bad_arguments_raise_clearly():
    with pytest.raises(TypeError, match="complex"):
        lib_parse.evaluate("x", x=np.array([1j]))
    with pytest.raises(TypeError, match="real numbers"):
        lib_parse.evaluate("x", x=["a", "b"])
    with pytest.raises(TypeError):
        lib_parse.evaluate("x", x=[object()])
    with pytest.raises(ValueError, match="differ in shape"):
        lib_parse.evaluate("x + y", x=[1, 2], y=[1, 2, 3])
    with pytest.raises(TypeError, match="float32"):
        lib_parse.evaluate("x", x=[1.0], out=np.zeros(1))
    with pytest.raises(ValueError, match="shape"):
        lib_parse.evaluate("x", x=[1.0], out=np.zeros(2, dtype=np.float32))
    with pytest.raises(ValueError, match="writeable"):
        frozen = np.zeros(1, dtype=np.float32)
        frozen.flags.writeable = False
        lib_parse.evaluate("x", x=[1.0], out=frozen)
    with pytest.raises(TypeError):
        lib_parse.evaluate(b"x", x=[1.0])
    with pytest.raises(TypeError):
        lib_parse.evaluate("x", 5)
    with pytest.raises(ValueError, match="NUL"):
        lib_parse.Parser().calc("1\0+2")
    with pytest.raises(ValueError, match="syntax"):
        lib_parse.Parser(syntax="python")
    with pytest.raises(ValueError, match="limit"):
        lib_parse.Parser().limit("speed", 1)
    p = lib_parse.Parser()
    with pytest.raises(KeyError):
        p["nothing"]
    with pytest.raises(KeyError):
        del p["nothing"]
    with pytest.raises(ValueError, match="prototype"):
        p.func("f(", "1")
    with pytest.raises(ValueError, match="cannot name"):
        p.native_func("cos", abs, 1)
    with pytest.raises(TypeError):
        p.native_func("f", 3, 1)


def test_a_closed_parser_refuses_every_call():
    with lib_parse.Parser() as p:
        p["x"] = 1.0
    assert p.closed
    for call in (lambda: p.calc("1"), lambda: p.eval(), lambda: p.__setitem__("x", 1),
                 lambda: p["x"], lambda: p.bulk("x", x=[1]), lambda: p.check("x"), lambda: p.walk()):
        with pytest.raises(ValueError, match="closed"):
            call()
    p.close()  # again: nothing happens
    p.interrupt()


def test_host_functions_exceptions_and_reentry():
    p = lib_parse.Parser()
    seen = []

    def clamp(x, lo, hi):
        seen.append(x)
        return min(max(x, lo), hi)

    p.native_func("clampit", clamp, n_args=3, pure=True)
    assert np.array_equal(p.bulk("clampit(x, 0, 1)", x=[-1.0, 0.5, 2.0]), [0, 0.5, 1])
    assert p.calc("clampit(5, 0, 1)") == 1.0

    def fails(x):
        if x > 2:
            raise ZeroDivisionError(f"no value at {x}")
        return x

    p.native_func("fails", fails, 1)
    with pytest.raises(ZeroDivisionError, match="no value at 3"):
        p.bulk("fails(x)", x=np.arange(1000, dtype=np.float32))
    with pytest.raises(ZeroDivisionError):
        p.calc("fails(7)")
    assert p.calc("fails(1)") == 1.0  # the parser goes on

    p.native_func("text", lambda: "not a number", 0)
    with pytest.raises(TypeError, match="real number"):
        p.calc("text()")
    p.native_func("inner", lambda x: p.calc("1"), 1)
    with pytest.raises(RuntimeError, match="in use"):
        p.calc("inner(1)")
    p.native_func("inner", None)
    with pytest.raises(lib_parse.FormulaError):
        p.calc("inner(1)")


def test_a_parser_and_its_functions_are_released():
    import weakref

    class Marker:
        def __call__(self, x):
            return x

    marker = Marker()
    ref = weakref.ref(marker)
    p = lib_parse.Parser()
    p.native_func("m", marker, 1)
    assert p.calc("m(2)") == 2.0
    del marker
    assert ref() is not None  # the parser holds it
    del p
    gc.collect()
    assert ref() is None
