// handle.cpp - the parser handle: creation, variable and function definitions, release.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

#include "api/call_scope.h"
#include "containers/memory.h"
#include "defined/expansion.h"
#include "defined/substitute.h"
#include "run/machine_code.h"
#include "run/program.h"
#include "standard/standard_tokens.h"
#include "support/arena.h"
#include "support/checked_memory.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/host_table.h"
#include "tree/node_order.h"
#include "tree/operation_table.h"

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

extern "C" Parser *parser_new(void) noexcept {
    parser_init();
    auto *cache = static_cast<ExprCache *>(lp_malloc(sizeof(ExprCache)));
    cache->last = nullptr;
    cache->dirty = 0;
    cache->length = 0;
    cache->capacity = 0;

    auto *arena = new (lp_malloc(sizeof(Arena))) Arena;
    TreeNode *root = arena->node();
    root->data = new (arena->allocate(sizeof(NodeData))) NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};

    auto *parser = new (lp_malloc(sizeof(Parser))) Parser;
    forget_fast(parser);
    parser->vars = list_new();
    parser->funcs = list_new();
    parser->removed_funcs = list_new();
    parser->func_index = NameTrie{};
    parser->hosts = new (lp_malloc(sizeof(HostTable))) HostTable;
    parser->tree = root;
    parser->arena = arena;
    parser->scratch = expand_scratch_new();
    parser->node_order = new (lp_malloc(sizeof(NodeOrder))) NodeOrder;
    parser->cache = cache;
    parser->program = nullptr;
    parser->generation = 0;
    parser->var_index = VarIndex{};
    parser->limits = Limits{};
    parser->busy = false;
    parser->on_error = nullptr;
    parser->on_error_ctx = nullptr;
    parser->on_unknown = nullptr;
    parser->on_unknown_ctx = nullptr;
    parser->syntax = PARSER_SYNTAX_DEFINED;
    parser->rebuild_on_new_variable = false;
    parser->math = false;
    return parser;
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
    if (parser->rebuild_on_new_variable) parser->cache->dirty = 1;
    forget_fast(parser);
    return v;
}

} // namespace

// parser_var past its common case: a long name, or a new variable.
[[gnu::noinline]] void lp::set_variable(Parser *parser, const char *name, float value) {
    // Exact match; only names are compared, so prefixes stay distinct records.
    if (Variable *v = var_index_find(&parser->var_index, name)) {
        v->value = value;
        return;
    }
    define_variable(parser, name, value);
}

extern "C" int parser_var(Parser *parser, const char *name, float value) noexcept {
    if (parser == nullptr || name == nullptr) return 0;
    if (parser->busy) return 1; // called back from inside a call on this handle
    Variable *v;
    if (var_index_find_short(&parser->var_index, name, &v) && v != nullptr) {
        v->value = value;
        return 0;
    }
    set_variable(parser, name, value);
    return 0;
}

extern "C" float *parser_var_ref(Parser *parser, const char *name) noexcept {
    if (parser == nullptr || name == nullptr || parser->busy) return nullptr;
    Variable *v = var_index_find(&parser->var_index, name);
    return &(v != nullptr ? v : define_variable(parser, name, 0.0f))->value;
}

extern "C" int parser_unset(Parser *parser, const char *name) noexcept {
    if (parser == nullptr || name == nullptr || parser->busy) return -1;
    const Variable *v = var_index_find(&parser->var_index, name);
    if (v == nullptr) return 1;
    // The record stays, so an address parser_var_ref gave stays valid; no
    // lookup finds it any more, and the tree, which may read it (or, by
    // prefix, read another variable now), is built again.
    var_index_remove(&parser->var_index, v);
    parser->generation += 1;
    parser->cache->dirty = 1;
    forget_fast(parser);
    return 0;
}

extern "C" int parser_func_unset(Parser *parser, const char *name) noexcept {
    if (parser == nullptr || name == nullptr || parser->busy) return -1;
    const std::string_view wanted(name);
    if (!name_trie_remove(&parser->func_index, wanted.data(), wanted.size())) return 1;
    // Every definition of the name leaves the list; their texts stay, as the
    // trie's labels may lie in them.
    int index = 0;
    for (ListNode *n = parser->funcs->head; n != nullptr;) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        n = n->next;
        if (std::string_view(f->proto + f->name_from, f->name_length) == wanted)
            list_push(parser->removed_funcs, list_pop_index(parser->funcs, index), 0);
        else
            ++index;
    }
    parser->cache->dirty = 1; // the tree may call it
    forget_fast(parser);
    return 0;
}

extern "C" int parser_var_get(const Parser *parser, const char *name, float *value) noexcept {
    if (parser == nullptr || name == nullptr) return -1;
    const Variable *v = var_index_find(&parser->var_index, name);
    if (v == nullptr) return 1;
    if (value != nullptr) *value = v->value;
    return 0;
}

extern "C" int parser_vars(Parser *parser, parser_variable_fn fn, void *ctx) noexcept {
    if (parser == nullptr || parser->busy) return -1;
    BusyScope busy(parser); // the callback must not change the list under the listing
    // The list is newest first: told from its end.
    Vector<const Variable *> oldest_first;
    oldest_first.reserve(static_cast<size_t>(parser->vars->count));
    for (const ListNode *n = parser->vars->head; n != nullptr; n = n->next)
        if (var_index_holds(&parser->var_index, static_cast<const Variable *>(n->data)))
            oldest_first.push_back(static_cast<const Variable *>(n->data));
    if (fn != nullptr)
        for (size_t k = oldest_first.size(); k-- > 0;) fn(ctx, oldest_first[k]->name, oldest_first[k]->value);
    return static_cast<int>(std::min<size_t>(oldest_first.size(), INT32_MAX));
}

extern "C" int parser_on_unknown(Parser *parser, parser_unknown_fn fn, void *ctx) noexcept {
    if (parser == nullptr || parser->busy) return 1;
    parser->on_unknown = fn;
    parser->on_unknown_ctx = fn != nullptr ? ctx : nullptr;
    return 0;
}

extern "C" const char *parser_version(void) noexcept {
#define LIB_PARSE_TEXT(x) #x
#define LIB_PARSE_VERSION_TEXT(a, b, c) LIB_PARSE_TEXT(a) "." LIB_PARSE_TEXT(b) "." LIB_PARSE_TEXT(c)
    return LIB_PARSE_VERSION_TEXT(LIB_PARSE_VERSION_MAJOR, LIB_PARSE_VERSION_MINOR, LIB_PARSE_VERSION_PATCH);
#undef LIB_PARSE_VERSION_TEXT
#undef LIB_PARSE_TEXT
}

extern "C" int parser_func(Parser *parser, const char *proto, const char *body) noexcept {
    if (parser == nullptr || proto == nullptr || body == nullptr) return 0;
    if (parser->busy) return 1;
    // A call finds the function by its name: in the defined grammar the
    // prototype up to its "(", in the standard one the name it reads.
    size_t name_from = 0, name_length = std::strcspn(proto, "(");
    int32_t n_params = -1;
    if (parser->syntax == PARSER_SYNTAX_STANDARD) {
        Prototype read;
        if (!read_prototype(proto, &read) || read.params.size() > INT32_MAX) return 1;
        name_from = static_cast<size_t>(read.name.data() - proto);
        name_length = read.name.size();
        n_params = static_cast<int32_t>(read.params.size());
    }
    parser->cache->dirty = 1; // the tree may call the new definition
    forget_fast(parser);
    const size_t body_length = std::strlen(body);
    UserFunction f{lp_strndup(proto, std::strlen(proto)), lp_strndup(body, body_length), body_length, parser->syntax,
                   n_params, name_from, name_length};
    list_push(parser->funcs, &f, sizeof f); // the list's copy owns the texts
    const auto *copy = static_cast<const UserFunction *>(parser->funcs->head->data);
    name_trie_insert(&parser->func_index, copy->proto + copy->name_from, copy->name_length, copy);
    return 0;
}

extern "C" int parser_syntax(Parser *parser, int syntax) noexcept {
    if (parser == nullptr || parser->busy || syntax > PARSER_SYNTAX_STANDARD) return -1;
    const int previous = parser->syntax;
    if (syntax >= 0 && syntax != previous) {
        parser->syntax = syntax;
        parser->cache->dirty = 1; // the kept text reads otherwise now
        forget_fast(parser);
    }
    return previous;
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

void lp::define_host(Parser *parser, const char *name, const HostFunction &function) {
    parser->cache->dirty = 1; // the tree may call the old definition, or read the name otherwise
    forget_fast(parser);
    parser->hosts->define(name, function);
}

extern "C" int parser_native_func(Parser *parser, const char *name, int n_args, parser_native_fn fn, void *ctx,
                                  unsigned flags) noexcept {
    if (parser == nullptr || name == nullptr || parser->busy || !valid_host_name(name)) return 1;
    if (n_args < -1 || n_args > PARSER_NATIVE_MAX_ARGS || (flags & ~(PARSER_NATIVE_PURE | PARSER_NATIVE_THREAD_SAFE)) != 0)
        return 1;
    const int min = n_args >= 0 ? n_args : 0, max = n_args >= 0 ? n_args : PARSER_NATIVE_MAX_ARGS;
    define_host(parser, name,
                HostFunction{min, max, fn, ctx, (flags & PARSER_NATIVE_PURE) != 0, false, 0,
                             (flags & PARSER_NATIVE_THREAD_SAFE) != 0});
    return 0;
}

extern "C" int parser_functions(Parser *parser, parser_function_fn fn, void *ctx) noexcept {
    if (parser == nullptr || parser->busy) return -1;
    BusyScope busy(parser); // the callback must not change the lists under the listing
    int count = 0;
    HashSet<String, StringHash> seen; // newest first: a name seen before is a replaced definition
    for (const ListNode *n = parser->funcs->head; n != nullptr; n = n->next, ++count) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        Prototype read;
        const String name = f->syntax == PARSER_SYNTAX_STANDARD && read_prototype(f->proto, &read)
                                ? String(read.name)
                                : String(f->proto, function_name_length(f));
        const bool replaced = !seen.insert(name).second;
        const ParserFunction info{PARSER_FUNCTION_USER, name.c_str(), f->proto, f->body, replaced ? 1 : 0, -1, 0, f->syntax};
        if (fn != nullptr) fn(ctx, &info);
    }
    // The host functions in the order their names were first defined.
    Vector<const std::pair<const String, HostFunction> *> hosts;
    for (const auto &entry : parser->hosts->functions()) hosts.push_back(&entry);
    std::sort(hosts.begin(), hosts.end(), [](const auto *a, const auto *b) { return a->second.order < b->second.order; });
    for (const auto *entry : hosts) {
        ++count;
        const HostFunction &h = entry->second;
        const ParserFunction info{PARSER_FUNCTION_HOST, entry->first.c_str(), nullptr, nullptr, 0,
                                  h.min_args == h.max_args ? h.min_args : -1, (h.pure ? PARSER_NATIVE_PURE : 0u) | (h.thread_safe ? PARSER_NATIVE_THREAD_SAFE : 0u), -1};
        if (fn != nullptr) fn(ctx, &info);
    }
    return count;
}

extern "C" long long parser_limit(Parser *parser, int which, long long value) noexcept {
    if (parser == nullptr || which < 0 || which >= PARSER_LIMIT_COUNT) return -1;
    if (parser->busy && value >= 0) return -1; // reading is safe inside a callback, setting is not
    // A library built without the generators, or a process refused
    // executable memory, has no machine code to allow.
    if (which == PARSER_LIMIT_NATIVE_CODE && !native_code_available()) return 0;
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
    refresh_fast(parser);
    return previous;
}

extern "C" void parser_destroy(Parser *parser) noexcept {
    if (parser == nullptr || parser->busy) return;
    if (parser->vars != nullptr) list_free(parser->vars, parser_var_free);
    if (parser->funcs != nullptr) list_free(parser->funcs, parser_func_free);
    if (parser->removed_funcs != nullptr) list_free(parser->removed_funcs, parser_func_free);
    name_trie_free(&parser->func_index);
    if (parser->hosts != nullptr) {
        parser->hosts->~HostTable();
        std::free(parser->hosts);
    }
    program_free(parser->program);
    var_index_free(&parser->var_index);
    expand_scratch_free(parser->scratch);
    if (parser->node_order != nullptr) {
        parser->node_order->~NodeOrder();
        std::free(parser->node_order);
    }
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

extern "C" int parser_errors(const Parser *parser, int *first_code) noexcept {
    if (parser == nullptr) return 0;
    const auto &entries = parser->errors.entries();
    if (!entries.empty() && first_code != nullptr) *first_code = entries.front().code;
    return static_cast<int>(std::min<size_t>(entries.size(), INT32_MAX));
}

extern "C" int parser_error_at(const Parser *parser, int index, int *code, size_t *offset, size_t *length) noexcept {
    if (parser == nullptr || index < 0 || static_cast<size_t>(index) >= parser->errors.entries().size()) return -1;
    const ErrorLog::Entry &e = parser->errors.entries()[static_cast<size_t>(index)];
    if (code != nullptr) *code = e.code;
    if (offset != nullptr) *offset = e.span.offset;
    if (length != nullptr) *length = e.span.length;
    return 0;
}

extern "C" void parser_on_error(Parser *parser, parser_error_fn fn, void *ctx) noexcept {
    if (parser == nullptr || parser->busy) return;
    parser->on_error = fn;
    parser->on_error_ctx = fn != nullptr ? ctx : nullptr;
}

extern "C" void parser_interrupt(Parser *parser) noexcept {
    if (parser != nullptr) parser->call.interrupt();
}
