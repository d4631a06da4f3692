#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>
#include <zlib.h>

namespace test_support {

namespace {
std::vector<std::string> dirs_to_remove;
pid_t creator = 0;
// A death test's child exits through here too: only the creator removes.
void remove_dirs() {
    if (getpid() != creator) return;
    for (const auto& d : dirs_to_remove) {
        std::string cmd = "rm -rf '" + d + "'";
        if (system(cmd.c_str()) != 0) {}
    }
}
}  // namespace

std::string temp_dir() {
    char pattern[] = "/tmp/sxpak-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    if (dirs_to_remove.empty()) {
        creator = getpid();
        atexit(remove_dirs);
    }
    dirs_to_remove.emplace_back(pattern);
    return pattern;
}

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void write_file(const std::string& path, const std::string& data) {
    write_file(path, Bytes(data.begin(), data.end()));
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string sxpak_path() {
    const char* p = getenv("SXPAK");
    return p ? p : "sxpak";
}

Bytes zlib_gzip(const Bytes& data, int level, int strategy, const char* name) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 31, 9, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    gz_header header{};
    if (name != nullptr) {
        header.name = reinterpret_cast<Bytef*>(const_cast<char*>(name));
        header.os = 3;
        deflateSetHeader(&z, &header);
    }
    Bytes out(deflateBound(&z, data.size()) + 1024);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool zlib_inflate_raw(const Bytes& deflate_data, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.clear();
    z.next_in = const_cast<Bytef*>(deflate_data.data());
    z.avail_in = static_cast<uInt>(deflate_data.size());
    uint8_t chunk[65536];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace test_support
