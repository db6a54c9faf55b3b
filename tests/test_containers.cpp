// test_containers.cpp - list, tree and checked-allocation behaviour.
#include "containers.h"
#include "memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

// A list of int copies pushed so that it reads VALUES in order from the head.
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
    return out;
}

// Release routine for elements that point at a per-element counter.
void count_release(void *data)
{
    ++*static_cast<int *>(data);
}

TEST(List, NewIsEmpty)
{
    ListPtr list(list_new());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list_count(list.get()), 0);
}

TEST(List, PushBySizeCopiesTheCallersBytes)
{
    ListPtr list(list_new());
    int local = 1;
    list_push(list.get(), &local, sizeof local);
    local = 2;
    list_push(list.get(), &local, sizeof local);
    local = 99; // later changes to the local must not show through
    EXPECT_EQ(contents(list.get()), (std::vector<int>{2, 1}));
    EXPECT_NE(list->head->data, static_cast<void *>(&local));
    EXPECT_NE(list->head->data, list->head->next->data);
}

TEST(List, PushSizeZeroKeepsThePointer)
{
    List *list = list_new();
    char *text = static_cast<char *>(std::malloc(4));
    std::strcpy(text, "abc");
    list_push(list, text, 0);
    EXPECT_EQ(list->head->data, text);
    EXPECT_EQ(list_count(list), 1);
    list_free(list, std::free); // releases TEXT itself; ASan reports a leak otherwise
}

TEST(List, PopIndexKeepsTheRestInOrder)
{
    struct Case {
        std::vector<int> before;
        int index;
        bool found;
        int popped;
        std::vector<int> after;
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, 0, true, 10, {20, 30, 40}},
        {{10, 20, 30, 40}, 1, true, 20, {10, 30, 40}},
        {{10, 20, 30, 40}, 2, true, 30, {10, 20, 40}},
        {{10, 20, 30, 40}, 3, true, 40, {10, 20, 30}},
        {{10, 20, 30, 40}, 4, false, 0, {10, 20, 30, 40}},
        {{10, 20, 30, 40}, -1, false, 0, {10, 20, 30, 40}},
        {{10}, 0, true, 10, {}},
        {{10}, 1, false, 0, {10}},
        {{}, 0, false, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.index) + " of " +
                     std::to_string(c.before.size()));
        ListPtr list = int_list(c.before);
        int *popped = static_cast<int *>(list_pop_index(list.get(), c.index));
        ASSERT_EQ(popped != nullptr, c.found);
        if (popped) {
            EXPECT_EQ(*popped, c.popped);
        }
        std::free(popped);
        EXPECT_EQ(contents(list.get()), c.after);
        EXPECT_EQ(list_count(list.get()), static_cast<int>(c.after.size()));
    }
}

TEST(List, PopUntilEmptyThenPushAgain)
{
    ListPtr list = int_list({1, 2, 3});
    for (int expected : {2, 3, 1}) {
        int index = expected == 1 ? 0 : 1;
        int *popped = static_cast<int *>(list_pop_index(list.get(), index));
        ASSERT_NE(popped, nullptr);
        EXPECT_EQ(*popped, expected);
        std::free(popped);
    }
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list_count(list.get()), 0);
    int local = 7;
    list_push(list.get(), &local, sizeof local);
    EXPECT_EQ(contents(list.get()), std::vector<int>{7});
}

TEST(List, ReverseKeepsTheHandleAndCount)
{
    const std::vector<std::vector<int>> inputs = {{}, {1}, {1, 2}, {1, 2, 3, 4, 5}};
    for (const auto &input : inputs) {
        SCOPED_TRACE(input.size());
        ListPtr list = int_list(input);
        List *handle = list.get();
        list_reverse(handle);
        EXPECT_EQ(contents(handle), std::vector<int>(input.rbegin(), input.rend()));
        EXPECT_EQ(list_count(handle), static_cast<int>(input.size()));
        list_reverse(handle);
        EXPECT_EQ(contents(handle), input);
    }
}

TEST(List, FreeReleasesEachElementOnce)
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
}

TEST(List, NullListsAreHarmless)
{
    int local = 1;
    list_push(nullptr, &local, sizeof local);
    EXPECT_EQ(list_pop_index(nullptr, 0), nullptr);
    EXPECT_EQ(list_count(nullptr), 0);
    list_reverse(nullptr);
    list_free(nullptr, count_release);
    List *list = list_new();
    list_free(list, nullptr); // no release routine: nodes and handle only
}

// Tree helpers: every node's data points at its own counter so that
// btree_free's calls can be checked one by one.
struct Forest {
    std::vector<int> released;
    explicit Forest(std::size_t nodes) : released(nodes, 0) {}
    TreeNode *node(std::size_t i)
    {
        TreeNode *n = btree_new();
        btree_fill(n, &released[i]);
        return n;
    }
    void expect_each_released_once() const
    {
        std::size_t wrong = 0;
        for (int r : released)
            wrong += r != 1;
        EXPECT_EQ(wrong, 0u) << "of " << released.size() << " nodes";
    }
};

TEST(Tree, NewNodeIsBlank)
{
    TreeNode *node = btree_new();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->data, nullptr);
    EXPECT_EQ(node->left, nullptr);
    EXPECT_EQ(node->right, nullptr);
    int value = 5;
    btree_fill(node, &value);
    EXPECT_EQ(node->data, &value);
    btree_free(node, nullptr);
    btree_free(nullptr, count_release);
}

// Deep chains would overflow the stack of any recursive release.
TEST(Tree, FreeDeepChainsWithoutRecursion)
{
    constexpr std::size_t kDepth = 1000000;
    enum Shape { kLeft, kRight, kZigZag };
    for (Shape shape : {kLeft, kRight, kZigZag}) {
        SCOPED_TRACE(shape);
        Forest forest(kDepth);
        TreeNode *root = forest.node(0);
        TreeNode *tip = root;
        for (std::size_t i = 1; i < kDepth; ++i) {
            TreeNode *child = forest.node(i);
            bool left = shape == kLeft || (shape == kZigZag && i % 2);
            (left ? tip->left : tip->right) = child;
            tip = child;
        }
        btree_free(root, count_release);
        forest.expect_each_released_once();
    }
}

TEST(Tree, FreeArbitraryShapes)
{
    // Random binary search trees of random keys give every kind of branching.
    std::mt19937 random(12345);
    for (std::size_t size : {1u, 2u, 3u, 17u, 1000u, 50000u}) {
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
        btree_free(root, count_release);
        forest.expect_each_released_once();
    }
}

TEST(Tree, UnfilledNodesAreFreedWithoutRelease)
{
    int released = 0;
    TreeNode *root = btree_new();
    root->left = btree_new();
    root->right = btree_new();
    btree_fill(root->right, &released);
    btree_free(root, count_release);
    EXPECT_EQ(released, 1);
}

TEST(Memory, ZeroSizeRequestsGiveDistinctBlocks)
{
    std::set<void *> blocks;
    void *a = lp_malloc(0);
    void *b = lp_malloc(0);
    void *c = lp_calloc(0, 8);
    void *d = lp_calloc(8, 0);
    void *e = lp_realloc(nullptr, 0);
    void *f = lp_realloc(lp_malloc(16), 0);
    for (void *p : {a, b, c, d, e, f}) {
        EXPECT_NE(p, nullptr);
        blocks.insert(p);
    }
    EXPECT_EQ(blocks.size(), 6u);
    for (void *p : blocks)
        std::free(p);
}

TEST(Memory, CallocZeroesAndReallocKeepsContents)
{
    unsigned char *zeroed = static_cast<unsigned char *>(lp_calloc(64, 4));
    EXPECT_EQ(std::count(zeroed, zeroed + 256, 0), 256);
    std::free(zeroed);

    char *grown = static_cast<char *>(lp_malloc(6));
    std::memcpy(grown, "hello", 6);
    grown = static_cast<char *>(lp_realloc(grown, 1 << 20));
    EXPECT_STREQ(grown, "hello");
    std::free(grown);
}

TEST(Memory, StrndupCopiesAPrefix)
{
    struct Case {
        const char *text;
        std::size_t length;
        const char *expected;
    };
    const Case cases[] = {
        {"2*(x+1)", 1, "2"},  {"2*(x+1)", 7, "2*(x+1)"}, {"2*(x+1)", 0, ""},
        {"ab\0cd", 5, "ab"}, // stops at an embedded NUL
    };
    for (const Case &c : cases) {
        char *copy = lp_strndup(c.text, c.length);
        EXPECT_STREQ(copy, c.expected) << c.text << " / " << c.length;
        EXPECT_NE(copy, c.text);
        std::free(copy);
    }
    // The copy is independent of its source.
    char source[] = "abc";
    char *copy = lp_strndup(source, 3);
    source[0] = 'z';
    EXPECT_STREQ(copy, "abc");
    std::free(copy);
}

TEST(Memory, HookCanBeSwitchedOff)
{
    lp_memory_fail_after(1);
    lp_memory_fail_after(0);
    std::free(lp_malloc(8)); // would abort if the hook were still armed
    lp_memory_fail_after(-5);
    std::free(lp_malloc(8));
}

using MemoryDeathTest = ::testing::Test;

TEST_F(MemoryDeathTest, FailingAllocationAbortsWithItsSize)
{
    struct Case {
        const char *name;
        void (*allocate)();
        const char *message;
    };
    const Case cases[] = {
        {"malloc", [] { std::free(lp_malloc(24)); }, "\\(24 bytes\\)"},
        {"calloc", [] { std::free(lp_calloc(3, 8)); }, "\\(24 bytes\\)"},
        {"realloc", [] { std::free(lp_realloc(nullptr, 40)); }, "\\(40 bytes\\)"},
        {"strndup", [] { std::free(lp_strndup("abcdef", 4)); }, "\\(5 bytes\\)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                lp_memory_fail_after(1);
                c.allocate();
            },
            std::string("^lib_parse: out of memory ") + c.message);
    }
}

TEST_F(MemoryDeathTest, ContainersAllocateThroughTheHook)
{
    // list_push makes the node first, then the element copy.
    EXPECT_DEATH(
        {
            List *list = list_new();
            lp_memory_fail_after(2);
            int value = 1;
            list_push(list, &value, sizeof value);
            list_free(list, std::free);
        },
        "^lib_parse: out of memory \\(4 bytes\\)");
    EXPECT_DEATH(
        {
            lp_memory_fail_after(1);
            btree_free(btree_new(), nullptr);
        },
        "^lib_parse: out of memory");
}

TEST_F(MemoryDeathTest, HookCountsAllocations)
{
    // The third allocation fails; the two before it succeed.
    EXPECT_DEATH(
        {
            lp_memory_fail_after(3);
            void *first = lp_malloc(1);
            void *second = lp_calloc(1, 2);
            std::fprintf(stderr, "two done\n");
            lp_malloc(3);
            std::free(first);
            std::free(second);
        },
        "two done\nlib_parse: out of memory \\(3 bytes\\)");
}

TEST_F(MemoryDeathTest, CallocSizeOverflowAborts)
{
    EXPECT_DEATH(lp_calloc(SIZE_MAX / 2, 4), "lib_parse: out of memory");
}

} // namespace
