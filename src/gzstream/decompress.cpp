#include "gzstream/decompress.h"

#include "gzstream/stream.h"

namespace sxpak {

int decompress_member(int, int) { fatal_stream_error("internal error, invalid method"); }

}  // namespace sxpak
