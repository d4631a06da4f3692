// Splitting a string at delimiters, with double quotes and backslashes.
#pragma once

namespace sxpak {

// Cuts text at any character of delimiters (a null set splits nowhere) and
// returns an aplist owning heap copies of the pieces (release with
// aplist_free), or null for a null or empty text or when memory runs out.
// text is not modified.
//
// A backslash protects the next character from being a delimiter or quote;
// every backslash of such a piece is then deleted. Only the first double-quoted
// group groups: its quotes, and every later double quote, are removed. An
// empty piece is kept, except an unquoted one at the very end.
[[nodiscard]] void** strsplit(const char* text, const char* delimiters);

}  // namespace sxpak
