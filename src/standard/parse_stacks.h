// parse_stacks.h - the standard grammar's binding strengths, and the records its parser keeps on its explicit stacks.
#ifndef LIB_PARSE_PARSE_STACKS_H
#define LIB_PARSE_PARSE_STACKS_H

#include <cstddef>
#include <cstdint>

#include "standard/standard_tokens.h"
#include "support/error_log.h"
#include "tree/handle.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace lp::standard {

// Binding strength, loosest first; a conditional's parts bind loosest of all.
enum Precedence : uint8_t {
    CONDITIONAL = 1,
    OR_LEVEL,
    AND_LEVEL,
    EQUALITY,
    RELATION,
    SUM,
    PRODUCT,
    PREFIX_LEVEL, // unary - + !
    POWER,        // binds tighter than a unary minus before it, and to the right
};

struct Binary {
    int32_t op;
    uint8_t precedence;
};

// The operation of a binary operator's token; op -1 for any other token.
inline Binary binary_of(Token t) {
    switch (t) {
    case Token::PLUS: return {OP_ADD, SUM};
    case Token::MINUS: return {OP_SUB, SUM};
    case Token::STAR: return {OP_MUL, PRODUCT};
    case Token::SLASH: return {OP_DIV, PRODUCT};
    case Token::PERCENT: return {OP_MOD, PRODUCT};
    case Token::CARET: return {OP_POW, POWER};
    case Token::LESS: return {OP_LT, RELATION};
    case Token::LESS_EQUAL: return {OP_LE, RELATION};
    case Token::GREATER: return {OP_GT, RELATION};
    case Token::GREATER_EQUAL: return {OP_GE, RELATION};
    case Token::EQUAL: return {OP_EQ, EQUALITY};
    case Token::NOT_EQUAL: return {OP_NE, EQUALITY};
    case Token::AND: return {OP_AND, AND_LEVEL};
    case Token::OR: return {OP_OR, OR_LEVEL};
    default: return {-1, 0};
    }
}

inline bool is_relation(int32_t op) { return op == OP_LT || op == OP_LE || op == OP_GT || op == OP_GE; }
inline bool is_equality(int32_t op) { return op == OP_EQ || op == OP_NE; }
// Operations whose value is 1 or 0.
inline bool is_boolean(int32_t op) {
    return is_relation(op) || is_equality(op) || op == OP_AND || op == OP_OR || op == OP_NOT;
}

// An operand waiting for its operator.
struct Operand {
    TreeNode *node;
    bool bracketed; // written in brackets: not part of a chain of comparisons
};

// What a call names.
enum class Callee : uint8_t { LANGUAGE, HOST, USER, UNKNOWN };

// An operator waiting for its right operand, or an open bracket, call or conditional.
struct Pending {
    enum Kind : uint8_t { BINARY, PREFIX, OPEN, CALL, QUESTION, COLON } kind;
    uint8_t precedence; // BINARY and PREFIX
    Callee callee;      // CALL
    int32_t op;         // BINARY, PREFIX (-1 for a unary plus); CALL to the language: its function
    size_t offset, length; // the token's place in its frame's text; CALL: its name through "("
    uint32_t args;         // CALL: the arguments ended so far
    const void *target;    // CALL: the HostFunction or UserFunction
    size_t listed;         // CALL: its entry in the names listed, or SIZE_MAX
};

// A text being read: the text given, or the body of a user function's call.
struct Frame {
    const char *text;
    size_t length;
    size_t cursor;
    bool nested; // a body: every place in it is ORIGIN, its outermost call's
    Span origin;
    const UserFunction *function;
    FunctionData *call;      // the call node's record, its parameters' function
    TreeNode *call_node;     // pushed as an operand when the body is read
    TreeNode *body_link;     // the last link of the call, which gets the body
    size_t pending_base;               // this frame's part of the pending stack
    size_t param_from, param_to;       // its parameters in `params_`, sorted by name
    uint32_t open; // brackets, calls and '?' open in this frame
};

} // namespace lp::standard

#endif // LIB_PARSE_PARSE_STACKS_H
