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

// The variable named NAME exactly, or null. Inline: setting a variable is
// the most frequent call a host makes.
inline Variable *var_index_find(VarIndex *index, const List *vars, const char *name) {
    if (index->count != static_cast<size_t>(vars->count)) var_index_sync(index, vars);
    size_t length;
    const uint64_t head = name_head(name, &length);
    for (size_t i = 0; i < index->count; ++i) {
        const VarEntry &e = index->entries[i];
        if (e.head == head && e.length == length &&
            (length <= 8 || std::memcmp(e.variable->name + 8, name + 8, length - 8) == 0))
            return e.variable;
    }
    return nullptr;
}
// Records a variable just pushed onto the list.
void var_index_add(VarIndex *index, Variable *variable);
void var_index_free(VarIndex *index);

// The variable an operand text names: the newest whose name begins with the
// text (an equal name included), or null.
const Variable *variable_by_prefix(const List *vars, const char *text);

} // namespace lp

#endif // LIB_PARSE_VARIABLES_H
