// name_list.h - what a text reads: each name a leaf reads and each call, with its place, for parser_names.
#ifndef LIB_PARSE_NAMES_H
#define LIB_PARSE_NAMES_H

#include <string>
#include <string_view>
#include <vector>

#include "containers/containers.h"
#include "support/checked_memory.h"
#include "support/error_log.h"

namespace lp {

struct VarIndex;

// The names of one build, in the order the expansion meets them: text order,
// a call before the names of its arguments or body.
class NameList {
public:
    struct Use {
        int kind; // PARSER_NAME_*
        Span span;
        String name;
    };

    explicit NameList(const VarIndex *vars) : vars_(vars) {}
    // A leaf with TEXT at PLACE: a name reads the newest variable whose name
    // begins with it, or none; a number reads no name.
    void leaf(const char *text, Span place);
    void call(int kind, std::string_view name, Span place) { add(kind, name, place); }
    // A use of any kind, as the builder found it.
    void add(int kind, std::string_view name, Span place) { uses_.push_back(Use{kind, place, String(name)}); }
    // A call's place, known only once its arguments are read.
    void set_place(size_t use, Span place) { uses_[use].span = place; }
    const Vector<Use> &uses() const { return uses_; }

private:
    const VarIndex *vars_;
    Vector<Use> uses_;
};

} // namespace lp

#endif // LIB_PARSE_NAMES_H
