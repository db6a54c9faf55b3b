// node_order.h - a tree's nodes in the order its builder made them, when that order is the tree's post-order.
#ifndef LIB_PARSE_NODE_ORDER_H
#define LIB_PARSE_NODE_ORDER_H

#include <cstddef>
#include <cstdlib>

#include "containers/containers.h"
#include "containers/memory.h"

namespace lp {

// The steps and leaves an && or || makes: it is a conditional with a
// constant part and a TRUTH step besides its node.
constexpr size_t kRoomOfAndOr = 5;

// A builder that makes every node after its operands, as an operator-stack
// parser does, makes them in post-order: the order the program's steps
// follow. It lists them here, and the flattening reads the list instead of
// walking the tree. `usable` says that the list is the tree's whole
// post-order and holds no node whose steps are not its node's alone (a
// conditional's, a user function's); the builder clears it otherwise.
struct NodeOrder {
    const TreeNode **nodes = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    bool usable = false;
    // From a builder whose tree is not listed: at most so many steps and
    // leaves its nodes make, one per node and kRoomOfAndOr per && or ||;
    // 0 when not known.
    size_t room = 0;

    NodeOrder() = default;
    NodeOrder(const NodeOrder &) = delete;
    NodeOrder &operator=(const NodeOrder &) = delete;
    ~NodeOrder() { std::free(nodes); }

    void begin() {
        count = 0;
        usable = true;
        room = 0;
    }
    void add(const TreeNode *node) {
        if (count == capacity) grow();
        nodes[count++] = node;
    }
    // Neither a list nor a bound: what a build that says nothing leaves.
    void forget() {
        usable = false;
        room = 0;
    }
    // Forgets, and lets go of what a long text made large: a handle keeps
    // room for a text of a few thousand nodes between builds.
    void trim() {
        constexpr size_t kKept = 4096;
        forget();
        if (capacity <= kKept) return;
        std::free(nodes);
        nodes = nullptr;
        count = capacity = 0;
    }

private:
    void grow() {
        capacity = capacity == 0 ? 64 : 2 * capacity;
        nodes = static_cast<const TreeNode **>(lp_realloc(static_cast<void *>(nodes), capacity * sizeof(TreeNode *)));
    }
};

} // namespace lp

#endif // LIB_PARSE_NODE_ORDER_H
