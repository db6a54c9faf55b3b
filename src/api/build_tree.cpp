// build_tree.cpp - choosing the builder of a text by the handle's grammar.
#include "api/build_tree.h"

#include "defined/expansion.h"
#include "standard/standard_syntax.h"
#include "support/arena.h"
#include "tree/handle.h"
#include "tree/node_order.h"

namespace lp {

TreeNode *build_tree(Parser *parser, BuildFor purpose, Arena *arena, const char *text, size_t length,
                     const BuildWatch &watch, const NameSupply *supply) {
    const bool own = purpose == BuildFor::TREE;
    if (parser->syntax != PARSER_SYNTAX_STANDARD) {
        if (own) parser->rebuild_on_new_variable = false;
        TreeNode *tree = expand_text(arena, own ? parser->scratch : nullptr, text, length, &parser->func_index,
                                     parser->hosts, parser->limits, watch);
        // Every node of the tree came from ARENA since it was reset: the
        // program needs no count of them first.
        if (watch.order != nullptr && tree != nullptr) watch.order->room = arena->nodes_made();
        return tree;
    }
    bool unknown_name = false;
    TreeNode *tree = standard_text(arena, text, length, Definitions{&parser->var_index, &parser->func_index, parser->hosts, parser->math, supply},
                                   parser->limits, watch, &unknown_name);
    if (own) parser->rebuild_on_new_variable = unknown_name;
    return tree;
}

TreeNode *unread_tree(Parser *parser, Arena *arena) {
    if (parser->syntax == PARSER_SYNTAX_STANDARD) return standard_error_tree(arena);
    return build_tree(parser, BuildFor::TREE, arena, "", 0);
}

} // namespace lp
