// hash_key.h - the secret factors that spread names over a hash table, a new one for each table.
//
// Names come from a handle's host, and often from the host's own users (CSV
// headers, spreadsheet cells), so a table must not spread them by a factor
// anyone can know: names crafted to share the top bits of one fixed product
// would all land in one run of slots, and each definition and lookup would
// cost time linear in their number. Each table takes a random odd factor
// instead; the top bits of the product by a random odd factor are a
// universal hash (multiply-shift), so names chosen without the factor collide
// no more often than random ones, at the cost of one multiplication, as
// before.
#ifndef LIB_PARSE_HASH_KEY_H
#define LIB_PARSE_HASH_KEY_H

#include <cstdint>

namespace lp {

// A random odd factor, different for every call: from the process's secret
// seed (getrandom, or the clock and addresses where it fails), stepped on
// by a counter and mixed.
uint64_t new_hash_factor();

} // namespace lp

#endif // LIB_PARSE_HASH_KEY_H
