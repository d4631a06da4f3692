// Compression speed of sxpak's engine against zlib at level 9, on the same
// inputs in one run: a tar of /usr/include made now (text-like) and the
// largest shared library under /usr/lib/x86_64-linux-gnu (binary).
// Usage: deflate_bench [FILE...]   (files replace the two default inputs)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "gzstream/compress.h"
#include "gzstream/stream.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    double seconds;
    uint64_t out_bytes;
};

std::string largest_library;
off_t largest_size = 0;

int note_library(const char* path, const struct stat* st, int type, FTW*) {
    if (type == FTW_F && S_ISREG(st->st_mode) && strstr(path, ".so") != nullptr && st->st_size > largest_size) {
        largest_size = st->st_size;
        largest_library = path;
    }
    return 0;
}

bool read_whole(const std::string& path, std::vector<uint8_t>& data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    uint8_t chunk[1 << 16];
    size_t n;
    data.clear();
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    fclose(f);
    return true;
}

Result run_sxpak(const std::string& path) {
    int in = open(path.c_str(), O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) {
        perror(path.c_str());
        exit(1);
    }
    snprintf(sxpak::stream.input_name, sizeof sxpak::stream.input_name, "%s", path.c_str());
    int64_t before = sxpak::stream.output_byte_count;
    auto t0 = Clock::now();
    sxpak::compress_member(in, out);
    auto t1 = Clock::now();
    close(in);
    close(out);
    return {std::chrono::duration<double>(t1 - t0).count(),
            static_cast<uint64_t>(sxpak::stream.output_byte_count - before)};
}

Result run_zlib(const std::vector<uint8_t>& data) {
    z_stream z{};
    // A gzip member, as sxpak writes: the CRC is part of the work.
    if (deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) exit(1);
    static uint8_t out[1 << 16];
    uint64_t total = 0;
    auto t0 = Clock::now();
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    int rc;
    do {
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = deflate(&z, Z_FINISH);
        total += sizeof out - z.avail_out;
    } while (rc == Z_OK || rc == Z_BUF_ERROR);
    auto t1 = Clock::now();
    deflateEnd(&z);
    if (rc != Z_STREAM_END) exit(1);
    return {std::chrono::duration<double>(t1 - t0).count(), total};
}

void bench(const char* label, const std::string& path) {
    std::vector<uint8_t> data;
    if (!read_whole(path, data) || data.size() > 0xFFFFFFFFu) {
        fprintf(stderr, "cannot use %s\n", path.c_str());
        return;
    }
    double mb = static_cast<double>(data.size()) / 1e6;
    Result s = run_sxpak(path);
    Result z = run_zlib(data);
    printf("%-7s %s (%.1f MB)\n", label, path.c_str(), mb);
    printf("  sxpak     %7.2f MB/s  %12llu bytes\n", mb / s.seconds, static_cast<unsigned long long>(s.out_bytes));
    printf("  zlib -9   %7.2f MB/s  %12llu bytes\n", mb / z.seconds, static_cast<unsigned long long>(z.out_bytes));
    printf("  throughput ratio %.2fx   size ratio %.4f\n", z.seconds / s.seconds,
           static_cast<double>(s.out_bytes) / static_cast<double>(z.out_bytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; i++) bench("file", argv[i]);
        return 0;
    }
    char dir[] = "/tmp/sxpak-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    std::string tar = std::string(dir) + "/include.tar";
    std::string command = "tar cf '" + tar + "' -C /usr include 2>/dev/null";
    if (system(command.c_str()) != 0) fprintf(stderr, "tar reported errors; using what it wrote\n");
    bench("text", tar);
    unlink(tar.c_str());
    rmdir(dir);

    nftw("/usr/lib/x86_64-linux-gnu", note_library, 32, FTW_PHYS);
    if (largest_library.empty()) {
        fprintf(stderr, "no shared library found\n");
        return 1;
    }
    bench("binary", largest_library);
    return 0;
}
