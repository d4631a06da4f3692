// The space check before an extraction, and its temporary link.
#pragma once

namespace sxpak {

constexpr int link_path_size = 512;

// 0: extract (buffer empty, or the path of a temporary link to remove after
// the run); -1: do not extract (reported).
[[nodiscard]] int verify_fs_space(int required_mb, char* link_path /* link_path_size bytes */);

// Makes every directory of an absolute path with mode; 0 or -1.
[[nodiscard]] int make_path(const char* path, int mode);

}  // namespace sxpak
