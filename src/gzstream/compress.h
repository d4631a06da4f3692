// Writing one gzip member for one input file.
#pragma once

#include <cstdint>

namespace sxpak {

extern uint32_t member_crc;

// Writes header, DEFLATE data and trailer for the open input; returns 0.
// A read error completes the member from the bytes read, reports the error
// and sets exit_status to 1.
int compress_member(int input_fd, int output_fd);

// The engine's input source: one read call; count, 0 at end, -1 on error.
int read_input_block(uint8_t* buffer, unsigned size);

}  // namespace sxpak
