#include "gzstream/stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "driver/settings.h"

namespace sxpak {

StreamState stream;

namespace {

// Reflected CRC-32 (polynomial 0xEDB88320), eight tables so that eight bytes
// are folded per step; table[0] is the classic byte-wise table.
struct CrcTables {
    uint32_t t[8][256];
};

constexpr CrcTables make_crc_tables() {
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables.t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (int k = 1; k < 8; ++k)
            tables.t[k][n] = tables.t[0][tables.t[k - 1][n] & 0xFF] ^ (tables.t[k - 1][n] >> 8);
    return tables;
}

constexpr CrcTables crc_tables = make_crc_tables();
static_assert(crc_tables.t[0][1] == 0x77073096u);

}  // namespace

int refill_input(int eof_allowed) {
    stream.fill_count = 0;
    errno = 0;
    do {
        ssize_t got = read(stream.input_fd, stream.input_buffer + stream.fill_count,
                           input_buffer_capacity - static_cast<unsigned>(stream.fill_count));
        if (got == 0 || got == -1) break;
        stream.fill_count += static_cast<int>(got);
    } while (static_cast<unsigned>(stream.fill_count) < input_buffer_capacity);

    if (stream.fill_count == 0) {
        if (eof_allowed) return -1;
        input_failure();
    }
    stream.input_byte_count += stream.fill_count;
    stream.read_position = 1;
    return stream.input_buffer[0];
}

bool input_exhausted() {
    if (stream.read_position < static_cast<unsigned>(stream.fill_count)) return false;
    if (refill_input(1) == -1) return true;
    stream.read_position = 0;
    return false;
}

void drain_window() {
    if (stream.output_count == 0) return;
    crc_feed(stream.window, static_cast<size_t>(stream.output_count));
    write_fully(stream.output_fd, stream.window, static_cast<size_t>(stream.output_count));
    stream.output_byte_count += stream.output_count;
    stream.output_count = 0;
}

void drain_output() {
    if (stream.output_count == 0) return;
    write_fully(stream.output_fd, stream.output_buffer, static_cast<size_t>(stream.output_count));
    stream.output_byte_count += stream.output_count;
    stream.output_count = 0;
}

void write_fully(int fd, const void* buffer, size_t n) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (n > 0) {
        ssize_t done = write(fd, p, n);
        if (done == -1) {
            if (errno == EINTR) continue;
            output_failure();
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
}

uint32_t crc_feed(const void* buffer, size_t n) {
    if (buffer == nullptr) {
        stream.crc_register = 0xFFFFFFFFu;
        return 0;
    }
    auto* p = static_cast<const uint8_t*>(buffer);
    uint32_t c = stream.crc_register;
    const auto& t = crc_tables.t;
    while (n >= 8) {
        uint32_t lo = load_le32(p) ^ c;
        uint32_t hi = load_le32(p + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    stream.crc_register = c;
    return c ^ 0xFFFFFFFFu;
}

void fatal_stream_error(const char* message) {
    fprintf(stderr, "\n%s: %s: %s\n", settings.program_name, stream.input_name, message);
    fatal_exit();
}

void input_failure() {
    int saved = errno;
    fprintf(stderr, "\n%s: ", settings.program_name);
    if (saved != 0) {
        fprintf(stderr, "%s: %s\n", stream.input_name, strerror(saved));
    } else {
        fprintf(stderr, "%s: unexpected end of file\n", stream.input_name);
    }
    fatal_exit();
}

void output_failure() {
    int saved = errno;
    fprintf(stderr, "\n%s: %s: %s\n", settings.program_name, stream.output_name, strerror(saved));
    fatal_exit();
}

void warn(const char* a, const char* b) {
    fprintf(stderr, "%s: %s: warning: %s%s\n", settings.program_name, stream.input_name, a, b);
    if (settings.exit_status == 0) settings.exit_status = 2;
}

}  // namespace sxpak
