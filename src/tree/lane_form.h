// lane_form.h - what the evaluators may compute instead of calling a math set function.
#ifndef LIB_PARSE_LANE_FORM_H
#define LIB_PARSE_LANE_FORM_H

#include <cstdint>

#include "tree/operation_kinds.h"

namespace lp {

// The same value to the bit as the function's call, in vector code and
// blocks and, for a comparison, in the interpreter too. Only the math set's
// own functions have a form; one a host defines, even under the same name,
// is called.
enum class LaneForm : uint8_t {
    CALL,
    SQRT, // (float)sqrt((double)x) is sqrtf(x), one instruction over every lane
    // A lane kernel (run/lane_math.h) of one operand...
    CBRT,
    ASIN,
    ACOS,
    SINH,
    COSH,
    TANH,
    EXP2,
    // ...and of two.
    POW,
    HYPOT,
    ATAN2,
    // The comparisons: the language's own operations, 1 or +0.
    LT,
    LE,
    GT,
    GE,
    EQ,
    NE,
};

// The operation (OP_LT ... OP_NE) a comparison's form is, or -1.
inline int32_t form_operation(LaneForm form) {
    return form >= LaneForm::LT && form <= LaneForm::NE ? OP_LT + (static_cast<int32_t>(form) - static_cast<int32_t>(LaneForm::LT))
                                                        : -1;
}

} // namespace lp

#endif // LIB_PARSE_LANE_FORM_H
