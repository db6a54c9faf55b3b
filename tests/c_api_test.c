/* c_api_test.c - the public headers compiled as C and linked against the shared library. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "lib_parse/diagnostics.h"
#include "lib_parse.h"

static int codes[4], ncodes = 0;

static void handler(void *ctx, const char *file, int line, int code) {
    (void)ctx;
    if (strcmp(file, "lib_parse") == 0 && line > 0 && ncodes < 4) codes[ncodes++] = code;
}

int main(void) {
    Parser *p = parser_new();
    int code = -1, ok = p != NULL && parser_var(p, "x", 2.0f) == 0 && parser_func(p, "sq(a)", "a*a") == 0;
    exception_set_handler(handler, NULL);
    ok = ok && parser_calc(p, "sq(x)+1") == 5.0f && parser_calc(p, "x+") == 0.0f;
    ok = ok && ncodes == 1 && codes[0] == PARSER_ERR_TRAILING_OPERATOR;
    ok = ok && parser_errors(p, &code) == 1 && code == PARSER_ERR_TRAILING_OPERATOR && isnan(parser_calc(NULL, "1"));
    exception_set_handler(NULL, NULL);
    parser_destroy(p);
    puts(ok ? "c_api_test: ok" : "c_api_test: FAILED");
    return ok ? 0 : 1;
}
