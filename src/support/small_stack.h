// small_stack.h - an explicit stack that lives on the C stack until it outgrows a fixed size.
#ifndef LIB_PARSE_SMALL_STACK_H
#define LIB_PARSE_SMALL_STACK_H

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "containers/memory.h"

namespace lp {

// Walking a tree with an explicit stack keeps the depth of the C stack fixed
// whatever the input; the first N entries need no allocation, so walks of
// ordinary trees allocate nothing.
template <typename T, size_t N = 64>
class SmallStack {
    static_assert(std::is_trivially_copyable_v<T>, "entries are moved with memcpy");

public:
    SmallStack() = default;
    SmallStack(const SmallStack &) = delete;
    SmallStack &operator=(const SmallStack &) = delete;
    ~SmallStack() {
        if (data_ != inline_data()) std::free(data_);
    }

    bool empty() const { return top_ == data_; }
    size_t size() const { return static_cast<size_t>(top_ - data_); }
    T &top() { return top_[-1]; }
    const T &top_at(size_t k) const { return top_[-1 - static_cast<std::ptrdiff_t>(k)]; } // K entries below the top
    T *begin() { return data_; }
    T *end() { return top_; }
    T pop() { return *--top_; }
    void truncate(size_t size) {
        if (size < this->size()) top_ = data_ + size;
    }
    void push(const T &value) {
        if (top_ == end_) grow();
        *top_++ = value;
    }

private:
    // Off the C stack by realloc: a stack millions deep then grows by
    // remapping its pages, not by copying them, a copy no check point could
    // cut short.
    void grow() {
        const size_t size = this->size(), capacity = 2 * static_cast<size_t>(end_ - data_);
        if (data_ != inline_data()) {
            data_ = static_cast<T *>(lp_realloc(data_, capacity * sizeof(T)));
        } else {
            T *data = static_cast<T *>(lp_malloc(capacity * sizeof(T)));
            std::memcpy(static_cast<void *>(data), data_, size * sizeof(T));
            data_ = data;
        }
        top_ = data_ + size;
        end_ = data_ + capacity;
    }

    // Raw room for the first N entries: nothing is constructed before it is
    // pushed, so an empty stack costs nothing to make. The entries are
    // reached through pointers, the top and the end of the room, not by
    // index: an entry of an odd size then needs no multiplication.
    T *inline_data() { return reinterpret_cast<T *>(inline_); }
    alignas(T) unsigned char inline_[N * sizeof(T)];
    T *data_ = inline_data();
    T *top_ = data_;
    T *end_ = data_ + N;
};

} // namespace lp

#endif // LIB_PARSE_SMALL_STACK_H
