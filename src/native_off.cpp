// native_off.cpp - no machine code: every program is interpreted.
#include "native.h"

namespace lp {

NativeFn native_compile(const Program *) { return nullptr; }
void native_release(NativeFn) {}

} // namespace lp
