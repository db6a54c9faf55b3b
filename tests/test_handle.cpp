// test_handle.cpp - the parser handle: new state, variable and function definitions, release, null arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

void count_visit(void *ctx, int, int, const char *, int, int, float) { ++*static_cast<int *>(ctx); }

// Null arguments leave a new handle as it was made: no variables, functions,
// cached text or errors, and a single root without text.
TEST(Handle, NullArgumentsDoNothing) {
    ParserPtr p(parser_new());
    EXPECT_EQ(parser_var(nullptr, "x", 1.0f), 0);
    EXPECT_EQ(parser_var(p.get(), nullptr, 1.0f), 0);
    EXPECT_EQ(parser_func(nullptr, "f(x)", "x"), 0);
    EXPECT_EQ(parser_func(p.get(), nullptr, "x"), 0);
    EXPECT_EQ(parser_func(p.get(), "f(x)", nullptr), 0);
    EXPECT_EQ(list_count(p->vars) + list_count(p->funcs), 0);
    EXPECT_EQ(p->cache->dirty, 0);
    parser_expand(nullptr, "1");
    parser_expand(p.get(), nullptr);
    EXPECT_EQ(data_of(p->tree)->expr, nullptr);
    EXPECT_TRUE(std::isnan(parser_calc(nullptr, "1")));
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), nullptr)));
    EXPECT_EQ(p->cache->last, nullptr);

    int code = -7, visits = 0;
    EXPECT_EQ(parser_errors(nullptr, &code) + parser_errors(p.get(), &code), 0);
    EXPECT_EQ(code, -7);
    parser_walk(nullptr, count_visit, &visits);
    parser_walk(p.get(), nullptr, &visits);
    EXPECT_EQ(visits, 0);
    parser_walk(p.get(), count_visit, &visits); // the new handle's single root
    EXPECT_EQ(visits, 1);
    EXPECT_TRUE(parser_op_symbol(-1) == nullptr && parser_op_symbol(14) == nullptr);
    EXPECT_STREQ(parser_op_symbol(13), "log10");
    EXPECT_STREQ(parser_error_text(99), "unknown error");
    for (int c : {0, 2, 3, 4, 5, 6, 7}) EXPECT_STRNE(parser_error_text(c), "unknown error") << c;
    parser_destroy(nullptr);
}

// A negative value only reads a limit; one above the maximum, 2^31 - 1,
// sets the maximum; the value replaced is returned, and the other handle
// keeps its own. (The native-code switch: test_shared_library, test_native.)
TEST(Handle, LimitsReadSetAndClamp) {
    ParserPtr p(parser_new()), q(parser_new());
    for (int which = 0; which < PARSER_LIMIT_NATIVE_CODE; ++which) {
        const long long initial = parser_limit(p.get(), which, -1);
        EXPECT_GT(initial, 0) << which;
        EXPECT_EQ(parser_limit(p.get(), which, 7), initial) << which;
        EXPECT_EQ(parser_limit(p.get(), which, LLONG_MIN), 7) << which;
        EXPECT_EQ(parser_limit(p.get(), which, LLONG_MAX), 7) << which;
        EXPECT_EQ(parser_limit(p.get(), which, -1), INT32_MAX) << which;
        EXPECT_EQ(parser_limit(q.get(), which, -1), initial) << "the other handle's " << which;
    }
    for (int which : {-1, PARSER_LIMIT_COUNT}) EXPECT_EQ(parser_limit(p.get(), which, 5), -1) << which;
    EXPECT_EQ(parser_limit(nullptr, PARSER_LIMIT_SUBST_DEPTH, 5), -1);
}

namespace {

// A host function whose value is the number its context carries.
float context_number(void *ctx, const float *, int) { return static_cast<float>(reinterpret_cast<uintptr_t>(ctx)); }

// The record of a walk of the variable list, newest first: the first whose
// name begins with TEXT, or (EXACT) equals it.
const Variable *walk_variables(const Parser *p, const std::string &text, bool exact) {
    for (const ListNode *n = p->vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        if (exact ? text == v->name : std::string(v->name).compare(0, text.size(), text) == 0) return v;
    }
    return nullptr;
}

// The newest user function whose name begins CALL, by a walk of the function list.
const UserFunction *walk_functions(const Parser *p, const std::string &call) {
    for (const ListNode *n = p->funcs->head; n != nullptr; n = n->next) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        const std::string proto(f->proto), name = proto.substr(0, proto.find('('));
        if (call.compare(0, name.size(), name) == 0) return f;
    }
    return nullptr;
}

} // namespace

// Names from three bytes, most of them short, so that they begin one another
// and meet again, the long ones often alike in their first eight bytes:
// every lookup of the indexes agrees with a walk of the lists, newest first,
// and parser_calc reads what the walk finds.
TEST(Handle, LookupsAgreeWithAWalkOfTheLists) {
    std::mt19937 random(20240611);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<std::string> used; // every name given so far, to meet again
    const auto name = [&](int longest) {
        if (!used.empty() && pick(3) == 0) return used[static_cast<size_t>(pick(static_cast<int>(used.size())))];
        std::string s(static_cast<size_t>(pick(4) == 0 ? pick(longest + 1) : pick(4)), 'a');
        for (char &c : s) c = "ab\xe9"[pick(10) < 9 ? pick(2) : 2];
        if (s.size() > 8 && pick(2) == 0) s.replace(0, 8, 8, 'a'); // the same first eight bytes as others
        used.push_back(s);
        return s;
    };
    ParserPtr p(parser_new());
    std::map<std::string, float *> values;  // each variable's address, as first given
    std::map<std::string, uintptr_t> hosts; // the number each host function returns
    int functions = 0;
    for (int step = 1; step <= 4000; ++step) {
        const int what = pick(20);
        if (what < 8) { // define or update, by value or through the address
            const std::string n = name(11);
            float *&at = values[n];
            if (pick(2) == 0) {
                parser_var(p.get(), n.c_str(), static_cast<float>(step));
                if (at == nullptr) at = parser_var_ref(p.get(), n.c_str());
            } else {
                float *ref = parser_var_ref(p.get(), n.c_str());
                EXPECT_TRUE(at == nullptr || ref == at) << "'" << n << "' moved";
                at = ref;
                *ref = static_cast<float>(step);
            }
            EXPECT_EQ(*at, static_cast<float>(step)) << "'" << n << "'";
        } else if (what < 11) { // a user function whose body is its number, some protos without "(": in
                                // the first half no name shorter than two bytes, so that calls find none
            const std::string n = name(3);
            if (step <= 2000 && n.size() < 2) continue;
            parser_func(p.get(), (n + (pick(5) == 0 ? "" : "(x)")).c_str(), std::to_string(++functions).c_str());
        } else if (what < 13) { // a host function registered, replaced or removed; long
                                // names may share their first eight bytes
            const std::string n = name(11);
            if (n.empty()) continue;
            const bool remove = pick(3) == 0;
            parser_native_func(p.get(), n.c_str(), -1, remove ? nullptr : context_number,
                               reinterpret_cast<void *>(static_cast<uintptr_t>(step)), 0);
            if (remove)
                hosts.erase(n);
            else
                hosts[n] = static_cast<uintptr_t>(step);
        } else { // look a text up every way
            const std::string t = name(12);
            const Variable *prefix = walk_variables(p.get(), t, false);
            EXPECT_EQ(lp::variable_by_prefix(&p->var_index, t.c_str()), prefix) << "prefix '" << t << "'";
            EXPECT_EQ(lp::var_index_find(&p->var_index, t.c_str()), walk_variables(p.get(), t, true)) << "'" << t << "'";
            // A call text never equals a function's name; T may.
            EXPECT_EQ(lp::name_trie_newest_prefix_of(&p->func_index, t.data(), t.size()), walk_functions(p.get(), t))
                << "function named by '" << t << "'";
            if (t.empty()) continue; // a number, and "(1)" a bracketed one
            EXPECT_EQ(parser_calc(p.get(), t.c_str()), prefix != nullptr ? prefix->value : 0.0f) << "'" << t << "'";
            const auto host = hosts.find(t);
            const UserFunction *f = walk_functions(p.get(), t + "(1)");
            const float call = host != hosts.end() ? static_cast<float>(host->second) : f != nullptr ? std::stof(f->body) : 0.0f;
            EXPECT_EQ(parser_calc(p.get(), (t + "(1)").c_str()), call) << "'" << t << "(1)'";
        }
    }
    EXPECT_EQ(list_count(p->vars), static_cast<int>(values.size()));
    for (const auto &[n, at] : values) EXPECT_EQ(parser_var_ref(p.get(), n.c_str()), at) << "'" << n << "'";
}

// Variables defined and removed at random, names sharing prefixes, short
// and long: after every step each lookup, exact and by prefix, agrees with
// a walk of the variables still defined, newest first.
TEST(Handle, RemovedVariablesAreFoundByNoLookup) {
    std::mt19937 random(7);
    const std::vector<std::string> stems = {"a", "ab", "abc", "abcdefgh", "abcdefghij", "b", "bb", "x_long_name_", ""};
    std::vector<std::string> names;
    for (const std::string &stem : stems)
        for (int k = 0; k < 6; ++k) names.push_back(stem + (k == 0 ? "" : std::to_string(k)));
    names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
    ParserPtr p(parser_new());
    std::vector<std::pair<std::string, float *>> defined; // oldest first, as a model
    for (int step = 0; step < 3000; ++step) {
        const std::string &name = names[random() % names.size()];
        const auto at = std::find_if(defined.begin(), defined.end(), [&](const auto &d) { return d.first == name; });
        if (at != defined.end() && random() % 2 == 0) {
            float *old = at->second;
            ASSERT_EQ(parser_unset(p.get(), name.c_str()), 0);
            defined.erase(at);
            *old = 1.0f; // the address stays valid, read by no lookup
        } else if (at == defined.end()) {
            defined.emplace_back(name, parser_var_ref(p.get(), name.c_str()));
        } else {
            EXPECT_EQ(parser_unset(p.get(), (name + "?").c_str()), 1); // no such variable
        }
        const std::string &probe = names[random() % names.size()];
        for (const std::string &text : {probe, probe.substr(0, probe.size() / 2), probe.substr(0, 1)}) {
            const Variable *exact = lp::var_index_find(&p->var_index, text.c_str());
            const auto same = std::find_if(defined.begin(), defined.end(), [&](const auto &d) { return d.first == text; });
            EXPECT_EQ(exact != nullptr ? &exact->value : nullptr, same != defined.end() ? same->second : nullptr)
                << "step " << step << " '" << text << "'";
            float *newest = nullptr;
            for (const auto &[n, value] : defined)
                if (n.compare(0, text.size(), text) == 0) newest = value;
            const Variable *prefix = lp::variable_by_prefix(&p->var_index, text.c_str());
            EXPECT_EQ(prefix != nullptr ? &prefix->value : nullptr, newest) << "step " << step << " '" << text << "'";
        }
    }
    EXPECT_EQ(parser_vars(p.get(), nullptr, nullptr), static_cast<int>(defined.size()));
    EXPECT_EQ(p->var_index.count, defined.size());
    EXPECT_LT(lp::var_index_probes(&p->var_index), 4 * defined.size() + 1); // no run left behind
}

namespace {

// Builds a variable table of NAMES (FACTOR 0: the table picks its own) and
// returns the probes a lookup of every name takes, in all.
size_t probes_of(const std::vector<std::string> &names, uint64_t factor = 0) {
    std::vector<Variable> vars(names.size());
    lp::VarIndex index{};
    index.factor = factor;
    for (size_t k = 0; k < names.size(); ++k) {
        vars[k] = Variable{const_cast<char *>(names[k].c_str()), 0.0f};
        lp::var_index_add(&index, &vars[k]);
    }
    for (const Variable &v : vars) EXPECT_EQ(lp::var_index_find(&index, v.name), &v) << v.name;
    const size_t probes = lp::var_index_probes(&index);
    lp::var_index_free(&index);
    return probes;
}

} // namespace

// Each table spreads names by a secret factor of its own: names crafted to
// share the top bits of the hash by a known factor (the one every table once
// took) pile up under it and spread under the table's own.
TEST(Handle, NameTablesAreKeyedSoCraftedNamesSpread) {
    const uint64_t known = 0x9E3779B97F4A7C15ull;
    const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> crafted;
    for (uint64_t n = 0; crafted.size() < 3000; ++n) {
        // 'n' and six more name bytes: a short name, whose head is its bytes.
        std::string name = "n";
        for (uint64_t rest = n, k = 0; k < 6; ++k, rest /= 62) name += digits[rest % 62];
        uint64_t head = 0;
        for (size_t i = 0; i < name.size(); ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(name[i])) << (8 * i);
        if (lp::keyed_hash(head, known) >> 52 == 0) crafted.push_back(name); // one home slot in every table up to 4,096 slots
    }
    const size_t n = crafted.size();
    EXPECT_GT(probes_of(crafted, known), n * n / 4); // piled up: each lookup walks the run
    EXPECT_LT(probes_of(crafted), 4 * n);            // spread as random names are

    // Among 100,000 names, the crafted ones cost what ordinary ones do.
    std::vector<std::string> ordinary, mixed = crafted;
    for (size_t k = 0; k < 100000; ++k) ordinary.push_back("o" + std::to_string(k));
    mixed.insert(mixed.end(), ordinary.begin(), ordinary.begin() + static_cast<std::ptrdiff_t>(100000 - n));
    const size_t mixed_probes = probes_of(mixed), ordinary_probes = probes_of(ordinary);
    EXPECT_LT(mixed_probes, ordinary_probes + ordinary_probes / 4) << mixed_probes << " " << ordinary_probes;
    // Names of one shape keep some of it in the bare product by a factor,
    // and one factor in a few dozen piles them into long runs (this one:
    // seven probes a lookup); spread, they take what random names take.
    EXPECT_LT(probes_of(ordinary, 0x46AAAAB16F304141ull), ordinary.size() * 3 / 2);

    lp::VarIndex a{}, b{}; // two tables never share a factor
    Variable v{const_cast<char *>("x"), 0.0f}, w{const_cast<char *>("x"), 0.0f};
    lp::var_index_add(&a, &v);
    lp::var_index_add(&b, &w);
    EXPECT_NE(a.factor, b.factor);
    EXPECT_EQ(a.factor & 1, 1u);
    lp::var_index_free(&a);
    lp::var_index_free(&b);
}
