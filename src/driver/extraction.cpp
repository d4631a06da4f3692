#include "driver/extraction.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/container.h"
#include "driver/settings.h"
#include "gzstream/decompress.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"
#include "lib/aplist.h"
#include "lib/strsplit.h"
#include "space/space_check.h"

namespace sxpak {

namespace {

constexpr size_t command_size = 2048;
constexpr const char* default_extract_command = "cat > %p/%o";

// Appends to a command being expanded; false when it would not fit.
struct CommandText {
    char* text;
    size_t length;

    bool append(const char* s, size_t n) {
        if (length + n > command_size - 1) return false;
        memcpy(text + length, s, n);
        length += n;
        text[length] = '\0';
        return true;
    }

    // Single quotes for the shell; an embedded ' becomes '\''.
    bool append_quoted(const char* s) {
        if (!append("'", 1)) return false;
        for (; *s != '\0'; ++s) {
            if (*s == '\'' ? !append("'\\''", 4) : !append(s, 1)) return false;
        }
        return append("'", 1);
    }

    bool append_value(const char* s, int quoted) { return quoted ? append_quoted(s) : append(s, strlen(s)); }
};

// The uncompressed size from the last member's trailer.
uint32_t payload_size_field(int fd) {
    unsigned char trailer[8];
    read_archive_trailer(fd, trailer);
    return load_le32(trailer + 4);
}

int64_t raw_payload_length(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size < settings.payload_offset) return 0;
    return info.st_size - settings.payload_offset;
}

// Copies a raw payload to the output; 1 when it held no byte at all.
int copy_raw_payload(int fd) {
    static unsigned char block[65536];
    bool first = true;
    for (;;) {
        errno = 0;
        ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) input_failure();
        if (got == 0) return first ? 1 : 0;
        first = false;
        write_fully(stream.output_fd, block, static_cast<size_t>(got));
    }
}

// Decodes every member of the payload into the output, as a raw payload
// delivers every file.
int decompress_payload(int fd) {
    int result = decompress_member(fd, stream.output_fd);
    while (result == 0 && !input_exhausted()) {
        if (read_member_header() != 8) fatal_exit();
        result = decompress_member(fd, stream.output_fd);
    }
    return result;
}

// Runs the expanded run command, after asking in verbose mode; its wait status.
int run_command(const char* archive_path, const char* command) {
    fflush(stdout);
    if (!settings.verbose_output) {
        int status = system(command);
        if ((status >> 8) != 0) {
            fprintf(stderr, "%s: final processing of %s failed\n", archive_path, stream.output_name);
            fprintf(stderr, "Command: %s\n", command);
        }
        return status;
    }
    printf("This archive requires more processing using the following command:\n");
    printf("    %s\n", command);
    if (!isatty(STDIN_FILENO)) {
        printf("but stdin is not a terminal. So forget it.\n");
        return 0;
    }
    printf("OK to run the command? ");
    for (;;) {
        fflush(stdout);
        char answer[512];
        // End of input answers no.
        if (fgets(answer, 511, stdin) == nullptr) return 0;
        int c = toupper(static_cast<unsigned char>(answer[0]));
        if (c == 'N') return 0;
        if (c == 'Y') return system(command);
        printf("\n? (y/n): ");
    }
}

}  // namespace

char* expand_command(const char* template_text, int quote_values) {
    auto* buffer = static_cast<char*>(calloc(command_size, 1));
    if (buffer == nullptr) {
        fprintf(stderr, "%s: out of memory\n", settings.program_name);
        return nullptr;
    }
    CommandText out{buffer, 0};
    bool fits = true;
    for (const char* p = template_text; fits && *p != '\0'; ++p) {
        if (*p != '%') {
            fits = out.append(p, 1);
        } else if (p[1] == 'o') {
            fits = out.append_value(stream.output_name, quote_values);
            ++p;
        } else if (p[1] == 'p') {
            char directory[4096];
            if (getcwd(directory, sizeof directory) == nullptr) {
                fprintf(stderr, "%s: cannot determine the current directory: %s\n", settings.program_name,
                        strerror(errno));
                free(buffer);
                return nullptr;
            }
            fits = out.append_value(directory, quote_values);
            ++p;
        } else if (p[1] == '\0') {
            fits = out.append(p, 1);  // a single trailing '%' stays as it is
        } else {
            fits = out.append(p, 2);
            ++p;
        }
    }
    if (!fits) {
        fprintf(stderr, "%s: command longer than %zu characters after expansion: %s\n", settings.program_name,
                command_size - 1, template_text);
        free(buffer);
        return nullptr;
    }
    return buffer;
}

void feature_export() {
    void** pieces = strsplit(archive_header.feature_list, ",");
    if (pieces == nullptr) return;
    for (void** slot = pieces; *slot != nullptr; ++slot) {
        const char* piece = static_cast<const char*>(*slot);
        if (piece[0] == '\0' || piece[0] == '=') continue;  // no name to export
        size_t length = strlen(piece);
        bool has_value = strchr(piece, '=') != nullptr;
        // The environment keeps these strings: they are never released.
        auto* entry = static_cast<char*>(malloc(length + 2));
        if (entry == nullptr) continue;
        memcpy(entry, piece, length + 1);
        if (!has_value) memcpy(entry + length, "=", 2);
        putenv(entry);
    }
    aplist_free(pieces);
}

int run_extraction(const char* archive_path) {
    char link_path[link_path_size] = {};
    int fd = locate_payload(archive_path);
    if (fd < 0) {
        if (fd == payload_no_magic) fprintf(stderr, "%s: unable to find preamble magic value\n", archive_path);
        return -1;
    }

    stream.input_fd = fd;
    snprintf(stream.input_name, sizeof stream.input_name, "%s", archive_path);
    stream.output_fd = STDOUT_FILENO;
    snprintf(stream.output_name, sizeof stream.output_name, "stdout");

    int result = 0;
    int method = 8;
    bool raw = feature_get("NOCOMPR") != nullptr;
    if (raw) {
        const char* name = feature_get("NAME=");
        const char* value = name ? strchr(name, '=') : nullptr;
        if (value != nullptr) snprintf(stream.output_name, sizeof stream.output_name, "%s", value + 1);
    } else {
        method = result = read_member_header();
    }

    const char* target = feature_get("VFYFS=");
    if (!settings.extract_only && target != nullptr && strchr(target, '=') != nullptr) {
        off_t position = lseek(fd, 0, SEEK_CUR);
        if (position != -1) {
            // A raw payload has no size field: its length is what it needs.
            int64_t size = raw ? raw_payload_length(fd) : payload_size_field(fd);
            int64_t megabytes = size / 1048576 + 1;
            int required_mb = megabytes > INT32_MAX ? INT32_MAX : static_cast<int>(megabytes);
            link_path[0] = '\0';
            if (verify_fs_space(required_mb, link_path) == -1) return -1;
            lseek(fd, position, SEEK_SET);
        }
    }

    FILE* extract_pipe = nullptr;
    char* extract_command = nullptr;
    if (method == -1) {
        fprintf(stderr, "%s: unknown compression method\n", archive_path);
        result = -1;
    } else {
        if (!settings.extract_only) {
            // The default command gets the name and directory quoted; stored
            // commands are expanded as they stand.
            bool use_default = archive_header.extract_command[0] == '\0';
            extract_command =
                expand_command(use_default ? default_extract_command : archive_header.extract_command, use_default);
            if (extract_command == nullptr) return -1;
            fflush(stdout);
            extract_pipe = popen(extract_command, "w");
            if (extract_pipe == nullptr) {
                perror(extract_command);
                free(extract_command);
                return -1;
            }
            settings.stdout_output = 0;
            stream.output_fd = fileno(extract_pipe);
        } else {
            settings.stdout_output = 1;
        }

        if (archive_header.comment[0] != '\0') {
            fprintf(stderr, "\n%s\n\n", archive_header.comment);
            fprintf(stderr, "Please wait...\n");
        }
        if (settings.verbose_output || settings.extract_only)
            fprintf(stderr, "Deflating %s...\n", stream.output_name);

        result = raw ? copy_raw_payload(fd) : decompress_payload(fd);

        // The extraction must be complete, and must have succeeded, before
        // the run command may look at its files.
        if (extract_pipe != nullptr) {
            int status = pclose(extract_pipe);
            if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                fprintf(stderr, "%s: extraction of %s failed\n", archive_path, stream.output_name);
                fprintf(stderr, "Command: %s\n", extract_command);
                if (result == 0) result = 1;
            }
            free(extract_command);
        }

        if (!settings.extract_only && result == 0 && !settings.no_run_command &&
            archive_header.run_command[0] != '\0') {
            char* command = expand_command(archive_header.run_command);
            if (command == nullptr) {
                result = -1;
            } else {
                feature_export();
                result = run_command(archive_path, command);
                free(command);
            }
        }
    }

    close(fd);
    if (link_path[0] != '\0') unlink(link_path);
    return result;
}

}  // namespace sxpak
