// The input is a whole archive file: the payload locator must find the magic
// or report its absence, and leave every header string terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/container.h"
#include "driver/settings.h"

namespace {

char archive_path[] = "/tmp/sxpak-locate-fuzz-XXXXXX";

void remove_archive() { unlink(archive_path); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sxpak;
    static bool made = false;
    if (!made) {
        int fd = mkstemp(archive_path);
        if (fd < 0 || fchmod(fd, 0700) != 0) abort();
        close(fd);
        atexit(remove_archive);
        made = true;
    }
    int fd = open(archive_path, O_WRONLY | O_TRUNC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
    close(fd);

    char* strings[] = {archive_header.feature_list, archive_header.comment, archive_header.run_command,
                       archive_header.extract_command};
    for (char* s : strings) memset(s, 0xA5, header_string_size);

    int payload = locate_payload(archive_path);
    if (payload >= 0) {
        for (char* s : strings)
            if (memchr(s, '\0', header_string_size) == nullptr) abort();
        if (settings.payload_offset < 0 || settings.payload_offset > static_cast<int64_t>(size)) abort();
        if (lseek(payload, 0, SEEK_CUR) != settings.payload_offset) abort();
        close(payload);
    }
    return 0;
}
