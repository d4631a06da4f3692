// Splitting a string at delimiters, with double quotes and backslashes.
#pragma once

namespace sxpak {

// An aplist of heap copies of the pieces (release with aplist_free), or null
// for a null or empty string.
[[nodiscard]] void** strsplit(const char* text, const char* delimiters);

}  // namespace sxpak
