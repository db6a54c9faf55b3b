// calc.cpp - the two entry points that build and evaluate a handle's tree, and the expression cache.
#include <cstdint>
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

// A short text is compared in place, eight bytes at a time: a library call
// costs more than the bytes.
bool same_bytes(const char *a, const char *b, size_t length) {
    if (length > 64) return std::memcmp(a, b, length) == 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    for (; i < length; ++i)
        if (a[i] != b[i]) return false;
    return true;
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
    const size_t length = std::strlen(text);
    const bool same = cache->dirty == 0 && cache->last != nullptr && cache->length == length &&
                      same_bytes(cache->last, text, length);
    if (!same) {
        remember(cache, text, length);
        rebuild(parser, text);
    }
    // The compiled program gives the reference evaluation's values and states;
    // a tree it was not built for (or cannot run) takes the reference path.
    if (parser->program != nullptr && parser->program->root == parser->tree)
        return program_run(parser->program, parser->vars, parser->generation);
    parser_clean(parser->tree);
    return parser_bt_calc(parser->tree, parser->vars);
} catch (...) {
    lp::abort_on_exception();
}
