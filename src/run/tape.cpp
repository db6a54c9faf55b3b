// tape.cpp - the interpreter's form of a program: its steps as operations on addresses.
//
// The steps run over a value stack, and the tape keeps that stack's slots,
// but a value that is already somewhere (a constant, a name's value kept at
// its read) is read there instead of being copied onto the stack first: the
// builder follows the steps with the place of each stacked value, and an
// operation takes its operands from those places. A value is copied into
// its slot only where a slot is what the next step needs: a host function's
// arguments, and the value a conditional's branch leaves.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "run/lane_math.h"
#include "run/program.h"
#include "support/error_log.h"
#include "tree/host_functions.h"

namespace lp {

namespace {

// An arithmetic code's operation and form are its index divided by 3 and
// the remainder; the pairs follow in that order (program.h).
static_assert(static_cast<int>(TapeCode::ADD) == 0 && static_cast<int>(TapeCode::SUB_A) == 4 &&
                  static_cast<int>(TapeCode::MUL_B) == 8 && static_cast<int>(TapeCode::DIV) == 9,
              "three forms per arithmetic operation, from 0");
static_assert(static_cast<int>(TapeCode::SUB_MUL_LA) == static_cast<int>(TapeCode::ADD_ADD_MA) + (1 * 4 + 2) * 4 + 2,
              "four forms per pair");
static_assert(static_cast<int>(TapeCode::MUL_UNARY_L) == static_cast<int>(TapeCode::ADD_UNARY_M) + 2 * 2 + 1 &&
                  static_cast<int>(TapeCode::UNARY_SUB_MB) == static_cast<int>(TapeCode::UNARY_ADD_MA) + 4 + 1,
              "two forms per operation and routine, four per routine and operation");

struct TapeBuilder {
    Program &p;
    const float **place; // where the value at each depth of the stack is
    uint32_t *op_at;     // the tape's length when each step began: where a jump to it goes
    size_t depth = 0;
    // The slot the last operation wrote, whose value is still in the
    // register when the next one runs; null after anything else.
    const float *last = nullptr;
    bool impure_calls = false;
    size_t copies = 0; // COPY ops emitted

    TapeOp &emit(TapeCode code) {
        if (impossible(p.tape_count == p.tape_capacity)) p.tape_count -= 1; // the bound below holds
        TapeOp &op = p.tape[p.tape_count++];
        op = TapeOp{};
        op.code = code;
        copies += code == TapeCode::COPY;
        last = nullptr;
        return op;
    }
    // An operation of two operands at depths D and D + 1, in the form that
    // takes the one the operation before left in the register. CODE is the
    // form that reads both, followed by its _A and _B forms.
    TapeOp &two_operands(TapeCode code, size_t d) {
        const float *const before = last;
        const int form = place[d] == before ? 1 : place[d + 1] == before ? 2 : 0;
        TapeOp &op = emit(static_cast<TapeCode>(static_cast<int>(code) + form));
        op.a = place[d];
        op.b = place[d + 1];
        op.to = result(d);
        last = op.to;
        return op;
    }
    float *slot(size_t d) const { return p.stack + d; }
    // Puts the value at depth D into its slot, where it may not be.
    void settle(size_t d) {
        if (place[d] == slot(d)) return;
        TapeOp &copy = emit(TapeCode::COPY);
        copy.a = place[d];
        copy.to = slot(d);
        place[d] = slot(d);
    }
    // An operation's result, at depth D.
    float *result(size_t d) {
        place[d] = slot(d);
        return slot(d);
    }

    void leaf(size_t index) {
        const LeafStep &leaf = p.leaves[index];
        if (!leaf.is_name) {
            place[depth++] = &leaf.constant;
            return;
        }
        float *kept = p.kept + index;
        if (impure_calls) {
            // Read where it stands, which a host function may change
            // before (one not pure: a pure one has no effect).
            TapeOp &read = emit(TapeCode::COPY);
            read.a = leaf.source;
            read.to = kept;
            place[depth++] = kept;
            return;
        }
        // Nothing changes the name while the tape runs: the operations read
        // its variable, and a load before the tape keeps the value for the
        // records, off the chain an operation waits on. Once a run: its
        // other leaves' values are the first leaf's, copied at the sync.
        if (const float *same = loaded(leaf.source))
            p.loads[p.tape_capacity - ++p.shared_count] = TapeLoad{same, kept};
        else
            p.loads[p.load_count++] = TapeLoad{leaf.source, kept};
        place[depth++] = leaf.source;
    }
    // Where a load of the first few names already puts FROM's value, or
    // null. Only so many are looked at, so that a text of thousands of
    // names is not searched once per leaf; most texts have a few.
    const float *loaded(const float *from) const {
        constexpr size_t kNamesShared = 8;
        for (size_t k = 0, n = std::min(p.load_count, kNamesShared); k < n; ++k)
            if (p.loads[k].from == from) return p.loads[k].to;
        return nullptr;
    }

    void op(const OpStep &step) {
        const OpKind &kind = kind_of(step.op);
        switch (kind.compute) {
        case Compute::ADD: return arithmetic(TapeCode::ADD);
        case Compute::SUB: return arithmetic(TapeCode::SUB);
        case Compute::MUL: return arithmetic(TapeCode::MUL);
        case Compute::DIV: return arithmetic(TapeCode::DIV);
        case Compute::ROUTINE:
            if (kind.arity == 1) {
                if (fuse_routine(lane_routine(step.op))) return;
                const bool in_register = place[depth - 1] == last;
                TapeOp &op = emit(in_register ? TapeCode::UNARY_A : TapeCode::UNARY);
                op.fn.unary = lane_routine(step.op); // the operation's value, by a kernel where faster
                op.a = place[depth - 1];
                op.to = result(depth - 1);
                last = op.to;
            } else {
                depth -= 1;
                two_operands(TapeCode::BINARY, depth - 1).fn.binary = kind.binary;
            }
            return;
        case Compute::HOST: {
            const size_t count = operand_count(p, step);
            const int32_t same = count == 2 ? form_operation(p.calls[step.call].call->lanes) : -1;
            if (same >= 0) { // the math set's own comparison: the operation, its value kept as the call's
                depth -= 1;
                TapeOp &op = two_operands(TapeCode::BINARY, depth - 1);
                op.fn.binary = kind_of(same).binary;
                float *const kept = p.kept + kept_call(p, step.call);
                op.to = kept;
                place[depth - 1] = kept;
                last = kept;
                return;
            }
            depth -= count;
            for (size_t d = depth; d < depth + count; ++d) settle(d);
            TapeOp &op = emit(TapeCode::HOST);
            op.fn.call = &p.calls[step.call];
            op.a = slot(depth);
            op.keep = p.kept + kept_call(p, step.call);
            op.to = result(depth++);
            last = op.to;
            return;
        }
        case Compute::BRANCH: {
            TapeOp &op = emit(TapeCode::BRANCH);
            op.a = place[--depth];
            op.to = p.kept + kept_branch(p, step.branch);
            op.jump = static_cast<uint32_t>(step.target); // a step's index, made the tape's at the end
            return;
        }
        case Compute::JUMP: {
            settle(--depth); // where the JOIN finds it, whichever branch left it
            emit(TapeCode::JUMP).jump = static_cast<uint32_t>(step.target);
            return;
        }
        case Compute::JOIN:
            settle(depth - 1);
            last = nullptr; // a jump comes here too
            return;
        case Compute::LOCAL:
            // The parameter's argument, below the body: it stays in place
            // while the body's values are above it.
            place[depth] = place[step.target];
            last = nullptr; // not the last operation's value, though in its slot
            depth += 1;
            return;
        case Compute::SCOPE: {
            depth -= static_cast<size_t>(step.target) + 1;
            const float *value = place[depth + static_cast<size_t>(step.target)];
            const bool in_a_slot = value >= p.stack && value < p.stack + p.max_stack;
            if (in_a_slot && value != slot(depth)) {
                // A slot above the scope, which the next values take.
                TapeOp &copy = emit(TapeCode::COPY);
                copy.a = value;
                copy.to = result(depth);
            } else {
                place[depth] = value;
            }
            depth += 1;
            return;
        }
        case Compute::NONE: break;
        }
        impossible(true); // not a step of a program
    }

    void arithmetic(TapeCode code) {
        depth -= 1;
        if (!fuse(code, depth - 1)) two_operands(code, depth - 1);
    }
    // The operation CODE of the values at depths D and D + 1, joined to the
    // op before when that op is an arithmetic operation or a routine of one
    // operand whose value is one of the two, so that the pair makes one dispatch. Its value is used by
    // nothing else: the stack's top, taken now. A jump never lands between
    // them: a jump, a branch and a join all leave `last` null.
    bool fuse(TapeCode code, size_t d) {
        TapeOp *const first = op_before();
        if (first == nullptr) return false;
        const bool left = place[d] == last;
        if (!left && place[d + 1] != last) return false;
        const int second_op = static_cast<int>(code) / 3; // CODE is the form that reads both
        const float *const other = left ? place[d + 1] : place[d];
        if (first->code == TapeCode::UNARY || first->code == TapeCode::UNARY_A) {
            const int form = (first->code == TapeCode::UNARY_A ? 2 : 0) + (left ? 0 : 1);
            first->code = static_cast<TapeCode>(static_cast<int>(TapeCode::UNARY_ADD_MA) + second_op * 4 + form);
            first->b = other;
        } else if (first->code <= TapeCode::DIV_B) {
            const int first_op = static_cast<int>(first->code) / 3;
            // Its first operand in the register only in the _A form: a _B
            // form's was written to its slot, and is read there.
            const int form = (static_cast<int>(first->code) % 3 == 1 ? 2 : 0) + (left ? 0 : 1);
            first->code =
                static_cast<TapeCode>(static_cast<int>(TapeCode::ADD_ADD_MA) + (first_op * 4 + second_op) * 4 + form);
            first->fn.c = other;
        } else {
            return false;
        }
        first->to = result(d);
        last = first->to;
        return true;
    }
    // The routine FN of the value at the stack's top, joined to the
    // arithmetic operation before that computed it.
    bool fuse_routine(UnaryRoutine fn) {
        TapeOp *const first = op_before();
        if (first == nullptr || place[depth - 1] != last || first->code > TapeCode::DIV_B) return false;
        const int form = static_cast<int>(first->code) % 3 == 1 ? 1 : 0;
        first->code = static_cast<TapeCode>(static_cast<int>(TapeCode::ADD_UNARY_M) +
                                            static_cast<int>(first->code) / 3 * 2 + form);
        first->fn.unary = fn;
        first->to = result(depth - 1);
        last = first->to;
        return true;
    }
    // The op just emitted, when it computed the value in the register.
    TapeOp *op_before() {
        if (last == nullptr || p.tape_count == 0 || p.tape[p.tape_count - 1].to != last) return nullptr;
        return &p.tape[p.tape_count - 1];
    }
};

// An op a conditional's branch may run whichever way the condition goes:
// arithmetic, which has no effect and cannot fail, and copies.
bool runs_either_way(const TapeOp &op) {
    return op.code <= TapeCode::DIV_B || op.code == TapeCode::COPY ||
           (op.code >= TapeCode::ADD_ADD_MA && op.code <= TapeCode::DIV_DIV_LB);
}

// A conditional whose branches are each a few such ops runs both, and a
// SELECT keeps one value: a condition that changes from run to run costs a
// mispredicted jump, more than the branch not needed. The first branch's
// value goes to select_first, the JUMP goes, the second branch moves up one
// op, and the SELECT follows it where the jump went. Nothing else jumps into
// the branches, which hold no jump, so only the BRANCH is rewritten: a COPY
// that keeps the condition for the records.
void select_without_jumps(Program *p) {
    constexpr size_t kMostOps = 3; // in each branch
    for (size_t k = p->tape_count; k-- > 0;) {
        TapeOp &branch = p->tape[k];
        if (branch.code != TapeCode::BRANCH) continue;
        const size_t second = branch.jump;
        if (second < k + 3 || second - k - 2 > kMostOps || p->tape[second - 1].code != TapeCode::JUMP) continue;
        const size_t end = p->tape[second - 1].jump;
        if (end <= second || end - second > kMostOps) continue;
        bool plain = p->tape[second - 2].to == p->tape[end - 1].to;
        for (size_t i = k + 1; i < end && plain; ++i) plain = i == second - 1 || runs_either_way(p->tape[i]);
        if (!plain) continue;
        float *const value = p->tape[end - 1].to;
        p->tape[second - 2].to = &p->select_first;
        for (size_t i = second; i < end; ++i) p->tape[i - 1] = p->tape[i];
        TapeOp &select = p->tape[end - 1];
        select = TapeOp{};
        select.code = TapeCode::SELECT;
        select.a = branch.to;
        select.b = &p->select_first;
        select.to = value;
        branch.code = TapeCode::COPY;
    }
}

// A copy into a slot that no op before it writes is made by the loads
// before the tape instead, when what it copies cannot change while the tape
// runs: a constant, or a name's variable where no host call can change
// the name. Nothing before the copy reads the
// slot, since nothing before it wrote it, and the jumps only go forward.
// These are a host call's arguments, most often. (The records' sync has a
// stack of its own.) The tape closes up, and each jump is to the op that
// took the place of the one it went to.
// A constant copied into a slot that no other op writes stays there from
// run to run: it is written once, now, and not loaded at all.
// WRITES and AT are scratch arrays of the tape's capacity.
void copies_before_the_tape(Program *p, bool names_stay, uint32_t *writes, uint32_t *at) {
    const auto address = [](const void *x) { return reinterpret_cast<uintptr_t>(x); };
    const auto within = [&](const void *x, const void *from, const void *to) {
        return address(x) >= address(from) && address(x) < address(to);
    };
    const auto slot_of = [&](const float *x) {
        return within(x, p->stack, p->stack + p->max_stack) ? static_cast<size_t>(x - p->stack) : SIZE_MAX;
    };
    if (p->max_stack > p->tape_capacity) return;
    std::fill(writes, writes + p->max_stack, 0u);
    const size_t loads_before = p->load_count;
    size_t kept = 0;
    for (size_t k = 0; k < p->tape_count; ++k) {
        const TapeOp &op = p->tape[k];
        at[k] = static_cast<uint32_t>(kept);
        const size_t slot = slot_of(op.to);
        // Where no host function can change a name, an operand that is
        // neither a slot, a kept value nor a constant is a name's variable.
        const bool constant = within(op.a, p->leaves, p->leaves + p->leaf_count);
        const bool variable = !constant && slot_of(op.a) == SIZE_MAX &&
                              !within(op.a, p->kept, p->kept + kept_branch(*p, p->branch_count)) &&
                              op.a != &p->select_first;
        const bool stays = constant || (names_stay && variable);
        const bool first = slot != SIZE_MAX && writes[slot] == 0;
        if (slot != SIZE_MAX) writes[slot] += 1;
        if (op.code == TapeCode::COPY && stays && first && p->load_count + p->shared_count < p->tape_capacity) {
            p->loads[p->load_count++] = TapeLoad{op.a, op.to};
        } else {
            if (kept != k) p->tape[kept] = op;
            kept += 1;
        }
    }
    if (kept == p->tape_count) return;
    size_t loads = loads_before;
    for (size_t k = loads_before; k < p->load_count; ++k) {
        const TapeLoad load = p->loads[k];
        if (within(load.from, p->leaves, p->leaves + p->leaf_count) && writes[slot_of(load.to)] == 1)
            *load.to = *load.from; // a constant, in a slot its copy alone writes
        else
            p->loads[loads++] = load;
    }
    p->load_count = loads;
    for (size_t k = 0; k < kept && p->branch_count != 0; ++k) {
        TapeOp &op = p->tape[k];
        if (op.code == TapeCode::BRANCH || op.code == TapeCode::JUMP) op.jump = at[op.jump];
    }
    p->tape_count = kept;
}

} // namespace

void program_tape_room(Program *p) {
    // A step makes at most one operation, a leaf at most one read, each
    // value that is not in its slot is copied there at most once, and END.
    const size_t room = 2 * p->order_count + p->leaf_count + 2;
    // One block, kept with the program: the tape, the loads, and the
    // builder's two arrays (a warm text allocates nothing).
    constexpr size_t kBytesPerRoom = sizeof(TapeOp) + sizeof(TapeLoad) + sizeof(const float *) + sizeof(uint32_t);
    if (p->tape_capacity < room) {
        std::free(p->tape);
        p->tape = static_cast<TapeOp *>(lp_malloc(room * kBytesPerRoom));
        p->tape_capacity = room;
    }
}

void program_tape(Program *p) {
    program_tape_room(p); // the build made it: no run allocates
    const size_t capacity = p->tape_capacity;
    p->tape_count = 0;
    p->loads = reinterpret_cast<TapeLoad *>(p->tape + capacity);
    p->load_count = 0;
    p->shared_count = 0;
    auto *place = reinterpret_cast<const float **>(p->loads + capacity);
    TapeBuilder b{*p, place, reinterpret_cast<uint32_t *>(place + capacity)};
    for (size_t k = 0; k < p->call_count; ++k) b.impure_calls |= !p->calls[k].call->pure;
    for (size_t s = 0; s < p->order_count; ++s) {
        b.op_at[s] = static_cast<uint32_t>(p->tape_count);
        const int32_t entry = p->order[s];
        if (entry < 0) {
            b.leaf(static_cast<size_t>(-entry - 1));
        } else {
            b.op(p->ops[entry]);
            // A jump to a JOIN goes past the copy the second branch needs.
            if (kind_of(p->ops[entry].op).compute == Compute::JOIN)
                b.op_at[s] = static_cast<uint32_t>(p->tape_count);
        }
    }
    b.op_at[p->order_count] = static_cast<uint32_t>(p->tape_count);
    b.emit(TapeCode::END).a = b.place[0];
    if (p->branch_count != 0) { // only conditionals jump
        for (size_t k = 0; k < p->tape_count; ++k) {
            TapeOp &op = p->tape[k];
            if (op.code == TapeCode::BRANCH || op.code == TapeCode::JUMP) op.jump = b.op_at[op.jump];
        }
        select_without_jumps(p);
    }
    if (b.copies != 0)
        copies_before_the_tape(p, !b.impure_calls, b.op_at, reinterpret_cast<uint32_t *>(place)); // both free now
    static const void *const *const code_at = tape_code_addresses();
    for (size_t k = 0; k < p->tape_count; ++k) {
        TapeOp &op = p->tape[k];
        if (code_at != nullptr) op.go = code_at[static_cast<int>(op.code)];
        if (op.code == TapeCode::BRANCH || op.code == TapeCode::JUMP) op.target = p->tape + op.jump;
    }
}

} // namespace lp
