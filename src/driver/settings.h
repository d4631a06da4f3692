// Process-wide settings of one run, and the entry's shared helpers.
#pragma once

#include <cstdint>

namespace sxpak {

constexpr int path_buffer_size = 1024;   // preamble_path, temp_path, header strings
constexpr int item_buffer_size = 256;    // one FeatureList item built by the options

struct Settings {
    const char* program_name = "sxpak";
    int stdout_output = 0;
    int list_mode = 0;
    int verbose_output = 0;
    int no_run_command = 0;
    int extract_only = 0;
    int member_method = 8;
    int compression_level = 9;
    int exit_status = 0;
    int64_t payload_offset = 0;
    int list_heading_due = 1;
    char preamble_path[path_buffer_size] = {};
    char temp_path[path_buffer_size] = {};
};

extern Settings settings;

// Version ident printed by the usage.
inline constexpr const char* version_ident = "@(#) sxpak 1.2    5/17/2001 ";

// Writes the version line and the usage of build or archive mode to stderr.
void print_usage(int archive_mode);

// Ends the process with status 1; removes nothing.
[[noreturn]] void fatal_exit();

}  // namespace sxpak
