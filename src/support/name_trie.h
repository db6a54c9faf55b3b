// name_trie.h - byte strings in a compressed trie, each with a record: the newest key that begins with a text, or that a text begins with.
#ifndef LIB_PARSE_NAME_TRIE_H
#define LIB_PARSE_NAME_TRIE_H

#include <cstddef>
#include <cstdint>

namespace lp {

// Keys are numbered from 1 in the order they are inserted, 0 meaning none, so
// the newest of several keys is the one with the largest number: a new key
// is the newest of every node on its path. A key removed leaves its nodes
// (their labels may be read by others), and the nodes on its path learn
// their newest key again from their children.
struct TrieNode {
    const char *label;    // the bytes of the edge into this node, inside a key's text
    uint32_t length;      // of the label; 0 at the root alone
    uint32_t newest;      // the newest key that ends at or below this node
    uint32_t ending;      // the newest key that ends at this node, or 0
    unsigned char first;  // label[0], where an edge is found without reading the label
};

// An edge, found by its parent and its child's first byte.
struct TrieEdge {
    uint32_t parent;
    uint32_t child; // 0: an empty slot (the root is no node's child)
};

// A key's text is not copied: it must stay in place, unchanged, as long as the
// trie (a handle's names are freed only with the handle).
struct NameTrie {
    TrieNode *nodes; // nodes[0] is the root, the empty key; none before the first key
    size_t node_count, node_capacity;
    TrieEdge *edges; // open addressing by (parent, byte), at most three quarters full
    size_t edge_count;
    unsigned edge_bits; // log2 of the slots
    uint64_t edge_factor; // the edge table's secret odd factor (hash_key.h), chosen with its first slots
    const void **records; // records[k - 1] is key k's
    size_t record_count, record_capacity;
    uint32_t *root_children; // the root's children by first byte: most names are short
};

// Adds the LENGTH bytes of KEY, with RECORD, as the newest key. An equal key
// inserted before stays, older.
void name_trie_insert(NameTrie *trie, const char *key, size_t length, const void *record);
// The record of the newest key that begins with TEXT (an equal key
// included; every key for the empty text), or null.
const void *name_trie_newest_starting_with(const NameTrie *trie, const char *text, size_t length);
// The record of the newest key that TEXT begins with (an equal key and the
// empty key included), or null.
const void *name_trie_newest_prefix_of(const NameTrie *trie, const char *text, size_t length);
// The record of the newest key equal to TEXT, or null.
const void *name_trie_newest_equal(const NameTrie *trie, const char *text, size_t length);
// Removes every key equal to the LENGTH bytes of KEY; the others keep their
// records. Takes time in proportion to the key's length (and the children of
// the nodes on its path, at most 256 each), not to the number of keys.
// Returns whether there was one.
bool name_trie_remove(NameTrie *trie, const char *key, size_t length);
void name_trie_free(NameTrie *trie);

} // namespace lp

#endif // LIB_PARSE_NAME_TRIE_H
