/* c_api_test.c - the public headers used from C: a parser, definitions, a sink, an error handler, a value. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "lib_parse/diagnostics.h"
#include "lib_parse.h"

static int failures = 0;

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                               \
        }                                                             \
    } while (0)

struct Seen {
    int pieces;
    int banners;
    int codes[4];
    int ncodes;
};

static void sink(void *ctx, int level, const char *text) {
    struct Seen *seen = ctx;
    ++seen->pieces;
    if (level == 8 && strstr(text, "new expand_tree") != NULL) ++seen->banners;
}

static void handler(void *ctx, const char *file, int line, int code) {
    struct Seen *seen = ctx;
    CHECK(strcmp(file, "lib_parse") == 0);
    CHECK(line > 0);
    if (seen->ncodes < 4) seen->codes[seen->ncodes++] = code;
}

int main(void) {
    struct Seen seen = {0, 0, {0}, 0};
    Parser *p = parser_new();
    CHECK(p != NULL);
    CHECK(parser_var(p, "x", 2.0f) == 0);
    CHECK(parser_func(p, "sq(a)", "a*a") == 0);

    dbg_set_sink(sink, &seen);
    exception_set_handler(handler, &seen);
    dbg_set_level(8);
    CHECK(dbg_is_enabled(8));
    CHECK(parser_calc(p, "sq(x)+1") == 5.0f);
    CHECK(seen.banners > 0);

    dbg_set_level(0);
    CHECK(parser_calc(p, "x+") == 0.0f);
    CHECK(seen.ncodes == 1 && seen.codes[0] == PARSER_ERR_TRAILING_OPERATOR);
    int code = -1;
    CHECK(parser_errors(p, &code) == 1 && code == PARSER_ERR_TRAILING_OPERATOR);
    CHECK(strcmp(parser_op_symbol(13), "log10") == 0);
    CHECK(isnan(parser_calc(NULL, "1")));

    dbg_set_sink(NULL, NULL);
    exception_set_handler(NULL, NULL);
    parser_destroy(p);
    parser_destroy(NULL);
    if (failures == 0) printf("c_api_test: ok\n");
    return failures == 0 ? 0 : 1;
}
