// Stream buffers shared by the gzip reader and writer and the DEFLATE engine,
// the CRC-32 routine and the fatal exits of the stream layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sxpak {

constexpr unsigned input_buffer_capacity = 32768;   // what a fill may fetch
constexpr unsigned input_buffer_slack = 64;
constexpr unsigned output_buffer_capacity = 16384;  // drained when this full
constexpr unsigned output_buffer_slack = 2048;
constexpr unsigned window_size = 65536;
// The match search may compare up to 258 bytes past its position; these bytes
// stay zero for the whole run.
constexpr unsigned window_slack = 512;
constexpr unsigned stream_name_size = 1024;

struct StreamState {
    alignas(64) uint8_t input_buffer[input_buffer_capacity + input_buffer_slack];
    int fill_count;
    unsigned read_position;
    alignas(64) uint8_t output_buffer[output_buffer_capacity + output_buffer_slack];
    int output_count;
    alignas(64) uint8_t window[window_size + window_slack];
    int64_t input_byte_count;
    int64_t output_byte_count;
    int input_fd;
    int output_fd;
    char input_name[stream_name_size];
    char output_name[stream_name_size];
    uint32_t crc_register = 0xFFFFFFFFu;
};

extern StreamState stream;

// A little-endian 32-bit field, as gzip trailers store them.
inline uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Refills the input buffer and returns its first byte, or -1 at end of input
// when eof_allowed; otherwise end of input or an error does not return.
int refill_input(int eof_allowed);

// Takes one input byte: from the buffer, else through refill_input(0).
inline int next_input_byte() {
    if (stream.read_position < static_cast<unsigned>(stream.fill_count))
        return stream.input_buffer[stream.read_position++];
    return refill_input(0);
}

// True when no input byte is left, neither buffered nor on the descriptor.
// A byte fetched to find out stays available to the next reader.
[[nodiscard]] bool input_exhausted();

// CRC, write and count the window's pending bytes (output_count of them).
void drain_window();

// Write and count the output buffer's pending bytes.
void drain_output();

// Writes all n bytes, retrying partial writes; a write error does not return.
void write_fully(int fd, const void* buffer, size_t n);

// With null: resets the CRC register and returns 0. Otherwise feeds n bytes
// and returns the CRC-32 of everything fed since the reset.
uint32_t crc_feed(const void* buffer, size_t n);

// "\n%s: %s: %s\n" with program name, input name and message; exit status 1.
[[noreturn]] void fatal_stream_error(const char* message);
[[noreturn]] void input_failure();
[[noreturn]] void output_failure();

// "%s: %s: warning: %s%s\n"; sets exit_status to 2 when it is 0.
void warn(const char* a, const char* b);

}  // namespace sxpak
