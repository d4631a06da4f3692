// The mounted filesystems as BSD getmntinfo reports them: from getmntinfo
// where the system has it, otherwise from the kernel's mount table text.

#define _FILE_OFFSET_BITS 64

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "space/mnttab.h"

#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__DragonFly__)
#define SXPAK_HAVE_GETMNTINFO 1
#include <sys/param.h>
#include <sys/ucred.h>
#include <sys/mount.h>
#else
#include <sys/vfs.h>
#endif

namespace sxpak {

const char* mount_table_path = "/proc/self/mounts";

namespace {

// Kept between calls and reused, as the C library does with getmntinfo's array.
struct MountStore {
    MountInfo* records;
    int capacity;
    char* text;
    size_t text_capacity;
};

MountStore store;

[[nodiscard]] bool reserve_records(int count) {
    if (count <= store.capacity) return true;
    int capacity = store.capacity > 0 ? store.capacity : 64;
    while (capacity < count) capacity *= 2;
    void* grown = realloc(store.records, static_cast<size_t>(capacity) * sizeof(MountInfo));
    if (grown == nullptr) return false;
    store.records = static_cast<MountInfo*>(grown);
    store.capacity = capacity;
    return true;
}

}  // namespace

#ifdef SXPAK_HAVE_GETMNTINFO

int mount_table_get(const MountInfo** table, int flags) {
    *table = nullptr;
    struct statfs* list = nullptr;
    int count = getmntinfo(&list, flags == mount_nowait ? MNT_NOWAIT : MNT_WAIT);
    if (count <= 0 || list == nullptr || !reserve_records(count)) return 0;
    for (int i = 0; i < count; ++i) {
        store.records[i].mntonname = list[i].f_mntonname;
        store.records[i].mntfromname = list[i].f_mntfromname;
        store.records[i].type = static_cast<int64_t>(list[i].f_type);
        store.records[i].flags = (list[i].f_flags & MNT_RDONLY) != 0 ? mount_flag_rdonly : 0;
    }
    *table = store.records;
    return count;
}

#else

namespace {

// The kernel's table is a few kilobytes; this only bounds a runaway file.
constexpr size_t table_text_limit = size_t{16} << 20;

// Reads the whole table into store.text, terminated; its length or -1.
[[nodiscard]] ssize_t read_table_text() {
    int fd = open(mount_table_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t length = 0;
    for (;;) {
        if (store.text_capacity - length < 2) {
            size_t capacity = store.text_capacity > 0 ? store.text_capacity * 2 : 8192;
            void* grown = capacity <= table_text_limit ? realloc(store.text, capacity) : nullptr;
            if (grown == nullptr) {
                close(fd);
                return -1;
            }
            store.text = static_cast<char*>(grown);
            store.text_capacity = capacity;
        }
        ssize_t got = read(fd, store.text + length, store.text_capacity - length - 1);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return -1;
        }
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    close(fd);
    store.text[length] = '\0';
    return static_cast<ssize_t>(length);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The next blank-separated field of a line, terminated in place, or null.
char* next_field(char*& cursor) {
    while (is_blank(*cursor)) ++cursor;
    if (*cursor == '\0') return nullptr;
    char* start = cursor;
    while (*cursor != '\0' && !is_blank(*cursor)) ++cursor;
    if (*cursor != '\0') *cursor++ = '\0';
    return start;
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes blanks, newlines and backslashes in names as \ooo.
void decode_octal(char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0';) {
        if (in[0] == '\\' && is_octal(in[1]) && is_octal(in[2]) && is_octal(in[3]) && in[1] <= '3') {
            *out++ = static_cast<char>((in[1] - '0') * 64 + (in[2] - '0') * 8 + (in[3] - '0'));
            in += 4;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

bool has_option(const char* options, const char* wanted) {
    size_t wanted_length = strlen(wanted);
    for (const char* option = options; option != nullptr;) {
        const char* comma = strchr(option, ',');
        size_t length = comma != nullptr ? static_cast<size_t>(comma - option) : strlen(option);
        if (length == wanted_length && memcmp(option, wanted, length) == 0) return true;
        option = comma != nullptr ? comma + 1 : nullptr;
    }
    return false;
}

int64_t type_of(const char* mountpoint) {
    struct statfs info;
    return statfs(mountpoint, &info) == 0 ? static_cast<int64_t>(info.f_type) : 0;
}

}  // namespace

int mount_table_get(const MountInfo** table, int) {
    *table = nullptr;
    ssize_t length = read_table_text();
    if (length < 0) return 0;
    int count = 0;
    char* line = store.text;
    while (*line != '\0') {
        char* end = strchr(line, '\n');
        char* following = end != nullptr ? end + 1 : line + strlen(line);
        if (end != nullptr) *end = '\0';
        char* cursor = line;
        char* source = next_field(cursor);
        char* mountpoint = next_field(cursor);
        next_field(cursor);   // type name: the numeric type comes from the filesystem
        char* options = next_field(cursor);
        line = following;
        if (mountpoint == nullptr) continue;
        if (!reserve_records(count + 1)) return 0;
        decode_octal(source);
        decode_octal(mountpoint);
        MountInfo& record = store.records[count++];
        record.mntfromname = source;
        record.mntonname = mountpoint;
        record.type = type_of(mountpoint);
        record.flags = options != nullptr && has_option(options, "ro") ? mount_flag_rdonly : 0;
    }
    *table = store.records;
    return count;
}

#endif

}  // namespace sxpak
