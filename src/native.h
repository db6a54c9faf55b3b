// native.h - a program translated into machine code (x86-64), for trees evaluated again and again.
#ifndef LIB_PARSE_NATIVE_H
#define LIB_PARSE_NATIVE_H

#include "program.h"

namespace lp {

// Machine code that evaluates PROGRAM as program_execute does, bit for bit,
// and stores every operator's and name's value in its node's record; or null
// when the program is too large or the system refuses executable memory.
// The code reads the names at the addresses bound now: it must be released
// when the program binds again. Needs a program that has run once, so that
// every record is DONE and the constants' values are written.
// Defined by native.cpp, or by native_off.cpp (always null) in a build
// without native code.
NativeFn native_compile(const Program *program);
void native_release(NativeFn code);

} // namespace lp

#endif // LIB_PARSE_NATIVE_H
