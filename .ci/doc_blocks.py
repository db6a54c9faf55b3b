#!/usr/bin/env python3
"""doc_blocks.py WORKDIR FILE... - compiles, runs and checks every fenced block of the docs.

Against the installed lib_parse (pkg-config lib_parse) and the lparse on PATH:
  c, cpp   with main(): a program, compiled (C11 / C++17, warnings are errors),
           linked and run; an `output` block right after it is what it must print.
           Without main(): declarations, compiled after the public headers, so
           they must match them.
  output   the output of the program block just before it.
  console  a transcript: each `$ COMMAND` line runs in bash (stderr joined to
           stdout), and the lines up to the next `$ ` are what it must print.
  cmake    the body of a CMakeLists.txt for a C program `my_program`,
           configured and built against the installed package.
  sh       instructions for the reader's machine: checked by `bash -n` only.
A block after a line `<!-- fragment: NAME -->` is skipped and named. Any
other block fails the run, as does every mismatch.
"""
import os
import re
import subprocess
import sys

FENCE = re.compile(r"^```(\S*)\s*$")
FRAGMENT = re.compile(r"^<!-- fragment: (.+?) -->$")
PROGRAM = re.compile(r"\bint\s+main\s*\(")
HEADERS = '#include <stddef.h>\n#include "lib_parse.h"\n#include "lib_parse/diagnostics.h"\n'
TINY_MAIN = '#include "lib_parse.h"\nint main(void) { Parser *p = parser_new(); parser_destroy(p); return 0; }\n'
CMAKE_HEAD = ("cmake_minimum_required(VERSION 3.16)\nproject(doc_block LANGUAGES C)\n"
              "add_executable(my_program main.c)\n")


def blocks(path):
    """(line, info, text, fragment name) of each fenced block of PATH."""
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        start, body = i, []
        i += 1
        while i < len(lines) and lines[i] != "```":
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise SystemExit(f"{path}:{start + 1}: block never closed")
        fragment = FRAGMENT.match(lines[start - 1]) if start > 0 else None
        yield start + 1, m.group(1), "\n".join(body) + "\n", fragment.group(1) if fragment else None
        i += 1


def run(cmd, cwd, **kw):
    return subprocess.run(cmd, cwd=cwd, shell=isinstance(cmd, str), capture_output=True, text=True, **kw)


def pkg_config(*args):
    return run(["pkg-config", *args, "lib_parse"], ".").stdout.split()


def check_program(where, info, text, expected, work):
    source = os.path.join(work, "block." + ("c" if info == "c" else "cpp"))
    binary = os.path.join(work, "block")
    if PROGRAM.search(text):
        open(source, "w").write(text)
        cmd = ["cc", "-std=c11"] if info == "c" else ["c++", "-std=c++17"]
        cmd += ["-Wall", "-Wextra", "-Wpedantic", "-Werror", *pkg_config("--cflags"), source, "-o", binary,
                *pkg_config("--libs")]
    else:
        if expected is not None:
            return f"{where}: an output block follows a block without main()"
        open(source, "w").write((HEADERS if info == "c" else '#include "lib_parse.hpp"\n') + text)
        cmd = ["cc", "-std=c11"] if info == "c" else ["c++", "-std=c++17"]
        cmd += ["-Wall", "-Wextra", "-Wpedantic", "-Werror", "-Wno-unused", *pkg_config("--cflags"),
                "-fsyntax-only", source]
    built = run(cmd, work)
    if built.returncode != 0:
        return f"{where}: does not compile:\n{built.stderr}"
    if not PROGRAM.search(text):
        return None
    ran = run([binary], work, timeout=60)
    if ran.returncode != 0:
        return f"{where}: exits with {ran.returncode}:\n{ran.stderr}"
    if expected is not None and ran.stdout != expected:
        return f"{where}: prints\n{ran.stdout}instead of\n{expected}"
    return None


def check_console(where, text, work):
    commands, failures = [], []
    for line in text.splitlines():
        if line.startswith("$ "):
            commands.append([line[2:], []])
        elif commands:
            commands[-1][1].append(line)
        else:
            return f"{where}: a console block must start with a `$ ` line"
    for command, lines in commands:
        ran = run(["bash", "-c", "exec 2>&1\n" + command], work, timeout=60)
        expected = "".join(l + "\n" for l in lines)
        if ran.stdout != expected:
            failures.append(f"{where}: `{command}` prints\n{ran.stdout}instead of\n{expected}")
    return "\n".join(failures) or None


def check_cmake(where, text, work):
    project = os.path.join(work, "cmake_project")
    os.makedirs(project, exist_ok=True)
    open(os.path.join(project, "main.c"), "w").write(TINY_MAIN)
    open(os.path.join(project, "CMakeLists.txt"), "w").write(CMAKE_HEAD + text)
    for cmd in (["cmake", "-S", project, "-B", project + "/build"], ["cmake", "--build", project + "/build"]):
        done = run(cmd, work)
        if done.returncode != 0:
            return f"{where}: {' '.join(cmd[:2])} fails:\n{done.stdout}{done.stderr}"
    return None


def main():
    work, files = os.path.abspath(sys.argv[1]), sys.argv[2:]
    os.makedirs(work, exist_ok=True)
    failures, counts = [], {}
    for path in files:
        found = list(blocks(path))
        for k, (line, info, text, fragment) in enumerate(found):
            where = f"{path}:{line}"
            following = found[k + 1] if k + 1 < len(found) else None
            if fragment:
                print(f"skipped fragment '{fragment}' ({where})")
                kind, error = "fragment", None
            elif info in ("c", "cpp"):
                expected = following[2] if following and following[1] == "output" else None
                kind, error = info, check_program(where, info, text, expected, work)
            elif info == "output":
                before = found[k - 1] if k > 0 else None
                ok = before and before[1] in ("c", "cpp") and not before[3] and PROGRAM.search(before[2])
                kind, error = "output", None if ok else f"{where}: an output block must follow a program"
            elif info == "console":
                kind, error = "console", check_console(where, text, work)
            elif info == "cmake":
                kind, error = "cmake", check_cmake(where, text, work)
            elif info == "sh":
                done = run(["bash", "-n"], work, input=text)
                kind, error = "sh", None if done.returncode == 0 else f"{where}: {done.stderr}"
            else:
                kind, error = "?", f"{where}: a ```{info} block is none of c, cpp, output, console, cmake, sh, nor a marked fragment"
            counts[kind] = counts.get(kind, 0) + 1
            if error:
                failures.append(error)
    print("blocks: " + ", ".join(f"{n} {kind}" for kind, n in sorted(counts.items())))
    for failure in failures:
        print("FAILED " + failure, file=sys.stderr)
    print(f"{sum(counts.values()) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
