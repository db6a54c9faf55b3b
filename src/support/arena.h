// arena.h - one block chain from which a tree's nodes, records and texts are cut, released all at once.
#ifndef LIB_PARSE_ARENA_H
#define LIB_PARSE_ARENA_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "containers/containers.h"

namespace lp {

struct NodeData;

// Memory handed out by bumping a pointer through blocks taken from the
// checked allocator, so running out still aborts with its message. Nothing is
// freed alone: reset() releases everything at once and keeps one block of a
// modest size, so that a handle parsing short texts again and again takes no
// memory from the system at all.
class Arena {
public:
    Arena() = default;
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;
    ~Arena();

    // SIZE bytes aligned for any record of the tree, not cleared.
    void *allocate(size_t size) {
        const size_t skip = -reinterpret_cast<uintptr_t>(next_) & (kAlign - 1);
        if (skip + size > static_cast<size_t>(end_ - next_)) return grow(size);
        char *p = next_ + skip;
        next_ = p + size;
        return p;
    }
    // A tree node with no element and no children.
    TreeNode *node() {
        nodes_made_ += 1;
        return new (allocate(sizeof(TreeNode))) TreeNode{nullptr, nullptr, nullptr};
    }
    // Room for COUNT tree nodes side by side, not cleared.
    TreeNode *nodes(size_t count) {
        nodes_made_ += count;
        return static_cast<TreeNode *>(allocate(count * sizeof(TreeNode)));
    }
    // The tree nodes handed out since the last reset: no tree cut from the
    // arena has more.
    size_t nodes_made() const { return nodes_made_; }
    // A NUL-terminated copy of the first LENGTH bytes of TEXT. Inline: a
    // build copies every name and number, most of them a few bytes.
    char *copy(const char *text, size_t length) {
        // Texts need no alignment: they are packed byte after byte.
        char *out = next_;
        if (length + 1 <= static_cast<size_t>(end_ - next_))
            next_ += length + 1;
        else
            out = static_cast<char *>(grow(length + 1));
        if (length > 8)
            std::memcpy(out, text, length);
        else // most texts are a number or a name of a few bytes, which a call costs more than
            for (size_t i = 0; i < length; ++i) out[i] = text[i];
        out[length] = '\0';
        return out;
    }
    // Releases everything handed out.
    void reset();

private:
    static constexpr size_t kAlign = alignof(void *) > alignof(float) ? alignof(void *) : alignof(float);
    struct Block {
        Block *next;
        size_t size; // usable bytes after the header
    };
    void *grow(size_t size);

    Block *blocks_ = nullptr; // newest first
    char *next_ = nullptr, *end_ = nullptr;
    size_t nodes_made_ = 0;
};

} // namespace lp

#endif // LIB_PARSE_ARENA_H
