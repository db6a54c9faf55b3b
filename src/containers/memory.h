/* memory.h - checked allocation shared by the library and its containers.
 *
 * Nothing in lib_parse examines an allocation result: these routines never
 * return NULL. When memory runs out they print a message on standard error and
 * abort, which is better than a crash at some later dereference.
 */
#ifndef LIB_PARSE_MEMORY_H
#define LIB_PARSE_MEMORY_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *lp_malloc(size_t size);
void *lp_calloc(size_t count, size_t size);
void *lp_realloc(void *block, size_t size);
/* A malloc'd copy of the first LENGTH bytes of TEXT, NUL-terminated. */
char *lp_strndup(const char *text, size_t length);

/* Prints the out-of-memory message for a request of SIZE bytes and aborts. */
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void lp_memory_exhausted(size_t size);

/* Test hook: the Nth allocation from now (1 = the next one) fails as if
 * memory had run out; 0 switches the hook off. */
void lp_memory_fail_after(long n);

#ifdef __cplusplus
}
#endif

#endif /* LIB_PARSE_MEMORY_H */
