#!/usr/bin/env python3
"""make_seeds.py - writes the seed corpus of each harness into fuzz/corpus/<harness>/, and the regression inputs.

The structured harnesses read their input through FuzzedDataProvider: numbers
are taken from the end of the input, texts from the front (a text ends at a
backslash followed by another character; a doubled backslash is one). The
encoder below builds inputs in that layout, so each seed is a readable script.
"""
import os
import sys


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # bytes in the order they are consumed from the end

    def byte(self, value):
        self.back.append(value & 0xFF)
        return self

    def text(self, s, last=False):
        data = s.encode("latin-1").replace(b"\\", b"\\\\")
        self.front += data if last else data + b"\\e"
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


CALC_TEXTS = [
    "2*(x+1)-cos(y)", "x", "((x))", "(a)+(b)", "a-b-c", "cos(x)+1", "cos(x)^2", "2*3^2",
    "costly", "(x", "x+", "a+b-", ")(", "f(2)", "(f(2))", "g(5,2)", "f((1+2))", "f(1+2)",
    "g(f(1),2)", "h(pi)", "r(1)", "k()", "2(3)", "q(2)", "(a)(b)", "1-2-3-4", "8/2/2/2",
    "2^3^2", "7%4%2", "-x", "--x", "x*-y", "atan(1)*4", "log10(1000)+log2(8)+logn(1)+exp(0)",
    "sin(x)/tan(y)%3", "1e5", ".5+0.25", "long_name*x", "   ", "", "1/0", "0/0", "5%0",
    "99999999999999999999999999999999999999999*2", "f(f(f(f(x))))", "g(,2)", "((((((1))))))",
    "x^", "cos", "log", "\x01\xff(", "\t1 + 2\n",
]

# (command list) for the api_sequence harness: 0 var, 1 func, 2 calc, 3 expand,
# 4 calc the last text again, 5 errors, 6 walk, 7 diagnostics on/off.
def var(seed, name):
    seed.byte(0).byte(0).text(name)  # not a listed name: the text itself
    for _ in range(5):
        seed.byte(0)  # value 0


def func(seed, proto, body):
    seed.byte(1).text(proto).text(body)


def calc(seed, text):
    seed.byte(2).text(text)


def expand(seed, text):
    seed.byte(3).text(text)


API_SCRIPTS = {
    "define_and_calc": lambda s: (func(s, "f(x)", "x*2"), var(s, "y"), calc(s, "f(y)+1"), s.byte(4), s.byte(5)),
    "redefine": lambda s: (func(s, "f(x)", "x*2"), calc(s, "f(3)"), func(s, "f(x)", "x*3"), s.byte(4), s.byte(6)),
    "expand_between": lambda s: (calc(s, "1+2"), expand(s, "3*4"), s.byte(4), s.byte(5)),
    "runaway": lambda s: (func(s, "f(x)", "f(x)"), calc(s, "f(1)"), s.byte(5), func(s, "g(x)", "x+x"),
                          calc(s, "g(g(g(g(g(g(g(g(1))))))))"), s.byte(4)),
    "traced": lambda s: (s.byte(7).byte(1), func(s, "g(a,b)", "a-b"), calc(s, "g(5,2)*cos(0)"), s.byte(7).byte(0),
                         s.byte(4), s.byte(6)),
    "bad_texts": lambda s: (calc(s, "(x"), calc(s, "x+"), calc(s, "q(1)"), calc(s, "1+1"), s.byte(5)),
}

# Inputs that once failed, kept in fuzz/regressions/api_sequence/.
API_REGRESSIONS = {
    # A 300-byte input that grew a tree of tens of millions of nodes (over
    # 2 GB) before substitution's growth was bounded.
    "substitution_bomb": lambda s: (func(s, "f(x)", "-".join(["x"] * 128)), calc(s, "f(f(f(f(1))))"), s.byte(4)),
}

# (functions, bound, call) for the func_replace harness.
REPLACE_CASES = {
    "single": ([("f(x)", "x*2")], 4096, "f(3)"),
    "two_params": ([("g(a,b)", "a-b")], 4096, "g(5,2)"),
    "nested_args": ([("g(a,b)", "a-b")], 4096, "g(h(1,2),3)"),
    "swapped": ([("g(a,b)", "a-b")], 4096, "g(b,a)"),
    "first_char_only": ([("k(xy)", "x+1")], 4096, "k(3)"),
    "blank_param": ([("k(x, y)", "x-y")], 4096, "k(1,2)"),
    "atan": ([("k(a)", "atan(a)")], 4096, "k(5)"),
    "grows": ([("k(x)", "x+x*x")], 4, "k(100)"),
    "empty_arg": ([("k(x)", "2*x")], 4096, "k()"),
    "no_params": ([("k()", "7")], 4096, "k()"),
    "newest_first": ([("f(x)", "x*2"), ("fg(x)", "x+1")], 4096, "fg(2)"),
    "no_function": ([("f(x)", "x*2")], 4096, "2(3)"),
    "no_bracket_proto": ([("f", "x*2")], 4096, "f(3)"),
}


def write(directory, name, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as out:
        out.write(data)


def main(root):
    for i, text in enumerate(CALC_TEXTS):
        write(os.path.join(root, "calc_bytes"), "seed_%02d" % i, text.encode("latin-1"))
    for name, script in API_SCRIPTS.items():
        seed = Seed()
        script(seed)
        write(os.path.join(root, "api_sequence"), name, seed.bytes())
    for name, script in API_REGRESSIONS.items():
        seed = Seed()
        script(seed)
        write(os.path.join(root, "..", "regressions", "api_sequence"), name, seed.bytes())
    for name, (functions, bound, call) in REPLACE_CASES.items():
        seed = Seed().byte(len(functions) - 1)
        for proto, body in functions:
            seed.text(proto).text(body)
        seed.byte(bound >> 8).byte(bound)  # read high byte first, modulo 4097
        seed.text(call, last=True)
        write(os.path.join(root, "func_replace"), name, seed.bytes())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
