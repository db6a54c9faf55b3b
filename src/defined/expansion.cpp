// expansion.cpp - the walk that builds a text's tree: nodes are cut as ranges of texts whose brackets are matched once.
//
// A pending operand is a range of a source text, kept on the walk's own
// stack until the walk reaches its leaf; a text is made only for a leaf, and
// for a call, which substitution needs as text. So a text nested deep is not
// copied and scanned again at every level, and the walk is the same whether
// or not its steps are traced: a message formats its piece of text from the
// range, only when it is emitted.
#include "defined/expansion.h"
#include "support/checked_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "containers/memory.h"
#include "defined/location.h"
#include "defined/one_pass.h"
#include "defined/substitute.h"
#include "defined/subtree.h"
#include "defined/trap_notes.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "support/error_log.h"
#include "support/small_stack.h"
#include "support/trace.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/host_table.h"
#include "tree/name_list.h"
#include "tree/notes.h"
#include "tree/operand.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace lp {

namespace {

NodeData *data_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }

// What substitution may still do in this expansion.
struct Budget {
    long long substitutions = 0;
    size_t writable; // bytes the passes over bodies may still write
    size_t growth = 0; // bytes substitution has added to the tree's texts
};

enum class Side { ROOT, LEFT, RIGHT };

// Expand the node hanging at SLOT: its parent's left or right, or the root.
struct Step {
    TreeNode **slot;
    int depth; // substitutions made on the path to this node
    Side side;
};

} // namespace

// The working memory of expansions, kept from one to the next so that a
// short text is expanded without allocating.
struct ExpandScratch {
    Vector<Owned<SourceText>> sources; // the expansion's sources, then spares
    Vector<Span> origins;                        // of each source
    Vector<Range> ranges; // pieces whose leaves the walk has not reached, the next on top
    TopLevel top;
    Vector<int32_t> positions;
    Pieces pieces;
    Vector<int32_t> partners; // of a text read in one pass: at most kOnePassBytes, kept whole (as are its positions)
    Vector<String> spare_texts;         // buffers for substituted texts (kSpareTexts)
    std::pair<String, String> passes;   // the passes of substitution over a body

    // Lets go of what a long text made large, so that what a handle keeps
    // between calls stays under about 64 KiB: enough for any text of a few
    // hundred bytes to be read again without allocating.
    void trim() {
        constexpr size_t kKeptBytes = 4096; // per array
        auto trim_one = [](auto &v) {
            if (v.capacity() * sizeof(v[0]) > kKeptBytes) std::remove_reference_t<decltype(v)>().swap(v);
        };
        trim_one(origins);
        trim_one(ranges);
        trim_one(top.opens);
        trim_one(top.marks);
        trim_one(top.word_marks);
        trim_one(positions);
        trim_one(pieces.ranges);
        if (passes.first.capacity() > kKeptBytes) String().swap(passes.first);
        if (passes.second.capacity() > kKeptBytes) String().swap(passes.second);
        if (sources.capacity() > 16) { // the array too: a text may have made one source per call
            Vector<Owned<SourceText>> first;
            first.reserve(16);
            for (size_t i = 0; i < 16 && i < sources.size(); ++i) first.push_back(std::move(sources[i]));
            sources.swap(first);
        }
        for (size_t i = 0; i < sources.size(); ++i) sources[i]->trim(i == 0 ? 256 : 16); // bracket pairs
    }
};

namespace {

class Expansion final : private OperandSink {
public:
    Expansion(ExpandScratch *scratch, const NameTrie *funcs, const HostTable *hosts, const Limits &limits,
              const BuildWatch &watch, Arena *arena)
        : funcs_(funcs), hosts_(hosts != nullptr && !hosts->functions().empty() ? hosts : nullptr), limits_(limits),
          notes_(watch.notes), names_(watch.names), arena_(arena),
          check_(watch.check != nullptr ? *watch.check : unstoppable_), sources_(scratch->sources),
          origins_(scratch->origins), ranges_(scratch->ranges), top_(scratch->top),
          positions_(scratch->positions), pieces_(scratch->pieces), spares_(scratch->spare_texts),
          passes_(scratch->passes) {
        settles_early_ = !traced_ && notes_ == nullptr && names_ == nullptr;
        budget_.writable = limits.written_bytes();
        pieces_.arena = arena;
        pieces_.check = &check_;
        pieces_.traced = traced_ && tracing(kTraceFine);
        origins_.clear();
        ranges_.clear();
        reserve_for_short_texts();
    }
    ~Expansion() {
        for (size_t i = 0; i < source_count_; ++i) sources_[i]->drop(&spares_);
    }

    TreeNode *run(const char *text, size_t length) {
        TreeNode *root = arena_->node();
        root->data = new (arena_->allocate(sizeof(NodeData))) NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};
        const uint32_t source = add_source(Span{0, length});
        // The given text's top level is read with its brackets: the root's survey.
        surveyed_ = sources_[source]->read_surveyed(text, length, &top_, check_);
        push_range(Range{source, 0, sources_[source]->size()});

        // Pre-order with an explicit stack, so messages come out node, left
        // subtree, right subtree, and deep trees cannot exhaust the C stack.
        SmallStack<Step> steps;
        steps.push(Step{&root, 0, Side::ROOT});
        // A step stopped at a check point leaves its node as it was; the
        // check before the next step, made after the last one too, sees it.
        for (;;) {
            if (check_.pass(kNodeUnits)) {
                LP_REPORT(PARSER_ERR_INTERRUPTED, ranges_.empty() ? Span{} : place_of(ranges_.back()));
                return nullptr;
            }
            if (steps.empty()) break;
            const Step step = steps.pop();
            if (traced_ && step.side != Side::ROOT) trace_descent(*step.slot, step.side);
            int depth = step.depth;
            TreeNode *node = expand_node(step.slot, &depth);
            if (complete_) { // a split whose operands are settled: nothing below it to expand
                complete_ = false;
                continue;
            }
            // The right child waits below the left one; expanding the left
            // subtree changes no slot outside it.
            if (node->right != nullptr) steps.push(Step{&node->right, depth, Side::RIGHT});
            if (node->left != nullptr) steps.push(Step{&node->left, depth, Side::LEFT});
        }
        return root;
    }

private:
    // Room for any text of kShortText bytes, made at a handle's first
    // expansion and kept (ExpandScratch::trim keeps it): such texts then
    // expand without allocating. The stack of ranges and the pieces trade
    // their arrays, so both get the room.
    void reserve_for_short_texts() {
        constexpr size_t kShortText = 256;
        if (ranges_.capacity() >= kShortText) return;
        ranges_.reserve(kShortText);
        pieces_.ranges.reserve(kShortText);
        top_.opens.reserve(kShortText / 2);
        top_.marks.reserve(kShortText / 2);
        top_.word_marks.reserve(kShortText / 4);
        positions_.reserve(kShortText / 2);
        origins_.reserve(kShortText / 4);
        spares_.reserve(kSpareTexts);
    }

    // ORIGIN: where the text stands in the text given, the call whose
    // substitution made it (the whole text for the first source).
    // The next source, to be read or given a text. Texts are never longer
    // than kMaxTextBytes: the limit on text bytes is at most that, and
    // substitution never writes more than it may write.
    uint32_t add_source(Span origin) {
        if (source_count_ == sources_.size()) sources_.push_back(Owned<SourceText>(create<SourceText>()));
        origins_.push_back(origin);
        return static_cast<uint32_t>(source_count_++);
    }

    // A copy of TEXT in the smallest spare buffer it fits, or a new one.
    String keep_text(const String &text) {
        size_t best = spares_.size();
        for (size_t i = 0; i < spares_.size(); ++i)
            if (spares_[i].capacity() >= text.size() &&
                (best == spares_.size() || spares_[i].capacity() < spares_[best].capacity()))
                best = i;
        String kept;
        if (best < spares_.size()) {
            kept.swap(spares_[best]);
            spares_.erase(spares_.begin() + static_cast<std::ptrdiff_t>(best));
        }
        kept.assign(text);
        return kept;
    }

    // Where a range stands in the text given: itself in that text, the
    // outermost call it came from in a substituted one.
    Span place_of(Range range) const { return place_in_text(origins_, range); }

    void push_range(Range range) {
        sources_[range.source]->refs += 1;
        ranges_.push_back(range);
    }

    // Pushes the pieces of the split of RANGE that leaves took: the leaves
    // take them in text order, so the first goes on top. The pieces are
    // rearranged in place and, on an empty stack, become the stack, so a
    // long text's pieces are not held twice.
    void push_pieces(Range range) {
        Vector<Range> &pending = pieces_.ranges;
        if (pieces_.taken_from > 0)
            std::copy(pending.begin() + static_cast<std::ptrdiff_t>(pieces_.taken_from),
                      pending.begin() + static_cast<std::ptrdiff_t>(pieces_.taken_to), pending.begin());
        pending.resize(pieces_.taken_to - pieces_.taken_from);
        std::reverse(pending.begin(), pending.end());
        if (pieces_.empty_taken) pending.insert(pending.begin(), Range{range.source, range.to, range.to});
        sources_[range.source]->refs += static_cast<long>(pending.size());
        if (ranges_.empty())
            ranges_.swap(pending);
        else
            ranges_.insert(ranges_.end(), pending.begin(), pending.end());
    }

    // A range leaves the stack when its leaf is reached; its source goes
    // once no range reads it, so the texts of substituted calls do not pile up.
    void release(Range range) {
        SourceText &source = *sources_[range.source];
        if (--source.refs != 0) return;
        // Read no more: a deep substitution makes one source per level, so
        // a substituted text's memory goes now, but for what a short text
        // needs. The given text's is kept for the next text (trimmed at the end).
        source.drop(&spares_);
        if (range.source != 0) source.trim(16);
    }

    // A split settles the pieces it lays out itself, which were never on the stack.
    void operand(TreeNode *node, Range piece) override { give_text(data_of(node), piece); }

    // Gives the leaf the text of PIECE, a copy in the arena: the piece may
    // be of a substituted text, released before the tree.
    void give_text(NodeData *data, Range piece) {
        data->expr = arena_->copy(sources_[piece.source]->data() + piece.from, static_cast<size_t>(piece.to - piece.from));
        if (names_ != nullptr) names_->leaf(data->expr, place_of(piece));
    }

    // The same for a range the stack held, which then goes.
    void settle(NodeData *data, Range range) {
        give_text(data, range);
        release(range);
    }

    // "Expanding left node expr: ..." before a child is expanded: its text is
    // an operator's symbol, or the piece of a leaf not yet reached, which is
    // the range on top of the stack (leaves are reached in text order).
    void trace_descent(const TreeNode *child, Side side) const {
        if (!tracing(kTraceSteps)) return;
        const char *text = data_of(child)->expr;
        int length = text != nullptr ? static_cast<int>(std::strlen(text)) : 0;
        if (text == nullptr && !ranges_.empty()) {
            const Range &r = ranges_.back();
            text = sources_[r.source]->data() + r.from;
            length = r.to - r.from;
        }
        if (side == Side::LEFT)
            LP_DIAG(kTraceSteps, "Expanding left node expr: \"%.*s\"\n", length, text);
        else
            LP_DIAG(kTraceSteps, "Expanding right node expr: \"%.*s\"\n", length, text);
    }

    // Expands the node at SLOT itself, not its children: strips enclosing
    // brackets, then splits it at its operation, substitutes its call, or
    // settles it as an operand. Returns the node now at SLOT. Inlined into
    // the walk, its one caller: a call per node costs a short text 2-3%.
    [[gnu::always_inline]] TreeNode *expand_node(TreeNode **slot, int *depth) {
        TreeNode *node = *slot;
        NodeData *data = data_of(node);
        if (traced_) LP_DIAG(kTraceFine, "_____________new expand_tree______________\n");
        if (data->state != EXPAND) {
            if (traced_) LP_DIAG(kTraceSteps, "NOT Expanding\n");
            return node;
        }
        Range range = ranges_.back();
        ranges_.pop_back();
        for (;;) {
            const SourceText &source = *sources_[range.source];
            if (!source.balanced()) { // only a whole text can be unbalanced
                if (notes_ != nullptr) traps().unmatched(*sources_[range.source], range);
                settle(data, range);
                return node;
            }
            // The loops below stop at a check point with their results
            // unfinished; the node is then left as it was, and the walk
            // stops at its next step.
            if (surveyed_) // the root, whose top level the reading of the text found
                surveyed_ = false;
            else
                survey_range(source, &range.from, &range.to, &top_, check_);
            if (check_.stopped()) return stopped_in(range, node);
            // A call has its name before its one pair, and no operator
            // byte outside it: no host function's name holds one.
            if (hosts_ != nullptr && top_.opens.size() == 1 && top_.marks.empty() && top_.opens[0] > range.from &&
                host_call(slot, source, range))
                return *slot;
            bool trailing = false;
            // A range with no symbol's first byte outside its pairs (a leaf,
            // most often) has nothing to choose; the traced search still tells it.
            const int32_t id =
                top_.seen == 0 && !traced_
                    ? -1
                    : choose_operation(source, range.from, range.to, &top_, &positions_, &trailing, traced_, check_);
            if (check_.stopped()) return stopped_in(range, node);
            if (trailing) { // left as it is
                LP_REPORT(PARSER_ERR_TRAILING_OPERATOR, place_of(range));
                settle(data, range);
                return node;
            }
            if (id >= 0) {
                // Pieces known to be numbers or names are settled as the
                // split lays them out, and the walk skips its subtree, unless
                // the search is traced or noted piece by piece.
                const bool settled = !traced_ && notes_ == nullptr && pieces_are_operands(top_, id);
                pieces_.sink = settled ? this : nullptr;
                TreeNode *split = split_range(source.data(), range, id, positions_, &pieces_); // the leaf is left unused
                if (check_.stopped()) return stopped_in(range, node);
                if (notes_ != nullptr) traps().split(source, range, id, pieces_.ranges, positions_);
                *slot = split;
                if (settled)
                    complete_ = true;
                else
                    push_pieces(range);
                release(range);
                return split;
            }
            if (top_.opens.empty()) { // a number or a name
                if (notes_ != nullptr) traps().operand(source, range);
                settle(data, range);
                data->op = OP_OPERAND;
                return node;
            }
            // Brackets but no operation outside them: a call such as 'f(2)'.
            // Left as one operand when it cannot be substituted.
            const Span place = place_of(range);
            String &body = passes_.first;
            if (!substitute(source.view(range.from, range.to), *depth, place, &body)) {
                if (check_.stopped()) return stopped_in(range, node);
                settle(data, range);
                data->op = OP_OPERAND;
                return node;
            }
            release(range); // the call's text may go now
            *depth += 1;
            const uint32_t s = add_source(place);
            String kept = keep_text(body);
            sources_[s]->adopt(&kept, check_);
            range = Range{s, 0, sources_[s]->size()};
            sources_[s]->refs += 1;
            if (check_.stopped()) return stopped_in(range, node);
            if (traced_) LP_DIAG(kTraceFine, "_____________new expand_tree______________\n");
        }
    }

    // A step stopped at a check point within RANGE: the range goes back on
    // the stack, where the walk's stop finds the place it reached.
    TreeNode *stopped_in(Range range, TreeNode *node) {
        ranges_.push_back(range);
        return node;
    }

    // The arguments of a call whose "(" stands at OPEN and whose ")" ends at
    // TO: [OPEN + 1, TO - 1) cut at the commas outside inner brackets, each
    // without the blanks at its ends; "f( )" has none. Inner pairs are
    // stepped over, so a call nested N deep is read in time linear in its
    // length, not N times over.
    static void cut_arguments(const SourceText &source, uint32_t index, int32_t open, int32_t to, Vector<Range> *args,
                              CheckPoint &check) {
        const char *text = source.data();
        args->clear();
        int32_t start = open + 1;
        size_t steps = 0;
        for (int32_t p = open + 1; p < to; ++p) {
            if (++steps % kCheckStride == 0 && check.pass(kCheckStride)) return;
            const char c = text[p];
            if (c == '(') {
                p = source.partner(p);
            } else if (c == ',' || p == to - 1) {
                int32_t a = start, b = p;
                while (a < b && is_blank(text[a])) ++a;
                while (b > a && is_blank(text[b - 1])) --b;
                args->push_back(Range{index, a, b});
                start = p + 1;
            }
        }
        if (args->size() == 1 && (*args)[0].from == (*args)[0].to) args->clear();
    }

    // A call of a host function: RANGE is NAME(ARGS), NAME a host function's
    // exact name. The node at SLOT becomes the call, its arguments a chain of
    // links whose left subtrees are expanded as operands of their own. False,
    // with nothing changed, for any other text.
    bool host_call(TreeNode **slot, const SourceText &source, Range range) {
        const char *text = source.data();
        // Blanks around the call, and between its name and "(", are not part of it.
        int32_t from = range.from, to = range.to;
        while (to > from && is_blank(text[to - 1])) --to;
        if (top_.opens.size() != 1 || top_.opens[0] <= from || source.partner(top_.opens[0]) != to - 1) return false;
        const int32_t open = top_.opens[0];
        while (from < open && is_blank(text[from])) ++from;
        int32_t name_end = open;
        while (name_end > from && is_blank(text[name_end - 1])) --name_end;
        // No host function has a name of the table's own ('cos(y)' is the
        // cosine): such a name is not looked up.
        const auto length = static_cast<size_t>(name_end - from);
        if (is_function_symbol(text + from, length)) return false;
        const HostFunction *f = hosts_->find(text + from, length);
        if (f == nullptr) return false;

        Vector<Range> &args = pieces_.ranges; // free until the next split
        cut_arguments(source, range.source, open, to, &args, check_);
        if (check_.stopped()) {
            args.clear();
            return false; // the walk stops at its next step
        }
        bool counted = true;
        for (const Range &a : args)
            if (a.from == a.to && counted) {
                LP_REPORT(PARSER_ERR_EMPTY_ARGUMENT, place_of(a));
                counted = false;
            }
        const size_t n = args.size();
        if (counted && (n < static_cast<size_t>(f->min_args) || n > static_cast<size_t>(f->max_args))) {
            LP_REPORT(PARSER_ERR_ARGUMENT_COUNT, place_of(range));
            counted = false;
        }
        if (!counted) args.clear(); // the call is 0

        if (names_ != nullptr)
            names_->call(PARSER_NAME_HOST, std::string_view(text + from, static_cast<size_t>(name_end - from)), place_of(range));
        TreeNode *call = arena_->node();
        auto *data = new (arena_->allocate(sizeof(CallData))) CallData{
            NodeData{arena_->copy(text + from, static_cast<size_t>(name_end - from)), OP_CALL, CALCULATE, 0.0f},
            counted ? f->fn : nullptr, f->ctx, static_cast<int32_t>(args.size()), f->pure || !counted,
            counted && f->conditional, f->thread_safe || !counted, counted ? f->lanes : LaneForm::CALL,
            f->own || !counted};
        call->data = &data->data;
        // Arguments that are all numbers or names are settled with the call,
        // and the walk skips its subtree, as it does a split's. Each plain
        // one is narrowed to its text without enclosing pairs; one the walk
        // takes after all is surveyed to the same text.
        bool plain = settles_early_;
        for (size_t k = 0; k < args.size() && plain; ++k) plain = plain_operand(source, &args[k].from, &args[k].to);
        TreeNode **link = &call->right;
        for (size_t k = 0; k < args.size(); ++k) {
            check_.pass(2 * kNodeUnits); // a stop is seen at the walk's next step
            TreeNode *l = arena_->node();
            l->data = new (arena_->allocate(sizeof(NodeData))) NodeData{nullptr, OP_ARG, CALCULATE, 0.0f};
            TreeNode *operand = arena_->node();
            operand->data = new (arena_->allocate(sizeof(NodeData))) NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};
            l->left = operand;
            *link = l;
            link = &l->right;
            if (plain) give_text(data_of(operand), args[k]);
        }
        // The leaves take the pieces in text order: the first on top.
        if (plain)
            complete_ = true;
        else
            for (size_t k = args.size(); k-- > 0;) push_range(args[k]);
        args.clear();
        release(range);
        *slot = call;
        return true;
    }

    // The body substituted for CALL, written into *TEXT; false, with the
    // error reported at PLACE, for a call that names no function or one the
    // limits stop. A missing function is told first, wherever the call
    // stands: the limits concern substitutions that would happen.
    bool substitute(std::string_view call, int depth, Span place, String *text) {
        const UserFunction *f = choose_function(call, funcs_);
        if (f == nullptr) {
            LP_REPORT(PARSER_ERR_UNKNOWN_FUNCTION, place);
            return false;
        }
        if (f->syntax != PARSER_SYNTAX_DEFINED) { // its body is another grammar's
            LP_REPORT(PARSER_ERR_OTHER_SYNTAX, place);
            return false;
        }
        if (depth >= limits_.depth() || budget_.substitutions >= limits_.substitutions()) {
            LP_REPORT(PARSER_ERR_SUBSTITUTION_LIMIT, place);
            return false;
        }
        bool done = substitute_body(call, f, &budget_.writable, text, &passes_.second, check_);
        if (check_.stopped()) return false; // the walk stops at its next step
        const size_t growth = done && text->size() > call.size() ? text->size() - call.size() : 0;
        if (growth > limits_.growth() - budget_.growth) done = false; // the tree would outgrow its memory bound
        if (!done) {
            LP_REPORT(PARSER_ERR_SUBSTITUTION_LIMIT, place);
            return false;
        }
        if (notes_ != nullptr) traps().call(call, function_name_length(f), place);
        if (names_ != nullptr) names_->call(PARSER_NAME_FUNCTION, call.substr(0, function_name_length(f)), place);
        budget_.substitutions += 1;
        budget_.growth += growth;
        return true;
    }

    TrapNotes traps() const { return TrapNotes(notes_, origins_, &check_); }

    const NameTrie *funcs_;
    const HostTable *hosts_; // null when there are none
    const Limits &limits_;
    // Whether any step is traced, read once per expansion: while the trace
    // is off, as it nearly always is, no step asks again.
    const bool traced_ = tracing(kTraceSearch);
    NoteList *notes_;
    NameList *names_;
    Arena *arena_;
    CheckPoint unstoppable_{nullptr}; // the check point of an expansion given none
    CheckPoint &check_;               // every step passes it; so do the loops within a step
    Budget budget_;
    Vector<Owned<SourceText>> &sources_;
    size_t source_count_ = 0; // sources of this expansion
    Vector<Span> &origins_;
    Vector<Range> &ranges_;
    bool complete_ = false; // the node just expanded has its whole subtree
    TopLevel &top_;
    Vector<int32_t> &positions_;
    Pieces &pieces_;
    // Arguments that are numbers or names may be settled before the walk
    // reaches them: no trace, notes or names listed see the leaves in the
    // order the walk reaches them.
    bool settles_early_ = false;
    bool surveyed_ = false; // top_ holds the given text's top level, not yet used
    Vector<String> &spares_;
    std::pair<String, String> &passes_;
};

} // namespace

ExpandScratch *expand_scratch_new() { return new (lp_malloc(sizeof(ExpandScratch))) ExpandScratch; }

void expand_scratch_free(ExpandScratch *scratch) {
    if (scratch == nullptr) return;
    scratch->~ExpandScratch();
    std::free(scratch);
}

TreeNode *expand_text(Arena *arena, ExpandScratch *scratch, const char *text, size_t length, const NameTrie *funcs,
                      const HostTable *hosts, const Limits &limits, const BuildWatch &watch) {
    parser_init(); // the search and the expanders read the operation table
    if (scratch == nullptr) { // a build aside, with memory of its own
        ExpandScratch local;
        return expand_text(arena, &local, text, length, funcs, hosts, limits, watch);
    }
    // A short text with nothing to substitute, trace or note, most texts,
    // is read in one pass; any other the walk reads.
    if (length <= kOnePassBytes && watch.notes == nullptr && watch.names == nullptr && !tracing(kTraceSearch)) {
        CheckPoint unstoppable(nullptr);
        TreeNode *root = read_in_one_pass(arena, text, length, &scratch->partners, &scratch->positions,
                                          &scratch->pieces, watch.check != nullptr ? *watch.check : unstoppable);
        if (root != nullptr) return root;
    }
    TreeNode *root = Expansion(scratch, funcs, hosts, limits, watch, arena).run(text, length);
    scratch->trim();
    return root;
}

} // namespace lp
