// location.cpp - matching brackets once per text, and choosing the operation to split a range at.
#include "location.h"

#include <algorithm>
#include <cstdlib>

#include "lib_parse.h"
#include "operation_table.h"
#include "error_log.h"
#include "trace.h"

namespace lp {

void SourceText::read(const char *text, size_t length, char *owned) {
    drop();
    text_ = std::string_view(text, length);
    owned_ = owned;
    refs = 0;
    balanced_ = true;
    opens_.clear();
    closes_.clear();
    Vector<size_t> &open = open_;
    open.clear();
    for (size_t p = 0; p < length; ++p) {
        if (text[p] == '(') {
            open.push_back(opens_.size());
            opens_.push_back(static_cast<int32_t>(p));
            closes_.push_back(-1);
        } else if (text[p] == ')') {
            if (open.empty()) {
                balanced_ = false;
                return;
            }
            closes_[open.back()] = static_cast<int32_t>(p);
            open.pop_back();
        }
    }
    balanced_ = open.empty();
    if (open.capacity() > 64) Vector<size_t>().swap(open); // needed while reading only
}

int32_t SourceText::partner(int32_t position) const {
    const auto at = std::lower_bound(opens_.begin(), opens_.end(), position);
    return closes_[static_cast<size_t>(at - opens_.begin())];
}

void SourceText::drop() {
    std::free(owned_);
    owned_ = nullptr;
    trim(16); // what a short text needs stays, for the next text read
}

void strip_enclosing(const SourceText &source, int32_t *from, int32_t *to) {
    const char *text = source.data();
    while (*to - *from >= 2 && text[*from] == '(' && source.partner(*from) == *to - 1) {
        ++*from;
        --*to;
    }
}

void top_level_pairs(const SourceText &source, int32_t from, int32_t to, Vector<int32_t> *opens) {
    opens->clear();
    const char *text = source.data();
    for (int32_t q = from; q < to;) {
        if (text[q] == '(') {
            opens->push_back(q);
            q = source.partner(q) + 1; // step over the pair
        } else {
            ++q;
        }
    }
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

int32_t choose_operation(const SourceText &source, int32_t from, int32_t to, const Vector<int32_t> &opens,
                         Vector<int32_t> *positions, bool *trailing) {
    const std::string_view range = source.view(from, to);
    const bool traced = tracing(kTraceSearch);
    *trailing = false;
    // The bytes that stand outside every pair, in one pass: a row whose
    // symbol starts with none of them is passed over without a search.
    bool outside[256] = {};
    for_each_stretch(source, from, to, opens, [&](int32_t a, int32_t b) {
        for (const char c : source.view(a, b)) outside[static_cast<unsigned char>(c)] = true;
    });
    for (const OperationEntry &row : operation) {
        const std::string_view symbol(row.name, row.length);
        if (traced) trace_occurrences(range, symbol);
        // A symbol holds no bracket, so one standing at the last byte lies
        // outside every pair; only a one-byte symbol can start there.
        if (symbol.size() == 1 && !range.empty() && range.back() == symbol[0]) {
            *trailing = true;
            return -1;
        }
        if (!outside[static_cast<unsigned char>(symbol[0])]) continue;
        positions->clear();
        for_each_stretch(source, from, to, opens, [&](int32_t a, int32_t b) {
            const std::string_view stretch = source.view(a, b);
            for (size_t at = find_symbol(stretch, symbol, 0); at != std::string_view::npos;
                 at = find_symbol(stretch, symbol, at + 1))
                positions->push_back(a + static_cast<int32_t>(at));
        });
        if (!positions->empty()) {
            if (traced) trace_kept(source, opens, *positions);
            return row.id;
        }
    }
    return -1;
}

} // namespace lp
