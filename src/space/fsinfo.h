// Free space and identity of the filesystem that holds a path.
#pragma once

#include <cstdint>

namespace sxpak {

// Kinds of fsinfo_check.
constexpr int fsinfo_kind_percent = 1;
constexpr int fsinfo_kind_megabytes = 2;

// Blocks of block_size bytes per megabyte (1,048,576 bytes); 0 for blocks of
// 1,049,088 bytes or more, whose megabytes fsinfo_megabytes counts exactly.
[[nodiscard]] int64_t fsinfo_blocks_per_mb(int64_t block_size);

// Whole megabytes in count blocks of block_size bytes; 0 for a count of 0 or less.
[[nodiscard]] int64_t fsinfo_megabytes(int64_t block_size, int64_t count);

// 1 when the threshold (percent or megabytes free, by kind) is met, 0 when not,
// -1 when path cannot be queried (outputs untouched) or kind is unknown.
// Either output may be null.
[[nodiscard]] int fsinfo_check(int kind, const char* path, int threshold, int* same_as_root,
                               int* free_mb);
[[nodiscard]] int fsinfo_mbfree(const char* path, int required_mb, int* same_as_root, int* free_mb);
[[nodiscard]] int fsinfo_pctfree(const char* path, int percent, int* same_as_root, int* free_mb);

// 1 on the same filesystem, 0 not, -1 when either cannot be queried.
[[nodiscard]] int fsinfo_samefs(const char* path, const char* other);

// Used megabytes; 0.0 when path cannot be queried.
[[nodiscard]] double fsinfo_mbused(const char* path);

// Used blocks counted in units of block size / divisor; 0 on failure or divisor <= 0.
[[nodiscard]] int fsinfo_used(const char* path, int divisor);

// Free bytes / divisor; 0 on failure or divisor 0.
[[nodiscard]] int fsinfo_free(const char* path, int divisor);

// 1 when a file can be created in the directory path, 0 when not.
[[nodiscard]] int fsinfo_writable(const char* path);

}  // namespace sxpak
