// name_trie.cpp - the compressed trie of names: nodes in one array, edges in one hash table.
#include "support/name_trie.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdint>

#include "containers/memory.h"
#include "support/checked_memory.h"
#include "support/hash_key.h"

namespace lp {

namespace {

constexpr unsigned kFirstEdgeBits = 4;
// Node indices and key numbers are 32 bits wide (half the memory of
// pointers); a label longer than this is cut into a chain of nodes.
constexpr uint32_t kMaxLabel = UINT32_MAX;

// Room for one more element in an array that doubles; more than 2^32 - 1
// nodes or keys cannot be numbered, and count as memory run out.
template <typename T>
void reserve_one(T **items, size_t count, size_t *capacity) {
    if (count >= UINT32_MAX) lp_memory_exhausted(SIZE_MAX);
    if (count < *capacity) return;
    *capacity = *capacity == 0 ? 16 : 2 * *capacity;
    *items = static_cast<T *>(lp_realloc(*items, *capacity * sizeof(T)));
}

TrieEdge *edge_slot(const NameTrie *trie, uint32_t parent, unsigned char byte) {
    const size_t mask = (size_t{1} << trie->edge_bits) - 1;
    const uint64_t key = uint64_t{parent} << 8 | byte;
    for (size_t k = static_cast<size_t>(keyed_hash(key, trie->edge_factor) >> (64 - trie->edge_bits));; k = (k + 1) & mask) {
        TrieEdge *e = &trie->edges[k];
        if (e->child == 0 || (e->parent == parent && trie->nodes[e->child].first == byte)) return e;
    }
}

// The child of PARENT whose label begins with BYTE, or 0.
uint32_t child_of(const NameTrie *trie, uint32_t parent, unsigned char byte) {
    if (parent == 0) return trie->root_children != nullptr ? trie->root_children[byte] : 0;
    return trie->edges != nullptr ? edge_slot(trie, parent, byte)->child : 0;
}

// Makes CHILD, whose first byte is set, the child of PARENT for that byte.
void set_child(NameTrie *trie, uint32_t parent, uint32_t child) {
    if (parent != 0) {
        edge_slot(trie, parent, trie->nodes[child].first)->child = child;
        return;
    }
    if (trie->root_children == nullptr) {
        trie->root_children = static_cast<uint32_t *>(lp_malloc(256 * sizeof(uint32_t)));
        std::memset(trie->root_children, 0, 256 * sizeof(uint32_t));
    }
    trie->root_children[trie->nodes[child].first] = child;
}

// Adds the edge to CHILD, whose first byte is set.
void add_edge(NameTrie *trie, uint32_t parent, uint32_t child) {
    if (parent == 0) {
        set_child(trie, parent, child);
        return;
    }
    if (4 * (trie->edge_count + 1) > 3 * (size_t{1} << trie->edge_bits) || trie->edges == nullptr) {
        TrieEdge *old = trie->edges;
        if (old == nullptr && trie->edge_factor == 0) trie->edge_factor = new_hash_factor();
        const size_t old_slots = old != nullptr ? size_t{1} << trie->edge_bits : 0;
        trie->edge_bits = old != nullptr ? trie->edge_bits + 1 : kFirstEdgeBits;
        // Cleared here: calloc never takes the blocks that free keeps per
        // thread, so handles made one after another would not reuse them.
        trie->edges = static_cast<TrieEdge *>(lp_malloc(sizeof(TrieEdge) << trie->edge_bits));
        std::memset(static_cast<void *>(trie->edges), 0, sizeof(TrieEdge) << trie->edge_bits);
        for (size_t k = 0; k < old_slots; ++k)
            if (old[k].child != 0) *edge_slot(trie, old[k].parent, trie->nodes[old[k].child].first) = old[k];
        std::free(old);
    }
    *edge_slot(trie, parent, trie->nodes[child].first) = TrieEdge{parent, child};
    trie->edge_count += 1;
}

uint32_t add_node(NameTrie *trie, const char *label, uint32_t length, uint32_t newest, uint32_t ending) {
    reserve_one(&trie->nodes, trie->node_count, &trie->node_capacity);
    const auto first = static_cast<unsigned char>(length > 0 ? label[0] : 0);
    trie->nodes[trie->node_count] = TrieNode{label, length, newest, ending, first};
    return static_cast<uint32_t>(trie->node_count++);
}

const void *record_of(const NameTrie *trie, uint32_t number) {
    return number != 0 ? trie->records[number - 1] : nullptr;
}

} // namespace

void name_trie_insert(NameTrie *trie, const char *key, size_t length, const void *record) {
    reserve_one(&trie->records, trie->record_count, &trie->record_capacity);
    trie->records[trie->record_count++] = record;
    const auto number = static_cast<uint32_t>(trie->record_count);
    if (trie->node_count == 0) add_node(trie, key, 0, 0, 0);

    uint32_t node = 0;
    size_t at = 0;
    trie->nodes[0].newest = number;
    while (at < length) {
        const auto byte = static_cast<unsigned char>(key[at]);
        uint32_t child = child_of(trie, node, byte);
        if (child == 0) {
            // The rest of the key is new: it hangs below as one leaf (a
            // chain of them past kMaxLabel bytes).
            do {
                const auto piece = static_cast<uint32_t>(std::min<size_t>(length - at, kMaxLabel));
                child = add_node(trie, key + at, piece, number, 0);
                add_edge(trie, node, child);
                node = child;
                at += piece;
            } while (at < length);
            break;
        }
        const char *label = trie->nodes[child].label;
        const uint32_t label_length = trie->nodes[child].length;
        const size_t room = std::min<size_t>(label_length, length - at);
        uint32_t same = 1; // the first byte matched through the edge
        while (same < room && label[same] == key[at + same]) ++same;
        if (same < label_length) {
            // The key ends or leaves inside the label: the bytes they share
            // become a node of their own between the parent and the child.
            const uint32_t middle = add_node(trie, label, same, number, 0);
            set_child(trie, node, middle); // which begins with BYTE too
            TrieNode &lower = trie->nodes[child];
            lower.label = label + same;
            lower.length = label_length - same;
            lower.first = static_cast<unsigned char>(label[same]);
            add_edge(trie, middle, child);
            child = middle;
        }
        trie->nodes[child].newest = number;
        node = child;
        at += same;
    }
    trie->nodes[node].ending = number;
}

const void *name_trie_newest_starting_with(const NameTrie *trie, const char *text, size_t length) {
    if (trie->node_count == 0) return nullptr;
    uint32_t node = 0;
    size_t at = 0;
    while (at < length) {
        const uint32_t child = child_of(trie, node, static_cast<unsigned char>(text[at]));
        if (child == 0) return nullptr;
        const TrieNode &c = trie->nodes[child];
        // Text that ends inside the label begins every key below it.
        const size_t compared = std::min<size_t>(c.length, length - at);
        for (size_t k = 1; k < compared; ++k) // labels are short: a loop, not a call
            if (c.label[k] != text[at + k]) return nullptr;
        node = child;
        at += compared;
    }
    return record_of(trie, trie->nodes[node].newest);
}

const void *name_trie_newest_prefix_of(const NameTrie *trie, const char *text, size_t length) {
    if (trie->node_count == 0) return nullptr;
    // The keys met on the way down are those the text begins with; a longer
    // one is not necessarily newer.
    uint32_t newest = trie->nodes[0].ending;
    uint32_t node = 0;
    size_t at = 0;
    while (at < length) {
        const uint32_t child = child_of(trie, node, static_cast<unsigned char>(text[at]));
        if (child == 0) break;
        const TrieNode &c = trie->nodes[child];
        if (c.length > length - at || std::memcmp(c.label + 1, text + at + 1, c.length - 1) != 0) break;
        newest = std::max(newest, c.ending);
        node = child;
        at += c.length;
    }
    return record_of(trie, newest);
}

namespace {

// The node where the keys equal to TEXT end, each node on the way there in
// *PATH when given (the root first); false when no key has TEXT's path.
bool find_node(const NameTrie *trie, const char *text, size_t length, uint32_t *node, Vector<uint32_t> *path) {
    if (trie->node_count == 0) return false;
    *node = 0;
    size_t at = 0;
    while (at < length) {
        if (path != nullptr) path->push_back(*node);
        const uint32_t child = child_of(trie, *node, static_cast<unsigned char>(text[at]));
        if (child == 0) return false;
        const TrieNode &c = trie->nodes[child];
        if (c.length > length - at || std::memcmp(c.label + 1, text + at + 1, c.length - 1) != 0) return false;
        *node = child;
        at += c.length;
    }
    if (path != nullptr) path->push_back(*node);
    return true;
}

} // namespace

const void *name_trie_newest_equal(const NameTrie *trie, const char *text, size_t length) {
    uint32_t node = 0;
    return find_node(trie, text, length, &node, nullptr) ? record_of(trie, trie->nodes[node].ending) : nullptr;
}

bool name_trie_remove(NameTrie *trie, const char *key, size_t length) {
    Vector<uint32_t> path;
    uint32_t node = 0;
    if (!find_node(trie, key, length, &node, &path)) return false;
    TrieNode &end = trie->nodes[node];
    if (end.ending == 0) return false;
    trie->records[end.ending - 1] = nullptr; // equal keys inserted before were hidden by it: gone too
    end.ending = 0;
    // Each node on the path, deepest first: its own key, or its children's newest.
    for (size_t k = path.size(); k-- > 0;) {
        TrieNode &on_path = trie->nodes[path[k]];
        uint32_t newest = on_path.ending;
        for (unsigned byte = 0; byte < 256; ++byte)
            if (const uint32_t child = child_of(trie, path[k], static_cast<unsigned char>(byte)))
                newest = std::max(newest, trie->nodes[child].newest);
        on_path.newest = newest;
    }
    return true;
}

void name_trie_free(NameTrie *trie) {
    std::free(trie->nodes);
    std::free(trie->edges);
    std::free(trie->records);
    std::free(trie->root_children);
    *trie = NameTrie{};
}

} // namespace lp
