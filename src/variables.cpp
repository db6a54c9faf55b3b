// variables.cpp - looking variables up by exact name in a flat array, and by prefix in the list.
#include <cstdlib>
#include <cstring>

#include "memory.h"
#include "variables.h"

namespace lp {

namespace {

void append(VarIndex *index, Variable *variable) {
    if (index->count == index->capacity) {
        index->capacity = index->capacity == 0 ? 8 : 2 * index->capacity;
        index->entries = static_cast<VarEntry *>(lp_realloc(index->entries, index->capacity * sizeof(VarEntry)));
    }
    VarEntry &e = index->entries[index->count++];
    e.variable = variable;
    e.head = name_head(variable->name, &e.length);
}

} // namespace

void var_index_sync(VarIndex *index, const List *vars) {
    index->count = 0;
    for (const ListNode *n = vars->head; n != nullptr; n = n->next) append(index, static_cast<Variable *>(n->data));
}

Variable *var_index_find(VarIndex *index, const List *vars, const char *name) {
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

void var_index_add(VarIndex *index, Variable *variable) { append(index, variable); }

void var_index_free(VarIndex *index) {
    std::free(index->entries);
    *index = VarIndex{nullptr, 0, 0};
}

const Variable *variable_by_prefix(const List *vars, const char *text) {
    const size_t length = std::strlen(text);
    for (const ListNode *n = vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        // strncmp stops at the end of a shorter name, which then differs.
        if (std::strncmp(v->name, text, length) == 0) return v;
    }
    return nullptr;
}

} // namespace lp
