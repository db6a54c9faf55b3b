// fuzz_func_replace.cpp - user-function substitution on its own: prototypes, bodies and the call from the input.
//
// Besides running the substitution, checks that one with a small budget either
// refuses or gives exactly the text of the full budget.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "lib_parse_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    Parser *p = parser_new();
    const int functions = in.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < functions; ++i) {
        const std::string proto = in.ConsumeRandomLengthString(128);
        const std::string body = in.ConsumeRandomLengthString(512);
        parser_func(p, proto.c_str(), body.c_str());
    }
    size_t bound = in.ConsumeIntegralInRange<size_t>(0, 4096);
    const std::string call = in.ConsumeRemainingBytesAsString();

    char *full = lp::parser_func_replace(call.c_str(), p->funcs);
    lp::SubstituteStatus status;
    char *bounded = lp::substitute_call(call.c_str(), p->funcs, &bound, &status);
    if (full == nullptr) {
        if (bounded != nullptr || status != lp::SubstituteStatus::NO_FUNCTION) std::abort();
    } else if (bounded != nullptr) {
        if (status != lp::SubstituteStatus::OK || std::strcmp(full, bounded) != 0) std::abort();
    } else if (status != lp::SubstituteStatus::TOO_LARGE) {
        std::abort(); // a refusal may only be for size (of the result or a pass on the way)
    }
    std::free(full);
    std::free(bounded);
    parser_destroy(p);
    return 0;
}
