// machine_code.h - a program translated into machine code (x86-64), for trees evaluated again and again.
#ifndef LIB_PARSE_NATIVE_H
#define LIB_PARSE_NATIVE_H

#include "run/program.h"

namespace lp {

// Machine code that evaluates PROGRAM as program_execute does, bit for bit,
// but writes no node record: it keeps each name's value and each host
// call's result in the program's `kept` array, from which
// program_sync_records computes the records when they are read. Null when
// the program is too large or the system refuses executable memory. The
// code reads the names at the addresses bound now: it must be released when
// the program binds again. Needs a program that has run once, so that every
// record is DONE and the constants' values are written.
// Defined by machine_code.cpp, or by machine_code_off.cpp (always null) in a build
// without native code.
NativeFn native_compile(const Program *program);
// True where this library was built with the generators (machine_code.cpp) and the
// process was not refused executable memory; false with machine_code_off.cpp.
// PARSER_LIMIT_NATIVE_CODE reads 0 where it is false.
bool native_code_available();
void native_release(NativeFn code);

// Machine code for parser_calc_bulk: evaluates rows FIRST, FIRST + 1, ... of
// PROGRAM several at a time in vector registers (8 with AVX2, else 4 with
// SSE2) and stores each value at out[row], bit for bit as program_execute
// would; returns the first row left undone, fewer than one vector before
// END. FEEDS is indexed as the program's leaves. Writes no node record. Null
// for a program with host calls, one too large, or when executable memory is
// refused. (ColumnFeed and BulkFn: program.h.)
BulkFn native_bulk_compile(const Program *program, const ColumnFeed *feeds);
// False keeps bulk code to SSE2 on a CPU with AVX2 (so tests run both).
extern bool native_bulk_avx2;
void native_bulk_release(BulkFn code);

} // namespace lp

#endif // LIB_PARSE_NATIVE_H
