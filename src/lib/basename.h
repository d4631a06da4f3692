#pragma once

namespace sxpak {

// Strips everything up to the last '/' in place; returns path.
char* basename(char* path);

}  // namespace sxpak
