#include "gzstream/member_header.h"

#include <cstdio>

#include "driver/settings.h"
#include "gzstream/stream.h"
#include "lib/basename.h"

namespace sxpak {

int member_count = 0;
uint32_t member_time = 0;
int header_length = 0;

namespace {

constexpr int flag_continuation = 0x02;
constexpr int flag_extra = 0x04;
constexpr int flag_name = 0x08;
constexpr int flag_comment = 0x10;

// Bytes this header has taken; header_length counts them itself rather than
// trusting the read position, which restarts when a long header crosses a
// refill of the input buffer.
int header_bytes = 0;

int header_byte() {
    ++header_bytes;
    return next_input_byte();
}

unsigned header_le16() {
    unsigned low = static_cast<unsigned>(header_byte());
    return low | static_cast<unsigned>(header_byte()) << 8;
}

void skip_text() {
    while (header_byte() != 0) {
    }
}

}  // namespace

int read_member_header() {
    header_bytes = 0;
    int id1 = header_byte();
    int id2 = header_byte();

    settings.member_method = -1;
    ++member_count;
    header_length = 0;

    if (id1 != 0x1f || (id2 != 0x8b && id2 != 0x9e)) {
        fprintf(stderr, "%s: can only handle GZIP compression method\n", settings.program_name);
        settings.exit_status = 1;
        return -1;
    }
    settings.member_method = header_byte();
    if (settings.member_method != 8) {
        fprintf(stderr, "%s: %s: unknown method %d -- get newer version of gzip\n", settings.program_name,
                stream.input_name, settings.member_method);
        settings.exit_status = 1;
        return -1;
    }
    int flags = header_byte();

    uint32_t stamp = 0;
    for (int k = 0; k < 4; ++k) stamp |= static_cast<uint32_t>(header_byte()) << (8 * k);
    if (stamp != 0) member_time = stamp;
    header_byte();   // XFL
    header_byte();   // OS

    if (flags & flag_continuation) {
        unsigned part = header_le16();
        if (settings.verbose_output)
            fprintf(stderr, "%s: %s: part number %u\n", settings.program_name, stream.input_name, part);
    }
    if (flags & flag_extra) {
        unsigned length = header_le16();
        if (settings.verbose_output)
            fprintf(stderr, "%s: %s: extra field of %u bytes ignored\n", settings.program_name, stream.input_name,
                    length);
        while (length-- > 0) header_byte();
    }
    if (flags & flag_name) {
        if ((settings.stdout_output && !settings.list_mode) || member_count > 1) {
            skip_text();
        } else {
            char* name = stream.output_name;
            basename(name);
            for (unsigned at = 0;;) {
                char c = static_cast<char>(header_byte());
                name[at++] = c;
                if (c == '\0') break;
                if (at >= stream_name_size) {
                    name[stream_name_size - 1] = '\0';
                    fatal_stream_error("corrupted input -- file name too large");
                }
            }
        }
    }
    if (flags & flag_comment) skip_text();

    if (member_count == 1) header_length = header_bytes + 8;
    return 8;
}

}  // namespace sxpak
