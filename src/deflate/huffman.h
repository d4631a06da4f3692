// Length-limited canonical Huffman codes for the block encoder, with the
// block's cost in bits under the new code and under the fixed code.
#pragma once

#include <array>
#include <cstdint>

namespace sxpak {

// One tree entry. While a tree is built the words hold the frequency and the
// parent node; once the code is assigned they hold the bit-reversed codeword
// and the code length (0: no code).
struct CodeEntry {
    union {
        uint16_t weight;
        uint16_t codeword;
    };
    union {
        uint16_t parent;
        uint16_t bitlen;
    };
};

constexpr int lit_symbols = 286;    // literals, end of block, length codes
constexpr int dist_symbols = 30;
constexpr int clen_symbols = 19;
constexpr int heap_size = 2 * lit_symbols + 1;  // symbols plus internal nodes
constexpr int max_code_bits = 15;
constexpr int max_clen_bits = 7;
constexpr int end_of_block = 256;

constexpr std::array<uint8_t, 29> len_extra_bits = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, 30> dist_extra_bits = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, 19> clen_extra_bits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// The code tables and the cost accumulators of the block being built.
struct CodeTables {
    std::array<CodeEntry, heap_size> lit_tree;
    std::array<CodeEntry, 2 * dist_symbols + 1> dist_tree;
    std::array<CodeEntry, 2 * clen_symbols + 1> clen_tree;
    std::array<CodeEntry, 288> fixed_lit;
    std::array<CodeEntry, dist_symbols> fixed_dist;
    uint32_t dyn_bits;    // block cost with the dynamic codes and header
    uint32_t fixed_bits;  // block cost with the fixed codes
    std::array<uint16_t, max_code_bits + 1> len_histogram;  // codes per length
};

extern CodeTables codes;

// One alphabet: its tree, its fixed code (or null) and its extra bits.
struct TreeSpec {
    CodeEntry* dyn_entries;
    const CodeEntry* fixed_entries;
    const uint8_t* extra_table;
    int extra_from;  // first symbol extra_table applies to
    int symbol_count;
    int length_limit;
    int last_used;  // highest symbol with a code, set by build_code
};

extern TreeSpec lit_spec;
extern TreeSpec dist_spec;
extern TreeSpec clen_spec;

// Builds the alphabet's code from the weights of its tree and adds the block's
// cost to dyn_bits (and fixed_bits for alphabets with a fixed code).
void build_code(TreeSpec& spec);

// Canonical codes for symbols 0..last from their bitlen and len_histogram.
void assign_codes(CodeEntry* tree, int last);

}  // namespace sxpak
