// The gzip member header reader and its process-wide state.
#pragma once

#include <cstdint>

namespace sxpak {

extern int member_count;        // headers read in this process
extern uint32_t member_time;    // MTIME of the last header that had one; written into built members
extern int header_length;       // first member's header size plus its 8 trailer bytes

// Reads a member header from the stream input; 8 when usable, -1 when refused
// (reported, exit_status set).
[[nodiscard]] int read_member_header();

}  // namespace sxpak
