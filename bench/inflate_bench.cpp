// Decoding speed of sxpak's inflate against zlib's, on one gzip member per
// input, made at run time: a tar of /usr/include (text) and the largest shared
// library under /usr/lib/x86_64-linux-gnu (binary).
//
//   inflate_bench [seconds per measurement, default 2] [input cap in MiB, default none]
//
// Both decoders read the member from the same temporary file in 32 KiB reads,
// check the CRC and length, and write to /dev/null.
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "deflate/inflate.h"
#include "gzstream/decompress.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes read_whole(const std::string& path, size_t cap) {
    Bytes data;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return data;
    uint8_t block[1 << 16];
    ssize_t got;
    while (data.size() < cap && (got = read(fd, block, sizeof block)) > 0) data.insert(data.end(), block, block + got);
    close(fd);
    if (data.size() > cap) data.resize(cap);
    return data;
}

void write_whole(const std::string& path, const Bytes& data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        perror(path.c_str());
        exit(1);
    }
    close(fd);
}

Bytes gzip_level9(const Bytes& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.next_out = out.data();
    size_t left_in = data.size();
    size_t produced = 0;
    int rc;
    do {
        // avail_in is 32 bits wide: feed large inputs in pieces.
        uInt chunk = left_in > (1u << 30) ? (1u << 30) : static_cast<uInt>(left_in);
        z.avail_in = chunk;
        z.avail_out = static_cast<uInt>(out.size() - produced > (1u << 30) ? (1u << 30) : out.size() - produced);
        rc = deflate(&z, chunk == left_in ? Z_FINISH : Z_NO_FLUSH);
        left_in -= chunk - z.avail_in;
        produced = static_cast<size_t>(z.next_out - out.data());
    } while (rc == Z_OK);
    deflateEnd(&z);
    out.resize(produced);
    return out;
}

std::string largest_library() {
    const char* dir = "/usr/lib/x86_64-linux-gnu";
    std::string best;
    off_t best_size = 0;
    DIR* d = opendir(dir);
    if (d == nullptr) return best;
    while (dirent* e = readdir(d)) {
        if (strstr(e->d_name, ".so") == nullptr) continue;
        std::string path = std::string(dir) + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > best_size) {
            best = path;
            best_size = st.st_size;
        }
    }
    closedir(d);
    return best;
}

// One decode with sxpak's member reader and decoder; returns the output size.
int64_t sxpak_decode(const std::string& member_path, int null_fd) {
    int fd = open(member_path.c_str(), O_RDONLY);
    sxpak::stream.fill_count = 0;
    sxpak::stream.read_position = 0;
    sxpak::stream.output_byte_count = 0;
    sxpak::stream.input_fd = fd;
    sxpak::member_count = 0;
    if (sxpak::read_member_header() != 8) exit(1);
    if (sxpak::decompress_member(fd, null_fd) != 0) exit(1);
    close(fd);
    return sxpak::stream.output_byte_count;
}

// The same job with zlib: 32 KiB reads, gzip wrapper (CRC and length checked).
int64_t zlib_decode(const std::string& member_path, int null_fd) {
    static uint8_t in[32768];
    static uint8_t out[32768];
    int fd = open(member_path.c_str(), O_RDONLY);
    z_stream z{};
    inflateInit2(&z, 31);
    int64_t total = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            ssize_t got = read(fd, in, sizeof in);
            if (got <= 0) exit(1);
            z.next_in = in;
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) exit(1);
        size_t n = sizeof out - z.avail_out;
        if (n > 0 && write(null_fd, out, n) != static_cast<ssize_t>(n)) exit(1);
        total += static_cast<int64_t>(n);
    }
    inflateEnd(&z);
    close(fd);
    return total;
}

// Best rate of each decoder in MB/s, the two runs alternating so that both
// see the same machine load.
void best_rates(const std::string& member_path, int null_fd, int64_t expected, double seconds, double rates[2]) {
    int64_t (*const decoders[2])(const std::string&, int) = {sxpak_decode, zlib_decode};
    rates[0] = rates[1] = 0;
    auto until = Clock::now() + std::chrono::duration<double>(seconds);
    int runs = 0;
    do {
        for (int k = 0; k < 2; ++k) {
            auto t0 = Clock::now();
            int64_t produced = decoders[k](member_path, null_fd);
            double s = std::chrono::duration<double>(Clock::now() - t0).count();
            if (produced != expected) {
                fprintf(stderr, "decoded %lld bytes, expected %lld\n", static_cast<long long>(produced),
                        static_cast<long long>(expected));
                exit(1);
            }
            double rate = static_cast<double>(produced) / s / 1e6;
            if (rate > rates[k]) rates[k] = rate;
        }
        ++runs;
    } while (Clock::now() < until || runs < 3);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    size_t cap = argc > 2 ? static_cast<size_t>(atof(argv[2]) * 1048576) : SIZE_MAX;

    char dir_pattern[] = "/tmp/sxpak-bench-XXXXXX";
    if (mkdtemp(dir_pattern) == nullptr) return 1;
    std::string dir = dir_pattern;
    std::string tar_path = dir + "/include.tar";
    std::string command = "tar cf '" + tar_path + "' -C /usr include 2>/dev/null";
    if (system(command.c_str()) != 0 && access(tar_path.c_str(), R_OK) != 0) return 1;

    struct Input {
        const char* label;
        std::string path;
    } inputs[] = {{"text (tar of /usr/include)", tar_path}, {"binary", largest_library()}};

    int null_fd = open("/dev/null", O_WRONLY);
    strcpy(sxpak::stream.input_name, "bench");
    strcpy(sxpak::stream.output_name, "/dev/null");
    for (const Input& input : inputs) {
        Bytes data = read_whole(input.path, cap);
        if (data.empty()) continue;
        Bytes member = gzip_level9(data);
        std::string member_path = dir + "/member.gz";
        write_whole(member_path, member);
        auto expected = static_cast<int64_t>(data.size());

        double rates[2];
        best_rates(member_path, null_fd, expected, 2 * seconds, rates);
        double sx = rates[0], zl = rates[1];
        printf("%s: %s\n  %.1f MB -> %.1f MB gzip -9\n  sxpak %.0f MB/s, zlib %.0f MB/s, ratio sxpak/zlib %.2fx\n",
               input.label, input.path.c_str(), data.size() / 1e6, member.size() / 1e6, sx, zl, sx / zl);
        unlink(member_path.c_str());
    }
    unlink(tar_path.c_str());
    rmdir(dir.c_str());
    return 0;
}
