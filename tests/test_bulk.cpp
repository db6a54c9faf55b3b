// test_bulk.cpp - parser_calc_bulk against the row-by-row loop it stands for, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "lib_parse.h"

namespace {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

bool same_value(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

struct Node {
    std::string expr;
    int op, state;
    float value;
};

std::vector<Node> view(const Parser *p) {
    std::vector<Node> nodes;
    parser_walk(
        p,
        [](void *ctx, int, int, const char *expr, int op, int state, float value) {
            static_cast<std::vector<Node> *>(ctx)->push_back(Node{expr != nullptr ? expr : "", op, state, value});
        },
        &nodes);
    return nodes;
}

// Deterministic column values, with the awkward ones mixed in.
std::vector<float> column(uint32_t seed, size_t rows) {
    static const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, INFINITY, -INFINITY, NAN, 1e30f, 2147483648.0f, 0.5f};
    std::vector<float> values(rows);
    uint32_t state = seed * 2654435761u + 1;
    for (float &v : values) {
        state = state * 1664525u + 1013904223u;
        v = (state >> 28) == 0 ? special[(state >> 8) % 10] : (static_cast<float>(state >> 12) - 524288.0f) / 4096.0f;
    }
    return values;
}

struct Case {
    const char *text;
    std::vector<const char *> names; // in the order parser_var is called each row
};

TEST(Bulk, EveryRowGivesWhatTheLoopGives) {
    exception_set_handler([](void *, const char *, int, int) {}, nullptr);
    const Case cases[] = {
        {"2*(x+1)-cos(y)", {"x", "y"}},
        {"(x+1)*(y-2)/(x*y+3)", {"x", "y"}},
        {"x^y%3-x%0.5", {"x", "y"}},
        {"sin(x)*cos(y)+atan(x/y)-exp(x/10)+log10(y+2)+logn(x)-log2(y)+tan(x)", {"x", "y"}},
        {"x+x*x-x/x", {"x"}},
        {"xy+x", {"xy"}},              // x takes xy's value by prefix
        {"x+y", {"x", "x", "y"}},      // the later column of x wins
        {"x+zz+q", {"x"}},             // zz and q are never defined: they keep 0
        {"cos(0)*2+1", {"x"}},         // no variable used: every row the same
        {"3", {}},                     // no variables at all
        {"x-(y-(x-(y-(x-(y-1)))))", {"y", "x"}},
        {"f(x)+f(y)", {"x", "y"}},     // user function
        {"x+", {"x"}},                 // left unexpanded: one operand text
        {"-x*y", {"x", "y"}},
    };
    for (const Case &c : cases) {
        for (size_t rows : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{255}, size_t{1000}}) {
            std::vector<std::vector<float>> data;
            std::vector<const float *> columns;
            for (size_t j = 0; j < c.names.size(); ++j) data.push_back(column(static_cast<uint32_t>(j + rows), rows));
            for (const auto &d : data) columns.push_back(d.data());

            ParserPtr bulk(parser_new()), loop(parser_new());
            for (Parser *p : {bulk.get(), loop.get()}) {
                parser_func(p, "f(a)", "a*a");
                parser_var(p, "y", 7.0f); // defined before: updated, not added
            }
            std::vector<float> got(rows + 1, 123.0f), want(rows + 1, 123.0f);
            ASSERT_EQ(parser_calc_bulk(bulk.get(), c.text, c.names.data(), columns.data(), c.names.size(), rows, got.data()), 0);
            for (size_t i = 0; i < rows; ++i) {
                for (size_t j = 0; j < c.names.size(); ++j) parser_var(loop.get(), c.names[j], columns[j][i]);
                want[i] = parser_calc(loop.get(), c.text);
            }
            for (size_t i = 0; i <= rows; ++i)
                ASSERT_TRUE(same_value(got[i], want[i])) << c.text << " rows " << rows << " row " << i << ": " << got[i] << " vs " << want[i];
            EXPECT_EQ(bits(got[rows]), bits(123.0f)) << "wrote past the last row";
            // Afterwards the handle is as the loop left it: values and tree.
            const float after_bulk = parser_calc(bulk.get(), "x+y*2");
            const float after_loop = parser_calc(loop.get(), "x+y*2");
            EXPECT_TRUE(same_value(after_bulk, after_loop)) << c.text << " rows " << rows;
            parser_calc(bulk.get(), c.text);
            parser_calc(loop.get(), c.text);
            const std::vector<Node> a = view(bulk.get()), b = view(loop.get());
            ASSERT_EQ(a.size(), b.size()) << c.text;
            for (size_t k = 0; k < a.size(); ++k)
                EXPECT_TRUE(a[k].expr == b[k].expr && a[k].state == b[k].state && same_value(a[k].value, b[k].value))
                    << c.text << " rows " << rows << " node " << k;
        }
    }
    exception_set_handler(nullptr, nullptr);
}

TEST(Bulk, BadArgumentsAreRefusedAndChangeNothing) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 5.0f);
    const char *names[] = {"x"};
    const char *null_name[] = {nullptr};
    const float x[] = {1.0f, 2.0f};
    const float *columns[] = {x};
    const float *null_column[] = {nullptr};
    float out[2] = {-1.0f, -1.0f};
    struct Row {
        const char *what;
        Parser *parser;
        const char *text;
        const char *const *names;
        const float *const *columns;
        size_t vars, rows;
        float *out;
        int refused;
    };
    const Row rows[] = {
        {"null handle", nullptr, "x", names, columns, 1, 2, out, 1},
        {"null text", p.get(), nullptr, names, columns, 1, 2, out, 1},
        {"null names", p.get(), "x", nullptr, columns, 1, 2, out, 1},
        {"null name", p.get(), "x", null_name, columns, 1, 2, out, 1},
        {"null columns", p.get(), "x", names, nullptr, 1, 2, out, 1},
        {"null column", p.get(), "x", names, null_column, 1, 2, out, 1},
        {"null out", p.get(), "x", names, columns, 1, 2, nullptr, 1},
        {"no rows needs no columns or out", p.get(), "x", names, nullptr, 1, 0, nullptr, 0},
        {"no variables needs no names", p.get(), "x", nullptr, nullptr, 0, 2, out, 0},
    };
    for (const Row &r : rows) {
        out[0] = out[1] = -1.0f;
        const int result = parser_calc_bulk(r.parser, r.text, r.names, r.columns, r.vars, r.rows, r.out);
        EXPECT_EQ(result != 0, r.refused != 0) << r.what;
        if (r.refused) {
            EXPECT_EQ(out[0], -1.0f) << r.what;
        }
        EXPECT_EQ(parser_calc(p.get(), "x"), 5.0f) << r.what << ": x was changed";
    }
    EXPECT_EQ(out[1], 5.0f); // the last row: 2 rows of "x" with x = 5
}

} // namespace
