#include "deflate/bitwriter.h"

#include "gzstream/compress.h"

namespace sxpak {

EngineReader engine_reader = nullptr;
BitWriter bit_writer;

void bits_begin(int fd) {
    bit_writer.acc = 0;
    bit_writer.fill = 0;
    if (fd != -1) engine_reader = read_input_block;
}

void output_spill() {
    unsigned rest = static_cast<unsigned>(stream.output_count) - output_buffer_capacity;
    stream.output_count = static_cast<int>(output_buffer_capacity);
    drain_output();
    if (rest != 0) memmove(stream.output_buffer, stream.output_buffer + output_buffer_capacity, rest);
    stream.output_count = static_cast<int>(rest);
}

unsigned bits_reverse(unsigned code, int length) {
    unsigned result = 0;
    do {
        result = (result << 1) | (code & 1);
        code >>= 1;
    } while (--length > 0);
    return result;
}

void bits_align() {
    bit_writer.fill = (bit_writer.fill + 7) & ~7u;
    bits_spill_bytes();
    bit_writer.acc = 0;
    bit_writer.fill = 0;
}

void bits_copy_stored(const uint8_t* data, unsigned length, int with_header) {
    bits_align();
    if (with_header) {
        bits_put(length & 0xFFFF, 16);
        bits_put(~length & 0xFFFF, 16);
        bits_spill_bytes();
    }
    while (length > 0) {
        unsigned room = output_buffer_capacity - static_cast<unsigned>(stream.output_count);
        unsigned n = length < room ? length : room;
        memcpy(stream.output_buffer + stream.output_count, data, n);
        stream.output_count += static_cast<int>(n);
        data += n;
        length -= n;
        if (static_cast<unsigned>(stream.output_count) >= output_buffer_capacity) output_spill();
    }
}

}  // namespace sxpak
