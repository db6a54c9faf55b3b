// substitute.h - replacing a user-function call by the function's body with its arguments.
#ifndef LIB_PARSE_SUBSTITUTE_H
#define LIB_PARSE_SUBSTITUTE_H

#include <cstddef>

#include "name_trie.h"

namespace lp {

enum class SubstituteStatus { OK, NO_FUNCTION, TOO_LARGE };

// The call text EXPR with the body of the function it names substituted,
// malloc'd; null when FUNCS (the user functions by name) has no function for it or the passes over the
// body would write more than *BUDGET bytes in all. *BUDGET is reduced by
// what they wrote; STATUS says why null was returned. *NAME_LENGTH, when
// given, is the length of the chosen function's name.
char *substitute_call(const char *expr, const NameTrie *funcs, size_t *budget, SubstituteStatus *status,
                      size_t *name_length = nullptr);

} // namespace lp

#endif // LIB_PARSE_SUBSTITUTE_H
