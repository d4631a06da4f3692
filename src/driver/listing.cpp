#include "driver/listing.h"

namespace sxpak {

void list_archive(const char*) {}  // placeholder
void print_ratio(int64_t, int64_t, FILE*) {}

}  // namespace sxpak
