// Test helper: writes a gzip member made by zlib (a peer encoder).
//   sxpak_testtool gzip LEVEL STRATEGY NAME < input > member
// STRATEGY: default, filtered, huffman, rle, fixed. NAME "-" stores no name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 5 || strcmp(argv[1], "gzip") != 0) {
        fprintf(stderr, "usage: %s gzip LEVEL STRATEGY NAME\n", argv[0]);
        return 2;
    }
    int level = atoi(argv[2]);
    int strategy = Z_DEFAULT_STRATEGY;
    if (!strcmp(argv[3], "filtered")) strategy = Z_FILTERED;
    else if (!strcmp(argv[3], "huffman")) strategy = Z_HUFFMAN_ONLY;
    else if (!strcmp(argv[3], "rle")) strategy = Z_RLE;
    else if (!strcmp(argv[3], "fixed")) strategy = Z_FIXED;
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 31, 9, strategy) != Z_OK) return 1;
    gz_header header{};
    if (strcmp(argv[4], "-") != 0) {
        header.name = reinterpret_cast<Bytef*>(argv[4]);
        header.os = 3;
        deflateSetHeader(&z, &header);
    }
    std::vector<unsigned char> in(1 << 16), out(1 << 16);
    int flush;
    do {
        z.avail_in = static_cast<uInt>(fread(in.data(), 1, in.size(), stdin));
        z.next_in = in.data();
        flush = feof(stdin) ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.avail_out = static_cast<uInt>(out.size());
            z.next_out = out.data();
            deflate(&z, flush);
            fwrite(out.data(), 1, out.size() - z.avail_out, stdout);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return 0;
}
