// test_containers.cpp - list, tree and checked-allocation behaviour.
#include "containers.h"
#include "memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

struct ListDeleter {
    void operator()(List *list) const { list_free(list, std::free); }
};
using ListPtr = std::unique_ptr<List, ListDeleter>;

// A list of int copies that reads VALUES in order from the head.
ListPtr int_list(const std::vector<int> &values)
{
    ListPtr list(list_new());
    for (auto it = values.rbegin(); it != values.rend(); ++it) {
        int local = *it;
        list_push(list.get(), &local, sizeof local);
    }
    return list;
}

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

TEST(List, PushCopiesBySizeAndKeepsPointersAtSizeZero)
{
    ListPtr list(list_new());
    EXPECT_EQ(contents(list.get()), std::vector<int>{});
    int local = 1;
    list_push(list.get(), &local, sizeof local);
    local = 2;
    list_push(list.get(), &local, sizeof local);
    local = 99; // later changes to the local must not show through
    EXPECT_EQ(contents(list.get()), (std::vector<int>{2, 1}));

    char *text = static_cast<char *>(std::malloc(4));
    std::strcpy(text, "abc");
    list_push(list.get(), text, 0);
    EXPECT_EQ(list->head->data, text); // list_free releases it: LeakSanitizer checks
}

TEST(List, PopIndexKeepsTheRestInOrder)
{
    struct Case {
        std::vector<int> before;
        int index;
        int popped; // 0: nothing popped
        std::vector<int> after;
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, 0, 10, {20, 30, 40}}, {{10, 20, 30, 40}, 1, 20, {10, 30, 40}},
        {{10, 20, 30, 40}, 2, 30, {10, 20, 40}}, {{10, 20, 30, 40}, 3, 40, {10, 20, 30}},
        {{10, 20, 30, 40}, 4, 0, {10, 20, 30, 40}}, {{10, 20, 30, 40}, -1, 0, {10, 20, 30, 40}},
        {{10}, 0, 10, {}}, {{10}, 1, 0, {10}}, {{}, 0, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.index) + " of " + std::to_string(c.before.size()));
        ListPtr list = int_list(c.before);
        int *popped = static_cast<int *>(list_pop_index(list.get(), c.index));
        EXPECT_EQ(popped ? *popped : 0, c.popped);
        std::free(popped);
        EXPECT_EQ(contents(list.get()), c.after);
        int local = 7; // the list stays usable, also once emptied
        list_push(list.get(), &local, sizeof local);
        EXPECT_EQ(contents(list.get()).front(), 7);
    }
}

TEST(List, ReverseInPlace)
{
    for (const std::vector<int> &input : {std::vector<int>{}, {1}, {1, 2}, {1, 2, 3, 4, 5}}) {
        ListPtr list = int_list(input);
        list_reverse(list.get());
        EXPECT_EQ(contents(list.get()), std::vector<int>(input.rbegin(), input.rend()));
        list_reverse(list.get());
        EXPECT_EQ(contents(list.get()), input);
    }
}

TEST(List, FreeReleasesEachElementOnceAndNullIsHarmless)
{
    std::vector<int> released(100, 0);
    List *list = list_new();
    for (int &counter : released)
        list_push(list, &counter, 0);
    // Popped elements belong to the caller and must not be released again.
    int *taken = static_cast<int *>(list_pop_index(list, 50));
    list_free(list, count_release);
    for (std::size_t i = 0; i < released.size(); ++i)
        EXPECT_EQ(released[i], &released[i] == taken ? 0 : 1) << "element " << i;

    int local = 1;
    list_push(nullptr, &local, sizeof local);
    EXPECT_EQ(list_pop_index(nullptr, 0), nullptr);
    EXPECT_EQ(list_count(nullptr), 0);
    list_reverse(nullptr);
    list_free(nullptr, count_release);
    list_free(list_new(), nullptr);
}

// Every node's element is its own counter, so each release can be checked.
struct Forest {
    std::vector<int> released;
    explicit Forest(std::size_t nodes) : released(nodes, 0) {}
    TreeNode *node(std::size_t i)
    {
        TreeNode *n = btree_new();
        EXPECT_TRUE(n->data == nullptr && n->left == nullptr && n->right == nullptr);
        btree_fill(n, &released[i]);
        return n;
    }
    void free_and_check(TreeNode *root)
    {
        btree_free(root, count_release);
        EXPECT_EQ(std::count(released.begin(), released.end(), 1), static_cast<long>(released.size()));
    }
};

// A million-deep zigzag overflows the stack of a release that recurses on
// either side.
TEST(Tree, FreeDeepChainWithoutRecursion)
{
    constexpr std::size_t kDepth = 1000000;
    Forest forest(kDepth);
    TreeNode *root = forest.node(0);
    TreeNode *tip = root;
    for (std::size_t i = 1; i < kDepth; ++i)
        tip = (i % 2 ? tip->left : tip->right) = forest.node(i);
    forest.free_and_check(root);
}

TEST(Tree, FreeArbitraryShapes)
{
    // Random binary search trees give every kind of branching.
    std::mt19937 random(12345);
    for (std::size_t size : {1u, 2u, 3u, 17u, 20000u}) {
        SCOPED_TRACE(size);
        Forest forest(size);
        std::vector<unsigned> keys(size);
        TreeNode *root = nullptr;
        for (std::size_t i = 0; i < size; ++i) {
            keys[i] = random();
            TreeNode **link = &root;
            while (*link) {
                std::size_t at = static_cast<int *>((*link)->data) - forest.released.data();
                link = keys[i] < keys[at] ? &(*link)->left : &(*link)->right;
            }
            *link = forest.node(i);
        }
        TreeNode *leftmost = root; // gets a node without an element, which is not released
        while (leftmost->left)
            leftmost = leftmost->left;
        leftmost->left = btree_new();
        forest.free_and_check(root);
    }
    btree_free(nullptr, count_release);
}

TEST(Memory, ZeroSizesCallocReallocAndStrndup)
{
    lp_memory_fail_after(1);
    lp_memory_fail_after(-5); // switched off again: every allocation below succeeds
    std::set<void *> blocks;
    for (void *p : {lp_malloc(0), lp_malloc(0), lp_calloc(0, 8), lp_calloc(8, 0), lp_realloc(nullptr, 0),
                    lp_realloc(lp_malloc(16), 0)}) {
        EXPECT_NE(p, nullptr);
        blocks.insert(p);
    }
    EXPECT_EQ(blocks.size(), 6u) << "each zero-size request gives a block of its own";
    for (void *p : blocks)
        std::free(p);

    unsigned char *zeroed = static_cast<unsigned char *>(lp_calloc(64, 4));
    EXPECT_EQ(std::count(zeroed, zeroed + 256, 0), 256);
    std::free(zeroed);
    char *grown = static_cast<char *>(lp_malloc(6));
    std::memcpy(grown, "hello", 6);
    grown = static_cast<char *>(lp_realloc(grown, 1 << 20));
    EXPECT_STREQ(grown, "hello");
    std::free(grown);

    struct Case {
        const char *text;
        std::size_t length;
        const char *expected;
    };
    const Case cases[] = {{"2*(x+1)", 1, "2"}, {"2*(x+1)", 7, "2*(x+1)"}, {"2*(x+1)", 0, ""}, {"ab\0cd", 5, "ab"}};
    for (const Case &c : cases) {
        char *copy = lp_strndup(c.text, c.length);
        EXPECT_STREQ(copy, c.expected) << c.text << " / " << c.length;
        EXPECT_NE(copy, c.text);
        std::free(copy);
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
        {"malloc", 1, [] { std::free(lp_malloc(24)); }, "out of memory \\(24 bytes\\)"},
        {"calloc", 1, [] { std::free(lp_calloc(3, 8)); }, "out of memory \\(24 bytes\\)"},
        {"realloc", 1, [] { std::free(lp_realloc(nullptr, 40)); }, "out of memory \\(40 bytes\\)"},
        {"strndup", 1, [] { std::free(lp_strndup("abcdef", 4)); }, "out of memory \\(5 bytes\\)"},
        {"third", 3, [] { std::free(lp_malloc(1)), std::free(lp_calloc(1, 2)), std::free(lp_malloc(3)); },
         "out of memory \\(3 bytes\\)"},
        {"calloc overflow", 0, [] { std::free(lp_calloc(SIZE_MAX / 2, 4)); }, "out of memory"},
        // list_push makes the node first, then the element copy.
        {"list element", 3, [] {
             int value = 1;
             list_push(list_new(), &value, sizeof value);
         }, "out of memory \\(4 bytes\\)"},
        {"tree node", 1, [] { btree_free(btree_new(), nullptr); }, "out of memory"},
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
