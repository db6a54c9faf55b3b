// checked_memory.h - the library's one way to allocate: memory that always comes, or the process stops with a message.
//
// Records and arrays come from lp_malloc (memory.h); the standard containers
// here take their memory from it too, through Checked. Nothing in the
// library throws: running out of memory prints "lib_parse: out of memory"
// and aborts wherever it happens, and the C entry points are noexcept.
#ifndef LIB_PARSE_CHECKED_MEMORY_H
#define LIB_PARSE_CHECKED_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "containers/memory.h"

namespace lp {

template <class T>
struct Checked {
    using value_type = T;
    Checked() = default;
    template <class U>
    Checked(const Checked<U> &) noexcept {}
    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) lp_memory_exhausted(SIZE_MAX);
        return static_cast<T *>(lp_malloc(n * sizeof(T)));
    }
    void deallocate(T *p, size_t) noexcept { std::free(p); }
};
template <class T, class U>
bool operator==(const Checked<T> &, const Checked<U> &) {
    return true;
}
template <class T, class U>
bool operator!=(const Checked<T> &, const Checked<U> &) {
    return false;
}

template <class T>
using Vector = std::vector<T, Checked<T>>;
using String = std::basic_string<char, std::char_traits<char>, Checked<char>>;
template <class K, class V, class Hash = std::hash<K>>
using HashMap = std::unordered_map<K, V, Hash, std::equal_to<K>, Checked<std::pair<const K, V>>>;
template <class K, class Hash = std::hash<K>>
using HashSet = std::unordered_set<K, Hash, std::equal_to<K>, Checked<K>>;

// Hashes a String as the standard library hashes a std::string.
struct StringHash {
    size_t operator()(const String &s) const noexcept { return std::hash<std::string_view>()(s); }
};

// An object of its own on the checked heap, and its release.
template <class T, class... Args>
T *create(Args &&...args) {
    return new (lp_malloc(sizeof(T))) T{std::forward<Args>(args)...};
}
template <class T>
void destroy(T *object) noexcept {
    if (object == nullptr) return;
    object->~T();
    std::free(object);
}
struct Destroy {
    template <class T>
    void operator()(T *object) const noexcept {
        destroy(object);
    }
};
template <class T>
using Owned = std::unique_ptr<T, Destroy>;

} // namespace lp

#endif // LIB_PARSE_CHECKED_MEMORY_H
