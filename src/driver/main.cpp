// The entry: probe for a payload, parse the options, run one mode, exit.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "driver/container.h"
#include "driver/extraction.h"
#include "driver/listing.h"
#include "driver/settings.h"
#include "gzstream/compress.h"
#include "gzstream/stream.h"

using namespace sxpak;

namespace {

#ifdef __GLIBC__
// '+': stop at the first operand, as BSD getopt does, instead of permuting.
constexpr const char* option_string = "+h?ucvxnlap:C:r:f:V:S:t:";
#else
constexpr const char* option_string = "h?ucvxnlap:C:r:f:V:S:t:";
#endif

[[noreturn]] void refuse(const char* what, int letter) {
    fprintf(stderr, "%s: %s of -%c is too long (at most %d characters)\n", settings.program_name, what, letter,
            path_buffer_size - 1);
    exit(1);
}

void copy_argument(char* buffer, const char* argument, int letter) {
    size_t length = strlen(argument);
    if (length >= static_cast<size_t>(path_buffer_size)) refuse("the argument", letter);
    memcpy(buffer, argument, length + 1);
}

// Builds "<prefix><value>" as one FeatureList item and appends it.
void add_feature_item(const char* prefix, const char* value, const char* origin) {
    char item[item_buffer_size];
    int n = snprintf(item, sizeof item, "%s%s", prefix, value);
    if (n < 0 || n >= static_cast<int>(sizeof item)) {
        fprintf(stderr, "%s: the feature list item for %s is too long (at most %d characters)\n",
                settings.program_name, origin, item_buffer_size - 1);
        exit(1);
    }
    if (feature_add(item) != 0) {
        fprintf(stderr, "%s: the feature list would exceed %d characters at %s\n", settings.program_name,
                path_buffer_size - 1, origin);
        exit(1);
    }
}

const char* last_component(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Copies one operand's bytes to the output unchanged. -1 after a read error (reported).
int copy_raw(int in, const char* name) {
    static unsigned char block[65536];
    for (;;) {
        ssize_t got = read(in, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            fprintf(stderr, "%s: %s: %s\n", settings.program_name, name, strerror(errno));
            return -1;
        }
        if (got == 0) return 0;
        write_fully(stream.output_fd, block, static_cast<size_t>(got));
    }
}

[[noreturn]] void build_archive(char** operands, int count) {
    stream.output_fd = STDOUT_FILENO;
    snprintf(stream.output_name, sizeof stream.output_name, "stdout");
    for (int i = 0; i < count; ++i) {
        if (strlen(operands[i]) >= stream_name_size) {
            fprintf(stderr, "%s: file name too long (at most %u characters): %.40s...\n", settings.program_name,
                    stream_name_size - 1, operands[i]);
            exit(1);
        }
    }
    add_feature_item("NAME=", last_component(operands[0]), operands[0]);

    // Nothing is written unless a whole preamble can be.
    if (settings.preamble_path[0] == '\0') exit(1);
    if (write_preamble(settings.preamble_path, stream.output_fd) != 0) exit(1);

    bool raw = feature_get("NOCOMPR") != nullptr;
    for (int i = 0; i < count; ++i) {
        snprintf(stream.input_name, sizeof stream.input_name, "%s", operands[i]);
        int in = open(operands[i], O_RDONLY);
        if (in < 0) {
            fprintf(stderr, "%s: %s\n", operands[i], strerror(errno));
            settings.exit_status = 1;  // the archive lacks a file that was asked for
            continue;
        }
        if (raw) {
            if (copy_raw(in, operands[i]) != 0) settings.exit_status = 1;
        } else {
            compress_member(in, stream.output_fd);
        }
        close(in);
    }
    exit(settings.exit_status != 0 ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed pipe must reach the write-error exit, not kill the process.
    signal(SIGPIPE, SIG_IGN);

    const char* self = argc > 0 && argv[0] != nullptr ? argv[0] : "sxpak";
    settings.program_name = self;
    memset(&archive_header, 0, sizeof archive_header);
    memset(settings.preamble_path, 0, sizeof settings.preamble_path);
    memset(settings.temp_path, 0, sizeof settings.temp_path);

    int archive_mode = 0;
    int utility = 0;
    int probe = locate_payload(self);
    if (probe >= 0) {
        close(probe);
        archive_mode = 1;
    } else if (probe == payload_bad_header) {
        exit(1);
    }

    int option;
    while (argc > 0 && (option = getopt(argc, argv, option_string)) != -1) {
        switch (option) {
            case 'u': archive_mode = utility = 1; break;
            case 'c': settings.stdout_output = 1; break;
            case 'v': settings.verbose_output = 1; break;
            case 'x': settings.extract_only = 1; break;
            case 'n': settings.no_run_command = 1; break;
            case 'l': settings.list_mode = 1; break;
            case 'a':
                if (!archive_mode) add_feature_item("NOCOMPR", "", "-a");
                break;
            case 'V':
                if (!archive_mode) add_feature_item("VFYFS=", optarg, "-V");
                break;
            case 'S':
                if (!archive_mode) add_feature_item("FSSUB=", optarg, "-S");
                break;
            case 't':
                if (archive_mode) copy_argument(settings.temp_path, optarg, 't');
                break;
            case 'p': copy_argument(settings.preamble_path, optarg, 'p'); break;
            case 'C': copy_argument(archive_header.comment, optarg, 'C'); break;
            case 'r': copy_argument(archive_header.run_command, optarg, 'r'); break;
            case 'f': copy_argument(archive_header.extract_command, optarg, 'f'); break;
            default:  // -h, -?, an unknown option, a missing argument
                print_usage(archive_mode);
                exit(1);
        }
    }
    int first_operand = argc > 0 ? optind : 0;
    int operand_count = argc - first_operand;
    char** operands = argv + first_operand;

    if (archive_header.comment[0] == '\0')
        snprintf(archive_header.comment, sizeof archive_header.comment, "Self-Extracting archive file");
    if (settings.preamble_path[0] == '\0') {
        const char* found = find_executable(self);
        if (found != nullptr && strlen(found) < sizeof settings.preamble_path)
            memcpy(settings.preamble_path, found, strlen(found) + 1);
    }

    if (settings.list_mode) {
        // -u names the archives to list; an archive run as itself lists itself.
        if (operand_count == 0 || (archive_mode && !utility)) {
            list_archive(self);
        } else {
            for (int i = 0; i < operand_count; ++i) list_archive(operands[i]);
        }
        fflush(stdout);
        exit(settings.exit_status != 0 ? 1 : 0);
    }
    if (operand_count == 0 && !archive_mode) {
        print_usage(0);
        fprintf(stderr, "%s: what files do you want to compress?\n", settings.program_name);
        exit(1);
    }
    if (!archive_mode) build_archive(operands, operand_count);

    const char* archive = self;
    if (utility) {
        if (operand_count == 0) {
            print_usage(1);
            fprintf(stderr, "%s: what archive do you want to extract?\n", settings.program_name);
            exit(1);
        }
        archive = operands[0];
    }
    exit(run_extraction(archive) == 0 ? 0 : 1);
}
