// core_test_support.h - helpers shared by the core library tests: owners, float bits, hand-built trees, captured diagnostics.
#ifndef LIB_PARSE_CORE_TEST_SUPPORT_H
#define LIB_PARSE_CORE_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "handle.h"
#include "lib_parse/diagnostics.h"
#include "memory.h"
#include "operation_table.h"

namespace test {

// Owners that release through the library's own routines.
struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

inline lp::NodeData *data_of(const TreeNode *n) { return static_cast<lp::NodeData *>(n->data); }

inline uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
// Equal bits, or both NaN.
inline bool same_value(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// Fully bracketed infix: "((a-b)-(c+d))", functions as "cos(y)", an empty
// operand as '', a missing child as _, a function with a left child marks "!L".
// Counts the nodes into *NODES when given. Iterative, so deep trees render too.
inline std::string render(const TreeNode *root, size_t *nodes = nullptr) {
    std::string out;
    std::vector<std::pair<const TreeNode *, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [n, stage] = stack.back();
        stack.pop_back();
        if (n == nullptr) {
            out += "_";
            continue;
        }
        const lp::NodeData *d = data_of(n);
        if (nodes != nullptr && stage == 0) ++*nodes;
        if (d->op == lp::OP_OPERAND || d->op < 0 || d->op > lp::OP_OPERAND) {
            out += (d->expr == nullptr || *d->expr == 0) ? std::string("''") : std::string(d->expr);
        } else if (d->op >= lp::OP_COS) {
            out += stage == 0 ? std::string(d->expr) + (n->left != nullptr ? "!L(" : "(") : ")";
            if (stage == 0) stack.insert(stack.end(), {{n, 1}, {n->right, 0}});
        } else if (stage == 0) {
            out += "(";
            stack.insert(stack.end(), {{n, 1}, {n->left, 0}});
        } else if (stage == 1) {
            out += d->expr;
            stack.insert(stack.end(), {{n, 2}, {n->right, 0}});
        } else {
            out += ")";
        }
    }
    return out;
}

// The handle's tree in the order parser_walk visits it: depth, side, text,
// op, state and the value's bits.
using Visit = std::tuple<int, int, std::string, int, int, uint32_t>;
inline std::vector<Visit> walk(const Parser *p) {
    std::vector<Visit> out;
    parser_walk(
        p,
        [](void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
            static_cast<std::vector<Visit> *>(ctx)->emplace_back(depth, side, expr != nullptr ? expr : "<null>", op, state,
                                                                 bits(value));
        },
        &out);
    return out;
}

// Captures emitted diagnostics and exception reports for the scope's life,
// and restores the silent defaults afterwards.
class Capture {
public:
    explicit Capture(int level = 0) {
        dbg_set_level(level);
        dbg_set_sink(&Capture::sink, this);
        exception_set_handler(&Capture::handler, this);
    }
    ~Capture() {
        dbg_set_level(0);
        dbg_set_timestamp(0);
        dbg_set_localized(0);
        dbg_set_sink(nullptr, nullptr);
        exception_set_handler(nullptr, nullptr);
    }
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    struct Piece {
        int level;
        std::string text;
    };
    std::vector<Piece> pieces;
    std::vector<int> codes; // exception codes, in order

private:
    static void sink(void *ctx, int level, const char *text) { static_cast<Capture *>(ctx)->pieces.push_back({level, text}); }
    static void handler(void *ctx, const char *, int, int code) { static_cast<Capture *>(ctx)->codes.push_back(code); }
};

} // namespace test

#endif // LIB_PARSE_CORE_TEST_SUPPORT_H
