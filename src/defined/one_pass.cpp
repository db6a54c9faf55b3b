// one_pass.cpp - the walk's tree of a short plain text, read without its sources and stack of ranges.
//
// Most texts are operands, the six operators, brackets and calls of the
// table's functions: they need nothing the walk keeps for substitution,
// traces and notes. Their brackets are matched in one scan; each node's
// range is then stripped of enclosing pairs, its top level read once, and
// the range split as the walk splits it: at every occurrence of the first
// one-byte symbol in table order, or as a function's call, or taken as a
// leaf. Whatever else a range holds (a host or user call, a trailing
// operator, a function's name inside an operand) gives the text back to the
// walk, which reads every text.
#include "defined/one_pass.h"

#include <new>

#include "defined/location.h"
#include "support/arena.h"
#include "support/small_stack.h"
#include "tree/operation_table.h"

namespace lp {

namespace {

// A node still to be filled with the tree of [from, to).
struct Item {
    TreeNode *node;
    int32_t from, to;
};

// Per byte, the rows whose symbol begins with it and those whose name of
// more than one byte ends with it, a bit per row id; "(" begins none and is
// told by a bit of its own.
constexpr uint32_t kOpen = 1u << 15;
static_assert(OP_COUNT < 15, "a row's bit stays below the bracket's");
struct SymbolBytes {
    uint16_t first[256] = {};
    uint16_t last[256] = {};
    SymbolBytes() {
        for (const OperationEntry &row : operation) {
            const auto a = static_cast<unsigned char>(row.name[0]), z = static_cast<unsigned char>(row.name[row.length - 1]);
            first[a] = static_cast<uint16_t>(first[a] | 1u << row.id);
            if (row.length > 1) last[z] = static_cast<uint16_t>(last[z] | 1u << row.id);
        }
        first[static_cast<unsigned char>('(')] = kOpen;
    }
};

const SymbolBytes &symbol_bytes() {
    static const SymbolBytes table; // built after parser_init, which every expansion makes first
    return table;
}

class OnePass final : private OperandSink {
public:
    OnePass(Arena *arena, const char *text, int32_t length, Vector<int32_t> *partners, Vector<int32_t> *positions,
            Pieces *pieces, CheckPoint &check)
        : arena_(arena), text_(text), length_(length), partners_(*partners), positions_(*positions),
          pieces_(*pieces), check_(check), bytes_(symbol_bytes()) {}

    TreeNode *run() {
        if (!match_brackets()) return nullptr;
        TreeNode *root = arena_->node();
        items_.push(Item{root, 0, length_});
        while (!items_.empty()) {
            if (check_.pass(kNodeUnits)) return nullptr;
            if (!fill(items_.pop())) return nullptr;
        }
        return root;
    }

private:
    // Gives each "(" its partner's position. False for an unbalanced text,
    // and for one with a call the walk must read: a "," or a "(" after a
    // byte of an operand that does not end a function's name.
    bool match_brackets() {
        if (partners_.size() < static_cast<size_t>(length_)) partners_.resize(static_cast<size_t>(length_));
        int32_t open = -1; // the innermost "(" not closed; until closed, each holds the one around it
        for (int32_t p = 0; p < length_; ++p) {
            const char c = text_[p];
            if (c == '(') {
                if (p > 0 && (bytes_.first[static_cast<unsigned char>(text_[p - 1])] & (kOneByteRows | kOpen)) == 0 &&
                    !function_ends_at(p))
                    return false;
                partners_[p] = open;
                open = p;
            } else if (c == ')') {
                if (open < 0) return false;
                const int32_t outer = partners_[open];
                partners_[open] = p;
                open = outer;
            } else if (c == ',') {
                return false;
            }
        }
        return open < 0;
    }

    bool function_ends_at(int32_t p) const {
        for (uint32_t rows = bytes_.last[static_cast<unsigned char>(text_[p - 1])]; rows != 0; rows &= rows - 1) {
            const OperationEntry &row = operation[__builtin_ctz(rows)];
            const auto length = static_cast<int32_t>(row.length);
            if (p >= length && same_bytes(text_ + p - length, row.name, length)) return true;
        }
        return false;
    }

    // Fills ITEM's node as the walk expands its range; false where the walk must.
    bool fill(Item item) {
        const char *t = text_;
        int32_t a = item.from, b = item.to;
        while (b - a >= 2 && t[a] == '(' && t[b - 1] == ')' && partners_[a] == b - 1) {
            ++a;
            --b;
        }
        // The top level: the rows whose symbol's first byte stands outside
        // pairs, and where the one-byte symbols stand.
        uint32_t seen = 0;
        positions_.clear();
        for (int32_t q = a; q < b; ++q) {
            const uint32_t rows = bytes_.first[static_cast<unsigned char>(t[q])];
            if (rows == 0) continue; // most bytes
            if (rows == kOpen) {
                q = partners_[q];
            } else {
                if ((rows & kOneByteRows) != 0) positions_.push_back(q);
            }
            seen |= rows;
        }
        const uint32_t symbols = seen & kOneByteRows;
        if (symbols != 0) return split(item.node, a, b, __builtin_ctz(symbols), (symbols & (symbols - 1)) != 0);
        if ((seen & kOpen) != 0) return call(item.node, a, b);
        if (seen != 0 && holds_function_name(a, b)) return false; // 'cosy' is cos(y)
        leaf(item.node, a, b);
        return true;
    }

    // Splits [A, B) at every occurrence of ID's symbol outside pairs: the
    // positions found, less those of other symbols when MIXED.
    bool split(TreeNode *node, int32_t a, int32_t b, int32_t id, bool mixed) {
        const char symbol = operation[id].name[0];
        if (text_[b - 1] == symbol) return false; // a trailing operator, which the walk reports
        if (mixed) {
            size_t kept = 0;
            for (const int32_t q : positions_)
                if (text_[q] == symbol) positions_[kept++] = q;
            positions_.resize(kept);
        }
        if (positions_.size() == 1) { // two operands: every layout makes the same three nodes
            const int32_t p = positions_[0];
            TreeNode *operands = arena_->nodes(2);
            operands[0] = operands[1] = TreeNode{nullptr, nullptr, nullptr};
            *node = TreeNode{operator_record(id), &operands[0], &operands[1]};
            items_.push(Item{&operands[1], p + 1, b});
            items_.push(Item{&operands[0], a, p});
            return true;
        }
        pieces_.sink = this;
        TreeNode *root = split_range(text_, Range{0, a, b}, id, positions_, &pieces_);
        if (root == nullptr || check_.stopped()) return false;
        *node = *root;
        return true;
    }

    // A chain's operand node and its piece, handed over by split_range.
    void operand(TreeNode *node, Range piece) override { items_.push(Item{node, piece.from, piece.to}); }

    // [A, B) holds pairs and no operator: taken when it is a function's call
    // as the walk reads it, blanks and the function's name right before a
    // pair that ends the range.
    bool call(TreeNode *node, int32_t a, int32_t b) {
        int32_t s = a;
        while (is_blank(text_[s])) ++s; // a pair follows
        for (uint32_t rows = bytes_.first[static_cast<unsigned char>(text_[s])] & ~(kOneByteRows | kOpen); rows != 0;
             rows &= rows - 1) {
            const OperationEntry &row = operation[__builtin_ctz(rows)];
            const int32_t open = s + static_cast<int32_t>(row.length);
            if (open >= b || !same_bytes(text_ + s, row.name, static_cast<int32_t>(row.length))) continue;
            if (text_[open] != '(' || partners_[open] != b - 1) return false;
            TreeNode *operand = arena_->node();
            *node = TreeNode{operator_record(row.id), nullptr, operand};
            items_.push(Item{operand, open, b});
            return true;
        }
        return false;
    }

    // Whether a function's name stands in [A, B), which has no pairs.
    bool holds_function_name(int32_t a, int32_t b) const {
        for (int32_t q = a; q < b; ++q)
            for (uint32_t rows = bytes_.first[static_cast<unsigned char>(text_[q])] & ~kOneByteRows; rows != 0;
                 rows &= rows - 1) {
                const OperationEntry &row = operation[__builtin_ctz(rows)];
                if (b - q >= static_cast<int32_t>(row.length) && same_bytes(text_ + q, row.name, static_cast<int32_t>(row.length)))
                    return true;
            }
        return false;
    }

    // The walk's records: an operator's text is its row's symbol, a leaf's a
    // copy of its piece. A chain's operand node has its record already.
    NodeData *operator_record(int32_t id) {
        return new (arena_->allocate(sizeof(NodeData)))
            NodeData{const_cast<char *>(operation[id].name), static_cast<int16_t>(id), CALCULATE, 0.0f};
    }
    void leaf(TreeNode *node, int32_t a, int32_t b) {
        char *expr = arena_->copy(text_ + a, static_cast<size_t>(b - a));
        if (node->data != nullptr)
            static_cast<NodeData *>(node->data)->expr = expr;
        else
            node->data = new (arena_->allocate(sizeof(NodeData))) NodeData{expr, OP_OPERAND, EXPAND, 0.0f};
    }

    Arena *arena_;
    const char *text_;
    const int32_t length_;
    Vector<int32_t> &partners_; // per "(", the position of its ")"
    Vector<int32_t> &positions_;
    Pieces &pieces_;
    CheckPoint &check_;
    const SymbolBytes &bytes_;
    SmallStack<Item> items_;
};

} // namespace

TreeNode *read_in_one_pass(Arena *arena, const char *text, size_t length, Vector<int32_t> *partners,
                           Vector<int32_t> *positions, Pieces *pieces, CheckPoint &check) {
    if (length > kOnePassBytes || check.pass(length)) return nullptr;
    pieces->arena = arena;
    pieces->check = &check;
    pieces->traced = false;
    TreeNode *root = OnePass(arena, text, static_cast<int32_t>(length), partners, positions, pieces, check).run();
    pieces->sink = nullptr; // neither the reading nor the check point outlives this call
    pieces->check = nullptr;
    return root;
}

} // namespace lp
