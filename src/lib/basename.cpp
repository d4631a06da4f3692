#include "lib/basename.h"

#include <cstring>

namespace sxpak {

char* basename(char* path) {
    char* slash = strrchr(path, '/');
    if (slash != nullptr) memmove(path, slash + 1, strlen(slash + 1) + 1);
    return path;
}

}  // namespace sxpak
