// tree_view.cpp - rendering an expanded tree as indented lines, a bracketed text or Graphviz DOT.
#include "tree_view.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "number_text.h"

namespace lparse {

namespace {

// What each operation is called, by id.
constexpr const char *kOperationNames[PARSER_OP_COUNT] = {
    "sum", "difference", "power", "product", "quotient", "remainder", "cosine",
    "sine", "arc tangent", "tangent", "exponential", "natural log", "base-2 log", "base-10 log",
};

// And the standard grammar's, from PARSER_OP_NEG to PARSER_OP_FUNCTION.
constexpr const char *kStandardNames[] = {"negation", "not", "less than", "at most", "greater than", "at least",
                                          "equal", "not equal", "and", "or", "choice", "user function"};
static_assert(sizeof kStandardNames / sizeof *kStandardNames == PARSER_OP_FUNCTION - PARSER_OP_NEG + 1, "a name per id");

bool is_function(int op) { return op >= 6 && op < PARSER_OP_COUNT; }
bool is_operator(int op) { return (op >= 0 && op < 6) || (op >= PARSER_OP_LT && op <= PARSER_OP_OR); }
bool is_prefix(int op) { return op == PARSER_OP_NEG || op == PARSER_OP_NOT; }

// A leaf of the standard grammar: a number, a name, or a text with an error.
bool is_token(const std::string &text) {
    if (text.empty()) return false;
    const auto c = static_cast<unsigned char>(text[0]);
    if (std::isdigit(c) || c == '.') return text.find_first_of(" \t\r\n") == std::string::npos;
    return (std::isalpha(c) || c == '_') && std::all_of(text.begin(), text.end(), [](char b) {
               return std::isalnum(static_cast<unsigned char>(b)) || b == '_';
           });
}

std::string describe_standard_leaf(const ExprNode &node, const Calculator &calculator) {
    if (!is_token(node.text)) return node.text.empty() ? "empty text" : "not read: an error";
    const auto c = static_cast<unsigned char>(node.text[0]);
    if (std::isdigit(c) || c == '.') return "number";
    const std::optional<std::string> variable = calculator.lookup(node.text);
    return variable ? "variable '" + *variable + "'" : "parameter";
}

std::string describe(const ExprNode &node, const Calculator &calculator) {
    if (node.op >= 0 && node.op < PARSER_OP_COUNT) return kOperationNames[node.op];
    if (node.op == PARSER_OP_CALL) return "host function";
    if (node.op >= PARSER_OP_NEG && node.op <= PARSER_OP_FUNCTION) return kStandardNames[node.op - PARSER_OP_NEG];
    if (node.op != PARSER_OP_OPERAND) return "operation " + std::to_string(node.op);
    if (calculator.standard()) return describe_standard_leaf(node, calculator);
    switch (leaf_kind(node.text)) {
    case LeafKind::NUMBER: return node.text.empty() ? "empty operand" : "number";
    case LeafKind::NAME: {
        const std::optional<std::string> variable = calculator.lookup(node.text);
        return variable ? "variable '" + *variable + "'" : "name, no variable";
    }
    case LeafKind::UNBALANCED: return "not split: unbalanced brackets";
    case LeafKind::TRAILING_OPERATOR: return "not split: operator at the end";
    case LeafKind::UNRESOLVED_CALL: return "not split: call not substituted";
    }
    return "";
}

// Operand texts that would be hard to see bare are quoted: '', 'x ', 'x+'.
std::string shown(const ExprNode &node) {
    if (node.op != PARSER_OP_OPERAND) return node.text;
    const bool plain = !node.text.empty() && node.text.find(' ') == std::string::npos && !is_unsplit(leaf_kind(node.text));
    return plain ? node.text : "'" + node.text + "'";
}

// Deeper levels are not drawn one by one: a line would grow with the depth.
constexpr int kDrawnDepth = 32;

} // namespace

std::string render_tree(const ExpressionTree &tree, const Calculator &calculator) {
    std::string out;
    std::vector<bool> open_below; // per depth: a sibling still follows at that level
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ExprNode &node = tree.nodes[i];
        const auto depth = static_cast<size_t>(node.depth);
        // A node is the last child unless it is a left child whose parent also has a right one.
        bool last = true;
        if (node.parent >= 0) {
            const ExprNode &parent = tree.nodes[static_cast<size_t>(node.parent)];
            last = has_parts(parent.op) ? parent.args.back() == static_cast<int>(i)
                                        : !(parent.left == static_cast<int>(i) && parent.right >= 0);
        }
        if (open_below.size() <= depth) open_below.resize(depth + 1);
        open_below[depth] = !last;
        if (depth > static_cast<size_t>(kDrawnDepth)) {
            out += "[depth " + std::to_string(depth) + "] ";
        } else {
            for (size_t level = 1; level < depth; ++level) out += open_below[level] ? "│  " : "   ";
        }
        if (depth > 0) out += last ? "└─ " : "├─ ";
        out += shown(node) + "  " + describe(node, calculator) + " = " + format_float(node.value) + "\n";
    }
    return out;
}

std::string explain(const ExpressionTree &tree, bool standard) {
    if (tree.nodes.empty()) return "";
    // Iterative in-order walk: deep trees must not exhaust the stack.
    enum Stage { ENTER, BETWEEN, CLOSE, COMMA, QUESTION, COLON };
    std::vector<std::pair<int, Stage>> pending{{0, ENTER}};
    std::string out;
    while (!pending.empty()) {
        const auto [index, stage] = pending.back();
        pending.pop_back();
        if (index < 0) continue;
        const ExprNode &node = tree.nodes[static_cast<size_t>(index)];
        if (stage == CLOSE) {
            out += ')';
        } else if (stage == COMMA) {
            out += ',';
        } else if (stage == QUESTION || stage == COLON) {
            out += stage == QUESTION ? " ? " : " : ";
        } else if (node.op == PARSER_OP_SELECT) {
            out += '(';
            pending.push_back({index, CLOSE});
            for (int k = 2; k >= 0; --k) {
                pending.push_back({node.args[static_cast<size_t>(k)], ENTER});
                if (k > 0) pending.push_back({index, k == 2 ? COLON : QUESTION});
            }
        } else if (has_parts(node.op)) {
            // name(a,b,...): the arguments in order, commas between them; a
            // user function's body, its last part, is not shown.
            out += node.text + "(";
            pending.push_back({index, CLOSE});
            for (size_t k = node.args.size() - (node.op == PARSER_OP_FUNCTION ? 1 : 0); k-- > 0;) {
                pending.push_back({node.args[k], ENTER});
                if (k > 0) pending.push_back({index, COMMA});
            }
        } else if (is_prefix(node.op)) {
            out += "(" + node.text;
            pending.push_back({index, CLOSE});
            pending.push_back({node.right, ENTER});
        } else if (stage == BETWEEN) {
            out += node.text;
            pending.push_back({index, CLOSE});
            pending.push_back({node.right, ENTER});
        } else if (is_operator(node.op)) {
            out += '(';
            pending.push_back({index, BETWEEN});
            pending.push_back({node.left, ENTER});
        } else if (is_function(node.op)) {
            // An operator argument brings its own brackets: logn((0-1)) reads as logn(0-1).
            out += node.text;
            const int argument = node.right >= 0 ? tree.nodes[static_cast<size_t>(node.right)].op : -1;
            const bool own = is_operator(argument) || is_prefix(argument) || argument == PARSER_OP_SELECT;
            if (!own) {
                out += '(';
                pending.push_back({index, CLOSE});
            }
            pending.push_back({node.right, ENTER});
        } else {
            // A text left unsplit is quoted, so '2*-3' shows as ('2*'-3).
            const bool quoted = standard ? !is_token(node.text) : is_unsplit(leaf_kind(node.text));
            out += quoted ? "'" + node.text + "'" : node.text;
        }
    }
    return out;
}

namespace {

std::string dot_escaped(const std::string &text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

std::string render_dot(const ExpressionTree &tree) {
    std::string out = "digraph expression {\n  node [shape=box, fontname=\"monospace\"];\n";
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ExprNode &node = tree.nodes[i];
        const std::string id = "n" + std::to_string(i);
        out += "  " + id + " [label=\"" + dot_escaped(shown(node)) + "\\n= " + format_float(node.value) + "\"";
        if (node.op == PARSER_OP_OPERAND) out += ", shape=ellipse";
        out += "];\n";
        if (node.left >= 0) out += "  " + id + " -> n" + std::to_string(node.left) + " [label=\"L\"];\n";
        if (node.right >= 0) out += "  " + id + " -> n" + std::to_string(node.right) + " [label=\"R\"];\n";
        for (size_t k = 0; k < node.args.size(); ++k)
            out += "  " + id + " -> n" + std::to_string(node.args[k]) + " [label=\"" + std::to_string(k + 1) + "\"];\n";
    }
    out += "}\n";
    return out;
}

} // namespace lparse
