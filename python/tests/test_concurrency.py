"""Threads, interrupts and memory: many calls, several threads, Ctrl-C."""
import os
import signal
import threading
import time

import numpy as np
import pytest

import lib_parse

# A formula slow enough per row for a call that lasts a while.
SLOW = " + ".join(f"sin(x*{k}) * cos(y+{k})" for k in range(1, 33))


def test_threads_each_with_a_parser_agree_with_one():
    gen = np.random.default_rng(3)
    x = gen.normal(size=200_000).astype(np.float32)
    y = gen.normal(size=200_000).astype(np.float32)
    text = "(x + 1) * (y - 2) / (x*y + 3) + sqrt(x^2 + y^2)"
    expected = lib_parse.Parser().bulk(text, x=x, y=y)
    results = [None] * 4
    errors = []

    def work(k):
        try:
            p = lib_parse.Parser()
            for _ in range(5):
                results[k] = p.bulk(text, x=x, y=y)
                p["x"], p["y"] = float(x[k]), float(y[k])
                assert p.calc(text) == expected[k]
        except Exception as e:  # reported below: an assert in a thread fails nothing by itself
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for result in results:
        assert np.array_equal(result.view(np.uint32), expected.view(np.uint32))


def test_one_parser_is_refused_to_a_second_thread_while_it_computes():
    p = lib_parse.Parser()
    p.limit("threads", 1)
    x = np.ones(3_000_000, dtype=np.float32)
    started = threading.Event()
    p.native_func("mark", lambda v: started.set() or v, 1)
    outcome = {}

    def second():
        started.wait(10)
        try:
            p.calc("1 + 1")
        except RuntimeError as e:
            outcome["refused"] = str(e)
        p.interrupt()

    t = threading.Thread(target=second)
    t.start()
    with pytest.raises(lib_parse.Interrupted):
        p.bulk("mark(x) + " + SLOW, x=x, y=x)
    t.join()
    assert "in use" in outcome["refused"]


def interrupt_main_after(seconds):
    timer = threading.Timer(seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    return timer


def test_ctrl_c_stops_a_long_call_and_python_keeps_its_handler():
    previous = signal.getsignal(signal.SIGINT)
    x = np.linspace(0, 1, 20_000_000, dtype=np.float32)
    p = lib_parse.Parser()
    p.limit("threads", 1)
    start = time.monotonic()
    interrupt_main_after(0.3)
    with pytest.raises(KeyboardInterrupt):
        p.bulk(SLOW, x=x, y=x)  # some seconds of work without the stop
    assert time.monotonic() - start < 5
    assert signal.getsignal(signal.SIGINT) is previous
    # The parser goes on, and an interrupt does not outlive its call.
    assert p.calc("x + 1", errors="nan") == np.float32(p["x"]) + np.float32(1)


def test_a_build_without_end_is_stopped_too():
    p = lib_parse.Parser(syntax="defined")
    p.func("r(n)", "1+r(n)")
    for limit in ("subst_depth", "subst_count", "subst_bytes", "tree_growth"):
        p.limit(limit, 1 << 30)
    stopper = threading.Timer(0.2, p.interrupt)
    stopper.start()
    with pytest.raises(lib_parse.Interrupted):
        p.calc("r(1)")
    stopper.join()
    assert p.calc("2+2") == 4.0


def test_many_large_calls_do_not_grow_the_process():
    def resident_kib():
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))

    x = np.random.default_rng(1).normal(size=1_000_000).astype(np.float32)
    y = x.astype(np.float64)  # converted each call
    out = np.empty_like(x)
    p = lib_parse.Parser()
    p.native_func("twice", lambda v: v * 2, 1, pure=True)
    for _ in range(5):
        lib_parse.evaluate("x*y + cos(x)", x=x, y=y, out=out)
        p.bulk("x + twice(1)", x=x)
    before = resident_kib()
    for k in range(100):
        lib_parse.evaluate("x*y + cos(x)", x=x, y=y, out=out)
        p.bulk("x + twice(1)", x=x)
        if k % 10 == 0:
            with pytest.raises(lib_parse.FormulaError):
                p.bulk("x + nope", x=x)
    assert resident_kib() - before < 8 * 1024
