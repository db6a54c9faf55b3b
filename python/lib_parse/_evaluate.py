"""lib_parse.evaluate: one formula over columns, with no Parser to keep."""
import threading
from collections import OrderedDict
from typing import Any, Mapping, Optional

import numpy as np

from . import _columns
from ._parser import LIMITS, Parser, get_num_threads

# Each thread keeps the parsers of its last texts: the same formula over new
# columns is not read again, and its machine code is reused. A parser is
# kept per grammar, text and set of names given, so that it holds exactly
# the variables of this call, never one left by another.
_KEPT = 16
_local = threading.local()


def evaluate(text: str, mapping: Optional[Mapping[str, Any]] = None, /, syntax: str = "standard",
             out: Optional[np.ndarray] = None, **columns: Any) -> np.ndarray:
    """The value of TEXT for every row of the columns, as a float32 array.

        lib_parse.evaluate("x*2", x=[1, 2, 3])              # array([2., 4., 6.])
        lib_parse.evaluate("sqrt(x^2 + y^2)", df)           # columns of a DataFrame
        lib_parse.evaluate("a*x + b", x=xs, a=2.0, b=1.0)   # scalars broadcast

    Columns are any real array-likes of one shape; a C-contiguous float32
    array is read in place. The math set is on. Rows are spread over
    set_num_threads() threads (every core by default), without the GIL.
    A text with errors raises FormulaError, with a caret under the error.
    """
    if not isinstance(text, str):
        raise TypeError("the text is a str")
    named = _columns.gather(mapping, columns)
    kept = getattr(_local, "parsers", None)
    if kept is None:
        kept = _local.parsers = OrderedDict()
    key = (syntax, text, tuple(sorted((name, _columns.is_scalar(value)) for name, value in named.items())))
    entry = kept.get(key)
    if entry is None:
        parser = Parser(syntax=syntax, math=True)
        parser._limit(LIMITS["threads"], get_num_threads())
        result = parser.bulk(text, named, out=out)  # raises for a text with errors: nothing is kept
        arrays = {name: value for name, value in named.items() if not _columns.is_scalar(value)}
        kept[key] = (parser, parser._columns_read(text, arrays))
        if len(kept) > _KEPT:
            kept.popitem(last=False)[1][0].close()
        return result
    # The same text and names again: read and checked already.
    kept.move_to_end(key)
    parser, read = entry
    parser._limit(LIMITS["threads"], get_num_threads())
    arrays = {}
    for name, value in named.items():
        if _columns.is_scalar(value):
            parser[name] = value
        else:
            arrays[name] = value
    return parser._rows(text, arrays, read, out, "raise")
