// The input is a compressed payload: its members are read and decoded one
// after another, as the extraction run does, with the output thrown away.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "driver/settings.h"
#include "gzstream/decompress.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"

namespace sxpak {
extern jmp_buf* fuzz_exit_point;
}

namespace {

int payload_fd = -1;
int null_fd = -1;

void decode_all() {
    using namespace sxpak;
    if (read_member_header() != 8) return;
    (void)decompress_member(payload_fd, null_fd);
    while (!input_exhausted()) {
        if (read_member_header() != 8) return;
        (void)decompress_member(payload_fd, null_fd);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sxpak;
    if (payload_fd < 0) {
        payload_fd = memfd_create("payload", 0);
        null_fd = open("/dev/null", O_WRONLY);
        if (payload_fd < 0 || null_fd < 0) abort();
    }
    if (ftruncate(payload_fd, 0) != 0 || pwrite(payload_fd, data, size, 0) != static_cast<ssize_t>(size) ||
        lseek(payload_fd, 0, SEEK_SET) != 0)
        abort();

    // A fresh run: empty buffers, counters at zero, the first member first.
    stream.input_fd = payload_fd;
    stream.output_fd = null_fd;
    stream.fill_count = 0;
    stream.read_position = 0;
    stream.output_count = 0;
    stream.input_byte_count = 0;
    stream.output_byte_count = 0;
    strcpy(stream.input_name, "payload");
    strcpy(stream.output_name, "stdout");
    member_count = 0;
    settings.stdout_output = 0;
    settings.verbose_output = size > 0 && (data[size - 1] & 1);

    jmp_buf fatal;
    fuzz_exit_point = &fatal;
    if (setjmp(fatal) == 0) decode_all();
    fuzz_exit_point = nullptr;

    if (memchr(stream.output_name, '\0', sizeof stream.output_name) == nullptr) abort();
    if (stream.read_position > static_cast<unsigned>(stream.fill_count) && stream.fill_count != 0) abort();
    return 0;
}
