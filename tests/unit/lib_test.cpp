#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/aplist.h"
#include "lib/basename.h"
#include "lib/strdel.h"
#include "lib/strsplit.h"

#if defined(__SANITIZE_ADDRESS__)
#define LIB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIB_TEST_ASAN 1
#endif
#endif

namespace {

using sxpak::aplist_header;

// Elements are slots of this array; the release function counts calls per slot.
std::array<int, 64> elements;
std::array<int, 64> release_calls;

void count_release(void* element) {
    ++release_calls[static_cast<int*>(element) - elements.data()];
}

void reset_release_calls() { release_calls.fill(0); }

std::vector<std::string> pieces_of(void** list) {
    std::vector<std::string> pieces;
    for (int i = 0; list[i] != nullptr; ++i) pieces.emplace_back(static_cast<char*>(list[i]));
    return pieces;
}

// ---- strsplit --------------------------------------------------------------

struct SplitCase {
    const char* input;
    const char* delimiters;
    bool null_result;
    std::vector<std::string> pieces;
};

TEST(Strsplit, Table) {
    const std::vector<SplitCase> cases = {
        {"", ",", true, {}},
        {nullptr, ",", true, {}},
        {"a", ",", false, {"a"}},
        {"a,b,c", ",", false, {"a", "b", "c"}},
        {"a,", ",", false, {"a"}},
        {",a", ",", false, {"", "a"}},
        {",", ",", false, {""}},
        {"a,,b", ",", false, {"a", "", "b"}},
        {"a,\"b,c\"", ",", false, {"a", "b,c"}},
        {"a,\"b,c", ",", false, {"a", "b,c"}},
        {"ab\"cd\",e", ",", false, {"cd", "e"}},
        {"\"ab\"cd,e", ",", false, {"abcd", "e"}},
        {"a,\"\"", ",", false, {"a", ""}},
        {"a,\"\",b", ",", false, {"a", "", "b"}},
        {"a,\"b\"\"\"", ",", false, {"a", "b"}},
        {"a\\,b,c", ",", false, {"a,b", "c"}},
        {"x,a\\,b", ",", false, {"x", "a,b"}},
        {"a\\\\b,c", ",", false, {"ab", "c"}},
        {"a\\", ",", false, {"a"}},
        {"\"a\\\"b\",c", ",", false, {"a\"b\",c"}},
        // Only the first group groups: later quotes vanish and do not protect.
        {"\"a,b\",c,\"d,e\"", ",", false, {"a,b", "c", "d", "e"}},
        // The character after a closing quote is never an escape.
        {"\"a\"\\,b", ",", false, {"a\\", "b"}},
        {"a \"b c\"", " ", false, {"a", "b c"}},
        {"\"a b\" \"c d\"", " ", false, {"a b", "c", "d"}},
        {"a b\tc", " \t", false, {"a", "b", "c"}},
        {"NOCOMPR,VFYFS=/opt,FSSUB=tools,NAME=a.tar", ",", false,
         {"NOCOMPR", "VFYFS=/opt", "FSSUB=tools", "NAME=a.tar"}},
        {"a,b", nullptr, false, {"a,b"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.input == nullptr ? "(null)" : c.input);
        const std::string before = c.input == nullptr ? "" : c.input;
        void** list = sxpak::strsplit(c.input, c.delimiters);
        if (c.input != nullptr) {
            EXPECT_EQ(before, c.input) << "input modified";
        }
        if (c.null_result) {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(sxpak::aplist_valid(list), 0);
        EXPECT_EQ(pieces_of(list), c.pieces);
        EXPECT_EQ(sxpak::aplist_count(list), static_cast<int>(c.pieces.size()));
        sxpak::aplist_free(list);
    }
}

// ---- strdel and basename ---------------------------------------------------

TEST(Strdel, Table) {
    struct Case {
        const char* input;
        int c;
        int deleted;
        const char* result;
    };
    const Case cases[] = {
        {"a\"b\"c", '"', 2, "abc"},
        {"", 'x', 0, ""},
        {"aaa", 'a', 3, ""},
        {"abc", 'z', 0, "abc"},
        {"abc", '\0', 0, "abc"},  // the terminator is never deleted
        {"x\xe9y\xe9", 0xe9, 2, "xy"},
        {"x\xe9y", static_cast<char>(0xe9), 1, "xy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::string buffer = c.input;
        EXPECT_EQ(sxpak::strdel(buffer.data(), c.c), c.deleted);
        EXPECT_STREQ(buffer.c_str(), c.result);
    }
    EXPECT_EQ(sxpak::strdel(nullptr, 'a'), 0);
}

TEST(Basename, Table) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/local/bin/tool", "tool"}, {"dir/", ""}, {"name", "name"},
        {"/", ""}, {"a//b", "b"}, {"", ""},
    };
    for (const auto& [input, result] : cases) {
        SCOPED_TRACE(input);
        std::string buffer = input;
        EXPECT_EQ(sxpak::basename(buffer.data()), buffer.data());
        EXPECT_STREQ(buffer.c_str(), result);
    }
    EXPECT_EQ(sxpak::basename(nullptr), nullptr);
}

// ---- aplist ----------------------------------------------------------------

TEST(Aplist, CreateClampsCapacity) {
    for (const auto& [asked, capacity] : {std::pair{0, 1}, {-5, 1}, {1, 1}, {3, 3}}) {
        void** list = sxpak::aplist_create(asked, nullptr);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(aplist_header(list)->capacity, capacity);
        EXPECT_EQ(aplist_header(list)->array, list);
        EXPECT_EQ(aplist_header(list)->no_free, 1);
        EXPECT_EQ(sxpak::aplist_count(list), 0);
        for (int i = 0; i <= capacity; ++i) EXPECT_EQ(list[i], nullptr);
        EXPECT_EQ(sxpak::aplist_valid(list), 0);
        sxpak::aplist_destroy(list);
    }
}

TEST(Aplist, AppendDoublesCapacityAndKeepsOrder) {
    void** list = sxpak::aplist_create(1, nullptr);
    ASSERT_NE(list, nullptr);
    const std::vector<int> expected = {1, 2, 4, 4, 8, 8, 8, 8, 16, 16};
    std::vector<int> capacities;
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        ASSERT_EQ(sxpak::aplist_append(&list, &elements[i]), 0);
        capacities.push_back(aplist_header(list)->capacity);
        EXPECT_EQ(aplist_header(list)->count, i + 1);
        EXPECT_EQ(aplist_header(list)->array, list);
    }
    EXPECT_EQ(capacities, expected);
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) EXPECT_EQ(list[i], &elements[i]);
    EXPECT_EQ(list[expected.size()], nullptr);
    EXPECT_EQ(sxpak::aplist_rawcount(list), static_cast<int>(expected.size()));
    sxpak::aplist_destroy(list);
}

TEST(Aplist, ReleasesOwnedElementsOnceBeforeAndAfterGrowth) {
    for (int n : {0, 1, 2, 5, 40}) {
        SCOPED_TRACE(n);
        reset_release_calls();
        void** list = sxpak::aplist_create(1, count_release);
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < n; ++i) ASSERT_EQ(sxpak::aplist_append(&list, &elements[i]), 0);
        sxpak::aplist_free(list);
        for (int i = 0; i < static_cast<int>(elements.size()); ++i) EXPECT_EQ(release_calls[i], i < n ? 1 : 0) << i;
    }
}

TEST(Aplist, BorrowingListAndDestroyReleaseNoElement) {
    for (int n : {1, 5, 40}) {
        SCOPED_TRACE(n);
        reset_release_calls();
        void** borrowing = sxpak::aplist_create(1, nullptr);
        void** owning = sxpak::aplist_create(1, count_release);
        ASSERT_NE(borrowing, nullptr);
        ASSERT_NE(owning, nullptr);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(sxpak::aplist_append(&borrowing, &elements[i]), 0);
            ASSERT_EQ(sxpak::aplist_append(&owning, &elements[i]), 0);
        }
        sxpak::aplist_free(borrowing);
        sxpak::aplist_destroy(owning);
        for (int calls : release_calls) EXPECT_EQ(calls, 0);
    }
}

TEST(Aplist, OwnsHeapStringsWithFree) {
    void** list = sxpak::aplist_create(1, free);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(sxpak::aplist_append(&list, strdup("piece")), 0);
    EXPECT_EQ(sxpak::aplist_count(list), 20);
    sxpak::aplist_free(list);  // the leak checker sees any string left behind
}

TEST(Aplist, NullHandling) {
    sxpak::aplist_free(nullptr);
    sxpak::aplist_destroy(nullptr);
    EXPECT_EQ(sxpak::aplist_count(nullptr), 0);
    EXPECT_EQ(sxpak::aplist_valid(nullptr), -1);
    EXPECT_EQ(sxpak::aplist_grow(nullptr, 4), nullptr);
    EXPECT_EQ(sxpak::aplist_append(nullptr, &elements[0]), -1);

    void** none = nullptr;
    EXPECT_EQ(sxpak::aplist_append(&none, &elements[0]), -1);
    EXPECT_EQ(none, nullptr);

    // A null element would end the array early: refused, list unchanged.
    void** list = sxpak::aplist_create(1, nullptr);
    ASSERT_NE(list, nullptr);
    void** before = list;
    EXPECT_EQ(sxpak::aplist_append(&list, nullptr), -1);
    EXPECT_EQ(list, before);
    EXPECT_EQ(sxpak::aplist_count(list), 0);
    sxpak::aplist_destroy(list);
}

TEST(Aplist, GrowTransfersElementsAndOwnership) {
    reset_release_calls();
    void** list = sxpak::aplist_create(2, count_release);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(sxpak::aplist_append(&list, &elements[0]), 0);
    ASSERT_EQ(sxpak::aplist_append(&list, &elements[1]), 0);
    aplist_header(list)->reserved = 7;

    // An impossible size fails and leaves the list as it was.
    EXPECT_EQ(sxpak::aplist_grow(list, INT_MAX), nullptr);
    EXPECT_EQ(sxpak::aplist_grow(list, -1), nullptr);
    EXPECT_EQ(sxpak::aplist_valid(list), 0);
    EXPECT_EQ(sxpak::aplist_count(list), 2);

    void** grown = sxpak::aplist_grow(list, 3);
    ASSERT_NE(grown, nullptr);
    const sxpak::AplistHeader* header = aplist_header(grown);
    EXPECT_EQ(header->capacity, 5);
    EXPECT_EQ(header->count, 2);
    EXPECT_EQ(header->reserved, 7);
    EXPECT_EQ(header->no_free, 0);
    EXPECT_EQ(header->free_fn, count_release);
    EXPECT_EQ(grown[0], &elements[0]);
    EXPECT_EQ(grown[1], &elements[1]);
    EXPECT_EQ(grown[2], nullptr);
    for (int calls : release_calls) EXPECT_EQ(calls, 0);  // moved, not released
    sxpak::aplist_free(grown);
    EXPECT_EQ(release_calls[0], 1);
    EXPECT_EQ(release_calls[1], 1);
}

TEST(Aplist, RawcountWalksPlainArray) {
    int a = 0, b = 0;
    void* plain[] = {&a, &b, nullptr, &a};
    EXPECT_EQ(sxpak::aplist_rawcount(plain), 2);
    void* empty[] = {nullptr};
    EXPECT_EQ(sxpak::aplist_rawcount(empty), 0);
}

// When growth runs out of memory, append drops the whole list (owned elements
// included), nulls the caller's variable and leaves the new element alone.
TEST(Aplist, FailedGrowthReleasesListAndNullsVariable) {
#ifdef LIB_TEST_ASAN
    GTEST_SKIP() << "an address-space limit does not mix with the sanitizer's shadow memory";
#else
    long pages = 0;
    if (FILE* statm = fopen("/proc/self/statm", "r")) {
        if (fscanf(statm, "%ld", &pages) != 1) pages = 0;
        fclose(statm);
    }
    if (pages <= 0) GTEST_SKIP() << "no /proc/self/statm";
    fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (64u << 20);
        const struct rlimit rl = {limit, limit};
        if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(10);
        static int released = 0;
        void** list = sxpak::aplist_create(1, [](void*) { ++released; });
        if (list == nullptr) _exit(11);
        static int element = 0;
        int appended = 0;
        while (sxpak::aplist_append(&list, &element) == 0) {
            if (++appended > (1 << 26)) _exit(12);  // the limit did not bite
        }
        if (list != nullptr) _exit(13);
        if (released != appended) _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

}  // namespace
