// The compressor's only path to the output: bit fields packed least
// significant bit first into the stream output buffer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "gzstream/stream.h"

namespace sxpak {

// The engine's input source: up to size bytes into buffer; the count,
// 0 at end of input, -1 on a read error.
using EngineReader = int (*)(uint8_t* buffer, unsigned size);

extern EngineReader engine_reader;

// Pending bits, oldest in bit 0. Whole bytes leave the accumulator in
// groups, so one store serves several fields; the byte stream is the same
// as packing the fields one bit at a time.
struct BitWriter {
    uint64_t acc;
    unsigned fill;  // valid bits in acc, below 48 between calls
};

extern BitWriter bit_writer;

// Empties the accumulator; unless fd is -1, installs the member reader as
// the engine's input source.
void bits_begin(int fd);

// Called when the output buffer holds output_buffer_capacity bytes or more:
// writes exactly that many and keeps the rest, so the output still leaves
// in pieces of output_buffer_capacity bytes.
void output_spill();

// Appends one byte to the output buffer (the accumulator must be empty).
inline void out_byte(uint8_t b) {
    stream.output_buffer[stream.output_count++] = b;
    if (static_cast<unsigned>(stream.output_count) >= output_buffer_capacity) output_spill();
}

// Moves the accumulator's whole bytes to the output buffer. The 8-byte store
// lands in the buffer's slack when it runs past the used part.
inline void bits_spill_bytes() {
    uint64_t v = bit_writer.acc;
    if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
    memcpy(stream.output_buffer + stream.output_count, &v, 8);
    unsigned whole = bit_writer.fill >> 3;
    stream.output_count += static_cast<int>(whole);
    bit_writer.acc >>= whole * 8;  // fill < 64, so whole < 8
    bit_writer.fill &= 7;
    if (static_cast<unsigned>(stream.output_count) >= output_buffer_capacity) output_spill();
}

// Appends the low length bits of value (1 <= length <= 16, value < 2^length).
inline void bits_put(unsigned value, unsigned length) {
    bit_writer.acc |= static_cast<uint64_t>(value) << bit_writer.fill;
    bit_writer.fill += length;
    if (bit_writer.fill >= 48) bits_spill_bytes();
}

// The low length bits of code in reverse order (length >= 1).
[[nodiscard]] unsigned bits_reverse(unsigned code, int length);

// Writes out the pending bits, zero-padded to a byte boundary.
void bits_align();

// Aligns, writes LEN and NLEN when with_header is non-zero, then the bytes.
void bits_copy_stored(const uint8_t* data, unsigned length, int with_header);

}  // namespace sxpak
