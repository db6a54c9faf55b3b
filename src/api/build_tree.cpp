// build_tree.cpp - choosing the builder of a text by the handle's grammar.
#include "api/build_tree.h"

#include "defined/expansion.h"
#include "standard/standard_syntax.h"
#include "tree/handle.h"

namespace lp {

TreeNode *build_tree(Parser *parser, BuildFor purpose, Arena *arena, const char *text, size_t length,
                     const BuildWatch &watch, const NameSupply *supply) {
    const bool own = purpose == BuildFor::TREE;
    if (parser->syntax != PARSER_SYNTAX_STANDARD) {
        if (own) parser->rebuild_on_new_variable = false;
        return expand_text(arena, own ? parser->scratch : nullptr, text, length, &parser->func_index, parser->hosts,
                           parser->limits, watch);
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
