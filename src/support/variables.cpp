// variables.cpp - looking variables up by exact name in a hash table, and by prefix in a trie of the names.
#include <cstdlib>
#include <cstring>

#include "containers/memory.h"
#include "support/hash_key.h"
#include "support/variables.h"

namespace lp {

namespace {

constexpr unsigned kFirstSlotBits = 4;

// The first eight bytes of NAME, zero-padded, and its full length.
uint64_t name_head(const char *name, size_t *length) {
    uint64_t head = 0;
    size_t i = 0;
    for (; i < 8 && name[i] != 0; ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    *length = i < 8 ? i : 8 + std::strlen(name + 8);
    return head;
}

// A name of eight bytes or more has no zero byte in its head.
bool is_long(uint64_t head) { return (head >> 56) != 0; }

// The hash of a name: its head's for a short name (as var_index_find_head
// computes it); for a long one, the head's product by the factor folded with
// the rest, eight bytes at a time, and spread.
uint64_t name_hash(const VarIndex *index, uint64_t head, const char *name) {
    if (!is_long(head)) return keyed_hash(head, index->factor);
    uint64_t product = head * index->factor;
    for (const char *rest = name + 8;; rest += 8) {
        uint64_t chunk = 0;
        size_t i = 0;
        for (; i < 8 && rest[i] != 0; ++i) chunk |= static_cast<uint64_t>(static_cast<unsigned char>(rest[i])) << (8 * i);
        product = (product ^ chunk) * index->factor;
        if (i < 8) return spread_product(product);
    }
}

void put(VarIndex *index, uint64_t head, Variable *variable) {
    size_t k = static_cast<size_t>(name_hash(index, head, variable->name) >> index->slot_shift);
    while (index->slots[k].variable != nullptr) k = (k + 1) & index->slot_mask;
    index->slots[k] = VarSlot{head, variable};
}

// Doubles the table when one more variable would fill it beyond three
// quarters: lookups stay short, and slots take a third of the index.
void make_room(VarIndex *index) {
    const size_t slots = index->slots != nullptr ? index->slot_mask + 1 : 0;
    if (4 * (index->count + 1) <= 3 * slots) return;
    VarSlot *old = index->slots;
    if (old == nullptr && index->factor == 0) index->factor = new_hash_factor();
    const unsigned bits = old != nullptr ? 64 - index->slot_shift + 1 : kFirstSlotBits;
    index->slots = static_cast<VarSlot *>(lp_malloc(sizeof(VarSlot) << bits)); // not calloc: see add_edge
    std::memset(static_cast<void *>(index->slots), 0, sizeof(VarSlot) << bits);
    index->slot_mask = (size_t{1} << bits) - 1;
    index->slot_shift = 64 - bits;
    for (size_t k = 0; k < slots; ++k)
        if (old[k].variable != nullptr) put(index, old[k].head, old[k].variable);
    std::free(old);
}

} // namespace

Variable *var_index_find(const VarIndex *index, const char *name) {
    if (index->slots == nullptr) return nullptr;
    size_t length;
    const uint64_t head = name_head(name, &length);
    if (length < 8) return var_index_find_head(index, head);
    for (size_t k = static_cast<size_t>(name_hash(index, head, name) >> index->slot_shift);; k = (k + 1) & index->slot_mask) {
        const VarSlot &s = index->slots[k];
        if (s.variable == nullptr || (s.head == head && std::strcmp(s.variable->name + 8, name + 8) == 0))
            return s.variable;
    }
}

void var_index_add(VarIndex *index, Variable *variable) {
    size_t length;
    const uint64_t head = name_head(variable->name, &length);
    name_trie_insert(&index->names, variable->name, length, variable);
    make_room(index);
    put(index, head, variable);
    index->count += 1;
}

void var_index_remove(VarIndex *index, const Variable *variable) {
    if (index->slots == nullptr) return;
    for (VarSlot &recent : index->recent) recent = VarSlot{0, nullptr};
    size_t length;
    const uint64_t head = name_head(variable->name, &length);
    const auto home_of = [&](const VarSlot &s) {
        return static_cast<size_t>(name_hash(index, s.head, s.variable->name) >> index->slot_shift);
    };
    size_t hole = static_cast<size_t>(name_hash(index, head, variable->name) >> index->slot_shift);
    while (index->slots[hole].variable != variable) {
        if (index->slots[hole].variable == nullptr) return; // not in the table
        hole = (hole + 1) & index->slot_mask;
    }
    // An entry after the hole moves into it when the hole lies on its way
    // from its home slot: every lookup then still meets no empty slot first.
    for (size_t k = (hole + 1) & index->slot_mask; index->slots[k].variable != nullptr; k = (k + 1) & index->slot_mask) {
        const size_t home = home_of(index->slots[k]);
        if (((k - home) & index->slot_mask) >= ((k - hole) & index->slot_mask)) {
            index->slots[hole] = index->slots[k];
            hole = k;
        }
    }
    index->slots[hole] = VarSlot{0, nullptr};
    index->count -= 1;
    name_trie_remove(&index->names, variable->name, length);
}

size_t var_index_probes(const VarIndex *index) {
    size_t probes = 0;
    const size_t slots = index->slots != nullptr ? index->slot_mask + 1 : 0;
    for (size_t k = 0; k < slots; ++k) {
        const VarSlot &s = index->slots[k];
        if (s.variable == nullptr) continue;
        const size_t home = static_cast<size_t>(name_hash(index, s.head, s.variable->name) >> index->slot_shift);
        probes += ((k - home) & index->slot_mask) + 1;
    }
    return probes;
}

void var_index_free(VarIndex *index) {
    std::free(index->slots);
    name_trie_free(&index->names);
    *index = VarIndex{};
}

} // namespace lp
