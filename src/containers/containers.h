/* containers.h - singly linked list and binary tree node used by lib_parse.
 *
 * Plain C records whose fields the library reads and writes directly. Every
 * element copy and node comes from malloc() and goes back with free().
 */
#ifndef LIB_PARSE_CONTAINERS_H
#define LIB_PARSE_CONTAINERS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ListNode {
    void *data;            /* the element */
    struct ListNode *next; /* NULL at the end */
} ListNode;

typedef struct List {
    ListNode *head; /* first node; NULL when empty */
    int count;      /* number of nodes */
} List;

typedef struct TreeNode {
    void *data; /* the element */
    struct TreeNode *left;
    struct TreeNode *right;
} TreeNode;

/* Element release routine handed to list_free() and btree_free(). */
typedef void (*release_fn)(void *data);

/* A new empty list. */
List *list_new(void);
/* Adds an element at the head. SIZE 0: the node keeps DATA itself. SIZE > 0:
 * it keeps a malloc'd copy of SIZE bytes read from DATA. */
void list_push(List *list, void *data, size_t size);
/* Unlinks the node at 0-based INDEX and returns its element, which now belongs
 * to the caller. NULL when INDEX is out of range. */
void *list_pop_index(List *list, int index);
/* Number of elements; 0 for NULL. */
int list_count(const List *list);
/* Reverses the order in place. */
void list_reverse(List *list);
/* Calls RELEASE (when not NULL) on every non-NULL element, then frees the
 * nodes and the list. NULL does nothing. */
void list_free(List *list, release_fn release);

/* A new tree node with NULL data and children. */
TreeNode *btree_new(void);
/* Makes DATA the node's element. */
void btree_fill(TreeNode *node, void *data);
/* Frees NODE and every node below it, calling RELEASE (when not NULL) on each
 * non-NULL element. Works on trees of any depth without recursion. */
void btree_free(TreeNode *node, release_fn release);

#ifdef __cplusplus
}
#endif

#endif /* LIB_PARSE_CONTAINERS_H */
