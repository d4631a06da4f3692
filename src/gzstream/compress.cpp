#include "gzstream/compress.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "deflate/bitwriter.h"
#include "deflate/match.h"
#include "deflate/trees.h"
#include "driver/settings.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"

namespace sxpak {

uint32_t member_crc = 0;

namespace {

// errno of the read that failed in the current member, 0 while none did.
int member_read_error = 0;

void out_le32(uint32_t v) {
    for (int k = 0; k < 4; k++) out_byte(static_cast<uint8_t>(v >> (8 * k)));
}

}  // namespace

int read_input_block(uint8_t* buffer, unsigned size) {
    ssize_t got;
    do got = read(stream.input_fd, buffer, size);
    while (got == -1 && errno == EINTR);
    if (got == -1) {
        member_read_error = errno;
        return -1;
    }
    if (got == 0) return 0;
    member_crc = crc_feed(buffer, static_cast<size_t>(got));
    stream.input_byte_count += got;
    return static_cast<int>(got);
}

int compress_member(int input_fd, int output_fd) {
    stream.input_fd = input_fd;
    stream.output_fd = output_fd;
    stream.output_count = 0;
    settings.member_method = 8;
    member_read_error = 0;

    out_byte(0x1f);
    out_byte(0x8b);
    out_byte(8);     // CM: deflate
    out_byte(0x08);  // FLG: file name present
    out_le32(member_time);

    member_crc = crc_feed(nullptr, 0);
    uint16_t extra_flags = 0;
    bits_begin(output_fd);
    trees_begin();
    match_begin(settings.compression_level, &extra_flags);

    out_byte(static_cast<uint8_t>(extra_flags & 0xFF));  // XFL
    out_byte(3);                                         // OS: Unix

    const char* name = stream.input_name;
    size_t name_length = strnlen(name, stream_name_size - 1);
    for (size_t k = 0; k < name_length; k++)
        if (stream.input_name[k] == '/') name = stream.input_name + k + 1;
    for (const char* p = name; p < stream.input_name + name_length; p++) out_byte(static_cast<uint8_t>(*p));
    out_byte(0);

    compress_stream();

    out_le32(member_crc);
    out_le32(static_cast<uint32_t>(stream.input_byte_count));  // ISIZE is modulo 2^32
    drain_output();

    // The member stays well-formed with the bytes read before the error, but
    // the file is incomplete: say so and fail the build.
    if (member_read_error != 0) {
        fprintf(stderr, "%s: %s\n", stream.input_name, strerror(member_read_error));
        settings.exit_status = 1;
    }
    return 0;
}

}  // namespace sxpak
