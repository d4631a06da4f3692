#pragma once

namespace sxpak {

// Removes everything up to and including the last '/' by moving the rest to
// the start of path, in place; returns path. A null path is returned as is.
char* basename(char* path);

}  // namespace sxpak
