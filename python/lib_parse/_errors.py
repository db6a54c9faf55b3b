"""Errors of a formula, and the records the parser's listings give."""
from typing import List, NamedTuple, Optional


class Error(NamedTuple):
    """An error of a formula: its code, its place in the text (characters)
    and a line an end user can act on."""
    code: int
    offset: int
    length: int
    message: str


class Note(NamedTuple):
    """A note of Parser.check: an error code or a NOTE_* kind, its place in
    the text (characters), the text at that place and the message."""
    kind: int
    offset: int
    length: int
    text: str
    message: str


class Name(NamedTuple):
    """A name a text reads or calls (Parser.names): a NAME_* kind, its place
    in the text (characters) and the variable or function it names."""
    kind: int
    offset: int
    length: int
    name: str


class Function(NamedTuple):
    """A function of the parser (Parser.functions)."""
    kind: int  # FUNCTION_USER or FUNCTION_HOST
    name: str
    proto: Optional[str]
    body: Optional[str]
    replaced: bool
    n_args: int
    flags: int
    syntax: int  # a user function's grammar; -1 for a host function


class Node(NamedTuple):
    """A node of the current tree (Parser.walk), in pre-order."""
    depth: int
    side: int
    text: Optional[str]
    op: int
    state: int
    value: float


class Interrupted(RuntimeError):
    """Parser.interrupt() stopped the call (Ctrl-C raises KeyboardInterrupt)."""


# The library's code of a call parser_interrupt stopped.
INTERRUPTED = 9


def char_span(text: Optional[str], offset: int, length: int) -> "tuple[int, int]":
    """The library's place in bytes of UTF-8 as a place in TEXT's characters."""
    if text is None:
        return offset, length
    data = text.encode("utf-8")
    start = len(data[:offset].decode("utf-8", "ignore"))
    end = len(data[:offset + length].decode("utf-8", "ignore"))
    return start, end - start


class FormulaError(ValueError):
    """A formula with errors. `errors` lists every one (code, offset, length,
    message, places in characters of `text`); str() shows the first under
    the text with a caret."""

    def __init__(self, text: Optional[str], errors: List[Error]):
        self.text = text
        self.errors = errors
        super().__init__(self._render())

    @classmethod
    def from_library(cls, text: Optional[str], raw) -> Exception:
        """The exception for errors RAW of TEXT: Interrupted for a stopped call."""
        if raw and raw[0][0] == INTERRUPTED:
            return Interrupted("Parser.interrupt() stopped the call")
        errors = [Error(code, *char_span(text, offset, length), message)
                  for code, offset, length, message in raw]
        return cls(text, errors)

    def _render(self) -> str:
        if not self.errors:
            return "the formula has errors"
        first = self.errors[0]
        more = len(self.errors) - 1
        head = first.message + (f" (and {more} more error{'s' if more > 1 else ''})" if more else "")
        if self.text is None or "\n" in self.text or len(self.text) > 200:
            return head
        caret = " " * first.offset + "^" * max(1, first.length)
        return f"{head}\n  {self.text}\n  {caret}"

    def __reduce__(self):
        return (type(self), (self.text, self.errors))
