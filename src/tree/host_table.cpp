// host_table.cpp - the index of a handle's host functions: open addressing over the names' first bytes.
#include "tree/host_table.h"

#include <algorithm>
#include <cstring>

#include "support/hash_key.h"

namespace lp {

namespace {

// The first eight bytes of the LENGTH at NAME, zero-padded.
uint64_t head_of(const char *name, size_t length) {
    uint64_t head = 0;
    for (size_t i = 0; i < length && i < 8; ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
    return head;
}

// ENTRY's slot: its name's head and length, and the entry.
HostTable::Slot slot_of(const HostTable::Entry *entry) {
    return {head_of(entry->first.data(), entry->first.size()), entry->first.size(), entry};
}

} // namespace

// The head's product by the factor, folded with the rest of a longer name
// eight bytes at a time, and spread (as the variables' index does).
uint64_t HostTable::hash(const char *name, size_t length, uint64_t head) const {
    uint64_t product = (head ^ length) * factor_;
    for (size_t at = 8; at < length; at += 8) product = (product ^ head_of(name + at, length - at)) * factor_;
    return spread_product(product);
}

const HostFunction *HostTable::find(const char *name, size_t length) const {
    // A text of any length before "(" is read no further than the longest name.
    if (slots_.empty() || length > longest_) return nullptr;
    const uint64_t head = head_of(name, length);
    const size_t mask = slots_.size() - 1;
    for (size_t k = static_cast<size_t>(hash(name, length, head) >> shift_);; k = (k + 1) & mask) {
        const Slot &s = slots_[k];
        if (s.entry == nullptr) return nullptr;
        if (s.head == head && s.length == length &&
            (length <= 8 || std::memcmp(s.entry->first.data() + 8, name + 8, length - 8) == 0))
            return &s.entry->second;
    }
}

size_t HostTable::home_of(const Slot &slot) const {
    return static_cast<size_t>(hash(slot.entry->first.data(), slot.length, slot.head) >> shift_);
}

void HostTable::put(const Entry *entry) {
    const Slot slot = slot_of(entry);
    const size_t mask = slots_.size() - 1;
    size_t k = home_of(slot);
    while (slots_[k].entry != nullptr) k = (k + 1) & mask;
    slots_[k] = slot;
}

// Empties ENTRY's slot. An entry after it moves into the hole when the hole
// lies on its way from its home slot, so that every lookup still meets no
// empty slot before its name (no tombstones, as in the variables' index).
void HostTable::unput(const Entry *entry) {
    const size_t mask = slots_.size() - 1;
    size_t hole = home_of(slot_of(entry));
    while (slots_[hole].entry != entry) hole = (hole + 1) & mask;
    for (size_t k = (hole + 1) & mask; slots_[k].entry != nullptr; k = (k + 1) & mask) {
        const size_t home = home_of(slots_[k]);
        if (((k - home) & mask) >= ((k - hole) & mask)) {
            slots_[hole] = slots_[k];
            hole = k;
        }
    }
    slots_[hole] = Slot{0, 0, nullptr};
}

// Indexes every definition again in SLOTS slots (a power of two).
void HostTable::index_all(size_t slots) {
    if (factor_ == 0) factor_ = new_hash_factor();
    slots_.assign(slots, Slot{0, 0, nullptr});
    shift_ = 64;
    for (size_t n = slots; n > 1; n >>= 1) --shift_;
    for (const Entry &entry : functions_) put(&entry);
}

void HostTable::define(const char *name, const HostFunction &function) {
    const auto same = functions_.find(String(name));
    if (function.fn == nullptr && !function.conditional) {
        if (same == functions_.end()) return;
        unput(&*same); // before the entry goes: no slot may point at it
        functions_.erase(same);
        return;
    }
    if (same != functions_.end()) { // the same entry: the index holds it already
        const uint64_t order = same->second.order;
        same->second = function;
        same->second.order = order;
        return;
    }
    HostFunction f = function;
    f.order = defined_++;
    longest_ = std::max(longest_, std::strlen(name));
    const Entry &entry = *functions_.emplace(String(name), f).first;
    // At most three quarters full: a lookup that misses stops soon.
    if (4 * functions_.size() > 3 * slots_.size())
        index_all(slots_.empty() ? 16 : 2 * slots_.size());
    else
        put(&entry);
}

} // namespace lp
