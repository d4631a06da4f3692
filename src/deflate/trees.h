// The block encoder: collects literals and matches into blocks and emits
// each as a stored, fixed-code or dynamic-code DEFLATE block.
#pragma once

#include <array>
#include <cstdint>

#include "deflate/huffman.h"
#include "gzstream/stream.h"

namespace sxpak {

constexpr unsigned block_symbol_limit = 32767;  // symbols per block
constexpr unsigned dist_buffer_size = 32768;
constexpr unsigned early_end_interval = 4096;  // symbols between size estimates

constexpr std::array<uint8_t, 19> clen_order = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Length and distance code lookup. The distance table has two halves: the
// codes of distances 1..256 directly, the rest by distance-1 >> 7.
struct CodeLookup {
    std::array<uint8_t, 256> len_symbol_of;  // by match length - 3
    std::array<uint16_t, 29> len_base;
    std::array<uint8_t, 512> dist_symbol_of;
    std::array<uint16_t, 30> dist_base;
};

constexpr CodeLookup make_code_lookup() {
    CodeLookup t{};
    unsigned length = 0;
    for (unsigned c = 0; c < 28; c++) {
        t.len_base[c] = static_cast<uint16_t>(length);
        for (unsigned k = 0; k < (1u << len_extra_bits[c]); k++) t.len_symbol_of[length++] = static_cast<uint8_t>(c);
    }
    // 258 is sent as code 28 without extra bits, not as code 27 with 31.
    t.len_symbol_of[255] = 28;
    unsigned dist = 0;
    for (unsigned c = 0; c < 16; c++) {
        t.dist_base[c] = static_cast<uint16_t>(dist);
        for (unsigned k = 0; k < (1u << dist_extra_bits[c]); k++) t.dist_symbol_of[dist++] = static_cast<uint8_t>(c);
    }
    dist >>= 7;
    for (unsigned c = 16; c < 30; c++) {
        t.dist_base[c] = static_cast<uint16_t>(dist << 7);
        for (unsigned k = 0; k < (1u << (dist_extra_bits[c] - 7)); k++)
            t.dist_symbol_of[256 + dist++] = static_cast<uint8_t>(c);
    }
    return t;
}

inline constexpr CodeLookup code_lookup = make_code_lookup();

// Distance code of d = distance - 1 (0..32767).
constexpr unsigned dist_code(unsigned d) {
    return d < 256 ? code_lookup.dist_symbol_of[d] : code_lookup.dist_symbol_of[256 + (d >> 7)];
}

// The symbols of the block being collected. The literal/length bytes live in
// the stream input buffer, idle while compressing.
struct BlockState {
    std::array<uint16_t, dist_buffer_size> dist_buf;          // distance - 1 of each match
    std::array<uint8_t, dist_buffer_size / 8> kind_flags;     // bit set: a match
    unsigned sym_count;
    unsigned dist_count;
    unsigned flag_count;
    uint8_t flag_byte;
    uint8_t flag_mask;
};

extern BlockState block;

inline uint8_t* sym_buf() { return stream.input_buffer; }

// Builds the lookup codes on the first call of the process.
void trees_begin();

// The size estimate made every early_end_interval symbols: true when the
// block compresses so well that ending it now is worth a new code.
[[nodiscard]] bool block_ends_early();

// Records a literal (dist 0, lc the byte) or a match (dist 1..32506, lc the
// length - 3); 1 when the block should end now.
inline int record_symbol(unsigned dist, unsigned lc) {
    sym_buf()[block.sym_count++] = static_cast<uint8_t>(lc);
    if (dist == 0) {
        codes.lit_tree[lc].weight++;
    } else {
        unsigned d = dist - 1;
        codes.lit_tree[257 + code_lookup.len_symbol_of[lc]].weight++;
        codes.dist_tree[dist_code(d)].weight++;
        block.dist_buf[block.dist_count++] = static_cast<uint16_t>(d);
        block.flag_byte |= block.flag_mask;
    }
    block.flag_mask = static_cast<uint8_t>(block.flag_mask << 1);
    if ((block.sym_count & 7) == 0) {
        block.kind_flags[block.flag_count++] = block.flag_byte;
        block.flag_byte = 0;
        block.flag_mask = 1;
    }
    if ((block.sym_count & (early_end_interval - 1)) == 0 && block_ends_early()) return 1;
    return block.sym_count == block_symbol_limit || block.dist_count == dist_buffer_size;
}

// Ends the block and emits it. data: the block's input in the window, or
// null once its start has slid out; last: the member's final block, which
// also aligns the output to a byte.
void block_flush(const uint8_t* data, uint32_t stored_len, int last);

}  // namespace sxpak
