/* main.c - a C host of lib_parse: variables, a user function, one tree re-used, errors reported. */
#include <stdio.h>

#include "lib_parse/diagnostics.h"
#include "lib_parse.h"

/* Called during parser_calc for every error found in a text. */
static void on_error(void *ctx, const char *file, int line, int code)
{
    (void)file;
    (void)line;
    printf("%s: error %d: %s\n", (const char *)ctx, code, parser_error_text(code));
}

int main(void)
{
    Parser *p = parser_new();
    exception_set_handler(on_error, "c_host");

    parser_func(p, "f(a)", "a*2");
    parser_var(p, "y", 0.0f);
    /* The first call parses; the next ones only read the new value of x. */
    for (int i = 0; i <= 3; ++i) {
        parser_var(p, "x", (float)i);
        printf("x = %d: f(x)-cos(y) = %g\n", i, parser_calc(p, "f(x)-cos(y)"));
    }

    /* A text with a mistake still has a value; the error is counted. */
    int code = -1;
    const float value = parser_calc(p, "x+");
    const int errors = parser_errors(p, &code);
    printf("'x+' = %g with %d error(s), the first %d\n", value, errors, code);

    exception_set_handler(NULL, NULL);
    parser_destroy(p);
    return 0;
}
