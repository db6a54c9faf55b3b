// fuzz_func_replace.cpp - user-function substitution on its own: prototypes, bodies and the call from the input.
//
// Besides running the substitution with a handle's default budget, checks
// that one with a small budget gives exactly the same text when the budget
// covers what the first one spent, and otherwise refuses for size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "defined/substitute.h"
#include "tree/handle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using lp::SubstituteStatus;
    FuzzedDataProvider in(data, size);
    Parser *p = parser_new();
    const int functions = in.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < functions; ++i) {
        const std::string proto = in.ConsumeRandomLengthString(128);
        const std::string body = in.ConsumeRandomLengthString(512);
        parser_func(p, proto.c_str(), body.c_str());
    }
    const size_t ample = static_cast<size_t>(lp::kLimitSpecs[PARSER_LIMIT_SUBST_BYTES].initial);
    const size_t small = in.ConsumeIntegralInRange<size_t>(0, 4096);
    const std::string call = in.ConsumeRemainingBytesAsString();

    size_t ample_left = ample, small_left = small;
    SubstituteStatus full_status, status;
    char *full = lp::substitute_call(call.c_str(), &p->func_index, &ample_left, &full_status);
    char *bounded = lp::substitute_call(call.c_str(), &p->func_index, &small_left, &status);
    const size_t used = ample - ample_left;
    bool agree;
    if (full == nullptr) // no function, or too large for the ample budget and so for the small one
        agree = full_status != SubstituteStatus::OK && bounded == nullptr && status == full_status;
    else if (small >= used) // the same text, the same bytes spent
        agree = status == SubstituteStatus::OK && std::strcmp(full, bounded) == 0 && small_left == small - used;
    else // refused for size, of the result or of a pass on the way
        agree = bounded == nullptr && status == SubstituteStatus::TOO_LARGE;
    if (!agree) std::abort();
    std::free(full);
    std::free(bounded);
    parser_destroy(p);
    return 0;
}
