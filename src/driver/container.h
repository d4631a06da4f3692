// The archive container: preamble, magic, the four header strings, payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sxpak {

constexpr int magic_length = 11;
constexpr int header_string_size = 1024;   // each header string: 1023 characters and a NUL

// The four header strings, in file order.
struct ArchiveHeader {
    char feature_list[header_string_size];
    char comment[header_string_size];
    char run_command[header_string_size];
    char extract_command[header_string_size];
};

extern ArchiveHeader archive_header;

// locate_payload results besides a descriptor.
constexpr int payload_no_magic = -1;       // not found (or not openable): callers report
constexpr int payload_bad_header = -2;     // a header string overflows: already reported

// A path to an executable for name (static buffer, or name itself), or null.
[[nodiscard]] const char* find_executable(const char* name);

// The 11 magic bytes, not NUL-terminated, assembled at every call.
[[nodiscard]] const unsigned char* preamble_magic();

// Appends an item to the FeatureList; -1 (nothing changed) when it would not fit.
[[nodiscard]] int feature_add(const char* item);

// The item text starting at the first occurrence of key, up to the next comma
// (static buffer), or null.
[[nodiscard]] const char* feature_get(const char* key);

// Writes preamble image, magic and header strings to fd; 0 or -1.
[[nodiscard]] int write_preamble(const char* path, int fd);

// Opens path, finds the magic, reads the header strings; returns a descriptor
// at the first payload byte, or payload_no_magic / payload_bad_header.
[[nodiscard]] int locate_payload(const char* path);

// Reads the last 8 bytes of an archive (the last member's CRC-32 and size
// field) and returns their offset; a short file ends through the read-error exit.
int64_t read_archive_trailer(int fd, unsigned char trailer[8]);

}  // namespace sxpak
