/* list.c - singly linked list that grows at the head. */
#include "containers.h"
#include "memory.h"

#include <stdlib.h>
#include <string.h>

List *list_new(void)
{
    return lp_calloc(1, sizeof(List));
}

void list_push(List *list, void *data, size_t size)
{
    if (!list)
        return;
    ListNode *node = lp_malloc(sizeof *node);
    if (size > 0) {
        /* The caller's object may be a local that changes or dies next. */
        void *copy = lp_malloc(size);
        if (data)
            memcpy(copy, data, size);
        else
            memset(copy, 0, size);
        data = copy;
    }
    node->data = data;
    node->next = list->head;
    list->head = node;
    list->count++;
}

void *list_pop_index(List *list, int index)
{
    if (!list || index < 0 || index >= list->count)
        return NULL;
    ListNode **link = &list->head;
    for (int i = 0; i < index; i++)
        link = &(*link)->next;
    ListNode *node = *link;
    void *data = node->data;
    *link = node->next;
    free(node);
    list->count--;
    return data;
}

int list_count(const List *list)
{
    return list ? list->count : 0;
}

void list_reverse(List *list)
{
    if (!list)
        return;
    ListNode *done = NULL;
    ListNode *node = list->head;
    while (node) {
        ListNode *next = node->next;
        node->next = done;
        done = node;
        node = next;
    }
    list->head = done;
}

void list_free(List *list, release_fn release)
{
    if (!list)
        return;
    ListNode *node = list->head;
    while (node) {
        ListNode *next = node->next;
        /* NULL elements are skipped: there is nothing to release. */
        if (release && node->data)
            release(node->data);
        free(node);
        node = next;
    }
    free(list);
}
