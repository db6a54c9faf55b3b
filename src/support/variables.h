// variables.h - a handle's variables and the two ways a name finds one: exactly, and by prefix.
#ifndef LIB_PARSE_VARIABLES_H
#define LIB_PARSE_VARIABLES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/hash_key.h"
#include "support/name_trie.h"

// Never moved or freed before parser_destroy: parser_var_ref hands out &value.
struct Variable {
    char *name;
    float value;
};

namespace lp {

// A slot of the table of exact names, with the first eight bytes of the
// name beside it: most names end within them, and then a lookup compares
// this field only.
struct VarSlot {
    uint64_t head; // the name's first bytes, zero-padded
    Variable *variable; // null: an empty slot
};

// The variables by exact name (a hash table kept at most three quarters
// full) and by
// prefix (a trie that keeps the newest variable below each node): both take
// a time that does not grow with the number of variables.
struct VarIndex {
    // What a lookup reads first, together: the handle keeps them in the
    // cache line of its hot fields.
    VarSlot *slots; // null before the first variable
    uint64_t factor; // this table's secret odd factor (hash_key.h), chosen with its first slots
    size_t slot_mask;    // slots - 1
    unsigned slot_shift; // 64 - log2(slots)
    size_t count;
    NameTrie names; // every name, in order of creation
    // The variables short names found last, by the top bits of the name's
    // bytes times a fixed odd factor (one multiply, every byte counted): a
    // host that sets the same names again and again finds each here, with
    // no probe of the table. Any removal clears it.
    static constexpr unsigned kRecentBits = 4;
    static constexpr size_t kRecent = size_t{1} << kRecentBits;
    mutable VarSlot recent[kRecent] = {};
};

// The variable whose name is the short name (shorter than eight bytes) HEAD:
// such a head ends with a zero byte, which no longer name's head has, so
// equal heads are equal names.
inline Variable *var_index_find_head(const VarIndex *index, uint64_t head) {
    for (size_t k = keyed_hash(head, index->factor) >> index->slot_shift;; k = (k + 1) & index->slot_mask) {
        const VarSlot &s = index->slots[k];
        if (s.variable == nullptr || s.head == head) return s.variable;
    }
}

// The common case of a lookup by exact name, inline: a name shorter than
// eight bytes. Sets *FOUND to the variable or null and returns true; returns
// false for a longer name, which var_index_find handles. Callers keep that
// out of line, so that the common call, setting a known variable, needs no
// stack frame. It writes the recent names: only a call that holds the
// handle may use it (a build, a bind, parser_var), never a host function
// on a worker thread, which reads through var_index_find.
inline bool var_index_find_short(const VarIndex *index, const char *name, Variable **found) {
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == 0) {
            VarSlot &recent = index->recent[(head * 0x9E3779B97F4A7C15u) >> (64 - VarIndex::kRecentBits)];
            if (recent.head == head && recent.variable != nullptr) {
                *found = recent.variable;
                return true;
            }
            *found = index->slots != nullptr ? var_index_find_head(index, head) : nullptr;
            if (*found != nullptr) recent = VarSlot{head, *found};
            return true;
        }
        head |= static_cast<uint64_t>(c) << (8 * i);
    }
    return false;
}

// The probes a lookup of every variable by exact name takes, in all: a
// measure of how well the table spreads its names.
size_t var_index_probes(const VarIndex *index);

// The variable named NAME exactly, or null.
Variable *var_index_find(const VarIndex *index, const char *name);
// The same, a short name inline (var_index_find_short, with its rule).
inline const Variable *var_index_find_any(const VarIndex *index, const char *name) {
    Variable *found = nullptr;
    return var_index_find_short(index, name, &found) ? found : var_index_find(index, name);
}
// True when VARIABLE is the one its name finds: not removed (a removed
// record stays in the handle's list, for the addresses given out).
inline bool var_index_holds(const VarIndex *index, const Variable *variable) {
    return var_index_find(index, variable->name) == variable;
}
// Records a new variable, the newest; its name is in no other.
void var_index_add(VarIndex *index, Variable *variable);
// Forgets VARIABLE, found by its exact name: lookups by name and by prefix no
// longer find it (the record itself stays the caller's). Its slot is filled
// by moving the entries after it back (no tombstones), and the trie learns
// its paths' newest names again: both in time that does not grow with the
// number of variables.
void var_index_remove(VarIndex *index, const Variable *variable);
void var_index_free(VarIndex *index);

// The variable an operand text names: the newest whose name begins with the
// text (an equal name included), or null.
inline const Variable *variable_by_prefix(const VarIndex *index, const char *text) {
    return static_cast<const Variable *>(name_trie_newest_starting_with(&index->names, text, std::strlen(text)));
}

} // namespace lp

#endif // LIB_PARSE_VARIABLES_H
