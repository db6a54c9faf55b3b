// reference_eval.h - the tree evaluated node by node, the plain way: the oracle the compiled program is checked against.
#ifndef LIB_PARSE_REFERENCE_EVAL_H
#define LIB_PARSE_REFERENCE_EVAL_H

#include <cstdint>
#include <cstring>
#include <vector>

#include <cmath>
#include "handle.h"
#include "operand.h"
#include "operation_table.h"

namespace test {

// The operations computed from their definitions, independently of the
// library's own arithmetic: + - * / in float, the rest in double rounded
// once, % on saturated 32-bit integers.
inline float reference_operation(int32_t op, float l, float r) {
    const auto saturated = [](float v) -> int64_t {
        if (std::isnan(v)) return INT32_MIN;
        return static_cast<int64_t>(std::fmax(std::fmin(std::trunc(static_cast<double>(v)), INT32_MAX), INT32_MIN));
    };
    const double x = r;
    switch (op) {
    case lp::OP_ADD: return l + r;
    case lp::OP_SUB: return l - r;
    case lp::OP_POW: return static_cast<float>(std::pow(static_cast<double>(l), x));
    case lp::OP_MUL: return l * r;
    case lp::OP_DIV: return l / r;
    case lp::OP_MOD: {
        const int64_t a = saturated(l), b = saturated(r);
        return static_cast<float>(static_cast<double>(b == 0 ? a : a % b));
    }
    case lp::OP_COS: return static_cast<float>(std::cos(x));
    case lp::OP_SIN: return static_cast<float>(std::sin(x));
    case lp::OP_ATAN: return static_cast<float>(std::atan(x));
    case lp::OP_TAN: return static_cast<float>(std::tan(x));
    case lp::OP_EXP: return static_cast<float>(std::exp(x));
    case lp::OP_LOGN: return static_cast<float>(std::log(x));
    case lp::OP_LOG2: return static_cast<float>(std::log2(x));
    default: return static_cast<float>(std::log10(x));
    }
}

// The variable an operand text names, by a walk of the list: the first, so
// the newest, whose name begins with the text (an equal name included).
inline const Variable *reference_variable(const List *vars, const char *text) {
    const size_t length = std::strlen(text);
    for (const ListNode *n = vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        // strncmp stops at the end of a shorter name, which then differs.
        if (std::strncmp(v->name, text, length) == 0) return v;
    }
    return nullptr;
}

// Puts every node of the tree in CALCULATE, pre-order; a null node is nothing.
inline void reference_clean(TreeNode *node) {
    std::vector<TreeNode *> pending;
    if (node != nullptr) pending.push_back(node);
    while (!pending.empty()) {
        TreeNode *n = pending.back();
        pending.pop_back();
        static_cast<lp::NodeData *>(n->data)->state = lp::CALCULATE;
        if (n->right != nullptr) pending.push_back(n->right);
        if (n->left != nullptr) pending.push_back(n->left);
    }
}

// The value of NODE, bottom-up: a node not in CALCULATE answers its stored
// value; an operand reads its number or the variable its name names by
// prefix (keeping its value without one); an operator computes left then
// right (functions right only; a missing child counts as 0) and stores its
// value. Every node computed becomes DONE. An id above OP_OPERAND yields 0
// and stays CALCULATE, with *BAD_IDS counting it.
inline float reference_calc(TreeNode *node, const List *vars, int *bad_ids = nullptr) {
    struct Frame {
        TreeNode *node;
        int children_done;
    };
    std::vector<Frame> frames{{node, -1}};
    std::vector<float> values;
    while (!frames.empty()) {
        Frame &frame = frames.back();
        auto *d = static_cast<lp::NodeData *>(frame.node->data);
        if (frame.children_done < 0) {
            if (d->state != lp::CALCULATE) {
                frames.pop_back();
                values.push_back(d->value);
                continue;
            }
            if (static_cast<uint32_t>(d->op) > lp::OP_OPERAND) {
                if (bad_ids != nullptr) ++*bad_ids;
                frames.pop_back();
                values.push_back(0.0f);
                continue;
            }
            if (d->op == lp::OP_OPERAND) {
                if (!lp::is_name(d->expr)) {
                    d->value = lp::read_number(d->expr);
                } else if (const Variable *v = reference_variable(vars, d->expr)) {
                    d->value = v->value;
                }
                d->state = lp::DONE;
                frames.pop_back();
                values.push_back(d->value);
                continue;
            }
            frame.children_done = 0;
        }
        const bool binary = d->op <= lp::OP_MOD;
        TreeNode *next = nullptr;
        if (binary && frame.children_done == 0)
            next = frame.node->left;
        else if (frame.children_done == (binary ? 1 : 0))
            next = frame.node->right;
        if (frame.children_done < (binary ? 2 : 1)) {
            ++frame.children_done;
            if (next != nullptr)
                frames.push_back(Frame{next, -1}); // invalidates FRAME
            else
                values.push_back(0.0f);
            continue;
        }
        if (binary) {
            const float r = values.back();
            values.pop_back();
            const float l = values.back();
            values.pop_back();
            d->value = reference_operation(d->op, l, r);
        } else {
            const float r = values.back();
            values.pop_back();
            d->value = reference_operation(d->op, 0.0f, r);
        }
        d->state = lp::DONE;
        frames.pop_back();
        values.push_back(d->value);
    }
    return values.back();
}

} // namespace test

#endif // LIB_PARSE_REFERENCE_EVAL_H
