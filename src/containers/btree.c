/* btree.c - binary tree node and its release without recursion. */
#include "containers.h"
#include "memory.h"

#include <stdlib.h>

TreeNode *btree_new(void)
{
    return lp_calloc(1, sizeof(TreeNode));
}

void btree_fill(TreeNode *node, void *data)
{
    if (node)
        node->data = data;
}

/* Trees built from input can be as deep as the input is long, so no stack
 * depth may depend on their shape. While the current node has a left child,
 * rotate that child up (the node becomes its right child); once there is no
 * left child, free the node and continue with its right. Each rotation moves
 * one node off the left side for good, so the whole walk is O(n) with no
 * extra memory. Nodes with NULL data (never filled) are freed without a call
 * to RELEASE. */
void btree_free(TreeNode *node, release_fn release)
{
    while (node) {
        TreeNode *left = node->left;
        if (left) {
            node->left = left->right;
            left->right = node;
            node = left;
        } else {
            TreeNode *right = node->right;
            if (release && node->data)
                release(node->data);
            free(node);
            node = right;
        }
    }
}
