"""lib_parse.Parser: one parser handle with its variables and functions."""
import threading
from typing import Any, Callable, Dict, Iterable, List, Mapping, Optional

import numpy as np

from . import _columns, _core
from ._errors import Error, FormulaError, Function, Interrupted, Name, Node, Note, char_span

SYNTAXES = {"defined": 0, "standard": 1}
LIMITS = {"text_bytes": 0, "subst_depth": 1, "subst_count": 2, "subst_bytes": 3,
          "tree_growth": 4, "native_code": 5, "threads": 6}
# Kinds of Parser.names.
NAME_VARIABLE, NAME_UNKNOWN, NAME_FUNCTION, NAME_HOST = 0, 1, 2, 3

_threads_lock = threading.Lock()
_num_threads = 0


def set_num_threads(threads: int) -> int:
    """Sets how many threads the bulk calls of Parsers made from now on, and
    of evaluate(), may spread their rows over (0: every core the process may
    run on, 1: the calling thread only); returns the previous setting."""
    global _num_threads
    threads = int(threads)
    if not 0 <= threads <= 256:
        raise ValueError("threads is 0 (every core) to 256")
    with _threads_lock:
        previous, _num_threads = _num_threads, threads
    return previous


def get_num_threads() -> int:
    """The setting of set_num_threads."""
    return _num_threads


class Parser(_core.Handle):
    """A parser: variables, user and host functions, and the texts it reads.

    `syntax` is "standard" (the grammar of formulas: `x * 2`, `1e3`,
    `a > 0 ? a : -a`, names matched exactly) or "defined" (the library's
    own language). `math=True` adds the math set: sqrt, pow, min, max,
    clamp, hypot, log and ln, the constants pi and e, and more.

    One call at a time: a Parser used by two threads at once, or by its own
    host function, raises RuntimeError. Use one Parser per thread.
    """

    def __init__(self, syntax: str = "standard", math: bool = True):
        if syntax not in SYNTAXES:
            raise ValueError(f"syntax is 'standard' or 'defined', not {syntax!r}")
        super().__init__(SYNTAXES[syntax], bool(math))
        self._limit(LIMITS["threads"], _num_threads)

    # -- the handle's life ---------------------------------------------------

    def __enter__(self) -> "Parser":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __reduce__(self):
        """A Parser pickles as its definitions: grammar, limits, variables in
        the order defined, user functions in the order defined, the math set
        and Python host functions (which must pickle themselves)."""
        if self.closed:
            raise ValueError("a closed parser cannot be pickled")
        return (_restore, (_definitions(self),))

    def __repr__(self) -> str:
        if self.closed:
            return "<lib_parse.Parser closed>"
        return f"<lib_parse.Parser syntax={self.syntax!r} math={self.math} variables={len(self._vars())}>"

    @property
    def syntax(self) -> str:
        """The grammar texts are read in: "standard" or "defined"."""
        return "standard" if self._syntax(-1) == 1 else "defined"

    # -- variables -----------------------------------------------------------

    def __setitem__(self, name: str, value: float) -> None:
        if not isinstance(name, str):
            raise TypeError("a variable's name is a str")
        self._set(name, _columns.scalar_value(name, value))

    def __getitem__(self, name: str) -> float:
        value = self._get(name) if isinstance(name, str) else None
        if value is None:
            raise KeyError(name)
        return value

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and self._get(name) is not None

    def __delitem__(self, name: str) -> None:
        if not isinstance(name, str) or not self._unset(name):
            raise KeyError(name)

    def variables(self) -> Dict[str, float]:
        """The variables and their values, in the order they were defined."""
        return dict(self._vars())

    # -- functions -----------------------------------------------------------

    def func(self, proto: str, body: str) -> None:
        """Defines a user function: `p.func("f(a, b)", "a*b + 1")`."""
        if self._func(proto, body) != 0:
            raise ValueError(f"{proto!r} is not a prototype of the form name(a, b, ...)")

    def remove_func(self, name: str) -> None:
        """Removes every definition of user function NAME."""
        if not self._func_unset(name):
            raise KeyError(name)

    def native_func(self, name: str, fn: Optional[Callable[..., float]], n_args: int = -1,
                    pure: bool = False) -> None:
        """Makes the Python callable FN a function texts can call as NAME(...)
        with N_ARGS arguments (-1: any number up to 64); FN None removes it.

        FN runs on the thread that calls the parser, with the GIL, and
        returns a real number. PURE says the same arguments always give the
        same value with no effect, so a call of constants is computed once.
        An exception FN raises stops the call and is raised by it.
        """
        if fn is not None and not callable(fn):
            raise TypeError("fn is a callable or None")
        flags = _core.NATIVE_PURE if pure else 0
        if self._native(name, fn, int(n_args), flags) != 0:
            if fn is None:
                raise KeyError(name)
            raise ValueError(f"{name!r} cannot name a host function with {n_args} arguments: a name holds no "
                             "blank, bracket, comma or operator, is not one of the language's functions, "
                             f"and takes -1 to {_core.MAX_ARGS} arguments")

    def functions(self) -> List[Function]:
        """The user functions, newest first, then the host functions."""
        return [Function(*f) for f in self._functions()]

    # -- limits --------------------------------------------------------------

    def limit(self, name: str, value: Optional[int] = None) -> int:
        """Reads limit NAME, or sets it to VALUE and returns the old value.
        Names: text_bytes, subst_depth, subst_count, subst_bytes,
        tree_growth, native_code, threads."""
        if name not in LIMITS:
            raise ValueError(f"no limit {name!r}; the limits are {', '.join(LIMITS)}")
        if value is not None and int(value) < 0:
            raise ValueError("a limit is not negative")
        return self._limit(LIMITS[name], -1 if value is None else int(value))

    @property
    def limits(self) -> Dict[str, int]:
        """Every limit's value."""
        return {name: self._limit(which, -1) for name, which in LIMITS.items()}

    # -- texts ---------------------------------------------------------------

    def check(self, text: str) -> List[Note]:
        """The errors and notes of TEXT, places in characters; builds aside,
        leaving the parser as it was."""
        notes = []
        for kind, offset, length, message in self._check(text):
            start, size = char_span(text, offset, length)
            notes.append(Note(kind, start, size, text[start:start + size], message))
        return notes

    def validate(self, text: str, columns: Iterable[str] = ()) -> None:
        """Raises FormulaError, with a caret under the first error, when TEXT
        has errors with the parser's variables and the names COLUMNS (say, a
        DataFrame's columns) as variables too. Changes nothing: check a
        formula once, where its author sees the error, before rows are
        computed elsewhere."""
        added = [name for name in columns if isinstance(name, str) and name not in self]
        for name in added:
            try:
                self._set(name, 0.0)
            except ValueError:  # no name a text can read
                pass
        try:
            errors = [Error(n.kind, n.offset, n.length, n.message) for n in self.check(text) if n.kind < 100]
        finally:
            for name in added:
                self._unset(name)
        if errors:
            raise FormulaError(text, errors)

    def names(self, text: str) -> List[Name]:
        """The variables TEXT reads and the functions it calls, in text order."""
        return [Name(kind, *char_span(text, offset, length), name) for kind, offset, length, name in self._names(text)]

    def walk(self) -> List[Node]:
        """The current tree's nodes in pre-order, with their last values."""
        return [Node(*node) for node in self._walk()]

    def bulk(self, text: str, mapping: Optional[Mapping[str, Any]] = None, /, out: Optional[np.ndarray] = None,
             errors: str = "raise", **columns: Any) -> np.ndarray:
        """TEXT for every row of the columns given by name, as a float32 array.

        Columns are any real array-likes of one shape (a C-contiguous
        float32 array is read in place); a scalar is a variable for every
        row. MAPPING (a dict, a pandas DataFrame) gives columns too; only
        those the text reads are converted. The GIL is released while rows
        are computed; Ctrl-C stops the call (KeyboardInterrupt), and so does
        interrupt() from another thread (Interrupted). A text with errors
        raises FormulaError before any row is computed. With errors="nan"
        neither raises: rows of a text with errors, and rows a stop left, are NaN.
        """
        if not isinstance(text, str):
            raise TypeError("the text is a str")
        if errors not in ("raise", "nan"):
            raise ValueError('errors is "raise" or "nan"')
        named = _columns.gather(mapping, columns)
        arrays: Dict[str, Any] = {}
        for name, value in named.items():
            if _columns.is_scalar(value):
                self[name] = value
            else:
                arrays[name] = value
        read = self._columns_read(text, arrays)
        for name in read:
            if name not in self:
                self[name] = 0.0
        self._expand(text)
        if errors == "raise":
            self._raise_errors(text)
        return self._rows(text, arrays, read, out, errors)

    def _rows(self, text: str, arrays: Mapping[str, Any], read: List[str], out: Optional[np.ndarray],
              errors: str) -> np.ndarray:
        """The rows of TEXT, whose names READ of ARRAYS are variables already."""
        # Every column gives the shape, also one the text does not read.
        shape = _columns.common_shape({name: np.shape(value) for name, value in arrays.items()})
        converted = {name: _columns.as_float32(name, arrays[name]) for name in read}
        result = _columns.output(out, shape)
        flat_out = result.reshape(-1)
        flats = []
        for array in converted.values():
            flat = array.reshape(-1)
            # The library reads the columns while it writes OUT.
            flats.append(flat.copy() if np.may_share_memory(flat, flat_out) else flat)
        if self._bulk(text, list(converted), flats, flat_out) != 0 and errors == "raise":
            raise Interrupted("Parser.interrupt() stopped the call: the rows not computed are NaN")
        return result

    def _columns_read(self, text: str, arrays: Mapping[str, Any]) -> List[str]:
        """The names of ARRAYS that TEXT reads: exactly in the standard
        grammar; in the defined one also by prefix (x reads a column xy), as
        if every column were a variable."""
        if not arrays:
            return []
        listed = [n for n in self.names(text) if n.kind in (NAME_VARIABLE, NAME_UNKNOWN)]
        words = {text[n.offset:n.offset + n.length] for n in listed} | {n.name for n in listed}
        if self.syntax == "standard":
            return [name for name in arrays if name in words]
        return [name for name in arrays if any(name.startswith(word) for word in words)]


# -- pickling: a Parser travels as its definitions -----------------------------

def _definitions(parser: Parser) -> dict:
    """What makes PARSER what it is, in the order it was made."""
    import pickle
    natives = []
    for name, fn, n_args, flags in parser._natives():
        try:
            pickle.dumps(fn)
        except Exception as e:
            raise pickle.PicklingError(
                f"host function {name!r} ({fn!r}) cannot be pickled, so neither can its Parser: {e}") from e
        natives.append((name, fn, n_args, flags))
    functions = parser.functions()
    return {
        "syntax": parser.syntax,
        "math": parser.math,
        "limits": parser.limits,
        "variables": parser._vars(),
        # Oldest first, hidden ones too: a newer definition hides an older one again.
        "user": [(f.proto, f.body, f.syntax) for f in reversed(functions) if f.kind == 0],
        "host": [f.name for f in functions if f.kind == 1],
        "natives": natives,
    }


def _restore(state: dict) -> Parser:
    parser = Parser(syntax=state["syntax"], math=state["math"])
    for name, value in state["limits"].items():
        parser.limit(name, value)
    for name, value in state["variables"]:
        parser._set(name, value)
    syntax = parser._syntax(-1)
    for proto, body, grammar in state["user"]:
        parser._syntax(grammar)  # a body is read in the grammar it was defined under
        parser._func(proto, body)
    parser._syntax(syntax)
    for name, fn, n_args, flags in state["natives"]:
        parser._native(name, fn, n_args, flags)
    # The math set's functions the original had removed.
    kept = set(state["host"])
    for f in parser.functions():
        if f.kind == 1 and f.name not in kept:
            parser._native(f.name, None, 0, 0)
    return parser
