// hash_key.h - the secret factors that spread names over a hash table, a new one for each table.
//
// Names come from a handle's host, and often from the host's own users (CSV
// headers, spreadsheet cells), so a table must not spread them by a factor
// anyone can know: names crafted to share the top bits of one fixed product
// would all land in one run of slots, and each definition and lookup would
// cost time linear in their number. Each table takes a random odd factor
// instead: the product by a secret odd factor is a universal hash
// (multiply-shift), so names chosen without the factor collide no more often
// than random ones.
//
// The product alone is not enough for linear probing, though: names with a
// common shape (`o1` … `o99999`, or a crafted set) keep some of that shape
// in its top bits, and under one factor in a few dozen they fill long runs of
// slots (five probes a lookup where random names take 1.3). A fixed
// xor-shift and multiplication after it spread every bit of the product over
// the top bits, and the runs are those of random names.
#ifndef LIB_PARSE_HASH_KEY_H
#define LIB_PARSE_HASH_KEY_H

#include <cstdint>

namespace lp {

// A random odd factor, different for every call: from the process's secret
// seed (getrandom, or the clock and addresses where it fails), stepped on
// by a counter and mixed.
uint64_t new_hash_factor();

// Spreads every bit of a product by a secret factor over the top bits.
inline uint64_t spread_product(uint64_t product) { return (product ^ (product >> 29)) * 0xBF58476D1CE4E5B9ull; }

// The hash of KEY by a table's secret FACTOR: the table takes its top bits.
inline uint64_t keyed_hash(uint64_t key, uint64_t factor) { return spread_product(key * factor); }

} // namespace lp

#endif // LIB_PARSE_HASH_KEY_H
