#include "driver/settings.h"

#include <cstdio>
#include <cstdlib>

#include "driver/container.h"

#ifdef SXPAK_FUZZING
#include <csetjmp>
namespace sxpak {
// Set by a fuzz harness: the fatal exits return there instead of ending the process.
jmp_buf* fuzz_exit_point = nullptr;
}  // namespace sxpak
#endif

namespace sxpak {

Settings settings;

void print_usage(int archive_mode) {
    fprintf(stderr, "Version: %s\n", version_ident);
    if (archive_mode) {
        fprintf(stderr, "\n%s\n\n", archive_header.comment);
        fprintf(stderr, "Usage: %s [-hclnvtx]\n", settings.program_name);
        fputs("    -h: show this help\n"
              "    -u: use as utility to decompress archive specified on command-line\n"
              "    -l: list compression statistics\n"
              "    -c: extract to stdout instead of archive name\n"
              "    -x: extract only. do not deflate the archive\n"
              "    -n: do not run install command after deflating archive\n"
              "    -t: temp path for decompression if archive allows\n"
              "    -v: verbose output\n",
              stderr);
    } else {
        fprintf(stderr,
                "Usage: %s [-huclva] [-p sxpak_path] [-C 'comment'] [-f 'extract_shell_cmds'] "
                "[-r 'run_program_after_extraction'] [-V 'filesystem'] [-S 'fssub'] <files...>\n",
                settings.program_name);
    }
}

void fatal_exit() {
#ifdef SXPAK_FUZZING
    if (fuzz_exit_point != nullptr) longjmp(*fuzz_exit_point, 1);
#endif
    exit(1);
}

}  // namespace sxpak
