// calculate.cpp - the entry points that build and evaluate a handle's tree, and the expression cache.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "api/build_tree.h"
#include "api/call_scope.h"
#include "containers/memory.h"
#include "run/program.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "support/checked_memory.h"
#include "tree/handle.h"
#include "tree/name_supply.h"
#include "tree/node_order.h"
#include "tree/operation_table.h"

using namespace lp;

namespace {

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

// The names a build asks the host for through parser_on_unknown: each once,
// a supplied one defined on the spot. The host's function runs with the
// handle busy, so it cannot call back into it.
class HostNames {
public:
    explicit HostNames(Parser *parser) : parser_(parser) {}
    const NameSupply *supply() const { return parser_->on_unknown != nullptr ? &supply_ : nullptr; }

private:
    static const Variable *ask(void *ctx, std::string_view name) {
        auto *self = static_cast<HostNames *>(ctx);
        Parser *parser = self->parser_;
        const String copy(name);
        if (!self->asked_) self->asked_.emplace(); // made only for a build that asks
        if (!self->asked_->insert(copy).second) return nullptr; // asked once per build
        float value = 0.0f;
        if (parser->on_unknown(parser->on_unknown_ctx, copy.c_str(), &value) == 0) return nullptr;
        set_variable(parser, copy.c_str(), value);
        return var_index_find(&parser->var_index, copy.c_str());
    }

    Parser *parser_;
    std::optional<HashSet<String, StringHash>> asked_;
    NameSupply supply_{&HostNames::ask, this};
};

// Builds the tree (and its program) for the LENGTH bytes of TEXT in place of
// the current one; a refused text (REFUSED, LENGTH the bytes read) gets the
// tree of a text not read (unread_tree), and so does a build that
// parser_interrupt stopped, which keeps only that error. False for a
// stopped build.
bool rebuild(Parser *parser, const char *text, size_t length, bool refused) {
    // The program points into the tree about to be released: it is not run
    // again, only its arrays are kept for the new tree's.
    Program *old = parser->program;
    parser->program = nullptr;
    parser->tree = nullptr;
    parser->arena->reset(); // the tree's nodes, records and texts

    parser->errors.clear();
    ErrorScope scope(&parser->errors);
    CheckPoint unstoppable(nullptr);
    if (refused) {
        LP_REPORT(PARSER_ERR_TEXT_TOO_LONG, (Span{0, length}));
        parser->tree = unread_tree(parser, parser->arena);
        parser->program = program_build(parser->tree, &parser->var_index, parser->generation, old, unstoppable);
        return true;
    }
    CheckPoint check(&parser->call);
    BuildWatch watch;
    watch.check = &check;
    NodeOrder *order = parser->node_order;
    order->forget(); // until a builder lists the nodes or bounds them
    watch.order = order;
    HostNames host_names(parser);
    // A name the host supplies is a new variable; the tree being built reads
    // it already, so it rebuilds nothing.
    parser->rebuild_on_new_variable = false;
    parser->tree = build_tree(parser, BuildFor::TREE, parser->arena, text, length, watch, host_names.supply());
    bool stopped = parser->tree == nullptr;
    if (!stopped) {
        parser->program =
            program_build(parser->tree, &parser->var_index, parser->generation, old, check, host_names.supply(), order);
        old = nullptr; // the program, or freed
        order->trim(); // read once
        // Read once: another thread may interrupt at any moment.
        stopped = check.stopped();
        if (stopped) LP_REPORT(PARSER_ERR_INTERRUPTED, (Span{0, length})); // the whole text was read
    }
    if (stopped) {
        const ErrorLog::Entry stop = parser->errors.entries().back();
        parser->errors.clear();
        parser->errors.add(stop.code, stop.span);
        program_free(parser->program);
        parser->arena->reset();
        parser->tree = unread_tree(parser, parser->arena);
        parser->program = program_build(parser->tree, &parser->var_index, parser->generation, old, unstoppable);
    }
    return !stopped;
}

// Makes TEXT the cached text of the tree about to be built. The buffer is
// reused unless a rebuild was pending, or it is too small, or much larger
// than a text of 4 KiB needs.
void remember(ExprCache *cache, const char *text, size_t length) {
    const size_t need = length + 1;
    if (cache->dirty == 1 || cache->last == nullptr || cache->capacity < need ||
        (cache->capacity > 4096 && cache->capacity / 2 > need)) {
        std::free(cache->last);
        cache->last = static_cast<char *>(lp_malloc(need));
        cache->capacity = need;
    }
    std::memcpy(cache->last, text, length);
    cache->last[length] = 0;
    cache->length = length;
    cache->dirty = 0;
}

// A refused text is not kept: the next text, even the same, is read again.
void forget(ExprCache *cache) {
    std::free(cache->last);
    cache->last = nullptr;
    cache->length = 0;
    cache->dirty = 0;
}

// Tells the handle's error callback each error entry of the tree just built.
void tell_errors(const Parser *parser) {
    if (parser->on_error == nullptr) return;
    const auto &entries = parser->errors.entries(); // the callback cannot change them: the handle is busy
    for (size_t i = 0; i < entries.size(); ++i)
        parser->on_error(parser->on_error_ctx, entries[i].code, entries[i].span.offset, entries[i].span.length);
}

// Builds the tree of TEXT and makes it the cached text, or refuses it.
// False when parser_interrupt stopped the build: the text is not kept then.
bool build(Parser *parser, const char *text) {
    size_t length = 0;
    bool built = true;
    if (!text_length_within(parser->limits, text, &length)) {
        forget(parser->cache);
        rebuild(parser, text, length, true);
    } else {
        remember(parser->cache, text, length);
        built = rebuild(parser, text, length, false);
        if (!built) forget(parser->cache);
    }
    tell_errors(parser);
    return built;
}

// The current tree's value. Every tree expansion builds has a program.
// Inline in both callers: a call more is a measurable share of a machine-code
// evaluation. A tree that calls host functions marks the handle busy, so a
// host function cannot re-enter it.
[[gnu::always_inline]] inline float evaluate_tree(Parser *parser) {
    Program *program = parser->program;
    if (impossible(program == nullptr)) return 0.0f;
    if (program->host_call_count != 0) {
        BusyScope busy(parser);
        return program_run(program, &parser->var_index, parser->generation, parser->limits.native_code());
    }
    const bool native = parser->limits.native_code();
    const bool rebound = program->generation != parser->generation; // a variable was added since its build
    const float value = program_run(program, &parser->var_index, parser->generation, native);
    // Compiled just now, or bound again; or interpreted for good.
    if (rebound || program->native != nullptr ||
        (parser->interpreted == nullptr && interpreted_for_good(*program, native)))
        refresh_fast(parser); // (one with host calls is refreshed by its busy scope)
    return value;
}

} // namespace

// The cache always names the text of the current tree, so a later
// parser_calc of another text rebuilds instead of evaluating this tree.
extern "C" void parser_expand(Parser *parser, const char *text) noexcept {
    if (parser == nullptr || text == nullptr || parser->busy) return;
    BusyScope busy(parser, true);
    build(parser, text);
}

float lp::calc_text(Parser *parser, const char *text) {
    ExprCache *cache = parser->cache;
    // The same text with no definition since: no rebuild.
    if (cache->dirty != 0 || cache->last == nullptr || !is_cached_text(cache, text)) {
        BusyScope busy(parser, true);
        if (!build(parser, text)) return NAN;
    }
    return evaluate_tree(parser);
}

namespace {

// GUARDED, the machine code of a tree with host calls, run with the handle
// marked busy: a host function that calls back into it is refused. Called
// from the entry points' own paths, so that they keep no frame.
[[gnu::noinline]] float run_guarded(Parser *parser, NativeFn guarded) {
    parser->busy = true;
    const float value = guarded();
    parser->busy = false;
    return value;
}
// The same for a program the interpreter runs.
[[gnu::noinline]] float run_guarded(Parser *parser, Program *interpreted) {
    parser->busy = true;
    const float value = program_execute(interpreted);
    parser->busy = false;
    return value;
}

// A program the interpreter runs until it is compiled: the run that
// completes the count compiles it, and the handle's pointers follow.
[[gnu::noinline]] float run_warming(Parser *parser, Program *program) {
    const float value = program_execute(program);
    if (++program->runs == kNativeAfterRuns) {
        program_compile(program);
        refresh_fast(parser);
    }
    return value;
}

// parser_calc's general case: the text compared, the tree rebuilt if it is
// another, then evaluated.
[[gnu::noinline]] float calc_tree(Parser *parser, const char *text) noexcept {
    if (parser == nullptr || text == nullptr || parser->busy) return NAN;
    return calc_text(parser, text);
}

} // namespace

// The tree of the same text in machine code, with nothing to rebuild or bind:
// the call of a host's loop, made with no frame of its own.
extern "C" float parser_calc(Parser *parser, const char *text) noexcept {
    if (parser != nullptr && text != nullptr) {
        const NativeFn fast = parser->fast;
        if (fast != nullptr && is_cached_text(parser->cache, text)) return fast();
        Program *interpreted = parser->interpreted;
        if (interpreted != nullptr && is_cached_text(parser->cache, text)) return program_execute(interpreted);
        Program *warming = parser->warming;
        if (warming != nullptr && is_cached_text(parser->cache, text)) return run_warming(parser, warming);
        if (!parser->busy) { // a tree with host calls, run with the handle busy
            const NativeFn guarded = parser->guarded;
            if (guarded != nullptr && is_cached_text(parser->cache, text)) return run_guarded(parser, guarded);
            Program *program = parser->interpreted_guarded;
            if (program != nullptr && is_cached_text(parser->cache, text)) return run_guarded(parser, program);
        }
    }
    return calc_tree(parser, text);
}

namespace {

// parser_eval's general case.
[[gnu::noinline]] float eval_tree(Parser *parser) noexcept {
    if (parser == nullptr || parser->busy) return NAN;
    if (const NativeFn guarded = parser->guarded) return run_guarded(parser, guarded);
    if (Program *interpreted = parser->interpreted_guarded) return run_guarded(parser, interpreted);
    ExprCache *cache = parser->cache;
    // Nothing built (0, the empty text's value), or a text refused or
    // stopped, whose tree is that of a text not read.
    if (cache->last == nullptr) return parser->program != nullptr ? evaluate_tree(parser) : 0.0f;
    if (cache->dirty != 0) {
        // A function was defined since the tree was built; the cached copy
        // stays the text, so it is the source of the new tree. It is checked
        // against the limit again, which may have been lowered since.
        BusyScope busy(parser, true);
        char *text = cache->last;
        cache->last = nullptr;
        const bool built = build(parser, text);
        std::free(text);
        if (!built) return NAN;
    }
    return evaluate_tree(parser);
}

} // namespace

// parser_calc of the cached text without comparing it: the host says it is
// the same text. The call in a host's loop, a tree in machine code with
// nothing to rebuild or bind, is a tail call with no frame: machine code
// throws nothing.
extern "C" float parser_eval(Parser *parser) noexcept {
    if (parser != nullptr) {
        const NativeFn fast = parser->fast;
        if (fast != nullptr) return fast();
        if (Program *interpreted = parser->interpreted) return program_execute(interpreted);
        if (Program *warming = parser->warming) return run_warming(parser, warming);
        // A tree with host calls goes straight to its run too: eval_tree's
        // frame and checks cost such a tree 14 instructions of about 130.
        if (!parser->busy) {
            if (const NativeFn guarded = parser->guarded) return run_guarded(parser, guarded);
            if (Program *guarded = parser->interpreted_guarded) return run_guarded(parser, guarded);
        }
    }
    return eval_tree(parser);
}

// The cached text's program in machine code, with nothing to rebuild or bind:
// without host calls what the fast paths may call directly, with them what
// run_guarded calls; or, without host calls, the program the fast paths
// interpret when it will not be compiled.
void lp::refresh_fast(const Parser *parser) {
    const Program *program = parser->program;
    // The cached text's program, with nothing to rebuild or bind.
    const bool current = program != nullptr && program->generation == parser->generation &&
                         parser->cache->dirty == 0 && parser->cache->last != nullptr && !parser->busy;
    const bool ready = current && program->native != nullptr;
    const bool native = parser->limits.native_code();
    const bool interpreted = current && interpreted_for_good(*program, native);
    const bool calls = current && program->host_call_count != 0;
    parser->fast = ready && !calls ? program->native : nullptr;
    parser->guarded = ready && calls ? program->native : nullptr;
    parser->interpreted = interpreted && !calls ? parser->program : nullptr;
    parser->interpreted_guarded = interpreted && calls ? parser->program : nullptr;
    parser->warming = current && !calls && native && program->native == nullptr && program->runs < kNativeAfterRuns
                          ? parser->program
                          : nullptr;
}
