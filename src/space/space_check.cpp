#include "space/space_check.h"

namespace sxpak {

int verify_fs_space(int, char* link_path) { link_path[0] = '\0'; return 0; }  // placeholder
int make_path(const char*, int) { return -1; }

}  // namespace sxpak
