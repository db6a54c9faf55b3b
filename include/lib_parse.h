/* lib_parse.h - public C interface: parse and evaluate arithmetic texts in 32-bit floats.
 *
 * A host makes a handle, defines variables and user functions on it, and asks
 * for the value of expression texts. The handle keeps the tree of the last text
 * given to parser_calc, so evaluating the same text again with new variable
 * values costs no parsing.
 *
 * Threading: handles are independent; one handle must not be used by two
 * threads at once. Different handles may be used on different threads freely.
 * Texts passed in stay the caller's; the library keeps its own copies.
 *
 * Memory: no function reports an allocation failure. When memory runs out the
 * library prints "lib_parse: out of memory" on standard error and aborts; no
 * C++ exception ever leaves it. Callbacks given to it must not throw.
 */
#ifndef LIB_PARSE_H
#define LIB_PARSE_H

#include <stddef.h>

#if defined(_WIN32)
#define LIB_PARSE_API
#else
#define LIB_PARSE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The parser handle; its contents are private. */
typedef struct Parser Parser;

/* Error codes, reported through exception() (lib_parse/diagnostics.h) and counted by
 * parser_errors(). A reported error never stops a calculation: the value is
 * still computed, from the tree as far as it could be built. */
#define PARSER_ERR_CUT_ORDER 0          /* operator positions out of order while cutting a text */
#define PARSER_ERR_TRAILING_OPERATOR 2  /* an operator stands at the end of a text: 'x+' */
#define PARSER_ERR_BAD_OPERATION 3      /* an operation id outside the operation table */
#define PARSER_ERR_UNKNOWN_FUNCTION 4   /* a bracketed call names no defined function: 'g(2)', '2(3)' */
#define PARSER_ERR_SUBSTITUTION_LIMIT 5 /* user-function substitution too deep, too many or too large */
#define PARSER_ERR_TEXT_TOO_LONG 6      /* a text longer than PARSER_LIMIT_TEXT_BYTES: refused, its value is 0 */

/* Short English meaning of an error code; "unknown error" for any other code.
 * The returned text is static. */
LIB_PARSE_API const char *parser_error_text(int code);

/* Operation ids as parser_walk() reports them: 0..13 are the operations in
 * priority order, PARSER_OP_OPERAND marks a leaf (a number or a name). */
#define PARSER_OP_COUNT 14
#define PARSER_OP_OPERAND 14

/* Symbol of operation id 0..13 ("+", "-", "^", "*", "/", "%", "cos", "sin",
 * "atan", "tan", "exp", "logn", "log2", "log10"); NULL for any other id. */
LIB_PARSE_API const char *parser_op_symbol(int op);

/* Node states as parser_walk() reports them. */
#define PARSER_STATE_EXPAND 0    /* not yet examined; operand leaves stay here until evaluated */
#define PARSER_STATE_CALCULATE 1 /* expanded, value still to be computed */
#define PARSER_STATE_DONE 2      /* value computed */

/* Limits on the work of one handle, read and set with parser_limit(). */
#define PARSER_LIMIT_TEXT_BYTES 0  /* longest text parser_calc, parser_expand and parser_calc_bulk accept;
                                    * a longer one is refused with PARSER_ERR_TEXT_TOO_LONG and its value
                                    * is that of the empty text, 0. Default 256 KiB, at most 2^31 - 1. */
#define PARSER_LIMIT_SUBST_DEPTH 1 /* user-function substitutions nested on one path of a tree;
                                    * default 256, at most 2^31 - 1 */
#define PARSER_LIMIT_SUBST_COUNT 2 /* user-function substitutions in one tree; default 10,000,
                                    * at most 2^31 - 1 */
#define PARSER_LIMIT_SUBST_BYTES 3 /* bytes substitution may write while building one tree, every
                                    * pass over a body counted; default 16 MiB, at most 2^31 - 1 */
#define PARSER_LIMIT_TREE_GROWTH 4 /* bytes by which substitution may lengthen the texts of one tree;
                                    * default 128 KiB, at most 2^31 - 1 */
#define PARSER_LIMIT_COUNT 5

/* Makes a new handle with no variables, no functions and an empty tree.
 * Never returns NULL: if memory runs out the process is aborted with a message. */
LIB_PARSE_API Parser *parser_new(void);

/* Defines variable NAME (matched as an exact byte string) or updates its value.
 * A new variable is looked up before older ones. Returns 0. A NULL handle or
 * name does nothing. */
LIB_PARSE_API int parser_var(Parser *parser, const char *name, float value);

/* The address of variable NAME's value, defining NAME with value 0 when no
 * variable of exactly that name exists. Storing a float there is the same as
 * parser_var with that name: the next evaluation reads it, nothing is rebuilt.
 * The address stays valid, and names the same variable, until parser_destroy.
 * A NULL handle or name returns NULL. */
LIB_PARSE_API float *parser_var_ref(Parser *parser, const char *name);

/* Defines a user function: PROTO is its name and parameter list, such as
 * "g(a,b)", BODY the expression it stands for, such as "a-b". A newer
 * definition of the same name hides the older one. The next parser_calc
 * rebuilds its tree, so the definition takes effect. Returns 0. A NULL handle
 * or text does nothing. */
LIB_PARSE_API int parser_func(Parser *parser, const char *proto, const char *body);

/* Sets limit WHICH (a PARSER_LIMIT_* value) of the handle to VALUE and returns
 * the value it had. A negative VALUE only reads the limit; a value above the
 * limit's maximum sets the maximum. Substitution limits take effect at the
 * next tree built, the text limit at the next text given. Returns -1 for a
 * NULL handle or an unknown WHICH. */
LIB_PARSE_API long long parser_limit(Parser *parser, int which, long long value);

/* Releases the handle and everything it owns. NULL does nothing. */
LIB_PARSE_API void parser_destroy(Parser *parser);

/* Rebuilds the handle's tree for TEXT without evaluating it. TEXT becomes the
 * text parser_calc compares against: parser_calc of TEXT then re-uses this
 * tree, any other text rebuilds. A NULL handle or text does nothing. */
LIB_PARSE_API void parser_expand(Parser *parser, const char *text);

/* Returns the value of TEXT as a 32-bit float. The tree is rebuilt only when
 * TEXT differs from the previous text or a function was defined since; then
 * only the variables' current values are read. Errors are reported through
 * exception() and counted by parser_errors(); a value is returned regardless.
 * A NULL handle or text returns NaN. */
LIB_PARSE_API float parser_calc(Parser *parser, const char *text);

/* Evaluates the handle's current tree (the one the last parser_calc or
 * parser_expand built) with the variables' current values and returns what
 * parser_calc of that same text would, without reading any text. If a function
 * was defined since, the tree is first rebuilt from that text, as parser_calc
 * would. A handle with no tree yet returns 0, the value of the empty text, and
 * builds nothing. A NULL handle returns NaN. */
LIB_PARSE_API float parser_eval(Parser *parser);

/* Evaluates TEXT for N_ROWS rows of variable values: row i gives OUT[i] exactly
 * what parser_var(parser, NAMES[j], COLUMNS[j][i]) for j = 0 .. N_VARS-1,
 * followed by parser_calc(parser, TEXT), would return, so afterwards the
 * variables hold the last row's values and the tree is as parser_calc left it.
 * The rows are computed many at a time, much faster than that loop. OUT must
 * not overlap a column. Returns 0; returns non-zero and does nothing when the
 * handle or TEXT is NULL, or NAMES, COLUMNS, one of their entries or OUT is
 * NULL where it is needed (OUT and the columns only when N_ROWS > 0). */
LIB_PARSE_API int parser_calc_bulk(Parser *parser, const char *text, const char *const *names,
                                   const float *const *columns, size_t n_vars, size_t n_rows, float *out);

/* Number of errors reported while the handle's current tree was built (0 for a
 * clean tree). When it is positive and FIRST_CODE is not NULL, the first
 * error's code is stored there. A NULL handle returns 0. */
LIB_PARSE_API int parser_errors(const Parser *parser, int *first_code);

/* Called once per node of the current tree, in pre-order (node, left subtree,
 * right subtree). DEPTH is 0 at the root; SIDE is 0 for the root, 1 for a left
 * child, 2 for a right child. EXPR is the node's text (an operator's symbol for
 * an operator node; may be NULL for a tree never built), OP its operation id
 * or PARSER_OP_OPERAND, STATE a PARSER_STATE_* value, VALUE its last value. */
typedef void (*parser_visit_fn)(void *ctx, int depth, int side, const char *expr,
                                int op, int state, float value);

/* Visits the current tree; works on trees of any depth. The callback must not
 * call back into the same handle. NULL handle or callback does nothing. */
LIB_PARSE_API void parser_walk(const Parser *parser, parser_visit_fn visit, void *ctx);

#ifdef __cplusplus
}
#endif

#endif /* LIB_PARSE_H */
