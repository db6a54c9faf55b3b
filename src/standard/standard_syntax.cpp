// standard_syntax.cpp - the standard grammar's parser: operator precedence over explicit stacks, user functions inlined.
//
// One loop reads a token at a time. Operands wait on one stack, operators,
// brackets, calls and the '?' of a conditional on another, each operator
// until one that binds more loosely arrives; a user function's call pushes
// a frame that reads its body, so neither nesting nor inlining recurses.
#include "standard/standard_syntax.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "lib_parse.h"
#include "standard/parse_stacks.h"
#include "standard/standard_tokens.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "support/error_log.h"
#include "support/name_trie.h"
#include "support/small_stack.h"
#include "support/variables.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/host_table.h"
#include "tree/name_list.h"
#include "tree/name_supply.h"
#include "tree/node_order.h"
#include "tree/notes.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace lp {

namespace {

using namespace standard;

const NodeData *data_of(const TreeNode *node) { return static_cast<const NodeData *>(node->data); }

class StandardBuild {
public:
    StandardBuild(Arena *arena, const Definitions &definitions, const Limits &limits, const BuildWatch &watch,
                  bool *unknown_name)
        : arena_(arena), definitions_(definitions), limits_(limits), notes_(watch.notes), names_(watch.names),
          check_(watch.check != nullptr ? *watch.check : unstoppable_), order_(watch.order), bound_(watch.order),
          unknown_name_(unknown_name) {
        if (order_ != nullptr) order_->begin();
        written_left_ = limits.written_bytes();
        growth_left_ = limits.growth();
    }

    TreeNode *run(const char *text, size_t length) {
        text_ = text;
        text_length_ = length;
        frames_.push(Frame{text, length, 0, false, Span{}, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0});
        for (;;) {
            Frame &f = frames_.top();
            Tokenizer tokens(std::string_view(f.text, f.length), f.cursor);
            const Lexeme t = tokens.next();
            if (check_.pass(t.length + kNodeUnits)) return interrupted(t);
            f.cursor = tokens.position();
            const Step step = expect_operand_ ? operand(t, tokens) : after_operand(t);
            // A step stopped at a check point leaves its operations unfinished.
            if (check_.stopped()) return interrupted(t);
            if (step == Step::STOP) break;
            if (step == Step::DONE) {
                if (!failed_) return bounded(operands_.pop().node);
                not_in_order();
                return error_tree(); // one node: counted, not bounded by all the text made
            }
        }
        not_in_order();
        return error_tree();
    }

private:
    enum class Step { GO_ON, DONE, STOP };

    TreeNode *interrupted(const Lexeme &t) {
        LP_REPORT(PARSER_ERR_INTERRUPTED, place(t));
        return nullptr;
    }

    // The operation on top of the pending stack is completed while WHILE
    // holds, each a check point: a long chain ending at one token reduces
    // in one step, and a stop leaves it unfinished.
    template <class While>
    void reduce_while(While holds) {
        while (has_pending() && holds(pending_.top()) && !check_.pass(kNodeUnits)) reduce();
    }

    // ---- places and errors ----

    Span place(size_t offset, size_t length) const {
        const Frame &f = frames_.top_at(0);
        return f.nested ? f.origin : Span{offset, length};
    }
    Span place(const Lexeme &t) const { return place(t.offset, t.length); }

    // An error the text is still read past, to report the others.
    void error(int code, Span span) {
        LP_REPORT(code, span);
        failed_ = true;
    }
    // An error the text is not read past.
    Step stop(int code, Span span) {
        error(code, span);
        return Step::STOP;
    }
    Step unexpected(const Lexeme &t) {
        if (t.kind == Token::ASSIGN && notes_ != nullptr)
            notes_->add(PARSER_NOTE_ASSIGNMENT, place(t), "'=' is no operator: '==' compares");
        return stop(PARSER_ERR_UNEXPECTED_TOKEN, place(t));
    }

    // A text with an error has the value NaN: one leaf, the text as its name.
    TreeNode *error_tree() {
        return number_node(arena_->copy(text_, text_length_), std::numeric_limits<float>::quiet_NaN());
    }

    // ---- nodes ----

    // Every node that stands for steps of its own is listed as it is made,
    // after its operands. A conditional's parts and a function's body are
    // steps between its operands: a tree with one is flattened by its walk.
    void in_order(const TreeNode *node) {
        if (order_ != nullptr) order_->add(node);
    }
    void not_in_order() {
        if (order_ != nullptr) order_->usable = false;
        order_ = nullptr; // the rest is not listed
    }
    // A tree not listed is bounded instead, so the program needs no count
    // of its nodes: every one of them came from the arena since its reset.
    TreeNode *bounded(TreeNode *root) {
        if (bound_ != nullptr && !bound_->usable) bound_->room = arena_->nodes_made() + and_or_room_;
        return root;
    }

    TreeNode *number_node(char *expr, float value) {
        TreeNode *n = arena_->node();
        n->data = new (arena_->allocate(sizeof(NumberData))) NumberData{NodeData{expr, OP_NUMBER, EXPAND, 0.0f}, value};
        in_order(n);
        return n;
    }
    TreeNode *operation_node(int32_t op, TreeNode *left, TreeNode *right) {
        TreeNode *n = arena_->node();
        n->data = new (arena_->allocate(sizeof(NodeData)))
            NodeData{const_cast<char *>(kind_of(op).name), static_cast<int16_t>(op), CALCULATE, 0.0f};
        n->left = left;
        n->right = right;
        if (op == OP_AND || op == OP_OR) and_or_room_ += kRoomOfAndOr - 1;
        if (op == OP_SELECT || op == OP_AND || op == OP_OR) not_in_order();
        in_order(n);
        return n;
    }
    // A link of a chain of parts, a call's arguments or a conditional's parts.
    TreeNode *link(TreeNode *part) {
        TreeNode *l = arena_->node();
        l->data = new (arena_->allocate(sizeof(NodeData))) NodeData{nullptr, OP_ARG, CALCULATE, 0.0f};
        l->left = part;
        return l;
    }
    // The top COUNT operands, in text order, as a chain of links from NODE's right.
    void hang_operands(TreeNode *node, size_t count) {
        TreeNode **slot = &node->right;
        const size_t first = operands_.size() - count;
        for (size_t k = first; k < operands_.size(); ++k) {
            *slot = link(operands_.begin()[k].node);
            slot = &(*slot)->right;
        }
        check_.pass(count * kNodeUnits); // a stop is seen after the step
        drop_operands(count);
    }
    void drop_operands(size_t count) {
        for (size_t k = 0; k < count; ++k) operands_.pop();
    }
    void push(TreeNode *node) { operands_.push(Operand{node, false}); }

    // ---- operands ----

    Step operand(const Lexeme &t, Tokenizer &tokens) {
        Frame &f = frames_.top();
        switch (t.kind) {
        case Token::NUMBER:
            push(number_node(arena_->copy(f.text + t.offset, t.length), t.number));
            expect_operand_ = false;
            return Step::GO_ON;
        case Token::NAME: {
            if (const size_t open = tokens.open_next(); open != SIZE_MAX) {
                f.cursor = open + 1;
                open_call(t, Lexeme{Token::OPEN, open, 1, 0.0f});
            } else {
                push(name_node(t));
                expect_operand_ = false;
            }
            return Step::GO_ON;
        }
        case Token::OPEN: pend(Pending::OPEN, 0, -1, t); return Step::GO_ON;
        case Token::MINUS: pend(Pending::PREFIX, PREFIX_LEVEL, OP_NEG, t); return Step::GO_ON;
        case Token::PLUS: pend(Pending::PREFIX, PREFIX_LEVEL, -1, t); return Step::GO_ON;
        case Token::BANG: pend(Pending::PREFIX, PREFIX_LEVEL, OP_NOT, t); return Step::GO_ON;
        case Token::CLOSE:
            // "f()": a call of no arguments.
            if (has_pending() && pending_.top().kind == Pending::CALL && pending_.top().args == 0) return close_call(t);
            return stop(PARSER_ERR_MISSING_TOKEN, place(t));
        case Token::END:
            // The empty text, and one of blanks, is 0, as everywhere in the library.
            if (!f.nested && pending_.empty() && operands_.empty()) {
                push(number_node(arena_->copy("", 0), 0.0f));
                return Step::DONE;
            }
            return stop(PARSER_ERR_MISSING_TOKEN, place(t));
        case Token::COMMA: return stop(PARSER_ERR_MISSING_TOKEN, place(t));
        default: return unexpected(t);
        }
    }

    // The value of `pi` or `e` read as a name, as pi() and e() give it.
    static bool math_constant(std::string_view name, float *value) {
        if (name == "pi") *value = static_cast<float>(3.14159265358979323846);
        else if (name == "e") *value = static_cast<float>(2.71828182845904523536);
        else return false;
        return true;
    }

    // A leaf for a name: a parameter of the body being read, a variable, or
    // with the math set a constant it names.
    TreeNode *name_node(const Lexeme &t) {
        const Frame &f = frames_.top_at(0);
        const std::string_view name(f.text + t.offset, t.length);
        TreeNode *n = arena_->node();
        const Param *first = params_.begin() + f.param_from, *last = params_.begin() + f.param_to;
        const Param *p = first == last ? last // outside a body, most often
                                       : std::lower_bound(first, last, name,
                                                          [](const Param &a, std::string_view b) { return a.name < b; });
        if (p != last && p->name == name) {
            n->data = new (arena_->allocate(sizeof(ParamData)))
                ParamData{NodeData{arena_->copy(name.data(), name.size()), OP_PARAM, EXPAND, 0.0f}, f.call, p->index};
            not_in_order();
            return n;
        }
        char *copy = arena_->copy(name.data(), name.size());
        const Variable *v = var_index_find_any(definitions_.vars, copy);
        if (v == nullptr && definitions_.supply != nullptr) v = (*definitions_.supply)(name);
        float constant = 0.0f;
        if (v == nullptr && definitions_.math && math_constant(name, &constant)) {
            *unknown_name_ = true; // a variable of the name, defined later, wins
            return number_node(copy, constant);
        }
        n->data = new (arena_->allocate(sizeof(NodeData))) NodeData{copy, OP_NAME, EXPAND, 0.0f};
        in_order(n);
        if (names_ != nullptr) names_->add(v != nullptr ? PARSER_NAME_VARIABLE : PARSER_NAME_UNKNOWN, name, place(t));
        if (v == nullptr) {
            error(PARSER_ERR_UNKNOWN_NAME, place(t));
            *unknown_name_ = true;
        }
        return n;
    }

    // ---- operators ----

    bool has_pending() const { return pending_.size() > frames_.top_at(0).pending_base; }

    void pend(Pending::Kind kind, uint8_t precedence, int32_t op, const Lexeme &t) {
        pending_.push(Pending{kind, precedence, Callee::UNKNOWN, op, t.offset, t.length, 0, nullptr, SIZE_MAX});
        if (kind == Pending::OPEN || kind == Pending::QUESTION) frames_.top().open += 1;
    }

    Step after_operand(const Lexeme &t) {
        const Binary b = binary_of(t.kind);
        if (b.op >= 0) {
            // Every operator but '^' groups to the left: an equal one waiting is done first.
            reduce_while([&](const Pending &top) {
                return (top.kind == Pending::BINARY || top.kind == Pending::PREFIX) &&
                       (top.precedence > b.precedence || (top.precedence == b.precedence && b.op != OP_POW));
            });
            pend(Pending::BINARY, b.precedence, b.op, t);
            expect_operand_ = true;
            return Step::GO_ON;
        }
        Frame &f = frames_.top();
        switch (t.kind) {
        case Token::QUESTION:
            // Loosest of all, and to the right: 'a ? b : c ? d : e' is 'a ? b : (c ? d : e)'.
            reduce_while([](const Pending &top) { return top.kind == Pending::BINARY || top.kind == Pending::PREFIX; });
            pend(Pending::QUESTION, CONDITIONAL, -1, t);
            expect_operand_ = true;
            return Step::GO_ON;
        case Token::COLON:
            close_parts();
            if (!has_pending() || pending_.top().kind != Pending::QUESTION) return unexpected(t);
            pending_.top().kind = Pending::COLON;
            f.open -= 1;
            expect_operand_ = true;
            return Step::GO_ON;
        case Token::CLOSE:
            close_parts();
            if (!has_pending()) return stop(PARSER_ERR_UNBALANCED_BRACKET, place(t));
            if (pending_.top().kind == Pending::QUESTION) return stop(PARSER_ERR_MISSING_TOKEN, place(t));
            if (pending_.top().kind == Pending::CALL) {
                pending_.top().args += 1;
                return close_call(t);
            }
            pending_.pop(); // its "("
            f.open -= 1;
            operands_.top().bracketed = true;
            return Step::GO_ON;
        case Token::COMMA:
            close_parts();
            if (has_pending() && pending_.top().kind == Pending::CALL) {
                pending_.top().args += 1;
                expect_operand_ = true;
                return Step::GO_ON;
            }
            if (has_pending() && pending_.top().kind == Pending::QUESTION) return stop(PARSER_ERR_MISSING_TOKEN, place(t));
            return unexpected(t);
        case Token::END:
            close_parts();
            if (has_pending()) {
                const Pending &open = pending_.top();
                if (open.kind == Pending::QUESTION) return stop(PARSER_ERR_MISSING_TOKEN, place(t));
                return stop(PARSER_ERR_UNBALANCED_BRACKET, place(open.offset, open.length));
            }
            return end_frame();
        case Token::NUMBER:
        case Token::NAME:
        case Token::OPEN:
        case Token::BANG:
            // A whole expression stands before it: the rest is left over.
            if (f.open == 0) return stop(PARSER_ERR_TRAILING_TEXT, place(t.offset, f.length - t.offset));
            return unexpected(t);
        default: return unexpected(t);
        }
    }

    // Completes the operations up to the innermost open bracket, call or '?'.
    void close_parts() {
        reduce_while([](const Pending &top) {
            return top.kind == Pending::BINARY || top.kind == Pending::PREFIX || top.kind == Pending::COLON;
        });
    }

    // Completes the operation on top of the pending stack over its operands.
    void reduce() {
        const Pending p = pending_.pop();
        if (p.kind == Pending::COLON) {
            TreeNode *select = operation_node(OP_SELECT, nullptr, nullptr);
            hang_operands(select, 3);
            push(select);
            return;
        }
        if (p.kind == Pending::PREFIX) {
            if (p.op < 0) return; // '+x' is x
            const Operand x = operands_.pop();
            if (p.op == OP_NOT && notes_ != nullptr && !is_boolean(data_of(x.node)->op))
                notes_->add(PARSER_NOTE_NOT_OF_NUMBER, place(p.offset, p.length),
                            "'!' of a number: it is 1 when the number is 0, else 0");
            push(operation_node(p.op, nullptr, x.node));
            return;
        }
        const Operand right = operands_.pop(), left = operands_.pop();
        const int32_t inner = data_of(left.node)->op;
        if (notes_ != nullptr && !left.bracketed &&
            ((is_relation(p.op) && is_relation(inner)) || (is_equality(p.op) && is_equality(inner))))
            notes_->add(PARSER_NOTE_COMPARISON_CHAIN, place(p.offset, p.length),
                        "a comparison of a comparison: it compares the 1 or 0 of the one before");
        push(operation_node(p.op, left.node, right.node));
    }

    // ---- calls ----

    // NAME "(": what it calls, found by its exact name: one of the
    // language's functions, a host function, then a user function.
    void open_call(const Lexeme &name, const Lexeme &open) {
        const Frame &f = frames_.top_at(0);
        const std::string_view text(f.text + name.offset, name.length);
        Pending call{Pending::CALL, 0, Callee::UNKNOWN, -1, name.offset, open.offset + 1 - name.offset, 0, nullptr, SIZE_MAX};
        const HostFunction *host = nullptr;
        if ((call.op = language_function(text)) >= 0) {
            call.callee = Callee::LANGUAGE;
        } else if (definitions_.hosts != nullptr && (host = definitions_.hosts->find(text.data(), text.size())) != nullptr) {
            call.callee = Callee::HOST;
            call.target = host;
        } else if ((call.target = name_trie_newest_equal(definitions_.funcs, text.data(), text.size())) != nullptr) {
            call.callee = Callee::USER;
        } else if (definitions_.math && (text == "log" || text == "ln")) {
            call.op = OP_LOGN; // what most languages and calculators call the natural logarithm
            call.callee = Callee::LANGUAGE;
        } else {
            error(PARSER_ERR_UNKNOWN_NAME, place(name));
        }
        if (names_ != nullptr && (call.callee == Callee::HOST || call.callee == Callee::USER)) {
            call.listed = names_->uses().size(); // before the names of its arguments
            // The name's place until the ")" gives the call's: a call never
            // closed keeps it.
            names_->add(call.callee == Callee::HOST ? PARSER_NAME_HOST : PARSER_NAME_FUNCTION, text, place(name));
        }
        pending_.push(call);
        frames_.top().open += 1;
    }

    // The call on top of the pending stack, its arguments the operands on
    // top, ended by the ")" CLOSE: its node, or a user function's body to read.
    Step close_call(const Lexeme &close) {
        const Pending call = pending_.pop();
        Frame &f = frames_.top();
        f.open -= 1;
        expect_operand_ = false;
        const Span span = place(call.offset, close.offset + 1 - call.offset);
        if (call.listed != SIZE_MAX) names_->set_place(call.listed, span);
        const size_t n = call.args;
        switch (call.callee) {
        case Callee::LANGUAGE:
            if (n != 1) return refuse(PARSER_ERR_CALL_ARGUMENTS, span, n);
            push(operation_node(call.op, nullptr, operands_.pop().node));
            return Step::GO_ON;
        case Callee::HOST: {
            const auto *host = static_cast<const HostFunction *>(call.target);
            if (n < static_cast<size_t>(host->min_args) || n > static_cast<size_t>(host->max_args))
                return refuse(PARSER_ERR_CALL_ARGUMENTS, span, n);
            // Its name, without the blanks before its "(".
            const char *name = f.text + call.offset;
            size_t length = 0;
            while (length < call.length && is_name_byte(name[length])) ++length;
            TreeNode *node = arena_->node();
            node->data = &(new (arena_->allocate(sizeof(CallData))) CallData{
                               NodeData{arena_->copy(name, length), OP_CALL, CALCULATE, 0.0f}, host->fn, host->ctx,
                               static_cast<int32_t>(n), host->pure, host->conditional, host->thread_safe, host->lanes,
                               host->own})
                              ->data;
            hang_operands(node, n);
            if (host->conditional) not_in_order();
            in_order(node);
            push(node);
            return Step::GO_ON;
        }
        case Callee::USER: return inline_call(call, span, n);
        case Callee::UNKNOWN: return refuse(0, span, n); // reported at its name
        }
        return Step::GO_ON;
    }

    // A call that cannot be made: the error CODE (unless 0) at SPAN, and an
    // operand in its place that the error makes NaN anyway.
    Step refuse(int code, Span span, size_t arguments) {
        if (code != 0) error(code, span);
        drop_operands(arguments);
        push(number_node(arena_->copy("", 0), std::numeric_limits<float>::quiet_NaN()));
        return Step::GO_ON;
    }

    // A user function's call: its arguments hang from the call node, and a
    // frame reads its body, in which each parameter reads its argument.
    Step inline_call(const Pending &call, Span span, size_t n) {
        const auto *function = static_cast<const UserFunction *>(call.target);
        if (function->syntax != PARSER_SYNTAX_STANDARD) return refuse(PARSER_ERR_OTHER_SYNTAX, span, n);
        if (n != static_cast<size_t>(function->n_params)) return refuse(PARSER_ERR_CALL_ARGUMENTS, span, n);
        // The bodies being read are at most the depth limit: a scan of them is cheap.
        for (size_t k = 1; k < frames_.size(); ++k)
            if (frames_.begin()[k].function == function) return refuse(PARSER_ERR_RECURSION, span, n);
        // Every body read counts, with its prototype, against the bytes
        // substitution may write, and the body against the growth of the tree.
        const size_t bytes = function->body_length + std::strlen(function->proto);
        if (static_cast<long long>(frames_.size() - 1) >= limits_.depth() || inlined_ >= limits_.substitutions() ||
            bytes > written_left_ || function->body_length > growth_left_)
            return refuse(PARSER_ERR_SUBSTITUTION_LIMIT, span, n);
        written_left_ -= bytes;
        growth_left_ -= function->body_length;
        inlined_ += 1;
        // parser_func read the prototype when it defined the function.
        const size_t param_from = params_.size();
        int32_t index = 0;
        for_each_parameter(function->proto, [&](std::string_view name) { params_.push(Param{name, index++}); });
        if (impossible(params_.size() - param_from != n)) {
            params_.truncate(param_from);
            return refuse(PARSER_ERR_CALL_ARGUMENTS, span, n);
        }
        std::sort(params_.begin() + static_cast<std::ptrdiff_t>(param_from), params_.end(),
                  [](const Param &a, const Param &b) { return a.name < b.name; });

        TreeNode *node = arena_->node();
        auto *record = new (arena_->allocate(sizeof(FunctionData))) FunctionData{
            NodeData{arena_->copy(function->proto + function->name_from, function->name_length), OP_FUNCTION,
                     CALCULATE, 0.0f},
            static_cast<int32_t>(n), 0};
        node->data = &record->data;
        not_in_order();
        hang_operands(node, n);
        TreeNode **last = &node->right;
        while (*last != nullptr) last = &(*last)->right;
        *last = link(nullptr);

        frames_.push(Frame{function->body, function->body_length, 0, true, span, function, record, node, *last,
                           pending_.size(), param_from, params_.size(), 0});
        expect_operand_ = true;
        return Step::GO_ON;
    }

    // The end of a frame's text, every operation complete: the text's tree,
    // or a body, which completes its call.
    Step end_frame() {
        const Frame f = frames_.pop();
        if (!f.nested) return Step::DONE;
        f.body_link->left = operands_.pop().node;
        params_.truncate(f.param_from);
        push(f.call_node);
        expect_operand_ = false;
        return Step::GO_ON;
    }

    Arena *arena_;
    const Definitions &definitions_;
    const Limits &limits_;
    NoteList *notes_;
    NameList *names_;
    CheckPoint unstoppable_{nullptr}; // the check point of a build given none
    CheckPoint &check_;
    NodeOrder *order_; // null: not listed
    NodeOrder *bound_; // where the room of a tree not listed goes, when anywhere
    size_t and_or_room_ = 0; // what the && and || need beyond a step each
    bool *unknown_name_;
    const char *text_ = nullptr;
    size_t text_length_ = 0;
    bool expect_operand_ = true;
    bool failed_ = false;
    long long inlined_ = 0;
    size_t written_left_, growth_left_;
    SmallStack<Operand> operands_;
    SmallStack<Pending> pending_;
    SmallStack<Frame, 4> frames_;
    struct Param {
        std::string_view name;
        int32_t index; // in the prototype
    };
    SmallStack<Param, 16> params_; // the parameters of the frames being read
};

} // namespace

TreeNode *standard_text(Arena *arena, const char *text, size_t length, const Definitions &definitions,
                        const Limits &limits, const BuildWatch &watch, bool *unknown_name) {
    return StandardBuild(arena, definitions, limits, watch, unknown_name).run(text, length);
}

TreeNode *standard_error_tree(Arena *arena) {
    TreeNode *n = arena->node();
    n->data = new (arena->allocate(sizeof(NumberData)))
        NumberData{NodeData{arena->copy("", 0), OP_NUMBER, EXPAND, 0.0f}, std::numeric_limits<float>::quiet_NaN()};
    return n;
}

} // namespace lp
