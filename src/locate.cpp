// locate.cpp - finding enclosing brackets, top-level bracket pairs and the operation to split at.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "lib_parse_internal.h"
#include "memory.h"

namespace lp {

namespace {

void push_position(List *list, int32_t position) { list_push(list, &position, sizeof position); }

int32_t position_at(const ListNode *node) { return *static_cast<const int32_t *>(node->data); }

// A list of positions in ascending order.
List *list_of(const std::vector<int32_t> &positions) {
    List *list = list_new();
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) push_position(list, *it);
    return list;
}

// Walks bracket pairs alongside ascending positions and tells which positions
// lie outside every pair: positions before a pair stay, positions inside one
// are dropped, and once the last pair is passed every later position stays.
class PairWalk {
public:
    explicit PairWalk(const List *brackets) : pair_(brackets->head) {}

    // Classifies the next position; announce_rest is set when this position is
    // the first after the last pair (every later one is then kept unasked).
    bool keeps(int32_t p, bool *announce_rest) {
        *announce_rest = false;
        while (true) {
            if (pair_ == nullptr || pair_->next == nullptr) {
                *announce_rest = true;
                return true;
            }
            const int32_t open = position_at(pair_), close = position_at(pair_->next);
            if (p > open && p < close) return false;
            if (p < open) return true;
            if (pair_->next->next == nullptr) {
                *announce_rest = true;
                pair_ = nullptr;
                return true;
            }
            pair_ = pair_->next->next;
        }
    }

private:
    const ListNode *pair_;
};

// The search exactly as its diagnostics describe it: every occurrence listed
// with "Tocken found", positions taken out one by one. Used when level-6
// messages are emitted, so they come out in the documented order.
List *highest_prio_op_traced(List *brackets, const char *text, int32_t *op_id, uint8_t *error) {
    List *list = list_new();
    *op_id = operation[0].id;
    *error = 1;
    const int32_t last = lngth(text) - 1;
    for (int32_t row = 0; row < OP_COUNT; ++row) {
        if (find(operation[row].name, text, list) == nullptr) {
            if (row + 1 < OP_COUNT) *op_id = operation[row + 1].id;
            continue;
        }
        if (position_at(list->head) == last) {
            LP_REPORT(PARSER_ERR_TRAILING_OPERATOR);
            *error = 1;
            list_free(list, std::free);
            return nullptr;
        }
        list_reverse(list);
        if (brackets == nullptr) {
            *error = 0;
            return list;
        }
        PairWalk walk(brackets);
        ListNode *node = list->head;
        int index = 0;
        while (node != nullptr) {
            bool rest = false;
            if (!walk.keeps(position_at(node), &rest)) {
                ListNode *next = node->next;
                std::free(list_pop_index(list, index));
                node = next;
                continue;
            }
            LP_DIAG(6, "Op is outside brackets\n");
            if (rest) {
                *error = 0;
                return list;
            }
            node = node->next;
            ++index;
        }
        if (list_count(list) > 0) {
            *error = 0;
            return list;
        }
        if (row + 1 < OP_COUNT) *op_id = operation[row + 1].id;
    }
    *error = 0;
    list_free(list, std::free);
    return nullptr;
}

// Calls VISIT(from, to) for each stretch of a text of length N that lies
// outside every top-level pair, in order.
template <class Visit>
void for_each_stretch(const List *brackets, size_t n, Visit visit) {
    const ListNode *pair = brackets != nullptr ? brackets->head : nullptr;
    size_t from = 0;
    while (true) {
        const size_t to = pair != nullptr ? static_cast<size_t>(position_at(pair)) : n;
        visit(from, to);
        if (pair == nullptr || pair->next == nullptr) return;
        from = static_cast<size_t>(position_at(pair->next)) + 1;
        pair = pair->next->next;
    }
}

// An operation symbol as a view; a loop costs less than a call for a few bytes.
std::string_view short_text(const char *text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return std::string_view(text, length);
}

// The same search without diagnostics, reading only the text outside the
// top-level pairs: nothing is allocated until the chosen positions are known,
// and a text nested deep is not read again at every level.
//
// Two facts make this equal to the traced search. A symbol holds no bracket,
// so an occurrence lies wholly inside or wholly outside a pair. And a row's
// last occurrence can start at the last character only for a one-character
// symbol standing there, which (being after every pair) lies outside them.
List *highest_prio_op_quiet(List *brackets, const char *text, int32_t *op_id, uint8_t *error) {
    const std::string_view t(text);
    const size_t n = t.size();
    // The bytes that stand outside every pair, in one pass: a row whose
    // symbol starts with none of them is passed over without a search.
    bool outside[256] = {};
    for_each_stretch(brackets, n, [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) outside[static_cast<unsigned char>(t[i])] = true;
    });
    std::vector<int32_t> kept;
    for (int32_t row = 0; row < OP_COUNT; ++row) {
        const std::string_view symbol = short_text(operation[row].name);
        if (symbol.size() == 1 && n > 0 && t[n - 1] == symbol[0]) {
            LP_REPORT(PARSER_ERR_TRAILING_OPERATOR);
            *error = 1;
            return nullptr;
        }
        if (symbol.empty() || !outside[static_cast<unsigned char>(symbol[0])]) continue;
        for_each_stretch(brackets, n, [&](size_t from, size_t to) {
            const std::string_view stretch = t.substr(from, to - from);
            for (size_t at = stretch.find(symbol); at != std::string_view::npos; at = stretch.find(symbol, at + 1))
                kept.push_back(static_cast<int32_t>(from + at));
        });
        if (!kept.empty()) {
            *op_id = operation[row].id;
            *error = 0;
            return list_of(kept);
        }
    }
    *error = 0;
    return nullptr;
}

} // namespace

int32_t lngth(const char *text) {
    // Texts longer than 2 GiB cannot be addressed by 32-bit positions.
    const size_t length = std::strlen(text);
    return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

List *find(const char *token, const char *text, List *list) {
    const int32_t text_length = lngth(text), token_length = lngth(token);
    bool found = false;
    for (int32_t p = 0; p <= text_length - token_length; ++p) {
        if (std::memcmp(text + p, token, static_cast<size_t>(token_length)) != 0) continue;
        LP_DIAG(6, "Tocken found\n");
        push_position(list, p);
        found = true;
    }
    return found ? list : nullptr;
}

List *find_extern_brakets(TreeNode *node, uint8_t *error) {
    auto *data = static_cast<NodeData *>(node->data);
    const char *text = data->expr;
    const int64_t n = lngth(text);
    *error = 0;

    // One pass finds the balance, the pairs enclosing the whole text and the
    // top-level pairs inside them, where stripping a pair at a time and
    // scanning again would read a deeply nested text once per level.
    //
    // With c = min(leading "(", trailing ")", n/2), the first k layers
    // enclose the text exactly when k <= c and the depth between positions c
    // and n-1-c never falls below k (the runs themselves stay deep enough).
    // So k is the lowest depth R met there, capped at c, and the top-level
    // pairs are those that open from depth R and close back to it. Their
    // positions are collected for the lowest depth seen so far; a new low
    // starts the collection again with the leading "(" that opened it.
    int64_t lead = 0, trail = 0;
    while (lead < n && text[lead] == '(') ++lead;
    while (trail < n && text[n - 1 - trail] == ')') ++trail;
    const int64_t c = std::min({lead, trail, n / 2});
    int64_t depth = c, low = c;
    std::vector<int32_t> pairs;
    for (int64_t p = c; p < n - c; ++p) {
        const char ch = text[p];
        depth += ch == '(' ? 1 : ch == ')' ? -1 : 0;
        if (depth > low + 1) continue; // deep inside a pair: nothing to note
        if (depth < low) {
            if (depth < 0) {
                *error = 1; // a closing bracket without an opening one
                return nullptr;
            }
            low = depth;
            pairs.assign({static_cast<int32_t>(low), static_cast<int32_t>(p)});
        } else if ((depth == low && ch == ')') || (depth == low + 1 && ch == '(')) {
            pairs.push_back(static_cast<int32_t>(p));
        }
    }
    if (depth != c) {
        *error = 1; // an opening bracket never closed
        return nullptr;
    }
    // A pair still open at the trailing run closes inside it.
    if (depth > low) pairs.push_back(static_cast<int32_t>(n - 1 - low));

    const int64_t layers = low;
    if (layers > 0) {
        char *inner = lp_strndup(text + layers, static_cast<size_t>(n - 2 * layers));
        std::free(data->expr);
        data->expr = inner;
    }
    if (pairs.empty()) return nullptr;
    List *list = list_new();
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) push_position(list, *it - static_cast<int32_t>(layers));
    return list;
}

List *find_extern_highest_prio_op(List *brackets, const char *text, int32_t *op_id, uint8_t *error) {
    if (dbg_is_enabled(6)) return highest_prio_op_traced(brackets, text, op_id, error);
    return highest_prio_op_quiet(brackets, text, op_id, error);
}

} // namespace lp
