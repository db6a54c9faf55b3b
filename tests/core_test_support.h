// core_test_support.h - helpers shared by the core library tests: owners, float bits, walks, captured diagnostics.
#ifndef LIB_PARSE_CORE_TEST_SUPPORT_H
#define LIB_PARSE_CORE_TEST_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "containers/memory.h"
#include "lib_parse/diagnostics.h"
#include "robust_support.h"
#include "tree/handle.h"
#include "tree/operation_table.h"

namespace test {

using robust::bits;
using robust::ParserPtr;

inline lp::NodeData *data_of(const TreeNode *n) { return static_cast<lp::NodeData *>(n->data); }

// Equal bits, or both NaN.
inline bool same_value(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// The handle's tree in the order parser_walk visits it: depth, side, text,
// op, state and the value's bits.
using Visit = std::tuple<int, int, std::string, int, int, uint32_t>;
inline std::vector<Visit> walk(const Parser *p) {
    std::vector<Visit> out;
    parser_walk(
        p,
        [](void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
            static_cast<std::vector<Visit> *>(ctx)->emplace_back(depth, side, expr != nullptr ? expr : "<null>", op, state,
                                                                 bits(value));
        },
        &out);
    return out;
}

// Captures emitted diagnostics and exception reports for the scope's life,
// and restores the silent defaults afterwards.
class Capture {
public:
    explicit Capture(int level = 0) {
        dbg_set_level(level);
        dbg_set_sink(&Capture::sink, this);
        exception_set_handler(&Capture::handler, this);
    }
    ~Capture() {
        dbg_set_level(0);
        dbg_set_timestamp(0);
        dbg_set_localized(0);
        dbg_set_sink(nullptr, nullptr);
        exception_set_handler(nullptr, nullptr);
    }
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    struct Piece {
        int level;
        std::string text;
    };
    std::vector<Piece> pieces;
    std::vector<int> codes; // exception codes, in order

private:
    static void sink(void *ctx, int level, const char *text) { static_cast<Capture *>(ctx)->pieces.push_back({level, text}); }
    static void handler(void *ctx, const char *, int, int code) { static_cast<Capture *>(ctx)->codes.push_back(code); }
};

} // namespace test

#endif // LIB_PARSE_CORE_TEST_SUPPORT_H
