// The listing of -l: header strings and the statistics line.
#pragma once

#include <cstdint>
#include <cstdio>

namespace sxpak {

void list_archive(const char* path);

// Writes the ratio numerator/denominator in tenths of a percent.
void print_ratio(int64_t numerator, int64_t denominator, FILE* out);

}  // namespace sxpak
