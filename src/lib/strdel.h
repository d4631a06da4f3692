#pragma once

namespace sxpak {

// Deletes every c from text in place; returns how many were deleted.
int strdel(char* text, int c);

}  // namespace sxpak
