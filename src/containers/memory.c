/* memory.c - checked allocation: every request succeeds or the process aborts. */
#include "memory.h"

#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Allocations left before the test hook fires; 0 or less means off. Atomic so
 * that threads allocating at the same time each consume exactly one step. */
static atomic_long fail_countdown = 0;

void lp_memory_fail_after(long n)
{
    atomic_store(&fail_countdown, n > 0 ? n : 0);
}

/* Consumes one step of the hook; true for the allocation that must fail. */
static int hook_fires(void)
{
    long left = atomic_load_explicit(&fail_countdown, memory_order_relaxed);
    while (left > 0) {
        if (atomic_compare_exchange_weak(&fail_countdown, &left, left - 1))
            return left == 1;
    }
    return 0;
}

void lp_memory_exhausted(size_t size)
{
    fprintf(stderr, "lib_parse: out of memory (%zu bytes)\n", size);
    abort();
}

/* A zero-byte request still gets a unique block, so that callers never see
 * NULL and never have to tell "empty" from "failed". */
static size_t at_least_one(size_t size)
{
    return size ? size : 1;
}

void *lp_malloc(size_t size)
{
    void *block = hook_fires() ? NULL : malloc(at_least_one(size));
    if (!block)
        lp_memory_exhausted(size);
    return block;
}

void *lp_calloc(size_t count, size_t size)
{
    if (size && count > SIZE_MAX / size) {
        fprintf(stderr, "lib_parse: out of memory (%zu x %zu bytes)\n", count, size);
        abort();
    }
    void *block = hook_fires() ? NULL
                               : (count && size ? calloc(count, size) : calloc(1, 1));
    if (!block)
        lp_memory_exhausted(count * size);
    return block;
}

void *lp_realloc(void *block, size_t size)
{
    /* realloc(block, 0) may free BLOCK and return NULL; ask for one byte. */
    void *moved = hook_fires() ? NULL : realloc(block, at_least_one(size));
    if (!moved)
        lp_memory_exhausted(size);
    return moved;
}

char *lp_strndup(const char *text, size_t length)
{
    /* Stops early at a NUL inside the first LENGTH bytes, like strndup; a
     * NULL text gives an empty string. */
    const char *nul = text ? memchr(text, '\0', length) : NULL;
    if (!text)
        length = 0;
    else if (nul)
        length = (size_t)(nul - text);
    char *copy = lp_malloc(length + 1);
    if (length)
        memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}
