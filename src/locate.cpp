// locate.cpp - finding enclosing brackets, top-level bracket pairs and the operation to split at.
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

// The same search without diagnostics: nothing is allocated until the chosen
// positions are known.
List *highest_prio_op_quiet(List *brackets, const char *text, int32_t *op_id, uint8_t *error) {
    const std::string_view t(text);
    const int32_t last = static_cast<int32_t>(t.size()) - 1;
    std::vector<int32_t> kept;
    for (int32_t row = 0; row < OP_COUNT; ++row) {
        const std::string_view symbol(operation[row].name);
        const size_t final_at = t.rfind(symbol);
        if (final_at == std::string_view::npos) continue;
        if (static_cast<int32_t>(final_at) == last) {
            LP_REPORT(PARSER_ERR_TRAILING_OPERATOR);
            *error = 1;
            return nullptr;
        }
        kept.clear();
        if (brackets == nullptr) {
            for (size_t at = t.find(symbol); at != std::string_view::npos; at = t.find(symbol, at + 1))
                kept.push_back(static_cast<int32_t>(at));
        } else {
            PairWalk walk(brackets);
            for (size_t at = t.find(symbol); at != std::string_view::npos; at = t.find(symbol, at + 1)) {
                bool rest = false;
                if (walk.keeps(static_cast<int32_t>(at), &rest)) kept.push_back(static_cast<int32_t>(at));
            }
        }
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
    const int32_t n = lngth(text);
    *error = 0;

    // One pass pairs every bracket; a closing bracket without an opening one,
    // or an opening one never closed, leaves the text unbalanced.
    std::vector<int32_t> open_stack, match_of_open(static_cast<size_t>(n), -1);
    for (int32_t p = 0; p < n; ++p) {
        if (text[p] == '(') {
            open_stack.push_back(p);
        } else if (text[p] == ')') {
            if (open_stack.empty()) {
                *error = 1;
                return nullptr;
            }
            match_of_open[static_cast<size_t>(open_stack.back())] = p;
            open_stack.pop_back();
        }
    }
    if (!open_stack.empty()) {
        *error = 1;
        return nullptr;
    }

    // Strip every pair that encloses the whole text in one step: layer j
    // encloses when the bracket at j closes at the mirrored end.
    int32_t layers = 0;
    while (layers < n - 1 - layers && text[layers] == '(' &&
           match_of_open[static_cast<size_t>(layers)] == n - 1 - layers)
        ++layers;
    if (layers > 0) {
        char *inner = lp_strndup(text + layers, static_cast<size_t>(n - 2 * layers));
        std::free(data->expr);
        data->expr = inner;
        text = inner;
    }

    List *list = list_new();
    int32_t depth = 0;
    for (int32_t p = 0; p < n - 2 * layers; ++p) {
        if (text[p] == '(') {
            if (depth++ == 0) push_position(list, p);
        } else if (text[p] == ')') {
            if (--depth == 0) push_position(list, p);
        }
    }
    if (list->head == nullptr) {
        list_free(list, std::free);
        return nullptr;
    }
    list_reverse(list);
    return list;
}

List *find_extern_highest_prio_op(List *brackets, const char *text, int32_t *op_id, uint8_t *error) {
    if (dbg_is_enabled(6)) return highest_prio_op_traced(brackets, text, op_id, error);
    return highest_prio_op_quiet(brackets, text, op_id, error);
}

} // namespace lp
