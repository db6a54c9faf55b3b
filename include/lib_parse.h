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
 * Callbacks: while a call runs on a handle, a callback it makes (the error
 * handler and trace sink of lib_parse/diagnostics.h, a host function, a
 * parser_walk visitor, a parser_check note callback) may call into the
 * library, but a call that would use or change that same handle is refused:
 * it does nothing and returns NaN, NULL, -1 or a non-zero status, as each
 * call states (PARSER_ERR_BUSY; the refusal is neither recorded nor reported).
 * Safe inside callbacks: parser_errors, parser_error_at, parser_error_text,
 * parser_op_symbol, parser_limit with a negative VALUE (reading),
 * parser_error_message, parser_var_get, parser_version, parser_interrupt,
 * and any call on another handle.
 *
 * Results: every way of evaluating a tree (the interpreter, machine code,
 * parser_calc_bulk) gives the same bits, NaNs included: operands are read in
 * text order, and a NaN result of + - * / is the first NaN operand, quieted.
 *
 * Memory: no function reports an allocation failure. When memory runs out the
 * library prints "lib_parse: out of memory" on standard error and aborts; no
 * C++ exception ever leaves it. Callbacks given to it must not throw.
 */
#ifndef LIB_PARSE_H
#define LIB_PARSE_H

#include <stddef.h>

/* The version of this header; parser_version() gives the library's. The
 * shared library's SONAME changes with the major version only. */
#define LIB_PARSE_VERSION_MAJOR 1
#define LIB_PARSE_VERSION_MINOR 3
#define LIB_PARSE_VERSION_PATCH 0

#if defined(_WIN32)
#define LIB_PARSE_API
#else
#define LIB_PARSE_API __attribute__((visibility("default")))
#endif

/* No call throws: to C++, every function is noexcept. */
#ifdef __cplusplus
#define LIB_PARSE_NOEXCEPT noexcept
#else
#define LIB_PARSE_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The parser handle; its contents are private. */
typedef struct Parser Parser;

/* Error codes, reported through exception() (lib_parse/diagnostics.h) and
 * recorded with their place (parser_errors(), parser_error_at()). A reported
 * error never stops a calculation: the value is still computed, from the tree
 * as far as it could be built. */
#define PARSER_ERR_CUT_ORDER 0          /* operator positions out of order while cutting a text */
#define PARSER_ERR_TRAILING_OPERATOR 2  /* an operator stands at the end of a text: 'x+' */
#define PARSER_ERR_BAD_OPERATION 3      /* an operation id outside the operation table */
#define PARSER_ERR_UNKNOWN_FUNCTION 4   /* a bracketed call names no defined function: 'g(2)', '2(3)' */
#define PARSER_ERR_SUBSTITUTION_LIMIT 5 /* user-function substitution too deep, too many or too large */
#define PARSER_ERR_TEXT_TOO_LONG 6      /* a text longer than PARSER_LIMIT_TEXT_BYTES: refused, its value is 0
                                         * (NaN in the standard grammar, as with any error there) */
#define PARSER_ERR_ARGUMENT_COUNT 7     /* a host function called with a wrong number of arguments: the call is 0 */
#define PARSER_ERR_BUSY 8               /* a call into a handle from a callback of a call running on it: refused
                                         * (NaN, or a non-zero status), never recorded nor reported */
#define PARSER_ERR_INTERRUPTED 9        /* parser_interrupt stopped the call: the text is not kept, its value is NaN */
#define PARSER_ERR_EMPTY_ARGUMENT 10     /* an empty argument among others in a host function's call,
                                         * 'max(1, ,2)': the call is 0 */
/* Errors of the standard grammar (parser_syntax). A text with any of them, or
 * with any other error while the handle reads the standard grammar, has the
 * value NaN, so a host never mistakes it for a number. */
#define PARSER_ERR_UNEXPECTED_TOKEN 11  /* a token that cannot stand where it does: '2**3', 'a = 1', '2x', '(1,2)' */
#define PARSER_ERR_MISSING_TOKEN 12     /* an operand or a ':' missing where the text, a bracket or an
                                         * argument ends: '2+', 'c ? a', 'f(1,)' */
#define PARSER_ERR_UNBALANCED_BRACKET 13 /* a '(' never closed, or a ')' that closes nothing: '(1+2', '1+2)' */
#define PARSER_ERR_UNKNOWN_NAME 14      /* a name that is no variable, or a call of no function: 'y+1' with no y */
#define PARSER_ERR_CALL_ARGUMENTS 15    /* a call with a wrong number of arguments: 'cos(1, 2)' */
#define PARSER_ERR_TRAILING_TEXT 16     /* text after a whole expression: '1 2', '(x) y' */
#define PARSER_ERR_RECURSION 17         /* a user function that calls itself, directly or through others */
#define PARSER_ERR_OTHER_SYNTAX 18      /* a call of a user function defined under the other grammar */
/* Code 19 is reserved. */

/* Short English meaning of an error code; "unknown error" for any other code.
 * The returned text is static. */
LIB_PARSE_API const char *parser_error_text(int code) LIB_PARSE_NOEXCEPT;

/* Operation ids as parser_walk() reports them: 0..13 are the operations in
 * priority order, PARSER_OP_OPERAND marks a leaf (a number or a name). */
#define PARSER_OP_COUNT 14
#define PARSER_OP_OPERAND 14
#define PARSER_OP_CALL 15 /* a host function's call: its name as text, its arguments as subtrees */
/* The standard grammar's operations (parser_syntax). The two-operand ones have
 * a left and a right child, the one-operand ones a right child only. */
#define PARSER_OP_NEG 20      /* -x: a true negation (-0 of 0, a NaN with its sign flipped) */
#define PARSER_OP_NOT 21      /* !x: 1 when x is 0, else 0 (a NaN is true, so !NaN is 0) */
#define PARSER_OP_LT 22       /* x < y, 1 or 0 */
#define PARSER_OP_LE 23       /* x <= y */
#define PARSER_OP_GT 24       /* x > y */
#define PARSER_OP_GE 25       /* x >= y */
#define PARSER_OP_EQ 26       /* x == y */
#define PARSER_OP_NE 27       /* x != y */
#define PARSER_OP_AND 28      /* x && y, 1 or 0; y is evaluated only when x is not 0 */
#define PARSER_OP_OR 29       /* x || y, 1 or 0; y is evaluated only when x is 0 */
#define PARSER_OP_SELECT 30   /* c ? a : b: its three parts as subtrees in text order; only one of a, b is evaluated */
#define PARSER_OP_FUNCTION 31 /* a user function's call: its name as text, its arguments and then its body as
                               * subtrees; inside the body a parameter is a leaf (PARSER_OP_OPERAND) named as it */

/* Symbol of operation id 0..13 ("+", "-", "^", "*", "/", "%", "cos", "sin",
 * "atan", "tan", "exp", "logn", "log2", "log10") or 20..30 ("-", "!", "<",
 * "<=", ">", ">=", "==", "!=", "&&", "||", "?:"); NULL for any other id. */
LIB_PARSE_API const char *parser_op_symbol(int op) LIB_PARSE_NOEXCEPT;

/* Node states as parser_walk() reports them. */
#define PARSER_STATE_EXPAND 0    /* not yet examined; operand leaves stay here until evaluated */
#define PARSER_STATE_CALCULATE 1 /* expanded, value still to be computed */
#define PARSER_STATE_DONE 2      /* value computed */

/* Limits on the work of one handle, read and set with parser_limit(). */
#define PARSER_LIMIT_TEXT_BYTES 0  /* longest text parser_calc, parser_expand and parser_calc_bulk accept;
                                    * a longer one is refused with PARSER_ERR_TEXT_TOO_LONG and its value
                                    * is that of the empty text, 0 (NaN in the standard grammar). Default
                                    * 256 KiB, at most 2^31 - 1. */
#define PARSER_LIMIT_SUBST_DEPTH 1 /* user-function substitutions nested on one path of a tree;
                                    * default 256, at most 2^31 - 1 */
#define PARSER_LIMIT_SUBST_COUNT 2 /* user-function substitutions in one tree; default 10,000,
                                    * at most 2^31 - 1 */
#define PARSER_LIMIT_SUBST_BYTES 3 /* bytes substitution may write while building one tree, every
                                    * pass over a body counted; default 16 MiB, at most 2^31 - 1 */
#define PARSER_LIMIT_TREE_GROWTH 4 /* bytes by which substitution may lengthen the texts of one tree;
                                    * default 128 KiB, at most 2^31 - 1 */
#define PARSER_LIMIT_NATIVE_CODE 5 /* 1: a tree evaluated again and again, and parser_calc_bulk of
                                    * many rows, run as machine code; 0: always the interpreter,
                                    * for hosts that forbid executable memory. Default 1, at most 1,
                                    * where the library was built with machine code (x86-64 with
                                    * AsmJit); elsewhere it reads 0 and cannot be raised, so a host
                                    * can tell. Same results either way, bit for bit. */
#define PARSER_LIMIT_THREADS 6     /* threads parser_calc_bulk may spread its rows over: 1, the default,
                                    * never starts a thread; 0 any number up to the cores the process may
                                    * run on; at most 256. A thread is started only for about half a
                                    * millisecond of work or more, and only for a text whose host
                                    * functions were all registered PARSER_NATIVE_THREAD_SAFE (the math
                                    * set's are). Same results, bit for bit, with any number. */
#define PARSER_LIMIT_COUNT 7

/* The grammars a handle reads texts in (parser_syntax). */
#define PARSER_SYNTAX_DEFINED 0  /* the library's own language (docs/language.md), the default */
#define PARSER_SYNTAX_STANDARD 1 /* the grammar of formulas: blanks separate tokens, 1e3 is a number,
                                  * ^ binds tighter than * and unary minus, comparisons, && || ! and ?:,
                                  * names matched exactly, user functions with parameters bound by value */

/* The library's version, "MAJOR.MINOR.PATCH": the version of the library
 * linked, which a host may compare with the LIB_PARSE_VERSION_* macros of the
 * header it was built with. */
LIB_PARSE_API const char *parser_version(void) LIB_PARSE_NOEXCEPT;

/* Makes a new handle with no variables, no functions and an empty tree.
 * Never returns NULL: if memory runs out the process is aborted with a message. */
LIB_PARSE_API Parser *parser_new(void) LIB_PARSE_NOEXCEPT;

/* Defines variable NAME (matched as an exact byte string) or updates its value.
 * A new variable is looked up before older ones. Its cost does not grow with
 * the number of variables defined. Returns 0. A NULL handle or name does
 * nothing; a call from a callback (see above) does nothing and returns 1. */
LIB_PARSE_API int parser_var(Parser *parser, const char *name, float value) LIB_PARSE_NOEXCEPT;

/* The address of variable NAME's value, defining NAME with value 0 when no
 * variable of exactly that name exists. Storing a float there is the same as
 * parser_var with that name: the next evaluation reads it, nothing is rebuilt.
 * The address stays valid, and names the same variable, until parser_destroy.
 * A NULL handle or name, or a call from a callback, returns NULL. */
LIB_PARSE_API float *parser_var_ref(Parser *parser, const char *name) LIB_PARSE_NOEXCEPT;

/* Removes variable NAME: no text reads it any more (a tree that did is built
 * again at its next evaluation), and parser_var of the name defines a new
 * one. An address parser_var_ref gave for it stays valid until
 * parser_destroy but names a record no tree reads. Takes time in proportion
 * to the name's length, not to the number of variables. Returns 0, or 1 when
 * no variable has exactly that name; -1 for a NULL handle or name, or a call
 * from a callback. */
LIB_PARSE_API int parser_unset(Parser *parser, const char *name) LIB_PARSE_NOEXCEPT;

/* Removes every definition of user function NAME, the name calls use: a
 * call of it then names no function (a tree that called it is built again
 * at its next evaluation), and parser_func may define it anew. Host
 * functions are removed with parser_native_func and a NULL FN. Returns 0, or
 * 1 when no user function has that name; -1 for a NULL handle or name, or a
 * call from a callback. */
LIB_PARSE_API int parser_func_unset(Parser *parser, const char *name) LIB_PARSE_NOEXCEPT;

/* Reads variable NAME without defining it: stores its value in *VALUE (when
 * VALUE is not NULL) and returns 0, or returns 1, storing nothing, when no
 * variable has exactly that name. Safe inside callbacks, as it changes
 * nothing. A NULL handle or name returns -1. */
LIB_PARSE_API int parser_var_get(const Parser *parser, const char *name, float *value) LIB_PARSE_NOEXCEPT;

/* Asked for a name a text reads that no variable has, while a tree is built:
 * returns non-zero after storing the name's value in *VALUE, and the build
 * defines variable NAME with it and reads it (as parser_var would), or 0 to
 * leave the name unknown. NAME is valid during the call only. It must not call
 * into the handle (such calls are refused). */
typedef int (*parser_unknown_fn)(void *ctx, const char *name, float *value);

/* Sets the handle's supplier of unknown names: when a build (parser_calc,
 * parser_expand, parser_eval rebuilding, the first row of parser_calc_bulk)
 * meets a name that no variable has, FN is called once per name per build,
 * on the calling thread, before the name would count as unknown. In the
 * defined grammar the name is the leaf's text as the grammar reads it (blanks
 * at its edges included), and it is asked only when no variable's name
 * begins with it; in the standard grammar it is the name itself, asked before
 * the math set's constants. parser_check and parser_names never call it. A
 * NULL FN removes it. Returns 0; non-zero for a NULL handle or a call from a
 * callback. */
LIB_PARSE_API int parser_on_unknown(Parser *parser, parser_unknown_fn fn, void *ctx) LIB_PARSE_NOEXCEPT;

/* Receives one variable: its NAME (valid during the call only) and VALUE. */
typedef void (*parser_variable_fn)(void *ctx, const char *name, float value);

/* Reports every variable through FN, in the order they were defined, and
 * returns their number; a NULL FN only counts them. A NULL handle, or a call
 * from a callback, returns -1. */
LIB_PARSE_API int parser_vars(Parser *parser, parser_variable_fn fn, void *ctx) LIB_PARSE_NOEXCEPT;

/* Defines a user function: PROTO is its name and parameter list, such as
 * "g(a,b)", BODY the expression it stands for, such as "a-b". A newer
 * definition of the same name hides the older one. The next parser_calc
 * rebuilds its tree, so the definition takes effect. The function keeps the
 * handle's grammar (parser_syntax): under PARSER_SYNTAX_STANDARD, PROTO must be
 * a name and distinct parameter names, each a letter or '_' followed by
 * letters, digits and '_' ("f(a, b)", "pi()"), the name not one of the eight
 * functions of the language; the body is read in that grammar at each call,
 * its parameters bound to the call's arguments, each evaluated once. Returns
 * 0. A NULL handle or text does nothing; a call from a callback, or a
 * standard prototype that does not have that form, does nothing and returns 1. */
LIB_PARSE_API int parser_func(Parser *parser, const char *proto, const char *body) LIB_PARSE_NOEXCEPT;

/* A host function: receives the N_ARGS argument values of a call in text
 * order and returns the call's value. It must not throw; a call it makes into
 * the handle evaluating it is refused (see Callbacks above). */
typedef float (*parser_native_fn)(void *ctx, const float *args, int n_args);

/* Flags of parser_native_func. */
#define PARSER_NATIVE_PURE 1u /* same arguments, same value, no effect: a call whose arguments are all
                               * constants is computed once, when the tree is built */
#define PARSER_NATIVE_THREAD_SAFE 2u /* FN may be called from several threads at once, so that
                                      * parser_calc_bulk may spread rows that call it over threads
                                      * (PARSER_LIMIT_THREADS) */

/* Most arguments a call of a host function may have: evaluation gathers them
 * in a fixed array on its stack, so a call never allocates. */
#define PARSER_NATIVE_MAX_ARGS 64

/* Defines host function NAME: a text of the form NAME(ARGS), NAME exactly this
 * name and nothing outside the outer brackets, is a call of FN; this is
 * checked before the operations and user functions are looked for. ARGS is
 * split at the commas outside inner brackets, each piece an expression of its
 * own ("f()" has no arguments). N_ARGS >= 0 is the count a call must have,
 * -1 any count up to PARSER_NATIVE_MAX_ARGS; another count is reported as
 * PARSER_ERR_ARGUMENT_COUNT at the call and the call counts as 0. FN gets CTX
 * back. FLAGS is 0 or PARSER_NATIVE_PURE, with PARSER_NATIVE_THREAD_SAFE or not; without PURE FN is called at every
 * evaluation. Defining NAME again replaces it, a NULL FN removes it; either
 * way the next parser_calc rebuilds its tree. Returns 0; non-zero, doing
 * nothing, for a NULL handle or name, a call from a callback, an empty name, a name holding a space,
 * a control byte, a bracket, a comma or an operator byte (+ - ^ * / %), a name
 * equal to a function symbol ("cos"), N_ARGS below -1 or above
 * PARSER_NATIVE_MAX_ARGS, or unknown FLAGS. */
LIB_PARSE_API int parser_native_func(Parser *parser, const char *name, int n_args, parser_native_fn fn, void *ctx,
                                     unsigned flags) LIB_PARSE_NOEXCEPT;

/* Defines the standard set of host functions on the handle, each computed in
 * double precision and rounded once to float, as the language's own
 * functions are, and pure: sqrt cbrt abs sign floor ceil round trunc fmod pow
 * hypot atan2 asin acos sinh cosh tanh exp2, min and max of one or more
 * arguments, clamp(x, lo, hi), pi() and e(), the comparisons lt le gt ge eq
 * ne and the logic and or not (each giving 1 or 0), and the conditional
 * if(c, a, b), which evaluates c and then only a, when c is not 0 (a NaN is
 * true), or only b. The conventions are C's: min and max as fmin and fmax (a
 * NaN argument is passed over unless all are NaN), round halves away from
 * zero, sign(±0) is ±0, clamp(x, lo, hi) is min(max(x, lo), hi). Each name
 * can be replaced or removed with parser_native_func like any host function;
 * a host function named "if" is an ordinary, eager one. In the standard
 * grammar the set also reads the names users type: log(x) and ln(x) are the
 * natural logarithm, logn(x), and the names pi and e the constants pi() and
 * e(); a variable, host function or user function of the name comes first.
 * The defined grammar reads those texts as before. A handle without
 * parser_math has none of them. Returns 0; non-zero for a NULL handle or a
 * call from a callback. */
LIB_PARSE_API int parser_math(Parser *parser) LIB_PARSE_NOEXCEPT;

/* Sets the grammar the handle reads its texts in to SYNTAX (a PARSER_SYNTAX_*
 * value) and returns the one it had; a negative SYNTAX only reads it. A new
 * handle reads PARSER_SYNTAX_DEFINED. Changing it makes the next parser_calc
 * or parser_eval rebuild the tree, as a definition does. Variables, host
 * functions and limits serve both grammars; a user function is read in the
 * grammar the handle had when parser_func defined it, and a call of it from
 * a text of the other grammar is error PARSER_ERR_OTHER_SYNTAX. Returns -1,
 * changing nothing, for a NULL handle, an unknown SYNTAX, or a call from a
 * callback (reading included). */
LIB_PARSE_API int parser_syntax(Parser *parser, int syntax) LIB_PARSE_NOEXCEPT;

/* Sets limit WHICH (a PARSER_LIMIT_* value) of the handle to VALUE and returns
 * the value it had. A negative VALUE only reads the limit; a value above the
 * limit's maximum sets the maximum. Substitution limits take effect at the
 * next tree built, the text limit at the next text given. Returns -1 for a
 * NULL handle, an unknown WHICH, or a VALUE to set from a callback. */
LIB_PARSE_API long long parser_limit(Parser *parser, int which, long long value) LIB_PARSE_NOEXCEPT;

/* Releases the handle and everything it owns. NULL does nothing, and so does
 * a call from a callback of a call running on the handle. */
LIB_PARSE_API void parser_destroy(Parser *parser) LIB_PARSE_NOEXCEPT;

/* Rebuilds the handle's tree for TEXT without evaluating it. TEXT becomes the
 * text parser_calc compares against: parser_calc of TEXT then re-uses this
 * tree, any other text rebuilds. A NULL handle or text, or a call from a
 * callback, does nothing. */
LIB_PARSE_API void parser_expand(Parser *parser, const char *text) LIB_PARSE_NOEXCEPT;

/* Returns the value of TEXT as a 32-bit float. The tree is rebuilt only when
 * TEXT differs from the previous text or a function was defined since; then
 * only the variables' current values are read. Errors are reported through
 * exception() and counted by parser_errors(); a value is returned regardless.
 * A NULL handle or text, a call from a callback, or a build stopped by
 * parser_interrupt returns NaN. */
LIB_PARSE_API float parser_calc(Parser *parser, const char *text) LIB_PARSE_NOEXCEPT;

/* Evaluates the handle's current tree (the one the last parser_calc or
 * parser_expand built) with the variables' current values and returns what
 * parser_calc of that same text would, without reading any text. If a function
 * was defined since, the tree is first rebuilt from that text, as parser_calc
 * would. A handle with no tree yet returns 0, the value of the empty text, and
 * builds nothing. A NULL handle, or a call from a callback, returns NaN. */
LIB_PARSE_API float parser_eval(Parser *parser) LIB_PARSE_NOEXCEPT;

/* Evaluates TEXT for N_ROWS rows of variable values: row i gives OUT[i] exactly
 * what parser_var(parser, NAMES[j], COLUMNS[j][i]) for j = 0 .. N_VARS-1,
 * followed by parser_calc(parser, TEXT), would return, so afterwards the
 * variables hold the last row's values and the tree is as parser_calc left it.
 * The rows are computed many at a time, much faster than that loop. OUT must
 * not overlap a column. Returns 0; returns non-zero and does nothing when the
 * handle or TEXT is NULL, or NAMES, COLUMNS, one of their entries or OUT is
 * NULL where it is needed (OUT and the columns only when N_ROWS > 0), or when
 * called from a callback. Stopped by parser_interrupt, it returns non-zero
 * with the rows it finished in OUT, NaN in the rest, and the variables at
 * the last row finished. The return says nothing about the text: a text
 * with errors gives 0 and its rows' values (NaN in the standard grammar), so
 * read parser_errors() after the call, as after parser_calc. */
LIB_PARSE_API int parser_calc_bulk(Parser *parser, const char *text, const char *const *names,
                                   const float *const *columns, size_t n_vars, size_t n_rows, float *out) LIB_PARSE_NOEXCEPT;

/* Number of errors recorded while the handle's current tree was built (0 for a
 * clean tree): one entry per code and place, so a runaway call that fails at
 * the same place many times counts once. When it is positive and FIRST_CODE
 * is not NULL, the first entry's code is stored there. A NULL handle returns 0. */
LIB_PARSE_API int parser_errors(const Parser *parser, int *first_code) LIB_PARSE_NOEXCEPT;

/* Reads error entry INDEX (0 <= INDEX < parser_errors(parser, NULL)), in the
 * order the errors were first met: its code, and the byte OFFSET and LENGTH of
 * the text it concerns in the text given to parser_calc or parser_expand. An
 * error inside a user function's substituted body points at the call in that
 * text. Returns 0, or -1 when INDEX is out of range or the handle is NULL.
 * NULL out-pointers are allowed. */
LIB_PARSE_API int parser_error_at(const Parser *parser, int index, int *code, size_t *offset, size_t *length) LIB_PARSE_NOEXCEPT;

/* Writes error entry INDEX as one line an end user can act on, naming the
 * part of the text it concerns and what would fix it: "unknown name 'foo':
 * did you mean 'floor'?", "'sin' is a function: write sin(x)", "'×' is not
 * an operator: use '*'", "this '(' is never closed". As snprintf: at most
 * SIZE bytes with the terminating 0 go to BUFFER (nothing when SIZE is 0),
 * and the return is the length of the whole line; -1 when INDEX is out of
 * range or the handle is NULL. Safe inside callbacks. */
LIB_PARSE_API int parser_error_message(const Parser *parser, int index, char *buffer, size_t size) LIB_PARSE_NOEXCEPT;

/* Receives one error entry of a tree just built: its CODE and the byte OFFSET
 * and LENGTH of its place, as parser_error_at() reads them. */
typedef void (*parser_error_fn)(void *ctx, int code, size_t offset, size_t length);

/* Sets the handle's error callback: after each build of a tree (by
 * parser_calc, parser_expand, parser_eval or parser_calc_bulk) and before the
 * call returns, FN is called on the calling thread once per error entry, in
 * the order parser_error_at() reads them (an error repeated at one place is
 * one entry), with CTX. Never called by parser_check or parser_names. A NULL
 * FN removes it. The process-wide handler of lib_parse/diagnostics.h is still
 * called at every occurrence. A NULL handle, or a call from a callback, does
 * nothing. */
LIB_PARSE_API void parser_on_error(Parser *parser, parser_error_fn fn, void *ctx) LIB_PARSE_NOEXCEPT;

/* Kinds of notes that parser_check() reports besides the error codes above. */
#define PARSER_NOTE_UNMATCHED_BRACKET 100  /* a bracket without a partner: the text is one operand */
#define PARSER_NOTE_UNKNOWN_NAME 101       /* a name that matches no variable: it counts as 0 */
#define PARSER_NOTE_PREFIX_NAME 102        /* a name that reads a longer variable by prefix: x reads xy */
#define PARSER_NOTE_NAME_WITH_FUNCTION 103 /* a word holding a function symbol: costly is cos(tly) */
#define PARSER_NOTE_DROPPED_TEXT 104       /* text next to a function name that is dropped: the 2 of 2cos(0) */
#define PARSER_NOTE_COMMA 105              /* a comma outside a call's brackets: 2,5 reads as 2 */
#define PARSER_NOTE_DOUBLE_OPERATOR 106    /* an operator right after another: 2*-3, a--b */
#define PARSER_NOTE_NUMBER_AS_NAME 107     /* a number with an exponent or letters reads as a name: 1e3, 0x10 */
#define PARSER_NOTE_PREFIX_CALL 108        /* a call taken by a function whose name only begins it: ff(3) by f */
#define PARSER_NOTE_BLANK_IN_NAME 109      /* a blank at the edge of a name is part of it: 'x *2' reads 'x ' */
/* Notes of the standard grammar. */
#define PARSER_NOTE_ASSIGNMENT 110        /* '=' where '==' was likely meant: 'x = 1' (also an error) */
#define PARSER_NOTE_COMPARISON_CHAIN 111  /* a comparison of a comparison: 'a < b < c' is (a < b) < c */
#define PARSER_NOTE_NOT_OF_NUMBER 112     /* '!' of a value other than a comparison or logic: '!x' is x == 0 */

/* Receives one note: its KIND (an error code or a PARSER_NOTE_* kind), the
 * byte OFFSET and LENGTH of the place in the text checked, and a short English
 * MESSAGE, valid during the call only. */
typedef void (*parser_note_fn)(void *ctx, int kind, size_t offset, size_t length, const char *message);

/* Reports every note on TEXT in text order through NOTE: the errors building
 * its tree would record (their code as kind) and the traps listed above.
 * Leaves the handle exactly as it was (tree, cache, variables, errors) and
 * calls neither the error handler nor the trace. Returns the number of notes;
 * a NULL NOTE only counts them. A NULL handle or text returns 0; a call from
 * a callback of a call running on the handle returns -1. */
LIB_PARSE_API int parser_check(Parser *parser, const char *text, parser_note_fn note, void *ctx) LIB_PARSE_NOEXCEPT;

/* Called once per node of the current tree, in pre-order (node, left subtree,
 * right subtree). DEPTH is 0 at the root; SIDE is 0 for the root, 1 for a left
 * child, 2 for a right child. A call (PARSER_OP_CALL, PARSER_OP_FUNCTION) and
 * a PARSER_OP_SELECT are followed by their subtrees in text order, each one
 * level deeper with SIDE 1. EXPR is the node's text (an operator's symbol for
 * an operator node; may be NULL for a tree never built), OP its operation id
 * or PARSER_OP_OPERAND, STATE a PARSER_STATE_* value, VALUE its last value. */
typedef void (*parser_visit_fn)(void *ctx, int depth, int side, const char *expr,
                                int op, int state, float value);

/* Visits the current tree; works on trees of any depth. A NULL handle or
 * callback, or a call from a callback, does nothing. */
LIB_PARSE_API void parser_walk(const Parser *parser, parser_visit_fn visit, void *ctx) LIB_PARSE_NOEXCEPT;

/* Kinds of the names parser_names() reports. */
#define PARSER_NAME_VARIABLE 0 /* a leaf that reads a defined variable: NAME is that variable's, which
                                * may be longer than the text by the prefix rule (x reads xy) */
#define PARSER_NAME_UNKNOWN 1  /* a leaf that names no variable and counts as 0 (in the standard grammar,
                                * error PARSER_ERR_UNKNOWN_NAME): NAME is its text */
#define PARSER_NAME_FUNCTION 2 /* a call of a user function: NAME is the function chosen */
#define PARSER_NAME_HOST 3     /* a call of a host function: NAME is its name */

/* Receives one name: its KIND, the byte OFFSET and LENGTH of its place in the
 * text, and NAME, valid during the call only. */
typedef void (*parser_name_fn)(void *ctx, int kind, size_t offset, size_t length, const char *name);

/* Reports every leaf of TEXT's tree that is a name, and every call, in text
 * order through FN (x+x gives two): the variables a text uses, with their
 * places. A name or call inside a user function's substituted body carries
 * the place of the call in TEXT, and follows it. Builds the tree aside like
 * parser_check, leaving the handle as it was. Returns the number of names; a
 * NULL FN only counts them. Returns -1 for a NULL handle or text, a call
 * from a callback, or a listing stopped by parser_interrupt (FN is not
 * called after the stop). */
LIB_PARSE_API int parser_names(Parser *parser, const char *text, parser_name_fn fn, void *ctx) LIB_PARSE_NOEXCEPT;

/* Kinds of the functions parser_functions() reports. */
#define PARSER_FUNCTION_USER 0 /* defined with parser_func */
#define PARSER_FUNCTION_HOST 1 /* defined with parser_native_func */

/* One function of a handle, as parser_functions() reports it. The texts are
 * valid during the callback only. */
typedef struct ParserFunction {
    int kind;          /* PARSER_FUNCTION_USER or PARSER_FUNCTION_HOST */
    const char *name;  /* the name calls use: a user function's prototype up to its "(" */
    const char *proto; /* a user function's prototype, "g(a,b)"; NULL for a host function */
    const char *body;  /* a user function's body; NULL for a host function */
    int replaced;      /* 1 for a user function hidden by a newer definition of the same name */
    int n_args;        /* a host function's argument count, -1 for any; -1 for a user function */
    unsigned flags;    /* a host function's flags (PARSER_NATIVE_PURE); 0 for a user function */
    int syntax;        /* the grammar a user function was defined under (PARSER_SYNTAX_*); -1 for a host function */
} ParserFunction;

typedef void (*parser_function_fn)(void *ctx, const ParserFunction *function);

/* Reports the handle's functions through FN: the user functions newest first
 * (the order in which calls look for them), then the host functions in the
 * order they were first defined. Returns their number; a NULL FN only counts
 * them. Returns -1 for a NULL handle or a call from a callback. */
LIB_PARSE_API int parser_functions(Parser *parser, parser_function_fn fn, void *ctx) LIB_PARSE_NOEXCEPT;

/* Stops the call running on PARSER at its next check point: every loop of a
 * build, a check or a listing passes one at least every 64 KiB of text or
 * 16,384 nodes, and so do parser_calc_bulk's rows, so the call returns within
 * about a millisecond of work whatever the text.
 * May be called from any thread or a signal handler while the call runs (the
 * one exception to "one handle, one thread at a time"), but never after
 * parser_destroy. Does nothing when no such call is running, so it never
 * stops a later call. A stopped build leaves the handle as after a refused
 * text (the tree of the empty text, value 0, in the defined grammar, a NaN
 * leaf in the standard one; no text kept) with the one error
 * PARSER_ERR_INTERRUPTED at the place reached, and its call returns NaN; a
 * stopped check ends with that error as its last note, after the notes told
 * before the stop (none when it came before the telling); parser_names and
 * parser_calc_bulk: see there.
 * Evaluating a tree already built is not stopped: its time is bounded by the
 * tree's size. */
LIB_PARSE_API void parser_interrupt(Parser *parser) LIB_PARSE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* LIB_PARSE_H */
