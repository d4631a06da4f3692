#include "space/mnttab.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace sxpak {

namespace {

struct MountWalk {
    const MountInfo* table;
    int count;
    int index;
};

MountWalk walk;
MountEntry entry;

// Bounded copy that always terminates.
void copy_name(char (&to)[mount_name_size], const char* from) {
    size_t length = from != nullptr ? strnlen(from, sizeof to - 1) : 0;
    if (length > 0) memcpy(to, from, length);
    to[length] = '\0';
}

const MountEntry* convert(const MountInfo& info) {
    copy_name(entry.source, info.mntfromname);
    for (char* c = entry.source; *c != '\0'; ++c)
        if (*c == '\\') *c = '/';
    copy_name(entry.mountpoint, info.mntonname);
    snprintf(entry.fstype, sizeof entry.fstype, "%" PRId64, info.type);
    entry.readonly = (info.flags & mount_flag_rdonly) != 0 ? 1 : 0;
    entry.spare = 0;
    return &entry;
}

}  // namespace

void mnttab_reset() { walk = MountWalk{}; }

const MountEntry* mnttab_next() {
    if (walk.table == nullptr) walk.count = mount_table_get(&walk.table, mount_nowait);
    if (walk.index >= walk.count) {
        mnttab_reset();
        return nullptr;
    }
    const MountEntry* result = convert(walk.table[walk.index++]);
    // Only the position survives: the next call reads the table afresh.
    walk.table = nullptr;
    walk.count = 0;
    return result;
}

const MountEntry* mnttab_find(const char* name) {
    mnttab_reset();
    const MountInfo* table = nullptr;
    int count = mount_table_get(&table, mount_nowait);
    const MountEntry* result = nullptr;
    for (int i = 0; i < count && name != nullptr; ++i) {
        const MountInfo& info = table[i];
        if ((info.mntonname != nullptr && strcmp(info.mntonname, name) == 0) ||
            (info.mntfromname != nullptr && strcmp(info.mntfromname, name) == 0)) {
            result = convert(info);
            break;
        }
    }
    mnttab_reset();
    return result;
}

}  // namespace sxpak
