// Decoding and verification of one gzip member.
#pragma once

namespace sxpak {

// Decodes the member whose header has just been read; 0, or the process ends.
[[nodiscard]] int decompress_member(int input_fd, int output_fd);

}  // namespace sxpak
