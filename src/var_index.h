// var_index.h - a flat index of a handle's variables by exact name, so that updating a value walks no list.
#ifndef LIB_PARSE_VAR_INDEX_H
#define LIB_PARSE_VAR_INDEX_H

#include <cstddef>
#include <cstdint>

#include "lib_parse_internal.h"

namespace lp {

// One variable with the first eight bytes of its name kept beside it: most
// names end within them, and then a lookup compares this array only.
struct VarEntry {
    Variable *variable;
    uint64_t head;  // the name's first bytes, zero-padded
    size_t length;  // strlen of the name
};

// The variable named NAME exactly, or null. Rebuilt from VARS first when the
// list holds records the index has not seen.
Variable *var_index_find(VarIndex *index, const List *vars, const char *name);
// Records a variable just pushed onto the list.
void var_index_add(VarIndex *index, Variable *variable);
void var_index_free(VarIndex *index);

} // namespace lp

#endif // LIB_PARSE_VAR_INDEX_H
