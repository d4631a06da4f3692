#include "driver/listing.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "driver/container.h"
#include "driver/settings.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"

namespace sxpak {

namespace {

void print_statistics(int fd) {
    if (settings.list_heading_due) {
        settings.list_heading_due = 0;
        if (settings.verbose_output) printf("method  crc     date  time  ");
        printf("compressed  uncompr. ratio uncompressed_name\n");
    }

    unsigned char trailer[8];
    int64_t compressed = read_archive_trailer(fd, trailer) - settings.payload_offset + 8;
    uint32_t crc = load_le32(trailer);
    uint32_t size_field = load_le32(trailer + 4);
    int64_t uncompressed = size_field;

    if (settings.verbose_output) {
        time_t stamp = static_cast<time_t>(member_time);
        const char* text = ctime(&stamp);
        char date[13] = "";
        if (text != nullptr && strlen(text) >= 16) {
            memcpy(date, text + 4, 12);
            date[12] = '\0';
        }
        printf("%5s %08lx %11s ", "defla", static_cast<unsigned long>(crc), date);
    }
    printf("%9" PRId64 " %9" PRId64 " ", compressed, uncompressed);

    int64_t header_bytes = header_length;
    if (size_field == 0xFFFFFFFFu) compressed = uncompressed = header_bytes = 0;  // size unknown
    print_ratio(uncompressed - (compressed - header_bytes), uncompressed, stdout);
    printf(" %s\n", stream.output_name);
}

}  // namespace

void print_ratio(int64_t numerator, int64_t denominator, FILE* out) {
    int64_t r;
    if (denominator == 0) {
        r = 0;
    } else if (denominator <= 2147482) {
        r = numerator * 1000 / denominator;
    } else {
        r = numerator / (denominator / 1000);
    }
    if (r < 0) {
        putc('-', out);
        r = -r;
    } else {
        putc(' ', out);
    }
    fprintf(out, "%2" PRId64 ".%1" PRId64 "%%", r / 10, r % 10);
}

void list_archive(const char* path) {
    int fd = locate_payload(path);
    if (fd < 0) {
        if (fd == payload_no_magic) fprintf(stderr, "%s: unable to find preamble magic value\n", path);
        settings.exit_status = 1;
        return;
    }

    // Every archive is listed from a clean state: nothing read ahead from
    // the previous one, and its first member counts as a first member.
    stream.input_fd = fd;
    stream.fill_count = 0;
    stream.read_position = 0;
    member_count = 0;
    snprintf(stream.input_name, sizeof stream.input_name, "%s", path);
    stream.output_fd = STDOUT_FILENO;
    snprintf(stream.output_name, sizeof stream.output_name, "stdout");

    bool raw = feature_get("NOCOMPR") != nullptr;
    if (!raw && read_member_header() == -1) {
        settings.exit_status = 1;
        close(fd);
        return;
    }

    if (archive_header.feature_list[0] != '\0') printf("Feature: %s\n", archive_header.feature_list);
    printf("Comment: %s\n", archive_header.comment);
    printf("    Run: %s\n", archive_header.run_command);
    printf("Extract: %s\n",
           archive_header.extract_command[0] != '\0' ? archive_header.extract_command : "cat > %p/%o");

    if (raw) {
        printf("Statistics unavailable because data was not compressed\n");
    } else {
        print_statistics(fd);
    }
    close(fd);
}

}  // namespace sxpak
