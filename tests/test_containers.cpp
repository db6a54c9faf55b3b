// test_containers.cpp - list, tree and checked-allocation behaviour.
#include "containers/containers.h"
#include "containers/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

// An emulator running the tests (another processor's build) adds its own
// line about the signal that ended a child.
#if LIB_PARSE_TEST_EMULATED
#define LIB_PARSE_TEST_EMULATOR_LINE "(qemu: [^\n]*\n)?"
#else
#define LIB_PARSE_TEST_EMULATOR_LINE ""
#endif

namespace {

std::vector<int> contents(const List *list)
{
    std::vector<int> out;
    for (const ListNode *node = list->head; node; node = node->next)
        out.push_back(*static_cast<const int *>(node->data));
    EXPECT_EQ(list_count(list), static_cast<int>(out.size()));
    return out;
}

// Release routine for elements that point at a per-element counter.
void count_release(void *data)
{
    ++*static_cast<int *>(data);
}

TEST(List, PopIndexKeepsTheRestInOrderAndReverseTurnsIt)
{
    struct Case {
        std::vector<int> before;
        int index;
        int popped; // 0: nothing popped
        std::vector<int> after;
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, 0, 10, {20, 30, 40}}, {{10, 20, 30, 40}, 2, 30, {10, 20, 40}},
        {{10, 20, 30, 40}, 3, 40, {10, 20, 30}}, {{10, 20, 30, 40}, 4, 0, {10, 20, 30, 40}},
        {{10, 20, 30, 40}, -1, 0, {10, 20, 30, 40}}, {{10}, 0, 10, {}}, {{}, 0, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.index) + " of " + std::to_string(c.before.size()));
        List *list = list_new();
        for (auto it = c.before.rbegin(); it != c.before.rend(); ++it) {
            int local = *it; // pushed by size: the list keeps a copy
            list_push(list, &local, sizeof local);
        }
        int *popped = static_cast<int *>(list_pop_index(list, c.index));
        EXPECT_EQ(popped ? *popped : 0, c.popped);
        std::free(popped);
        EXPECT_EQ(contents(list), c.after);
        list_reverse(list);
        EXPECT_EQ(contents(list), std::vector<int>(c.after.rbegin(), c.after.rend()));
        list_free(list, std::free);
    }
}

// Every node's element is its own counter, so each release can be checked. A
// million-deep chain, half a left spine and half a zigzag, overflows the stack
// of a release that recurses on either side or along either spine; random
// search trees give every kind of branching. A node without an element is not
// released.
TEST(Tree, FreeReleasesEveryNodeOnceWithoutRecursion)
{
    std::mt19937 random(12345);
    for (std::size_t size : {1u, 2u, 17u, 20000u, 1000000u}) {
        SCOPED_TRACE(size);
        std::vector<int> released(size, 0);
        std::vector<unsigned> keys(size);
        TreeNode *root = nullptr, *tip = nullptr;
        for (std::size_t i = 0; i < size; ++i) {
            TreeNode *node = btree_new();
            EXPECT_TRUE(node->data == nullptr && node->left == nullptr && node->right == nullptr);
            btree_fill(node, &released[i]);
            TreeNode **link = &root;
            keys[i] = random();
            if (size == 1000000u && tip != nullptr)
                link = i < size / 2 || i % 2 ? &tip->left : &tip->right;
            while (*link)
                link = keys[i] < keys[static_cast<int *>((*link)->data) - released.data()] ? &(*link)->left : &(*link)->right;
            *link = tip = node;
        }
        TreeNode *leftmost = root;
        while (leftmost->left)
            leftmost = leftmost->left;
        leftmost->left = btree_new();
        btree_free(root, count_release);
        EXPECT_EQ(std::count(released.begin(), released.end(), 1), static_cast<long>(size));
    }
}

// realloc(block, 0) may free the block and give NULL: every zero-byte
// request still gets a block.
TEST(Memory, ZeroSizesGetABlock)
{
    for (void *block : {lp_malloc(0), lp_calloc(8, 0), lp_realloc(nullptr, 0), lp_realloc(lp_malloc(16), 0)}) {
        EXPECT_NE(block, nullptr);
        std::free(block);
    }
}

using MemoryDeathTest = ::testing::Test;

// The Nth allocation through the hook aborts with its size; those before it
// succeed. Containers allocate through the hook too.
TEST_F(MemoryDeathTest, FailingAllocationAbortsWithItsSize)
{
    struct Case {
        const char *name;
        long fail_at;
        void (*allocate)();
        const char *message;
    };
    const Case cases[] = {
        {"third", 3, [] { std::free(lp_malloc(1)), std::free(lp_calloc(1, 2)), std::free(lp_strndup("abc", 2)); },
         "out of memory \\(3 bytes\\)"},
        {"calloc overflow", 0, [] { std::free(lp_calloc(SIZE_MAX / 2, 4)); }, "out of memory \\([0-9]+ x 4 bytes\\)\n" LIB_PARSE_TEST_EMULATOR_LINE "$"}, // and nothing after it
        // list_push makes the node first, then the element copy.
        {"list element", 3, [] {
             int value = 1;
             list_push(list_new(), &value, sizeof value);
         }, "out of memory \\(4 bytes\\)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                lp_memory_fail_after(c.fail_at);
                c.allocate();
            },
            std::string("^lib_parse: ") + c.message);
    }
}

} // namespace
