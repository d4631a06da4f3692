#include "gzstream/member_header.h"

namespace sxpak {

int member_count = 0;
uint32_t member_time = 0;
int header_length = 0;

int read_member_header() { return -1; }  // placeholder until the reader lands

}  // namespace sxpak
