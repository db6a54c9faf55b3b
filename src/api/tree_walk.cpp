// tree_walk.cpp - visiting the nodes of a handle's tree for hosts and tools.
#include "api/call_scope.h"
#include "run/program.h"
#include "support/small_stack.h"
#include "tree/handle.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

extern "C" void parser_walk(const Parser *parser, parser_visit_fn visit, void *ctx) noexcept {
    if (parser == nullptr || visit == nullptr || parser->tree == nullptr || parser->busy) return;
    if (parser->program != nullptr) lp::program_sync_records(parser->program);
    lp::BusyScope busy(parser); // the visitor must not change the tree under the walk
    struct Entry {
        const TreeNode *node;
        int depth;
        int side;
    };
    lp::SmallStack<Entry> pending;
    pending.push(Entry{parser->tree, 0, 0});
    while (!pending.empty()) {
        const Entry e = pending.pop();
        const auto *d = static_cast<const lp::NodeData *>(e.node->data);
        if (d != nullptr && d->op == lp::OP_ARG) {
            // A link of a call's arguments: its argument, then the next link,
            // both shown one level below the call.
            if (e.node->right != nullptr) pending.push(Entry{e.node->right, e.depth, 1});
            if (e.node->left != nullptr) pending.push(Entry{e.node->left, e.depth, 1});
            continue;
        }
        if (d != nullptr) visit(ctx, e.depth, e.side, d->expr, lp::public_op(d->op), d->state, d->value);
        if (e.node->right != nullptr) pending.push(Entry{e.node->right, e.depth + 1, 2});
        if (e.node->left != nullptr) pending.push(Entry{e.node->left, e.depth + 1, 1});
    }
}
