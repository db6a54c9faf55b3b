// evaluate.cpp - computing a tree's value bottom-up in 32-bit floats, and looking variables up.
#include <charconv>
#include <cmath>
#include <cstring>

#include "arithmetic.h"
#include "lib_parse_internal.h"
#include "small_stack.h"

namespace lp {

namespace {

NodeData *data_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }

void evaluate_operand(NodeData *d, List *vars) {
    if (is_name(d->expr))
        parser_assign_var(d, vars);
    else
        d->value = read_number(d->expr);
}

} // namespace

bool is_name(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p)
        if (*p > 'A') return true;
    return false;
}

float read_number(const char *text) {
    // The C library's reading of a decimal number, without its dependence on
    // the process locale: blanks, an optional sign, the longest decimal prefix.
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // One sign at most; from_chars would read a second '-' as the number's own.
    if (*p == '+' || *p == '-') return 0.0f;
    const char *end = p + std::strlen(p);
    double value = 0.0;
    const auto [stop, error] = std::from_chars(p, end, value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // Too large for a double overflows to infinity; too small underflows to 0.
        const char *digit = p;
        while (digit < stop && *digit == '0') ++digit;
        value = (digit < stop && *digit >= '1' && *digit <= '9') ? HUGE_VAL : 0.0;
    } else if (error != std::errc()) {
        return 0.0f; // no number at all reads as +0 whatever the sign
    }
    return static_cast<float>(negative ? -value : value);
}

void parser_assign_var(NodeData *data, List *vars) {
    const size_t length = std::strlen(data->expr);
    for (ListNode *n = vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        // The operand text is a prefix of the name; strncmp stops at the end
        // of a shorter name, which then differs.
        if (std::strncmp(v->name, data->expr, length) == 0) {
            data->value = v->value;
            return;
        }
    }
}

void parser_clean(TreeNode *node) {
    SmallStack<TreeNode *> pending;
    if (node != nullptr) pending.push(node);
    while (!pending.empty()) {
        TreeNode *n = pending.pop();
        data_of(n)->state = CALCULATE;
        if (n->right != nullptr) pending.push(n->right);
        if (n->left != nullptr) pending.push(n->left);
    }
}

float parser_bt_calc(TreeNode *node, List *vars) {
    // Post-order with explicit stacks: a frame per node being computed and a
    // value per finished child. A child that a node needs but lacks counts as 0.
    struct Frame {
        TreeNode *node;
        int children_done;
    };
    SmallStack<Frame> frames;
    SmallStack<float> values;
    frames.push(Frame{node, -1});
    while (!frames.empty()) {
        Frame &frame = frames.top();
        NodeData *d = data_of(frame.node);
        if (frame.children_done < 0) {
            if (d->state != CALCULATE) {
                frames.pop();
                values.push(d->value);
                continue;
            }
            if (static_cast<uint32_t>(d->op) > OP_OPERAND) {
                LP_REPORT(PARSER_ERR_BAD_OPERATION);
                frames.pop();
                values.push(0.0f);
                continue;
            }
            if (d->op == OP_OPERAND) {
                evaluate_operand(d, vars);
                d->state = DONE;
                frames.pop();
                values.push(d->value);
                continue;
            }
            frame.children_done = 0;
        }
        // Two-operand operators take left then right; functions take right only.
        const bool binary = d->op <= OP_MOD;
        TreeNode *next = nullptr;
        if (binary && frame.children_done == 0)
            next = frame.node->left;
        else if (frame.children_done == (binary ? 1 : 0))
            next = frame.node->right;
        if (frame.children_done < (binary ? 2 : 1)) {
            ++frame.children_done;
            if (next != nullptr)
                frames.push(Frame{next, -1}); // invalidates FRAME
            else
                values.push(0.0f);
            continue;
        }
        if (binary) {
            const float r = values.pop(), l = values.pop();
            d->value = binary_of(d->op, l, r);
        } else {
            d->value = function_of(d->op, values.pop());
        }
        d->state = DONE;
        frames.pop();
        values.push(d->value);
    }
    return values.pop();
}

} // namespace lp
