#include "lib/basename.h"

#include <cstring>

namespace sxpak {

char* basename(char* path) {
    if (path == nullptr) return path;
    char* slash = strrchr(path, '/');
    // The tail moves leftwards within the same buffer, so it needs memmove.
    if (slash != nullptr) memmove(path, slash + 1, strlen(slash + 1) + 1);
    return path;
}

}  // namespace sxpak
