// A walk through the mounted filesystems, one entry per call.
#pragma once

#include <cstdint>

namespace sxpak {

constexpr int mount_name_size = 128;

// One mounted filesystem; module storage, overwritten by the next
// successful mnttab_next or mnttab_find.
struct MountEntry {
    char mountpoint[mount_name_size];   // names of 128 characters or more are cut to 127
    char source[mount_name_size];       // backslashes replaced by '/'
    char fstype[32];                    // numeric filesystem type, in decimal
    char readonly;                      // 1 for a read-only mount
    int spare;
};

// Forgets the table: the next mnttab_next starts at the first entry.
void mnttab_reset();

// The next mounted filesystem, or null at the end (the walk then starts over).
[[nodiscard]] const MountEntry* mnttab_next();

// The first filesystem whose mount point or source equals name, or null;
// leaves the walk reset.
[[nodiscard]] const MountEntry* mnttab_find(const char* name);

// Platform layer (mount_table.cpp): the mounted filesystems in the kernel's
// order, as BSD getmntinfo gives them.

constexpr int mount_nowait = 2;              // do not ask the filesystems for fresh figures
constexpr uint64_t mount_flag_rdonly = 1;    // read-only mount

struct MountInfo {
    const char* mntonname;     // mount point
    const char* mntfromname;   // what was mounted
    int64_t type;              // numeric filesystem type, 0 when unknown
    uint64_t flags;            // mount_flag_rdonly
};

// Number of entries (0 on failure) and, in table, the layer's array, which
// the next call reuses.
[[nodiscard]] int mount_table_get(const MountInfo** table, int flags);

// Where the layer reads the table on systems without getmntinfo.
extern const char* mount_table_path;

}  // namespace sxpak
