// calc.cpp - the entry points that build and evaluate a handle's tree, and the expression cache.
#include <cstdlib>
#include <cmath>
#include <cstring>

#include "boundary.h"
#include "diagnostics.h"
#include "lib_parse_internal.h"
#include "memory.h"
#include "program.h"

using namespace lp;

namespace {

NodeData *new_root_data(size_t text_size) {
    auto *data = static_cast<NodeData *>(lp_malloc(sizeof(NodeData)));
    *data = NodeData{static_cast<char *>(lp_malloc(text_size)), OP_OPERAND, EXPAND, 0.0f};
    return data;
}

// True when TEXT is the cached text: one pass up to and including the
// terminator, with no strlen first. A text of a few bytes is compared in a
// plain loop, which costs less than a call; a longer one goes to strcmp,
// whose wide loads are faster from about six bytes on (measured).
bool is_cached_text(const ExprCache *cache, const char *text) {
    const char *last = cache->last;
    if (cache->length >= 6) return std::strcmp(last, text) == 0;
    // TEXT is read no further than its first byte that differs.
    for (size_t i = 0; i < cache->length; ++i)
        if (last[i] != text[i]) return false;
    return text[cache->length] == 0;
}

// Builds the tree (and its program) for TEXT in place of the current one.
void rebuild(Parser *parser, const char *text) {
    program_free(parser->program); // it points into the tree about to be released
    parser->program = nullptr;
    const size_t size = std::strlen(text) + 1;
    auto *root_data = static_cast<NodeData *>(parser->tree->data);
    if (root_data->expr == nullptr) {
        root_data->expr = static_cast<char *>(lp_malloc(size)); // the root of a new handle is reused
    } else {
        btree_free(parser->tree, parser_bt_node_free);
        parser->tree = btree_new();
        root_data = new_root_data(size);
        btree_fill(parser->tree, root_data);
    }
    std::memcpy(root_data->expr, text, size);

    parser->errors = ErrorLog{};
    ErrorScope scope(&parser->errors);
    // With messages emitted every node's text is shown, so the tree is built
    // text by text; otherwise from ranges of one copy, in linear time.
    parser->tree = dbg_is_enabled(6) ? expand_tree(parser->funcs, parser->tree)
                                     : expand_text_quiet(parser->funcs, parser->tree);

    parser->program = program_build(parser->tree, parser->vars, parser->generation);
}

// Makes TEXT the cached text of the tree about to be built. A buffer of the
// same length is reused unless a rebuild was pending.
void remember(ExprCache *cache, const char *text, size_t length) {
    if (cache->dirty == 1 || cache->last == nullptr || cache->length != length) {
        std::free(cache->last);
        cache->last = static_cast<char *>(lp_malloc(length + 1));
    }
    std::memcpy(cache->last, text, length + 1);
    cache->length = length;
    cache->dirty = 0;
}

// The current tree's value: the compiled program gives the reference
// evaluation's values and states; a tree it was not built for (or cannot run)
// takes the reference path.
float evaluate_tree(Parser *parser) {
    if (parser->program != nullptr && parser->program->root == parser->tree)
        return program_run(parser->program, parser->vars, parser->generation);
    parser_clean(parser->tree);
    return parser_bt_calc(parser->tree, parser->vars);
}

} // namespace

// The cache always names the text of the current tree, so a later
// parser_calc of another text rebuilds instead of evaluating this tree.
extern "C" void parser_expand(Parser *parser, const char *text) try {
    if (parser == nullptr || text == nullptr) return;
    remember(parser->cache, text, std::strlen(text));
    rebuild(parser, text);
} catch (...) {
    lp::abort_on_exception();
}

extern "C" float parser_calc(Parser *parser, const char *text) try {
    if (parser == nullptr || text == nullptr) return NAN;
    ExprCache *cache = parser->cache;
    // The same text with no definition since: no rebuild. Otherwise a text of
    // the same length is copied into the old buffer, any other gets a new one.
    if (cache->dirty != 0 || cache->last == nullptr || !is_cached_text(cache, text)) {
        remember(cache, text, std::strlen(text));
        rebuild(parser, text);
    }
    return evaluate_tree(parser);
} catch (...) {
    lp::abort_on_exception();
}

// parser_calc of the cached text without comparing it: the host says it is
// the same text.
extern "C" float parser_eval(Parser *parser) try {
    if (parser == nullptr) return NAN;
    ExprCache *cache = parser->cache;
    if (cache->last == nullptr) return 0.0f; // nothing built yet: the empty text's value
    if (cache->dirty != 0) {
        // A function was defined since the tree was built; the cached copy
        // stays the text, so it is the source of the new tree.
        cache->dirty = 0;
        rebuild(parser, cache->last);
    }
    return evaluate_tree(parser);
} catch (...) {
    lp::abort_on_exception();
}
