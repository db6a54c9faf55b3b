// handle.cpp - the parser handle: creation, variable and function definitions, release.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "arena.h"
#include "boundary.h"
#include "expand.h"
#include "handle.h"
#include "host.h"
#include "memory.h"
#include "operation_table.h"
#include "program.h"

namespace lp {

void parser_var_free(void *variable) {
    auto *v = static_cast<Variable *>(variable);
    if (v == nullptr) return;
    std::free(v->name);
    std::free(v);
}

void parser_func_free(void *function) {
    auto *f = static_cast<UserFunction *>(function);
    if (f == nullptr) return;
    std::free(f->proto);
    std::free(f->body);
    std::free(f);
}

} // namespace lp

using namespace lp;

extern "C" Parser *parser_new(void) try {
    parser_init();
    auto *cache = static_cast<ExprCache *>(lp_malloc(sizeof(ExprCache)));
    cache->last = nullptr;
    cache->dirty = 0;
    cache->length = 0;

    auto *arena = new (lp_malloc(sizeof(Arena))) Arena;
    TreeNode *root = arena->node();
    root->data = new (arena->allocate(sizeof(NodeData))) NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};

    auto *parser = new (lp_malloc(sizeof(Parser))) Parser;
    parser->vars = list_new();
    parser->funcs = list_new();
    parser->func_index = NameTrie{};
    parser->hosts = new (lp_malloc(sizeof(HostTable))) HostTable;
    parser->tree = root;
    parser->arena = arena;
    parser->scratch = expand_scratch_new();
    parser->cache = cache;
    parser->program = nullptr;
    parser->generation = 0;
    parser->var_index = VarIndex{};
    parser->limits = Limits{};
    return parser;
} catch (...) {
    lp::abort_on_exception();
}

namespace {

// A new variable record. Records are allocated one by one and released only
// by parser_destroy, so the address of a value stays valid for the handle's life.
Variable *define_variable(Parser *parser, const char *name, float value) {
    auto *v = static_cast<Variable *>(lp_malloc(sizeof(Variable)));
    v->name = lp_strndup(name, std::strlen(name));
    v->value = value;
    list_push(parser->vars, v, 0);
    var_index_add(&parser->var_index, v);
    parser->generation += 1; // compiled names may now bind to the new record
    return v;
}

} // namespace

namespace {

// parser_var past its common case: a long name, or a new variable.
[[gnu::noinline]] int set_variable(Parser *parser, const char *name, float value) {
    // Exact match; only names are compared, so prefixes stay distinct records.
    if (Variable *v = var_index_find(&parser->var_index, name)) {
        v->value = value;
        return 0;
    }
    define_variable(parser, name, value);
    return 0;
}

} // namespace

extern "C" int parser_var(Parser *parser, const char *name, float value) try {
    if (parser == nullptr || name == nullptr) return 0;
    Variable *v;
    if (var_index_find_short(&parser->var_index, name, &v) && v != nullptr) {
        v->value = value;
        return 0;
    }
    return set_variable(parser, name, value);
} catch (...) {
    lp::abort_on_exception();
}

extern "C" float *parser_var_ref(Parser *parser, const char *name) try {
    if (parser == nullptr || name == nullptr) return nullptr;
    Variable *v = var_index_find(&parser->var_index, name);
    return &(v != nullptr ? v : define_variable(parser, name, 0.0f))->value;
} catch (...) {
    lp::abort_on_exception();
}

extern "C" int parser_func(Parser *parser, const char *proto, const char *body) try {
    if (parser == nullptr || proto == nullptr || body == nullptr) return 0;
    parser->cache->dirty = 1; // the tree may call the new definition
    UserFunction f{lp_strndup(proto, std::strlen(proto)), lp_strndup(body, std::strlen(body))};
    list_push(parser->funcs, &f, sizeof f); // the list's copy owns the texts
    const auto *copy = static_cast<const UserFunction *>(parser->funcs->head->data);
    name_trie_insert(&parser->func_index, copy->proto, std::strcspn(copy->proto, "("), copy);
    return 0;
} catch (...) {
    lp::abort_on_exception();
}

namespace {

// A name a text can hold whole before its "(": no byte that ends a word or
// splits a text, and not an operation's own symbol.
bool valid_host_name(const char *name) {
    if (*name == 0) return false;
    for (const char *c = name; *c != 0; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (u <= ' ' || u == 0x7f || std::strchr("(),+-^*/%", *c) != nullptr) return false;
    }
    for (const OperationEntry &row : operation)
        if (std::strcmp(row.name, name) == 0) return false;
    return true;
}

} // namespace

extern "C" int parser_native_func(Parser *parser, const char *name, int n_args, parser_native_fn fn, void *ctx,
                                  unsigned flags) try {
    if (parser == nullptr || name == nullptr || !valid_host_name(name)) return 1;
    if (n_args < -1 || n_args > PARSER_NATIVE_MAX_ARGS || (flags & ~PARSER_NATIVE_PURE) != 0) return 1;
    parser->cache->dirty = 1; // the tree may call the old definition, or read the name otherwise
    parser->hosts->functions.erase(name);
    if (fn != nullptr) parser->hosts->functions.emplace(name, HostFunction{n_args, fn, ctx, (flags & PARSER_NATIVE_PURE) != 0});
    return 0;
} catch (...) {
    lp::abort_on_exception();
}

const char *lp::variable_read_by(const Parser *parser, const char *operand) {
    const Variable *v = variable_by_prefix(&parser->var_index, operand);
    return v != nullptr ? v->name : nullptr;
}

extern "C" long long parser_limit(Parser *parser, int which, long long value) {
    if (parser == nullptr || which < 0 || which >= PARSER_LIMIT_COUNT) return -1;
    long long &limit = parser->limits.value[which];
    const long long previous = limit;
    if (value >= 0) limit = value < kLimitSpecs[which].maximum ? value : kLimitSpecs[which].maximum;
    // A kept text now over the limit is not compared with the next one but
    // rebuilt, and so checked (and refused) like any other.
    ExprCache *cache = parser->cache;
    if (which == PARSER_LIMIT_TEXT_BYTES && cache->last != nullptr && cache->length > parser->limits.text_bytes())
        cache->dirty = 1;
    if (which == PARSER_LIMIT_NATIVE_CODE && !parser->limits.native_code() && parser->program != nullptr)
        program_drop_native(parser->program);
    return previous;
}

extern "C" void parser_destroy(Parser *parser) {
    if (parser == nullptr) return;
    if (parser->vars != nullptr) list_free(parser->vars, parser_var_free);
    if (parser->funcs != nullptr) list_free(parser->funcs, parser_func_free);
    name_trie_free(&parser->func_index);
    if (parser->hosts != nullptr) {
        parser->hosts->~HostTable();
        std::free(parser->hosts);
    }
    program_free(parser->program);
    var_index_free(&parser->var_index);
    expand_scratch_free(parser->scratch);
    if (parser->arena != nullptr) {
        parser->arena->~Arena(); // and the tree with it
        std::free(parser->arena);
    }
    if (parser->cache != nullptr) {
        std::free(parser->cache->last);
        std::free(parser->cache);
    }
    parser->~Parser();
    std::free(parser);
}

extern "C" int parser_errors(const Parser *parser, int *first_code) {
    if (parser == nullptr) return 0;
    const auto &entries = parser->errors.entries();
    if (!entries.empty() && first_code != nullptr) *first_code = entries.front().code;
    return static_cast<int>(std::min<size_t>(entries.size(), INT32_MAX));
}

extern "C" int parser_error_at(const Parser *parser, int index, int *code, size_t *offset, size_t *length) {
    if (parser == nullptr || index < 0 || static_cast<size_t>(index) >= parser->errors.entries().size()) return -1;
    const ErrorLog::Entry &e = parser->errors.entries()[static_cast<size_t>(index)];
    if (code != nullptr) *code = e.code;
    if (offset != nullptr) *offset = e.span.offset;
    if (length != nullptr) *length = e.span.length;
    return 0;
}
