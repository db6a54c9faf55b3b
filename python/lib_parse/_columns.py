"""Columns from what Python users hold: lists, numpy arrays of any real
dtype, pandas columns and frames, mappings; scalars broadcast."""
from typing import Any, Dict, Mapping, Optional, Tuple

import numpy as np


def gather(mapping: Optional[Mapping[str, Any]], columns: Dict[str, Any]) -> Dict[str, Any]:
    """Names and values from MAPPING (anything with keys() and [], such as
    a DataFrame) and keyword COLUMNS, which win."""
    named: Dict[str, Any] = {}
    if mapping is not None:
        if not hasattr(mapping, "keys"):
            raise TypeError(f"columns come in a mapping of names to values, not {type(mapping).__name__}")
        for key in mapping.keys():
            if isinstance(key, str):
                named[key] = mapping[key]
    named.update(columns)
    return named


def is_scalar(value: Any) -> bool:
    return np.ndim(value) == 0


def as_float32(name: str, value: Any) -> np.ndarray:
    """VALUE as a C-contiguous float32 array: the same array when it is one
    already (no copy), else converted once."""
    array = value if isinstance(value, np.ndarray) else np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"column '{name}' holds {array.dtype} values, not real numbers")
    return np.ascontiguousarray(array, dtype=np.float32)


def scalar_value(name: str, value: Any) -> float:
    array = np.asarray(value)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"'{name}' is {array.dtype}, not a real number")
    return float(array)


def common_shape(shapes: Dict[str, Tuple[int, ...]]) -> Tuple[int, ...]:
    """The one shape of SHAPES, () for none."""
    distinct = set(shapes.values())
    if len(distinct) > 1:
        listed = ", ".join(f"'{name}' {shape}" for name, shape in shapes.items())
        raise ValueError(f"the columns differ in shape: {listed}")
    return distinct.pop() if distinct else ()


def output(out: Optional[np.ndarray], shape: Tuple[int, ...]) -> np.ndarray:
    """OUT checked, or a new array of SHAPE."""
    if out is None:
        return np.empty(shape, dtype=np.float32)
    if not isinstance(out, np.ndarray) or out.dtype != np.float32:
        raise TypeError("out is a float32 numpy array")
    if out.shape != shape:
        raise ValueError(f"out has shape {out.shape}, the columns {shape}")
    if not out.flags.c_contiguous or not out.flags.writeable:
        raise ValueError("out is C-contiguous and writeable")
    return out
