"""What the package's tests share: the C library itself, loaded through
ctypes, as the reference every value is compared with."""
import ctypes
import os

import numpy as np
import pytest


class CLibrary:
    """The shared library's parser_calc, row by row: the value a C host gets."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        lib.parser_new.restype = ctypes.c_void_p
        lib.parser_destroy.argtypes = [ctypes.c_void_p]
        lib.parser_syntax.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.parser_math.argtypes = [ctypes.c_void_p]
        lib.parser_var.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_float]
        lib.parser_calc.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
        lib.parser_calc.restype = ctypes.c_float
        self.lib = lib

    def rows(self, syntax, text, columns):
        """TEXT for each row of COLUMNS (name -> float32 array), one parser_calc a row."""
        lib = self.lib
        handle = lib.parser_new()
        try:
            lib.parser_syntax(handle, 1 if syntax == "standard" else 0)
            lib.parser_math(handle)
            n = len(next(iter(columns.values())))
            out = np.empty(n, dtype=np.float32)
            encoded = text.encode()
            names = [name.encode() for name in columns]
            values = list(columns.values())
            for i in range(n):
                for name, column in zip(names, values):
                    lib.parser_var(handle, name, column[i])
                out[i] = lib.parser_calc(handle, encoded)
            return out
        finally:
            lib.parser_destroy(handle)


@pytest.fixture(scope="session")
def clib():
    path = os.environ.get("LIB_PARSE_SHARED")
    if not path:
        pytest.skip("LIB_PARSE_SHARED names no shared library to compare with")
    return CLibrary(path)


def bits(values):
    return np.asarray(values, dtype=np.float32).view(np.uint32)
