// substitute.h - replacing a user-function call by the function's body with its arguments.
#ifndef LIB_PARSE_SUBSTITUTE_H
#define LIB_PARSE_SUBSTITUTE_H

#include <cstddef>
#include <string_view>

#include "containers/containers.h"
#include "support/check_point.h"
#include "support/checked_memory.h"

struct UserFunction; // handle.h

namespace lp {

struct NameTrie;

enum class SubstituteStatus { OK, NO_FUNCTION, TOO_LARGE };

// The function a call text names: the newest whose name begins the call, or
// null when FUNCS (the user functions by name) has none.
const UserFunction *choose_function(std::string_view call, const NameTrie *funcs);

// The call text CALL with the body of F substituted, written into *OUT
// (its memory reused), *PASS the memory of each pass over the body; false
// when the passes would write more than *BUDGET bytes in all. *BUDGET is
// reduced by what they wrote. Stopped at a check point of CHECK, false too:
// the caller looks at CHECK to tell the two apart.
bool substitute_body(std::string_view call, const UserFunction *f, size_t *budget, String *out, String *pass,
                     CheckPoint &check);

// Both steps: null when FUNCS has no function for the call, or the passes
// would write too much; STATUS says which. *NAME_LENGTH, when given, is the
// length of the chosen function's name.
char *substitute_call(std::string_view call, const NameTrie *funcs, size_t *budget, SubstituteStatus *status,
                      size_t *name_length = nullptr);

// The length of F's name, the bytes of its prototype before "(".
size_t function_name_length(const UserFunction *f);

} // namespace lp

#endif // LIB_PARSE_SUBSTITUTE_H
