// arena.cpp - the blocks of an arena: each eight times the last, up to a bound, or as large as one request.
#include "support/arena.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "containers/memory.h"

namespace lp {

namespace {

// The tree of a short text fits the first block, and that of any text of a
// few hundred bytes the second (32 KiB), which reset() keeps: such texts
// then need no allocation. Larger trees take blocks of at most 1 MiB.
constexpr size_t kFirstBlock = 4096;
constexpr size_t kGrowth = 8;
constexpr size_t kLargestBlock = 1 << 20;
constexpr size_t kKeptBlock = 64 * 1024; // the largest block reset() keeps

} // namespace

Arena::~Arena() {
    while (blocks_ != nullptr) {
        Block *next = blocks_->next;
        std::free(blocks_);
        blocks_ = next;
    }
}

void *Arena::grow(size_t size) {
    size_t block = blocks_ == nullptr ? kFirstBlock : blocks_->size * kGrowth;
    if (block > kLargestBlock) block = kLargestBlock;
    if (block < size) block = size;
    static_assert(sizeof(Block) % kAlign == 0, "blocks keep the alignment");
    auto *b = static_cast<Block *>(lp_malloc(sizeof(Block) + block));
    b->next = blocks_;
    b->size = block;
    blocks_ = b;
    char *start = reinterpret_cast<char *>(b + 1);
    next_ = start + size;
    end_ = start + block;
    return start;
}

void Arena::reset() {
    nodes_made_ = 0;
    // A short text's tree fits the one block kept from the last: it stays.
    if (blocks_ != nullptr && blocks_->next == nullptr && blocks_->size <= kKeptBlock) {
        next_ = reinterpret_cast<char *>(blocks_ + 1);
        end_ = next_ + blocks_->size;
        return;
    }
    // Keeps the largest block that is not too large to hold on to.
    Block *kept = nullptr;
    for (Block *b = blocks_; b != nullptr; b = b->next)
        if (b->size <= kKeptBlock && (kept == nullptr || b->size > kept->size)) kept = b;
    while (blocks_ != nullptr) {
        Block *next = blocks_->next;
        if (blocks_ != kept) std::free(blocks_);
        blocks_ = next;
    }
    blocks_ = kept;
    next_ = end_ = nullptr;
    if (kept != nullptr) {
        kept->next = nullptr;
        next_ = reinterpret_cast<char *>(kept + 1);
        end_ = next_ + kept->size;
    }
}

} // namespace lp
