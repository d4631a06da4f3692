#define _FILE_OFFSET_BITS 64   // 64-bit block counts on 32-bit systems too

#include "space/fsinfo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__DragonFly__) || defined(__OpenBSD__)
#include <sys/param.h>
#include <sys/mount.h>
#else
#include <sys/vfs.h>
#endif

namespace sxpak {

namespace {

// The fields of the platform's statfs record this module reads.
struct FsStat {
    int64_t block_size;
    int64_t blocks;
    int64_t blocks_free;
    int64_t blocks_available;
    uint32_t id;   // first word of the filesystem identifier
};

// Unsigned platform counts beyond INT64_MAX can only come from a negative
// figure stored unsigned; they wrap to negative and so count as nothing free.
int64_t signed_count(uint64_t count) { return static_cast<int64_t>(count); }

[[nodiscard]] bool fs_query(const char* path, FsStat& out) {
    struct statfs info;
    if (statfs(path, &info) != 0) return false;
    out.block_size = static_cast<int64_t>(info.f_bsize);
    out.blocks = signed_count(static_cast<uint64_t>(info.f_blocks));
    out.blocks_free = signed_count(static_cast<uint64_t>(info.f_bfree));
    out.blocks_available = signed_count(static_cast<uint64_t>(info.f_bavail));
    uint32_t id_words[2];
    static_assert(sizeof info.f_fsid >= sizeof id_words);
    memcpy(id_words, &info.f_fsid, sizeof id_words);
    out.id = id_words[0];
    return true;
}

int clamp_int(int64_t value) {
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int64_t used_blocks(const FsStat& fs) {
    return fs.blocks > fs.blocks_free ? fs.blocks - fs.blocks_free : 0;
}

}  // namespace

int64_t fsinfo_blocks_per_mb(int64_t block_size) {
    int64_t units = block_size >= 512 ? block_size / 512 : 1;
    if (units == 0) units = 1;
    return 2048 / units;
}

int64_t fsinfo_megabytes(int64_t block_size, int64_t count) {
    if (count <= 0) return 0;
    int64_t per_mb = fsinfo_blocks_per_mb(block_size);
    if (per_mb != 0) return count / per_mb;
    // Blocks of a megabyte or more: count bytes, in 128 bits as their
    // product may not fit 64.
    unsigned __int128 bytes = static_cast<unsigned __int128>(count) * static_cast<uint64_t>(block_size);
    unsigned __int128 megabytes = bytes >> 20;
    return megabytes > INT64_MAX ? INT64_MAX : static_cast<int64_t>(megabytes);
}

int fsinfo_check(int kind, const char* path, int threshold, int* same_as_root, int* free_mb) {
    FsStat fs;
    if (!fs_query(path, fs)) return -1;
    FsStat root;
    int same = fs_query("/", root) && root.id == fs.id ? 1 : 0;
    int megabytes = clamp_int(fsinfo_megabytes(fs.block_size, fs.blocks_available));
    if (same_as_root != nullptr) *same_as_root = same;
    if (free_mb != nullptr) *free_mb = megabytes;

    if (kind == fsinfo_kind_megabytes) return megabytes >= threshold ? 1 : 0;
    if (kind == fsinfo_kind_percent) {
        double percent = 0.0;
        if (fs.blocks > 0 && fs.blocks_available > 0)
            percent = static_cast<double>(fs.blocks_available) / static_cast<double>(fs.blocks) * 100.0;
        int whole = percent >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(percent);
        return whole >= threshold ? 1 : 0;
    }
    return -1;
}

int fsinfo_mbfree(const char* path, int required_mb, int* same_as_root, int* free_mb) {
    return fsinfo_check(fsinfo_kind_megabytes, path, required_mb, same_as_root, free_mb);
}

int fsinfo_pctfree(const char* path, int percent, int* same_as_root, int* free_mb) {
    return fsinfo_check(fsinfo_kind_percent, path, percent, same_as_root, free_mb);
}

int fsinfo_samefs(const char* path, const char* other) {
    FsStat first, second;
    if (!fs_query(path, first) || !fs_query(other, second)) return -1;
    return first.id == second.id ? 1 : 0;
}

double fsinfo_mbused(const char* path) {
    FsStat fs;
    if (!fs_query(path, fs)) return 0.0;
    return static_cast<double>(fsinfo_megabytes(fs.block_size, used_blocks(fs)));
}

int fsinfo_used(const char* path, int divisor) {
    FsStat fs;
    if (divisor <= 0 || !fs_query(path, fs)) return 0;
    int64_t unit = (fs.block_size > 512 ? fs.block_size : 512) / divisor;
    if (unit == 0) unit = 1;
    return clamp_int(used_blocks(fs) / unit);
}

int fsinfo_free(const char* path, int divisor) {
    FsStat fs;
    if (divisor == 0 || !fs_query(path, fs)) return 0;
    if (fs.blocks_free <= 0) return 0;
    double bytes = static_cast<double>(fs.blocks_free) *
                   static_cast<double>(fs.block_size < 512 ? 512 : fs.block_size);
    double result = bytes / divisor;
    if (result >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (result <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(result);
}

int fsinfo_writable(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return 0;
    if ((info.st_mode & 0222) == 0) return 0;

    char probe[4096 + 64];
    int length = snprintf(probe, sizeof probe, "%s/%ld._fst.", path, static_cast<long>(time(nullptr)));
    if (length < 0 || static_cast<size_t>(length) >= sizeof probe) return 0;

    // Exclusive create: a file of that name that is already there is
    // someone else's and is neither truncated nor removed.
    int fd = open(probe, O_WRONLY | O_CREAT | O_EXCL, 0777);
    if (fd < 0) return errno == EROFS ? 0 : 1;
    close(fd);
    unlink(probe);
    return 1;
}

}  // namespace sxpak
