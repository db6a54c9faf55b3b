// location.cpp - matching brackets once per text, and choosing the operation to split a range at.
#include "defined/location.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib_parse.h"
#include "support/error_log.h"
#include "support/trace.h"
#include "tree/operation_table.h"

namespace lp {

namespace {

// Per byte, the rows whose symbol begins with it (a bit per row id), and the
// row of the one-byte symbol it is, or -1.
struct FirstBytes {
    uint16_t rows[256] = {};
    int8_t single[256];
    FirstBytes() {
        for (int8_t &r : single) r = -1;
        for (const OperationEntry &row : operation) {
            const auto first = static_cast<unsigned char>(row.name[0]);
            rows[first] = static_cast<uint16_t>(rows[first] | 1u << row.id);
            if (row.length == 1) single[first] = static_cast<int8_t>(row.id);
        }
    }
};

const FirstBytes &first_bytes() {
    static const FirstBytes table; // built after parser_init, which every expansion makes first
    return table;
}

// No byte begins a symbol: brackets read without a survey.
const uint16_t *no_rows() {
    static const uint16_t none[256] = {};
    return none;
}

} // namespace

void SourceText::adopt(String *text, CheckPoint &check) {
    drop();
    own_.swap(*text);
    owns_ = true;
    text_ = own_;
    read_brackets(check, nullptr);
}

bool SourceText::read_surveyed(const char *text, size_t length, TopLevel *top, CheckPoint &check) {
    drop();
    text_ = std::string_view(text, length);
    return read_brackets(check, top);
}

bool SourceText::read_brackets(CheckPoint &check, TopLevel *top) {
    const char *text = text_.data();
    const size_t length = text_.size();
    refs = 0;
    balanced_ = true;
    opens_.clear();
    closes_.clear();
    Vector<size_t> &open = open_;
    open.clear();
    if (top != nullptr) {
        top->opens.clear();
        top->marks.clear();
        top->word_marks.clear();
        top->seen = 0;
    }
    // Bytes at depth 0 are told as survey_range tells them; none, with no TOP.
    const uint16_t *rows = top != nullptr ? first_bytes().rows : no_rows();
    uint32_t seen = 0;
    size_t depth = 0; // open.size(), where the loop keeps it
    for (size_t from = 0; from < length; from += kCheckStride) { // a stride of bytes per check point
        if (from > 0 && check.pass(kCheckStride)) return false;
        const size_t to = std::min(length, from + kCheckStride);
        for (size_t p = from; p < to; ++p) {
            const auto c = static_cast<unsigned char>(text[p]);
            if ((c | 1) != ')') { // neither "(" nor ")", which differ in the lowest bit alone
                if (rows[c] != 0 && depth == 0 && top != nullptr) {
                    seen |= rows[c];
                    if ((rows[c] & kOneByteRows) != 0)
                        top->marks.push_back(static_cast<int32_t>(p));
                    else
                        top->word_marks.push_back(static_cast<int32_t>(p));
                }
                continue;
            }
            if (c == '(') {
                if (depth == 0 && top != nullptr) top->opens.push_back(static_cast<int32_t>(p));
                open.push_back(opens_.size());
                opens_.push_back(static_cast<int32_t>(p));
                closes_.push_back(-1);
                ++depth;
                continue;
            }
            if (depth == 0) {
                balanced_ = false;
                return false;
            }
            closes_[open.back()] = static_cast<int32_t>(p);
            open.pop_back();
            --depth;
        }
    }
    balanced_ = depth == 0;
    if (open.capacity() > 64) Vector<size_t>().swap(open); // needed while reading only
    if (top == nullptr || !balanced_) return false;
    top->seen = seen;
    // survey_range would first take away a pair enclosing all of it
    return !(length >= 2 && text[0] == '(' && closes_[0] == static_cast<int32_t>(length - 1));
}

int32_t SourceText::partner(int32_t position) const {
    const auto at = std::lower_bound(opens_.begin(), opens_.end(), position);
    return closes_[static_cast<size_t>(at - opens_.begin())];
}

void SourceText::drop(Vector<String> *spares) {
    text_ = std::string_view();
    if (!owns_) return; // a text read in place
    owns_ = false;
    if (spares != nullptr && spares->size() < kSpareTexts && own_.capacity() <= kSpareTextBytes &&
        own_.capacity() > String().capacity()) {
        own_.clear();
        spares->push_back(String());
        spares->back().swap(own_);
    }
    String().swap(own_);
}

namespace {

// The next occurrence of SYMBOL in TEXT from AT on; most symbols are one byte.
size_t find_symbol(std::string_view text, std::string_view symbol, size_t at) {
    return symbol.size() == 1 ? text.find(symbol[0], at) : text.find(symbol, at);
}

// The level-6 messages of one search as the search reports them: every
// occurrence found in the whole range, pairs included ...
void trace_occurrences(std::string_view range, std::string_view symbol) {
    for (size_t at = find_symbol(range, symbol, 0); at != std::string_view::npos; at = find_symbol(range, symbol, at + 1))
        LP_DIAG(kTraceSearch, "Tocken found\n");
}

// ... and then, when there are pairs, one message per kept position before
// the last pair closes and one for all those after it.
void trace_kept(const SourceText &source, const Vector<int32_t> &opens, const Vector<int32_t> &kept) {
    if (opens.empty()) return;
    const int32_t last_close = source.partner(opens.back());
    bool after_last = false;
    for (const int32_t p : kept) {
        if (p > last_close) {
            after_last = true;
            break;
        }
        LP_DIAG(kTraceSearch, "Op is outside brackets\n");
    }
    if (after_last) LP_DIAG(kTraceSearch, "Op is outside brackets\n");
}

} // namespace

void survey_range(const SourceText &source, int32_t *from, int32_t *to, TopLevel *top, CheckPoint &check) {
    const char *text = source.data();
    while (*to - *from >= 2 && text[*from] == '(' && text[*to - 1] == ')' && source.partner(*from) == *to - 1 &&
           !check.pass(kNodeUnits)) {
        ++*from;
        --*to;
    }
    top->opens.clear();
    top->marks.clear();
    top->word_marks.clear();
    top->seen = 0;
    const uint16_t *rows = first_bytes().rows;
    uint32_t seen = 0;
    size_t left = kCheckStride; // steps before the next check point
    for (int32_t q = *from; q < *to;) {
        if (--left == 0) {
            if (check.pass(kCheckStride)) return; // the caller sees the stop
            left = kCheckStride;
        }
        const auto c = static_cast<unsigned char>(text[q]);
        if (c == '(') {
            top->opens.push_back(q);
            q = source.partner(q) + 1; // step over the pair
            continue;
        }
        if (rows[c] != 0) { // most bytes begin no symbol
            seen |= rows[c];
            if ((rows[c] & kOneByteRows) != 0)
                top->marks.push_back(q);
            else
                top->word_marks.push_back(q);
        }
        ++q;
    }
    top->seen = seen;
    check.pass(kCheckStride - left + 1);
}

namespace {

// The positions of SYMBOL outside the pairs OPENS of [FROM, TO).
void find_outside(const SourceText &source, int32_t from, int32_t to, const Vector<int32_t> &opens,
                  std::string_view symbol, Vector<int32_t> *positions, CheckPoint &check) {
    positions->clear();
    const char *text = source.data();
    if (symbol.size() == 1) { // an operator: most stretches are a few bytes, where a loop beats memchr
        const char c = symbol[0];
        for_each_stretch(source, from, to, opens, check, [&](int32_t a, int32_t b, int32_t) {
            for (int32_t p = a; p < b; ++p)
                if (text[p] == c) positions->push_back(p);
        });
        return;
    }
    // An occurrence starting in the piece [a, b) may end after it.
    const auto reach = static_cast<int32_t>(symbol.size()) - 1;
    for_each_stretch(source, from, to, opens, check, [&](int32_t a, int32_t b, int32_t end) {
        const std::string_view piece = source.view(a, std::min(end, b + reach));
        const auto starts = static_cast<size_t>(b - a);
        for (size_t at = piece.find(symbol); at < starts; at = piece.find(symbol, at + 1))
            positions->push_back(a + static_cast<int32_t>(at));
    });
}

// The search row by row, every occurrence traced, as the trace reports it.
int32_t choose_traced(const SourceText &source, int32_t from, int32_t to, const Vector<int32_t> &opens,
                      Vector<int32_t> *positions, bool *trailing, CheckPoint &check) {
    const std::string_view range = source.view(from, to);
    for (const OperationEntry &row : operation) {
        const std::string_view symbol(row.name, row.length);
        trace_occurrences(range, symbol);
        // A symbol holds no bracket, so one standing at the last byte lies
        // outside every pair; only a one-byte symbol can start there.
        if (symbol.size() == 1 && !range.empty() && range.back() == symbol[0]) {
            *trailing = true;
            return -1;
        }
        find_outside(source, from, to, opens, symbol, positions, check);
        if (check.stopped()) return -1;
        if (!positions->empty()) {
            trace_kept(source, opens, *positions);
            return row.id;
        }
    }
    return -1;
}

} // namespace

int32_t choose_operation(const SourceText &source, int32_t from, int32_t to, TopLevel *top,
                         Vector<int32_t> *positions, bool *trailing, bool traced, CheckPoint &check) {
    *trailing = false;
    if (traced && tracing(kTraceSearch)) return choose_traced(source, from, to, top->opens, positions, trailing, check);
    // Only the rows seen are searched, in table order.
    const FirstBytes &bytes = first_bytes();
    // A one-byte symbol at the last byte (outside every pair) ends the
    // search when its row is reached: no row before it occurs.
    const int32_t last = to > from ? bytes.single[static_cast<unsigned char>(source.data()[to - 1])] : -1;
    for (uint32_t seen = top->seen; seen != 0; seen &= seen - 1) {
        const int32_t id = __builtin_ctz(seen);
        if (id == last) {
            *trailing = true;
            return -1;
        }
        const OperationEntry &row = operation[id];
        if ((top->seen & kOneByteRows) == 1u << id) { // every mark is one of its occurrences
            if (check.pass(top->marks.size())) return -1;
            positions->swap(top->marks);
            return id;
        }
        // Its occurrences are among the marks: a one-byte symbol's where the
        // byte is its own, a function name's where the rest of the name
        // follows within the range (a symbol holds no bracket, so it cannot
        // run into a pair).
        const Vector<int32_t> &marks = ((1u << id) & kOneByteRows) != 0 ? top->marks : top->word_marks;
        positions->clear();
        const char *text = source.data();
        const auto length = static_cast<int32_t>(row.length);
        for (size_t i = 0, n = marks.size(); i < n; i += kCheckStride) {
            const size_t end = std::min(n, i + kCheckStride);
            if (check.pass(end - i)) return -1;
            for (size_t k = i; k < end; ++k) {
                const int32_t q = marks[k];
                if (text[q] == row.name[0] && (length == 1 || (to - q >= length && same_bytes(text + q + 1, row.name + 1, length - 1))))
                    positions->push_back(q);
            }
        }
        if (!positions->empty()) return id;
    }
    return -1;
}

bool is_function_symbol(const char *name, size_t length) {
    if (length < 2) return false; // every one is longer
    // The rows whose symbol begins with the name's first byte: one or three.
    for (uint32_t rows = first_bytes().rows[static_cast<unsigned char>(name[0])] & ~kOneByteRows; rows != 0; rows &= rows - 1) {
        const OperationEntry &row = operation[__builtin_ctz(rows)];
        if (row.length == length && same_bytes(row.name + 1, name + 1, static_cast<int32_t>(length) - 1)) return true;
    }
    return false;
}

bool plain_operand(const SourceText &source, int32_t *from, int32_t *to) {
    constexpr int32_t kLongest = 64; // a longer piece is left to the walk, so no piece is read twice at length
    if (*to - *from > kLongest) return false;
    const char *text = source.data();
    int32_t a = *from, b = *to;
    while (b - a >= 2 && text[a] == '(' && source.partner(a) == b - 1) {
        ++a;
        --b;
    }
    const uint16_t *rows = first_bytes().rows;
    for (int32_t q = a; q < b; ++q) {
        const auto c = static_cast<unsigned char>(text[q]);
        if (c == '(' || c == ')' || rows[c] != 0) return false;
    }
    *from = a;
    *to = b;
    return true;
}

} // namespace lp
