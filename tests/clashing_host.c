/* clashing_host.c - a C host that defines its own list_new, list_push, btree_free,
 * lp_malloc, exception and dbg_data_print, names the library uses inside or
 * offers in lib_parse/diagnostics.h, and links the static or the shared
 * library: the link must succeed and each side must call its own routines. */
#include <stdio.h>
#include <string.h>

#include "lib_parse.h"

/* The host's routines: other signatures and other behaviour than the library's. */
static int pushed = 0;
int list_new(int size) { return size * 10; }
void list_push(int value) { pushed += value; }
const char *btree_free(void) { return "host"; }
double lp_malloc(double bytes) { return bytes / 2; }
static int reports = 0;
void exception(const char *what) { reports += what != NULL; }
int dbg_data_print(const char *what) { return what != NULL ? 7 : 0; }

int main(void)
{
    int failures = 0;

    /* parser_new, parser_var, parser_calc and parser_destroy make and release
     * lists and trees through the library's own routines. */
    Parser *p = parser_new();
    parser_var(p, "x", 1.0f);
    parser_var(p, "y", 0.0f);
    const float value = parser_calc(p, "2*(x+1)-cos(y)");
    parser_calc(p, "x+"); /* an error: the library reports it to its own handler */
    if (value != 3.0f) {
        fprintf(stderr, "2*(x+1)-cos(y) = %g, expected 3\n", value);
        ++failures;
    }
    parser_destroy(p);

    list_push(4);
    list_push(3);
    exception("host");
    if (list_new(5) != 50 || pushed != 7 || strcmp(btree_free(), "host") != 0 || lp_malloc(3.0) != 1.5 ||
        reports != 1 || dbg_data_print("x") != 7) {
        fprintf(stderr, "the host's own routines were not called\n");
        ++failures;
    }
    return failures != 0;
}
