// machine_code_runtime.h - what the two code generators (machine_code.cpp, machine_code_bulk.cpp) share.
#ifndef LIB_PARSE_JIT_H
#define LIB_PARSE_JIT_H

#include <cstdint>

#include <asmjit/x86.h>

namespace lp {

// One runtime for the process, never destroyed: code may be released by a
// handle destroyed during exit. Its allocator is thread-safe.
asmjit::JitRuntime &jit_runtime();

// Notes any error while code is emitted; AsmJit then returns error codes
// rather than throwing.
class JitFailure : public asmjit::ErrorHandler {
public:
    void handleError(asmjit::Error, const char *, asmjit::BaseEmitter *) override { failed = true; }
    bool failed = false;
};

// The code emitted by A into HOLDER, added to the runtime and ready to run;
// null when emitting failed (out of memory) or the runtime could not take
// it. A refusal of executable memory (a host's policy, which does not change
// while it runs) is final: no code is tried again in this process. A failed
// allocation is not: compiles are skipped for a while (2, 4, ... up to 65,536
// of them after failures in a row), then tried again.
void *jit_finish(asmjit::x86::Assembler &a, const JitFailure &failure, asmjit::CodeHolder *holder);
void jit_release(void *code);
// True when no code should be compiled now; counts a skipped compile.
bool jit_refused();
// Tests: the next add to the runtime fails with ERROR (an asmjit::Error).
void jit_fail_next_add(uint32_t error);

} // namespace lp

#endif // LIB_PARSE_JIT_H
