#include "space/space_check.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/container.h"
#include "driver/settings.h"
#include "space/fsinfo.h"
#include "space/mnttab.h"

namespace sxpak {

namespace {

constexpr int path_size = link_path_size;   // every derived path
constexpr int value_size = 256;             // VFYFS and FSSUB values
constexpr int make_path_size = 256;         // prefixes of make_path

// snprintf into a path buffer; false (reported) when the result would not fit.
[[nodiscard]] bool format_path(char* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool format_path(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = vsnprintf(out, path_size, format, args);
    va_end(args);
    if (length >= 0 && length < path_size) return true;
    // The cut text still names the place.
    fprintf(stderr, "%s...: path too long\n", out);
    return false;
}

// A feature's value: the text after the first '=', or the whole item.
// False (reported) when it exceeds its buffer.
[[nodiscard]] bool feature_value(const char* key, char (&out)[value_size], bool& present) {
    out[0] = '\0';
    const char* item = feature_get(key);
    present = item != nullptr;
    if (item == nullptr) return true;
    const char* equals = strchr(item, '=');
    const char* value = equals != nullptr ? equals + 1 : item;
    size_t length = strlen(value);
    // feature_get cuts long items short: a cut path would name another place.
    const char* whole = strstr(archive_header.feature_list, key);
    bool cut = whole != nullptr && strcspn(whole, ",") > strlen(item);
    if (cut || length >= sizeof out) {
        fprintf(stderr, "%.*s...: path too long\n", 64, value);
        return false;
    }
    memcpy(out, value, length + 1);
    return true;
}

void strip_trailing_slash(char* path) {
    size_t length = strlen(path);
    if (length > 0 && path[length - 1] == '/') path[length - 1] = '\0';
}

bool exists(const char* path) { return access(path, F_OK) == 0; }

// Something other than a symbolic link (a stale one from an earlier run may
// be replaced) stands at path.
bool occupied_by_other_than_link(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 && !S_ISLNK(info.st_mode);
}

void report_extraction_directory_exists(const char* path) {
    fprintf(stderr, "%s: extraction directory exists!\nPlease remove it first then try again.\n", path);
}

// The answer to the verbose question: false when declined.
bool link_accepted(const char* candidate) {
    fprintf(stderr, "Creating temporary link to %s\n", candidate);
    fputs("OK to create temporary link? [y]: ", stderr);
    fflush(stderr);
    char answer[4];
    if (fgets(answer, sizeof answer, stdin) == nullptr) return true;
    return answer[0] != 'n' && answer[0] != 'N';
}

// The next mounted filesystem that is writable and has room, or null.
const MountEntry* next_filesystem_with_room(int required_mb) {
    for (const MountEntry* mount = mnttab_next(); mount != nullptr; mount = mnttab_next()) {
        if (mount->readonly) continue;
        // A mount point that filled its field may have been cut short:
        // never build paths on it.
        if (strlen(mount->mountpoint) >= sizeof mount->mountpoint - 1) continue;
        int same_as_root = 0, free_mb = 0;
        if (fsinfo_mbfree(mount->mountpoint, required_mb, &same_as_root, &free_mb) == 1) return mount;
    }
    return nullptr;
}

}  // namespace

int verify_fs_space(int required_mb, char* link_path) {
    link_path[0] = '\0';

    char vfyfs[value_size], fssub[value_size];
    bool has_vfyfs = false, has_fssub = false;
    if (!feature_value("VFYFS=", vfyfs, has_vfyfs)) return -1;
    if (!has_vfyfs) return -1;
    if (!feature_value("FSSUB=", fssub, has_fssub)) return -1;
    if (strlen(vfyfs) < 2 || strlen(fssub) < 2) return -1;

    char absolute_vfyfs[path_size];
    if (vfyfs[0] == '/') {
        memcpy(absolute_vfyfs, vfyfs, strlen(vfyfs) + 1);
    } else {
        char cwd[path_size];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            if (errno == ERANGE) errno = ENAMETOOLONG;   // it does not fit the buffer
            perror("getcwd");
            return -1;
        }
        if (!format_path(absolute_vfyfs, "%s/%s", cwd, vfyfs)) return -1;
    }

    const bool has_temp = settings.temp_path[0] != '\0';
    if (has_temp) strip_trailing_slash(settings.temp_path);
    char base[path_size];
    if (!format_path(base, "%s", has_temp ? settings.temp_path : absolute_vfyfs)) return -1;
    strip_trailing_slash(base);

    char extraction_dir[path_size], link[path_size];
    if (!format_path(extraction_dir, "%s/%s", base, fssub)) return -1;
    if (!format_path(link, "%s/%s", vfyfs, fssub)) return -1;

    if (exists(extraction_dir)) {
        report_extraction_directory_exists(extraction_dir);
        return -1;
    }
    // The link replaces what stands at its path: only ever a symbolic link.
    if (occupied_by_other_than_link(link)) {
        report_extraction_directory_exists(link);
        return -1;
    }

    int same_as_root = 0, free_mb = 0;
    // A failed query counts as room: the extraction itself will tell.
    bool from_temp = has_temp && fsinfo_mbfree(settings.temp_path, required_mb, &same_as_root, &free_mb) != 0;
    const bool may_link = from_temp || !has_temp;
    mnttab_reset();
    if (!from_temp) {
        if (fsinfo_mbfree(absolute_vfyfs, required_mb, &same_as_root, &free_mb) != 0) return 0;
        if (!has_temp)
            fprintf(stderr, "%s: not enough space. Looking for space in other filesystems.\n", extraction_dir);
    }

    // A temp path is the only place tried unless it had room; if its
    // candidate fails, the other filesystems are searched all the same.
    while (may_link) {
        char directory[path_size];
        if (from_temp) {
            from_temp = false;
            if (!format_path(directory, "%s", settings.temp_path)) continue;
        } else {
            const MountEntry* mount = next_filesystem_with_room(required_mb);
            if (mount == nullptr) break;
            fprintf(stderr, "Trying %s ...\n", mount->mountpoint);
            if (!format_path(directory, "%s", mount->mountpoint)) continue;
        }

        char candidate[path_size];
        if (!format_path(candidate, "%s%s%s", directory, fssub[0] == '/' ? "" : "/", fssub)) continue;
        if (exists(candidate)) {
            fprintf(stderr, "%s: already exists.\n", candidate);
            continue;
        }
        if (settings.verbose_output && !link_accepted(candidate)) continue;
        if (make_path(candidate, 0755) != 0) {
            perror(candidate);
            continue;
        }
        // Checked before: only a symbolic link may be replaced.
        struct stat info;
        if (lstat(link, &info) == 0 && S_ISLNK(info.st_mode)) unlink(link);
        if (symlink(candidate, link) != 0) {
            perror(candidate);
            rmdir(candidate);
            continue;
        }
        memcpy(link_path, link, strlen(link) + 1);
        return 0;
    }

    fprintf(stderr, "%s: not enough space to extract the archive.\n", extraction_dir);
    fprintf(stderr, "Please make at least %dMb available in %s.\n", required_mb, vfyfs);
    fprintf(stderr,
            "Alternatively, you can make space available on another filesystem where a\n"
            "\"%s\" directory can be created. Ensure that the \"%s\" directory\n"
            "does not exist before trying again.\n",
            fssub, fssub);
    return -1;
}

int make_path(const char* path, int mode) {
    if (path[0] != '/') {
        errno = EINVAL;
        return -1;
    }
    size_t length = strlen(path);
    if (length >= make_path_size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (access(path, X_OK) == 0) return 0;

    char prefix[make_path_size];
    for (size_t position = 1; position <= length; ++position) {
        if (path[position] != '/' && path[position] != '\0') continue;
        memcpy(prefix, path, position);
        prefix[position] = '\0';
        if (access(prefix, X_OK) == 0) continue;
        if (mkdir(prefix, static_cast<mode_t>(mode)) != 0) return -1;
        // The file-creation mask must not narrow the mode.
        (void)chmod(prefix, static_cast<mode_t>(mode));
    }
    return 0;
}

}  // namespace sxpak
