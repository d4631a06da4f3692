#include "lib/strdel.h"

#include <climits>

namespace sxpak {

int strdel(char* text, int c) {
    if (text == nullptr) return 0;
    const char target = static_cast<char>(c);
    long long deleted = 0;
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in == target) {
            ++deleted;
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
    return deleted > INT_MAX ? INT_MAX : static_cast<int>(deleted);
}

}  // namespace sxpak
