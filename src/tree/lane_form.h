// lane_form.h - what vector code may compute instead of calling a math set function lane by lane.
#ifndef LIB_PARSE_LANE_FORM_H
#define LIB_PARSE_LANE_FORM_H

#include <cstdint>

namespace lp {

// The same value to the bit as the function's call. Only the math set's own
// functions have a form; one a host defines, even under the same name, is
// called.
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
};

} // namespace lp

#endif // LIB_PARSE_LANE_FORM_H
