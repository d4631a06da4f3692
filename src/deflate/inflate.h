// The DEFLATE decoder: reads the stream at the input buffer's read position
// and writes the decoded bytes through the window to the output descriptor.
#pragma once

#include <cstdint>

namespace sxpak {

// Decoder results.
enum : int {
    inflate_ok = 0,
    inflate_bad_data = 1,
    inflate_bad_code = 2,        // block type 3 or over-subscribed code lengths
    inflate_no_memory = 3,
};

// Table-builder results besides inflate_ok, inflate_bad_code and inflate_no_memory.
constexpr int table_incomplete = 1;

// Entry tags besides the number of extra bits (0 to 13).
constexpr uint8_t tag_end_of_block = 15;
constexpr uint8_t tag_literal = 16;
constexpr uint8_t tag_subtable = 16;    // 16 + j: the next j bits index a sub-table
constexpr uint8_t tag_invalid = 99;

struct DecodeEntry {
    uint8_t tag;
    uint8_t used_bits;     // code bits this table level consumes
    union {
        uint16_t value;            // literal, base value or code-length symbol
        DecodeEntry* subtable;     // tags 17 to 32
    };
};

// Bits fetched but not yet used. The buffer may hold bytes loaded ahead from
// the input buffer; they are handed back when the stream ends.
struct InflateState {
    uint64_t bit_buffer;
    unsigned bit_count;
    // Tables of the block being decoded, so that an abandoned block's tables
    // stay reachable and are released when the next stream starts.
    DecodeEntry* literal_table;
    DecodeEntry* distance_table;
    DecodeEntry* length_code_table;
};

extern InflateState inflate_state;

// Decodes one whole stream; 0 done, 1 bad data, 2 bad block type or
// over-subscribed code, 3 out of memory. On 0 the read position stands on
// the first byte after the stream and the last window has been drained.
[[nodiscard]] int decode_deflate_stream();

[[nodiscard]] int decode_block(int& final_block);
[[nodiscard]] int decode_stored_block();
[[nodiscard]] int decode_fixed_block();
[[nodiscard]] int decode_dynamic_block();

// Decodes literals and matches up to the end of block: 0, or 1 on an invalid
// code (or a missing table). Widths are those the builder handed back.
[[nodiscard]] int decode_symbols(const DecodeEntry* literal_table, const DecodeEntry* distance_table,
                                 unsigned literal_width, unsigned distance_width);

// Builds the lookup tables for n code lengths (n <= 288, lengths <= 16).
// Symbols below plain_count are literals (below 256), end of block (256) or
// code-length symbols; the others take their tag from extra_bits and their
// value from base_values, both indexed by symbol - plain_count.
// width: in, the first-level width wanted; out, the one used (0: no table).
// Returns 0 complete, 1 incomplete (table still built), 2 over-subscribed,
// 3 out of memory.
[[nodiscard]] int build_decode_table(const unsigned* lengths, unsigned n, unsigned plain_count,
                                     const uint16_t* base_values, const uint16_t* extra_bits,
                                     DecodeEntry** table, unsigned* width);

// Releases every block of a table built by build_decode_table; null is fine.
int free_decode_table(DecodeEntry* table);

}  // namespace sxpak
