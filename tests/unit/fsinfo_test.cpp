#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "space/fsinfo.h"
#include "test_support.h"

using namespace sxpak;

namespace {

int entries_in(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return -1;
    int count = 0;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++count;
    closedir(d);
    return count;
}

}  // namespace

TEST(FsinfoArithmetic, BlocksPerMegabyte) {
    struct Case {
        int64_t block_size;
        int64_t expected;
    };
    const Case cases[] = {
        {512, 2048}, {1024, 1024}, {1536, 682}, {4096, 256}, {8192, 128}, {65536, 16},
        // Below 512 bytes (and nonsense sizes) count as 512.
        {0, 2048}, {100, 2048}, {-4096, 2048},
        // The last size with a divisor, and the first without one.
        {1049087, 1}, {1049088, 0}, {4194304, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fsinfo_blocks_per_mb(c.block_size), c.expected) << "block size " << c.block_size;
}

TEST(FsinfoArithmetic, Megabytes) {
    struct Case {
        int64_t block_size;
        int64_t count;
        int64_t expected;
    };
    const Case cases[] = {
        {512, 2047, 0},
        {512, 2048, 1},
        {1024, 10239, 9},
        {1536, 682 * 3, 3},
        {4096, 2600, 10},
        {8192, 1280, 10},
        {65536, 16 * 7 + 15, 7},
        {0, 4096, 2},
        // Counts beyond 32 bits are carried, not wrapped.
        {4096, int64_t{1} << 40, int64_t{1} << 32},
        // No divisor: exact bytes / 1 MiB.
        {1049088, 1, 1},
        {1049088, 2048, 2049},
        {4194304, 5, 20},
        {INT64_MAX, INT64_MAX, INT64_MAX},
        // A negative count means nothing free.
        {4096, -1, 0},
        {1049088, -5, 0},
        {4096, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fsinfo_megabytes(c.block_size, c.count), c.expected)
            << "block size " << c.block_size << ", count " << c.count;
}

TEST(Fsinfo, QueriesOnRealPaths) {
    int same = -7, free_mb = -7;
    EXPECT_EQ(fsinfo_mbfree("/nonexistent/sxpak", 1, &same, &free_mb), -1);
    EXPECT_EQ(same, -7) << "outputs must stay untouched after a failed query";
    EXPECT_EQ(free_mb, -7);

    // /proc has no blocks at all: 0 free megabytes, 0 percent.
    EXPECT_EQ(fsinfo_mbfree("/proc", 0, &same, &free_mb), 1);
    EXPECT_EQ(free_mb, 0);
    EXPECT_EQ(same, 0);
    EXPECT_EQ(fsinfo_mbfree("/proc", 1, &same, &free_mb), 0);
    EXPECT_EQ(fsinfo_pctfree("/proc", 0, nullptr, nullptr), 1);
    EXPECT_EQ(fsinfo_pctfree("/proc", 1, nullptr, nullptr), 0);

    EXPECT_EQ(fsinfo_mbfree("/", 0, &same, &free_mb), 1);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(fsinfo_pctfree("/", 101, nullptr, nullptr), 0);

    free_mb = -7;
    EXPECT_EQ(fsinfo_check(3, "/", 0, &same, &free_mb), -1);
    EXPECT_GE(free_mb, 0) << "an unknown kind still reports the figures";

    EXPECT_EQ(fsinfo_samefs("/", "/"), 1);
    EXPECT_EQ(fsinfo_samefs("/", "/proc"), 0);
    EXPECT_EQ(fsinfo_samefs("/", "/nonexistent/sxpak"), -1);
    EXPECT_EQ(fsinfo_samefs("/nonexistent/sxpak", "/"), -1);

    EXPECT_EQ(fsinfo_mbused("/nonexistent/sxpak"), 0.0);
    EXPECT_EQ(fsinfo_used("/nonexistent/sxpak", 1), 0);
    EXPECT_EQ(fsinfo_free("/nonexistent/sxpak", 1), 0);
    EXPECT_EQ(fsinfo_used("/", 0), 0);
    EXPECT_EQ(fsinfo_free("/", 0), 0);
    EXPECT_EQ(fsinfo_used("/proc", 1), 0);
}

TEST(Fsinfo, FreeBytesBeyondFourGigabytes) {
    struct statfs info;
    ASSERT_EQ(statfs("/", &info), 0);
    double expected_mb = static_cast<double>(info.f_bfree) * static_cast<double>(info.f_bsize) / 1048576.0;
    if (expected_mb > INT32_MAX) GTEST_SKIP() << "root filesystem too large for an int figure";
    // Free space moves while the test runs; a wrapped 32-bit product would be far off.
    EXPECT_NEAR(fsinfo_free("/", 1048576), expected_mb, 256.0);
    double used_mb = static_cast<double>(info.f_blocks - info.f_bfree) * static_cast<double>(info.f_bsize) / 1048576.0;
    EXPECT_NEAR(fsinfo_mbused("/"), used_mb, 256.0);
}

TEST(Fsinfo, Writable) {
    std::string dir = test_support::temp_dir();
    EXPECT_EQ(fsinfo_writable(dir.c_str()), 1);
    EXPECT_EQ(entries_in(dir), 0) << "the probe file must not be left behind";

    // A probe name that is already taken belongs to someone else: kept intact.
    long now = static_cast<long>(time(nullptr));
    for (long t = now; t < now + 3; ++t)
        test_support::write_file(dir + "/" + std::to_string(t) + "._fst.", "keep");
    EXPECT_EQ(fsinfo_writable(dir.c_str()), 1);
    EXPECT_EQ(entries_in(dir), 3);
    for (long t = now; t < now + 3; ++t) {
        std::string name = dir + "/" + std::to_string(t) + "._fst.";
        EXPECT_EQ(test_support::read_file(name).size(), 4u) << name;
        unlink(name.c_str());
    }

    // No write bit: 0 without trying (root could create it all the same).
    std::string locked = dir + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    EXPECT_EQ(fsinfo_writable(locked.c_str()), 0);
    EXPECT_EQ(entries_in(locked), 0);

    EXPECT_EQ(fsinfo_writable("/nonexistent/sxpak"), 0);
    std::string long_path = dir + "/" + std::string(5000, 'x');
    EXPECT_EQ(fsinfo_writable(long_path.c_str()), 0);
}
