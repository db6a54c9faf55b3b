"""lib_parse: formulas typed by people, evaluated exactly and fast over numpy columns.

    >>> import lib_parse
    >>> lib_parse.evaluate("x*2", x=[1, 2, 3])
    array([2., 4., 6.], dtype=float32)
    >>> p = lib_parse.Parser()
    >>> p["x"] = 2.0
    >>> p.calc("x^2 + 1")
    5.0

Values are 32-bit floats, computed to the bit as the C library computes
them. See Parser, evaluate and FormulaError.
"""
from . import _core
from ._errors import Error, FormulaError, Function, Interrupted, Name, Node, Note
from ._evaluate import evaluate
from ._parser import (NAME_FUNCTION, NAME_HOST, NAME_UNKNOWN, NAME_VARIABLE, Parser, get_num_threads,
                      set_num_threads)

__version__ = _core.version

_core._set_error_factory(FormulaError.from_library)

__all__ = ["Parser", "evaluate", "FormulaError", "Interrupted", "Error", "Note", "Name", "Function", "Node",
           "set_num_threads", "get_num_threads", "NAME_VARIABLE", "NAME_UNKNOWN", "NAME_FUNCTION", "NAME_HOST",
           "__version__"]
