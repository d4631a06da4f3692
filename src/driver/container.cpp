#include "driver/container.h"

#include <cerrno>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/settings.h"
#include "gzstream/stream.h"

namespace sxpak {

ArchiveHeader archive_header;

namespace {

char executable_path[path_buffer_size];
char feature_value[item_buffer_size];
unsigned char magic_bytes[magic_length];

// Copies a file's first size bytes to fd. -1 after a read error (reported).
int copy_image(int in, const char* name, off_t size, int fd) {
    static unsigned char block[65536];
    off_t left = size;
    while (left > 0) {
        size_t want = left < static_cast<off_t>(sizeof block) ? static_cast<size_t>(left) : sizeof block;
        ssize_t got = read(in, block, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            perror(name);
            return -1;
        }
        if (got == 0) break;
        write_fully(fd, block, static_cast<size_t>(got));
        left -= got;
    }
    return 0;
}

}  // namespace

const char* find_executable(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    size_t length = strlen(name);
    if (length < sizeof executable_path && access(name, X_OK) == 0) {
        memcpy(executable_path, name, length + 1);
        return executable_path;
    }
    if (name[0] == '.') return name;

    const char* path = getenv("PATH");
    if (path == nullptr) return nullptr;
    // Walk the elements in place; an empty element stands for the root.
    for (const char* element = path;; ) {
        const char* end = strchr(element, ':');
        size_t element_length = end ? static_cast<size_t>(end - element) : strlen(element);
        int n = snprintf(executable_path, sizeof executable_path, "%.*s/%s",
                         static_cast<int>(element_length), element, name);
        if (n > 0 && static_cast<size_t>(n) < sizeof executable_path && access(executable_path, X_OK) == 0)
            return executable_path;
        if (end == nullptr) break;
        element = end + 1;
    }
    return nullptr;
}

const unsigned char* preamble_magic() {
    // One volatile byte store per character: the compiler may neither merge
    // them into a constant nor keep the text in read-only data, so the magic
    // never occurs in the executable itself.
    volatile unsigned char* m = magic_bytes;
    m[0] = 's';
    m[1] = 'x';
    m[2] = 'p';
    m[3] = 'a';
    m[4] = 'k';
    m[5] = '+';
    m[6] = 'm';
    m[7] = 'a';
    m[8] = 'g';
    m[9] = 'i';
    m[10] = 'k';
    return magic_bytes;
}

int feature_add(const char* item) {
    char* list = archive_header.feature_list;
    size_t used = strlen(list);
    size_t separator = used > 0 ? 1 : 0;
    size_t length = strlen(item);
    if (used + separator + length >= sizeof archive_header.feature_list) return -1;
    if (separator) list[used++] = ',';
    memcpy(list + used, item, length + 1);
    return 0;
}

const char* feature_get(const char* key) {
    const char* found = strstr(archive_header.feature_list, key);
    if (found == nullptr) return nullptr;
    size_t length = strnlen(found, sizeof feature_value - 1);
    memcpy(feature_value, found, length);
    feature_value[length] = '\0';
    if (char* comma = strchr(feature_value, ',')) *comma = '\0';
    return feature_value;
}

int write_preamble(const char* path, int fd) {
    const char* found = find_executable(path);
    if (found == nullptr) {
        fprintf(stderr, "%s: unable to find sxpak to build preamble\n", path);
        return -1;
    }
    char resolved[path_buffer_size];
    snprintf(resolved, sizeof resolved, "%s", found);

    struct stat info;
    if (stat(resolved, &info) != 0) {
        perror(resolved);
        return -1;
    }
    int in = open(resolved, O_RDONLY);
    if (in < 0) {
        perror(resolved);
        return -1;
    }
    int copied = copy_image(in, resolved, info.st_size, fd);
    close(in);
    if (copied != 0) return -1;

    write_fully(fd, preamble_magic(), magic_length);
    for (const char* text : {archive_header.feature_list, archive_header.comment,
                             archive_header.run_command, archive_header.extract_command})
        write_fully(fd, text, strlen(text) + 1);
    return 0;
}

int locate_payload(const char* path) {
    const char* found = find_executable(path);
    // An archive named on the command line need not be executable.
    if (found == nullptr && path != nullptr && access(path, R_OK) == 0) found = path;
    if (found == nullptr) {
        fprintf(stderr, "%s: unable to find sxpak to build preamble\n", path);
        return payload_no_magic;
    }
    int fd = open(found, O_RDONLY);
    if (fd < 0) {
        perror(found);
        return payload_no_magic;
    }

    const unsigned char* magic = preamble_magic();
    static unsigned char block[8192];
    int matched = 0;
    off_t read_start = 0;
    off_t header_offset = -1;
    for (;;) {
        ssize_t got = read(fd, block, sizeof block - 1);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            if (block[i] == magic[matched]) {
                if (++matched == magic_length) {
                    header_offset = read_start + i + 1;
                    break;
                }
            } else {
                // The breaking byte may itself start the magic.
                matched = block[i] == magic[0] ? 1 : 0;
            }
        }
        if (header_offset >= 0) break;
        read_start += got;
    }
    if (header_offset < 0 || lseek(fd, header_offset, SEEK_SET) != header_offset) {
        close(fd);
        return payload_no_magic;
    }

    // The four strings, each ended by its NUL or by the end of the file.
    static unsigned char text[4 * header_string_size];
    size_t have = 0;
    while (have < sizeof text) {
        ssize_t got = read(fd, text + have, sizeof text - have);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    static const char* const names[4] = {"feature list", "comment", "run command", "extract command"};
    char* targets[4] = {archive_header.feature_list, archive_header.comment,
                        archive_header.run_command, archive_header.extract_command};
    size_t at = 0;
    for (int s = 0; s < 4; ++s) {
        size_t left = have - at;
        size_t limit = left < header_string_size ? left : header_string_size;
        const void* nul = memchr(text + at, '\0', limit);
        if (nul == nullptr && limit == header_string_size) {
            fprintf(stderr, "%s: corrupted archive header: the %s is longer than %d characters\n", path,
                    names[s], header_string_size - 1);
            close(fd);
            return payload_bad_header;
        }
        size_t length = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - (text + at)) : limit;
        memcpy(targets[s], text + at, length);
        targets[s][length] = '\0';
        at += nul ? length + 1 : length;
    }
    settings.payload_offset = header_offset + static_cast<off_t>(at);
    if (lseek(fd, settings.payload_offset, SEEK_SET) != settings.payload_offset) {
        close(fd);
        return payload_no_magic;
    }
    return fd;
}

int64_t read_archive_trailer(int fd, unsigned char trailer[8]) {
    errno = 0;
    off_t at = lseek(fd, -8, SEEK_END);
    if (at < 0) {
        errno = 0;  // a file shorter than its trailer has ended early
        input_failure();
    }
    size_t have = 0;
    while (have < 8) {
        ssize_t got = read(fd, trailer + have, 8 - have);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) input_failure();
        have += static_cast<size_t>(got);
    }
    return at;
}

}  // namespace sxpak
