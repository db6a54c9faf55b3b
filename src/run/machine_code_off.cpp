// machine_code_off.cpp - no machine code: every program is interpreted.
#include "run/machine_code.h"

namespace lp {

bool native_code_available() { return false; }
NativeFn native_compile(const Program *) { return nullptr; }
void native_release(NativeFn) {}
BulkFn native_bulk_compile(const Program *, const ColumnFeed *) { return nullptr; }
void native_bulk_release(BulkFn) {}
bool native_bulk_avx2 = false;

} // namespace lp
