#include "driver/extraction.h"

namespace sxpak {

int run_extraction(const char*) { return -1; }  // placeholder
char* expand_command(const char*, int) { return nullptr; }
void feature_export() {}

}  // namespace sxpak
