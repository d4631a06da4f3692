#pragma once

namespace sxpak {

// Deletes every c from text in place, closing up the text behind each one;
// returns how many were deleted. A null or empty text gives 0.
int strdel(char* text, int c);

}  // namespace sxpak
