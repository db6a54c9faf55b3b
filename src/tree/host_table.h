// host_table.h - a handle's host functions by exact name, found without hashing a copy of the name.
#ifndef LIB_PARSE_HOST_TABLE_H
#define LIB_PARSE_HOST_TABLE_H

#include <cstddef>
#include <cstdint>
#include <utility>

#include "support/checked_memory.h"
#include "tree/host_functions.h"

namespace lp {

// Every call in a text is looked up here while it is read (the defined
// grammar asks for every bracketed operand with a name before it), so a
// lookup reads the text in place: a slot keeps the name's first eight bytes
// and its length, and only a longer name is compared beyond them. The map
// owns the definitions; its entries stay where they are while it grows.
class HostTable {
public:
    using Entry = std::pair<const String, HostFunction>;
    using Map = HashMap<String, HostFunction, StringHash>;

    HostTable() = default;
    HostTable(const HostTable &) = delete; // its slots point into its own map
    HostTable &operator=(const HostTable &) = delete;

    // The function named by the LENGTH bytes at NAME, or null.
    const HostFunction *find(const char *name, size_t length) const;
    // Defines NAME as FUNCTION, replacing a definition of the same name and
    // keeping its order; a FUNCTION with no fn that is not the conditional
    // removes NAME instead.
    void define(const char *name, const HostFunction &function);
    const Map &functions() const { return functions_; }

    struct Slot {
        uint64_t head;       // the name's first eight bytes, zero-padded
        size_t length;
        const Entry *entry; // null: an empty slot
    };

private:
    uint64_t hash(const char *name, size_t length, uint64_t head) const;
    size_t home_of(const Slot &slot) const;
    void put(const Entry *entry);
    void unput(const Entry *entry);
    void index_all(size_t slots);

    Map functions_;
    Vector<Slot> slots_;
    uint64_t factor_ = 0; // this table's secret odd factor (hash_key.h)
    unsigned shift_ = 64;
    uint64_t defined_ = 0; // names defined so far, for HostFunction::order
    size_t longest_ = 0;   // no name defined so far is longer
};

} // namespace lp

#endif // LIB_PARSE_HOST_TABLE_H
