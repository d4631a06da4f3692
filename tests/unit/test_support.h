// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

// A fresh temporary directory, removed with its contents at exit.
std::string temp_dir();

void write_file(const std::string& path, const Bytes& data);
void write_file(const std::string& path, const std::string& data);
Bytes read_file(const std::string& path);

// The built sxpak executable (from the SXPAK environment variable).
std::string sxpak_path();

// gzip member written by zlib (the peer encoder) with the given level and strategy.
Bytes zlib_gzip(const Bytes& data, int level = 9, int strategy = 0, const char* name = nullptr);

// Raw DEFLATE data decoded by zlib; false when zlib rejects it.
bool zlib_inflate_raw(const Bytes& deflate_data, Bytes& out);

}  // namespace test_support
