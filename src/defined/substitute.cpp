// substitute.cpp - replacing a user-function call by the function's body with its arguments.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "defined/substitute.h"
#include "support/checked_memory.h"

#include "containers/memory.h"
#include "support/name_trie.h"
#include "tree/handle.h"
#include "tree/operation_table.h"

namespace lp {

namespace {

// Reads the items of a bracketed list one at a time: parameter names from a
// prototype, argument texts from a call. The cursor starts after the first
// character with the depth at -1, so the first item starts after the first
// "(" whatever the name before it; commas and brackets nested deeper belong
// to the item.
class ItemReader {
public:
    explicit ItemReader(std::string_view text) : text_(text), cursor_(text.empty() ? 0 : 1) {}

    size_t cursor() const { return cursor_; }

    std::string_view next() {
        while (!(cursor_ > 0 && depth_ == 0 && (text_[cursor_ - 1] == '(' || text_[cursor_ - 1] == ','))) {
            if (cursor_ >= text_.size()) return {}; // no further item: empty
            pass(text_[cursor_++]);
        }
        const size_t start = cursor_;
        while (cursor_ < text_.size()) {
            const char c = text_[cursor_];
            if (depth_ == 0 && (c == ',' || c == ')')) break;
            pass(c);
            ++cursor_;
        }
        const std::string_view item = text_.substr(start, cursor_ - start);
        if (cursor_ < text_.size()) pass(text_[cursor_++]); // the separator
        return item;
    }

private:
    void pass(char c) {
        if (c == '(') ++depth_;
        if (c == ')') --depth_;
    }

    std::string_view text_;
    size_t cursor_;
    long depth_ = -1;
};

// Length of the first operation symbol (in table order) that TEXT begins with, or 0.
// The bytes an operation symbol can begin with: at any other byte no symbol
// is tried, so a pass copies plain text in runs.
struct SymbolStarts {
    bool byte[256] = {};
    SymbolStarts() {
        for (const OperationEntry &row : operation) byte[static_cast<unsigned char>(row.name[0])] = true;
    }
    bool operator()(char c) const { return byte[static_cast<unsigned char>(c)]; }
};
const SymbolStarts &symbol_starts() {
    static const SymbolStarts starts; // after parser_init, which every caller has made
    return starts;
}

size_t symbol_at(std::string_view text) {
    if (text.empty() || !symbol_starts()(text.front())) return 0;
    for (const OperationEntry &row : operation) {
        const std::string_view symbol(row.name, row.length);
        if (text.substr(0, symbol.size()) == symbol) return symbol.size();
    }
    return 0;
}

// One pass: the parameter's first character C is replaced by ARGUMENT
// wherever it stands outside an operation symbol copied whole and is followed
// by the end, ")" or an operation symbol. Symbols are copied whole only where
// they do not start the text or directly follow "(" or another symbol. False,
// with the pass abandoned, once the result would exceed MAX_BYTES.
bool substitute_parameter(std::string_view source, char c, std::string_view argument, size_t max_bytes,
                          String *out, CheckPoint &check) {
    out->clear();
    size_t i = 0;
    const size_t n = source.size();
    size_t checked = 0; // bytes written when the last check point was passed
    while (i < n) {
        if (out->size() > max_bytes) return false;
        if (out->size() - checked >= kCheckStride) {
            if (check.pass(out->size() - checked)) return false;
            checked = out->size();
        }
        if (i == 0 || (source[i] == c && c != '(')) {
            // a candidate as it stands (a "(" at 0 included)
        } else if (source[i] == '(') {
            out->push_back('(');
            if (++i >= n) break;
        } else if (const size_t symbol = symbol_at(source.substr(i))) {
            out->append(source.substr(i, symbol));
            i += symbol;
            if (i >= n) break;
        } else {
            // A run of bytes that are neither C, "(" nor the start of a symbol.
            const SymbolStarts &starts = symbol_starts();
            size_t end = i + 1;
            const size_t most = std::min(n, i + kCheckStride); // a long run is copied in pieces
            while (end < most && source[end] != c && source[end] != '(' && !starts(source[end])) ++end;
            out->append(source.substr(i, end - i));
            i = end;
            continue;
        }
        // The candidate at i.
        const std::string_view after = source.substr(i + 1);
        if (source[i] == c && (after.empty() || after.front() == ')' || symbol_at(after) > 0)) {
            if (out->size() + argument.size() > max_bytes) return false;
            if (argument.size() >= kCheckStride && check.stopped()) return false; // a long copy only while the call goes on
            out->append(argument);
        } else {
            out->push_back(source[i]);
        }
        ++i;
    }
    return out->size() <= max_bytes;
}

} // namespace

const UserFunction *choose_function(std::string_view call, const NameTrie *funcs) {
    return static_cast<const UserFunction *>(name_trie_newest_prefix_of(funcs, call.data(), call.size()));
}

size_t function_name_length(const UserFunction *f) {
    const std::string_view proto(f->proto);
    return std::min(proto.find('('), proto.size());
}

bool substitute_body(std::string_view call, const UserFunction *f, size_t *budget, String *out, String *pass,
                     CheckPoint &check) {
    parser_init(); // the symbols come from the operation table
    const std::string_view proto(f->proto);
    const std::string_view body(f->body, f->body_length);
    if (body.size() > *budget) return false;
    *budget -= body.size();
    String &text = *out, &scratch = *pass;
    text.assign(body);
    if (proto.find('(') != std::string_view::npos) {
        ItemReader parameters(proto), arguments(call);
        // One pass per parameter, while the prototype has at least two
        // characters left: "f(x)" gives one pass, "k()" one with an empty name.
        while (parameters.cursor() + 1 < proto.size()) {
            const std::string_view parameter = parameters.next();
            const std::string_view argument = arguments.next();
            if (parameter.empty()) continue; // replaces nothing
            if (check.pass(parameter.size() + argument.size() + kNodeUnits)) return false;
            if (!substitute_parameter(text, parameter.front(), argument, *budget, &scratch, check)) {
                if (check.stopped()) return false;
                *budget = 0; // the pass wrote all there was
                return false;
            }
            *budget -= scratch.size();
            text.swap(scratch);
        }
    }
    return true;
}

char *substitute_call(std::string_view call, const NameTrie *funcs, size_t *budget, SubstituteStatus *status,
                      size_t *name_length) {
    const UserFunction *f = choose_function(call, funcs);
    if (f == nullptr) {
        *status = SubstituteStatus::NO_FUNCTION;
        return nullptr;
    }
    if (name_length != nullptr) *name_length = function_name_length(f);
    String text, pass;
    CheckPoint unstoppable(nullptr);
    const bool done = substitute_body(call, f, budget, &text, &pass, unstoppable);
    *status = done ? SubstituteStatus::OK : SubstituteStatus::TOO_LARGE;
    return done ? lp_strndup(text.data(), text.size()) : nullptr;
}

} // namespace lp
