// variables.h - a handle's variables and the two ways a name finds one: exactly, and by prefix.
#ifndef LIB_PARSE_VARIABLES_H
#define LIB_PARSE_VARIABLES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "containers.h"

// Never moved or freed before parser_destroy: parser_var_ref hands out &value.
struct Variable {
    char *name;
    float value;
};

namespace lp {

// One variable with the first eight bytes of its name kept beside it: most
// names end within them, and then a lookup compares this array only.
struct VarEntry {
    Variable *variable;
    uint64_t head; // the name's first bytes, zero-padded
    size_t length; // strlen of the name
};

// The variables by exact name, in the order of the list they index.
struct VarIndex {
    VarEntry *entries;
    size_t count;
    size_t capacity;
};

// The first eight bytes of NAME, zero-padded, and its full length.
inline uint64_t name_head(const char *name, size_t *length) {
    uint64_t head = 0;
    size_t i = 0;
    for (; i < 8 && name[i] != 0; ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    *length = i < 8 ? i : 8 + std::strlen(name + 8);
    return head;
}

// Reads the list again when it holds records the index has not seen.
void var_index_sync(VarIndex *index, const List *vars);

// The common case of a lookup by exact name, inline: an index in step with
// the list and a name shorter than eight bytes. Sets *FOUND to the variable or
// null and returns true; returns false for the other cases, which
// var_index_find handles. Callers keep those out of line, so that the
// common call, setting a known variable, needs no stack frame.
inline bool var_index_find_short(const VarIndex *index, const List *vars, const char *name, Variable **found) {
    if (index->count != static_cast<size_t>(vars->count)) return false;
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == 0) {
            // A name shorter than eight bytes ends in its head with a zero
            // byte, which no longer name's head has: equal heads, equal names.
            *found = nullptr;
            for (size_t k = 0; k < index->count; ++k)
                if (index->entries[k].head == head) {
                    *found = index->entries[k].variable;
                    break;
                }
            return true;
        }
        head |= static_cast<uint64_t>(c) << (8 * i);
    }
    return false;
}

// The variable named NAME exactly, or null.
Variable *var_index_find(VarIndex *index, const List *vars, const char *name);
// Records a variable just pushed onto the list.
void var_index_add(VarIndex *index, Variable *variable);
void var_index_free(VarIndex *index);

// The variable an operand text names: the newest whose name begins with the
// text (an equal name included), or null.
const Variable *variable_by_prefix(const List *vars, const char *text);

} // namespace lp

#endif // LIB_PARSE_VARIABLES_H
