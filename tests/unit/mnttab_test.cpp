#include <gtest/gtest.h>

#include <sys/vfs.h>

#include <string>
#include <vector>

#include "space/mnttab.h"
#include "test_support.h"

using namespace sxpak;

namespace {

std::string type_text(const char* path) {
    struct statfs info;
    return statfs(path, &info) == 0 ? std::to_string(static_cast<long long>(info.f_type)) : "0";
}

// Points the layer at a mount table of the test's own.
class MountTable : public ::testing::Test {
protected:
    void SetUp() override {
        table_path = test_support::temp_dir() + "/mounts";
        mount_table_path = table_path.c_str();
        mnttab_reset();
    }
    void TearDown() override {
        mount_table_path = "/proc/self/mounts";
        mnttab_reset();
    }
    void write(const std::string& text) { test_support::write_file(table_path, text); }

    std::string table_path;
};

struct Expected {
    std::string mountpoint, source, fstype;
    int readonly;
};

void expect_entry(const MountEntry* entry, const Expected& e) {
    ASSERT_NE(entry, nullptr) << "expected " << e.mountpoint;
    EXPECT_EQ(std::string(entry->mountpoint), e.mountpoint);
    EXPECT_EQ(std::string(entry->source), e.source);
    EXPECT_EQ(std::string(entry->fstype), e.fstype);
    EXPECT_EQ(entry->readonly, e.readonly) << e.mountpoint;
    EXPECT_EQ(entry->spare, 0);
}

const char* const three_mounts =
    "/dev/vda1 / ext4 rw,relatime 0 0\n"
    "proc /proc proc ro,nosuid,nodev 0 0\n"
    "//server\\share /mnt/with\\040blank cifs rw,ro_compat 0 0\n";

}  // namespace

TEST_F(MountTable, WalkOrderEndAndWrap) {
    write(three_mounts);
    const std::vector<Expected> expected = {
        {"/", "/dev/vda1", type_text("/"), 0},
        {"/proc", "proc", type_text("/proc"), 1},
        // Backslashes become slashes in the source only; a missing mount point has type 0.
        {"/mnt/with blank", "//server/share", "0", 0},
    };
    for (const Expected& e : expected) expect_entry(mnttab_next(), e);
    EXPECT_EQ(mnttab_next(), nullptr);
    expect_entry(mnttab_next(), expected[0]);

    // Reset in the middle of a walk starts over.
    expect_entry(mnttab_next(), expected[1]);
    mnttab_reset();
    expect_entry(mnttab_next(), expected[0]);
}

TEST_F(MountTable, EveryCallReadsTheTableAfresh) {
    write(three_mounts);
    ASSERT_NE(mnttab_next(), nullptr);
    write("a /a tmpfs rw 0 0\nb /b tmpfs rw 0 0\nc /c tmpfs rw 0 0\n");
    expect_entry(mnttab_next(), {"/b", "b", "0", 0});
    // The table shrank below the position: the walk ends and starts over.
    write("a /a tmpfs rw 0 0\n");
    EXPECT_EQ(mnttab_next(), nullptr);
    expect_entry(mnttab_next(), {"/a", "a", "0", 0});
}

TEST_F(MountTable, Find) {
    write(three_mounts);
    ASSERT_NE(mnttab_next(), nullptr);
    ASSERT_NE(mnttab_next(), nullptr);
    struct Case {
        const char* name;
        const char* mountpoint;   // null: no match
    };
    const Case cases[] = {
        {"/proc", "/proc"},
        {"/dev/vda1", "/"},
        {"/mnt/with blank", "/mnt/with blank"},
        {"//server\\share", "/mnt/with blank"},   // the source as the platform gives it
        {"//server/share", nullptr},
        {"/mnt/with\\040blank", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const MountEntry* found = mnttab_find(c.name);
        if (c.mountpoint == nullptr) {
            EXPECT_EQ(found, nullptr) << c.name;
        } else {
            ASSERT_NE(found, nullptr) << c.name;
            EXPECT_STREQ(found->mountpoint, c.mountpoint);
        }
        // Either way the walk is reset.
        const MountEntry* first = mnttab_next();
        ASSERT_NE(first, nullptr);
        EXPECT_STREQ(first->mountpoint, "/");
        mnttab_reset();
    }
}

TEST_F(MountTable, EscapesAndMalformedLines) {
    const std::string long_point = "/mnt/" + std::string(300, 'p');
    write("\n"
          "lonely\n"
          "\\134\\134host\\134vol /mnt/tab\\011and\\134slash nfs ro 0 0\n"
          "src /mnt/odd\\777\\12\\ nfs rw,noatime,ro 0 0\n"
          "src2\t/mnt/tabs\ttmpfs\trw\n"
          "src3 /mnt/noopts\n"
          "src4 " + long_point + " tmpfs rw 0 0\n"
          "src5 /mnt/last tmpfs rw 0 0");   // no final newline
    expect_entry(mnttab_next(), {"/mnt/tab\tand\\slash", "//host/vol", "0", 1});
    // Not escapes: kept as they are.
    expect_entry(mnttab_next(), {"/mnt/odd\\777\\12\\", "src", "0", 1});
    expect_entry(mnttab_next(), {"/mnt/tabs", "src2", "0", 0});
    expect_entry(mnttab_next(), {"/mnt/noopts", "src3", "0", 0});
    // Cut to 127 characters and terminated; the lookup compares the full name.
    expect_entry(mnttab_next(), {long_point.substr(0, mount_name_size - 1), "src4", "0", 0});
    expect_entry(mnttab_next(), {"/mnt/last", "src5", "0", 0});
    EXPECT_EQ(mnttab_next(), nullptr);

    const MountEntry* found = mnttab_find(long_point.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->source, "src4");
    EXPECT_EQ(mnttab_find(long_point.substr(0, mount_name_size - 1).c_str()), nullptr);
}

TEST_F(MountTable, MissingOrEmptyTable) {
    mount_table_path = "/nonexistent/sxpak/mounts";
    EXPECT_EQ(mnttab_next(), nullptr);
    EXPECT_EQ(mnttab_find("/"), nullptr);
    mount_table_path = table_path.c_str();
    write("");
    EXPECT_EQ(mnttab_next(), nullptr);
    EXPECT_EQ(mnttab_find("/"), nullptr);
}

TEST(MountTableOfThisSystem, HoldsRootAndProc) {
    mnttab_reset();
    bool root = false, proc = false;
    for (const MountEntry* e = mnttab_next(); e != nullptr; e = mnttab_next()) {
        if (std::string(e->mountpoint) == "/") root = true;
        if (std::string(e->mountpoint) == "/proc") {
            proc = true;
            EXPECT_STREQ(e->fstype, "40864");   // the proc filesystem's type number
        }
    }
    EXPECT_TRUE(root);
    EXPECT_TRUE(proc);
}
