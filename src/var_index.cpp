// var_index.cpp - looking variables up by exact name in a flat array instead of the list.
#include <cstdlib>
#include <cstring>

#include "memory.h"
#include "var_index.h"

namespace lp {

namespace {

// The first eight bytes of NAME, zero-padded, and its full length.
uint64_t head_of(const char *name, size_t *length) {
    uint64_t head = 0;
    size_t i = 0;
    for (; i < 8 && name[i] != 0; ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    *length = i < 8 ? i : 8 + std::strlen(name + 8);
    return head;
}

void append(VarIndex *index, Variable *variable) {
    if (index->count == index->capacity) {
        index->capacity = index->capacity == 0 ? 8 : 2 * index->capacity;
        index->entries = static_cast<VarEntry *>(lp_realloc(index->entries, index->capacity * sizeof(VarEntry)));
    }
    VarEntry &e = index->entries[index->count++];
    e.variable = variable;
    e.head = head_of(variable->name, &e.length);
}

} // namespace

Variable *var_index_find(VarIndex *index, const List *vars, const char *name) {
    if (index->count != static_cast<size_t>(vars->count)) {
        index->count = 0;
        for (const ListNode *n = vars->head; n != nullptr; n = n->next) append(index, static_cast<Variable *>(n->data));
    }
    size_t length;
    const uint64_t head = head_of(name, &length);
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

} // namespace lp
