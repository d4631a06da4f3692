#include "gzstream/decompress.h"

#include <cstdint>

#include "deflate/inflate.h"
#include "driver/settings.h"
#include "gzstream/stream.h"

namespace sxpak {

namespace {

uint32_t trailer_le32() {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value |= static_cast<uint32_t>(next_input_byte()) << (8 * k);
    return value;
}

}  // namespace

int decompress_member(int input_fd, int output_fd) {
    stream.input_fd = input_fd;
    stream.output_fd = output_fd;
    crc_feed(nullptr, 0);
    const int64_t output_at_start = stream.output_byte_count;

    if (settings.member_method != 8) fatal_stream_error("internal error, invalid method");
    int result = decode_deflate_stream();
    if (result == inflate_no_memory) fatal_stream_error("out of memory");
    if (result != inflate_ok) fatal_stream_error("invalid compressed data--format violated");

    uint32_t stored_crc = trailer_le32();
    uint32_t stored_length = trailer_le32();
    if (stored_crc != crc_feed(stream.window, 0)) fatal_stream_error("invalid compressed data--crc error");
    // The build writes the running total of all members so far; other
    // writers give each member's own size. Both are accepted.
    const auto running_total = static_cast<uint32_t>(stream.output_byte_count);
    const auto member_size = static_cast<uint32_t>(stream.output_byte_count - output_at_start);
    if (stored_length != running_total && stored_length != member_size)
        fatal_stream_error("invalid compressed data--length error");
    return 0;
}

}  // namespace sxpak
