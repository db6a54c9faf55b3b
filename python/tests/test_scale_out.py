"""Beyond one process: a Parser pickles as its definitions, and a formula
over a Dask DataFrame on worker processes gives the single process's bits."""
import operator
import pickle
import random

import numpy as np
import pytest

import lib_parse
from test_values import random_text


def built_up(syntax):
    """A parser with everything that must travel: limits, variables whose
    order decides prefix reads, user functions hidden by newer ones, a
    function of the other grammar, math functions removed and replaced."""
    p = lib_parse.Parser(syntax=syntax)
    p.limit("subst_count", 500)
    for name, value in [("xy", 3.0), ("x", -1.5), ("xz", 0.25), ("y", 2.0), ("yy", 7.0)]:
        p[name] = value
    del p["xz"]
    p.func("g(a)", "a+1")
    p.func("g(a)", "a*3")  # hides the first
    p.func("h(a, b)", "g(a) - b")
    p.native_func("sqrt", None)
    p.native_func("cbrt", operator.neg, 1, pure=True)  # a picklable callable in place of the math set's
    p._syntax(1 - p._syntax(-1))
    p.func("k(t)", "t / 4")  # read in the other grammar
    p._syntax(1 - p._syntax(-1))
    return p


@pytest.mark.parametrize("syntax", ["standard", "defined"])
def test_an_unpickled_parser_gives_the_same_bits(syntax):
    p = built_up(syntax)
    q = pickle.loads(pickle.dumps(p))
    assert q.syntax == syntax and q.limits == p.limits
    assert list(q.variables().items()) == list(p.variables().items())
    assert q.functions() == p.functions()
    gap = " " if syntax == "standard" else ""
    rng = random.Random(11)
    texts = [random_text(rng, syntax == "standard") for _ in range(40)]
    texts += ["x", "g(x)", f"h(x,{gap}y)", "cbrt(y)", "sqrt(4)", "k(8)", "xy", "yy+x"]
    for text in texts:
        assert np.float32(p.calc(text, errors="nan")).view(np.uint32) == \
            np.float32(q.calc(text, errors="nan")).view(np.uint32), text
        assert p.names(text) == q.names(text), text


def test_a_host_function_that_cannot_pickle_is_named():
    p = lib_parse.Parser()
    p.native_func("double", lambda v: 2 * v, 1)
    with pytest.raises(pickle.PicklingError, match="'double'"):
        pickle.dumps(p)
    p.native_func("double", None)
    assert pickle.loads(pickle.dumps(p)).calc("1+1") == 2.0


FORMULA = "price * (1 + rate) ^ years - fee"


def table(rows=200_000):
    pd = pytest.importorskip("pandas")
    gen = np.random.default_rng(5)
    return pd.DataFrame({"price": gen.uniform(1, 100, rows), "rate": gen.uniform(0, 0.1, rows),
                         "years": gen.integers(1, 30, rows), "fee": gen.uniform(0, 5, rows),
                         "label": ["row"] * rows})


def test_a_pandas_column():
    frame = table()
    frame = frame.assign(value=lib_parse.evaluate(FORMULA, frame))
    expected = lib_parse.evaluate(FORMULA, price=frame.price, rate=frame.rate, years=frame.years, fee=frame.fee)
    assert frame.value.dtype == np.float32
    assert np.array_equal(frame.value.to_numpy().view(np.uint32), expected.view(np.uint32))


def test_dask_workers_agree_with_one_process():
    pytest.importorskip("dask.dataframe")
    distributed = pytest.importorskip("distributed")
    import dask.dataframe as dd
    import pandas as pd

    frame = table()
    whole = lib_parse.evaluate(FORMULA, frame)
    # The formula is checked once, here, where an error is raised with its caret.
    parser = lib_parse.Parser()
    with pytest.raises(lib_parse.FormulaError, match=r"\^"):
        parser.validate(FORMULA.replace("rate", "rte"), frame.columns)
    parser.validate(FORMULA, frame.columns)
    assert not parser.variables()  # the check changed nothing
    parser.limit("threads", 1)  # a core per worker

    def by_evaluate(part):
        return pd.Series(lib_parse.evaluate(FORMULA, part), index=part.index)

    def by_parser(part, p):
        return pd.Series(p.bulk(FORMULA, part), index=part.index)

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        parts = dd.from_pandas(frame, npartitions=6)
        meta = pd.Series(dtype=np.float32)
        for result in (parts.map_partitions(by_evaluate, meta=meta).compute(),
                       parts.map_partitions(by_parser, parser, meta=meta).compute()):
            assert np.array_equal(result.sort_index().to_numpy().view(np.uint32), whole.view(np.uint32))
