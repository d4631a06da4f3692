// Huffman code construction: length limits and their repair, the two-code
// minimum, the depth tie-break and the block costs.
#include <gtest/gtest.h>

#include <vector>

#include "deflate/bitwriter.h"
#include "deflate/huffman.h"
#include "deflate/trees.h"

using namespace sxpak;

namespace {

struct Built {
    std::vector<unsigned> len;
    std::vector<unsigned> code;  // codeword as sent on the stream, MSB first
};

// Sets the weights (symbols not listed get 0), builds, and returns the code.
Built build(TreeSpec& spec, const std::vector<std::pair<int, unsigned>>& weights) {
    trees_begin();
    for (int n = 0; n < spec.symbol_count; n++) spec.dyn_entries[n].weight = 0;
    for (auto [s, w] : weights) spec.dyn_entries[s].weight = static_cast<uint16_t>(w);
    codes.dyn_bits = codes.fixed_bits = 0;
    build_code(spec);
    Built b;
    for (int n = 0; n < spec.symbol_count; n++) {
        unsigned l = spec.dyn_entries[n].bitlen;
        b.len.push_back(l);
        b.code.push_back(l ? bits_reverse(spec.dyn_entries[n].codeword, static_cast<int>(l)) : 0);
    }
    return b;
}

// Complete (Kraft sum exactly 1) and prefix-free.
void expect_complete_prefix_code(const Built& b) {
    double kraft = 0;
    for (unsigned l : b.len)
        if (l) kraft += 1.0 / (1u << l);
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    for (size_t i = 0; i < b.len.size(); i++)
        for (size_t j = 0; j < b.len.size(); j++) {
            if (i == j || !b.len[i] || !b.len[j] || b.len[i] > b.len[j]) continue;
            EXPECT_NE(b.code[j] >> (b.len[j] - b.len[i]), b.code[i]) << i << " is a prefix of " << j;
        }
}

TEST(HuffmanLimit, FibonacciWeightsAreRepairedToTheLimit) {
    struct Case {
        const char* what;
        TreeSpec* spec;
        int symbols;  // Fibonacci weights need a depth of symbols - 1
        int stride;   // spreads the symbols over the alphabet
        unsigned limit;
    };
    const Case cases[] = {
        {"literal/length, 15 bits", &lit_spec, 22, 13, 15},
        {"distance, 15 bits", &dist_spec, 22, 1, 15},
        {"code lengths, 7 bits", &clen_spec, 12, 1, 7},
    };
    trees_begin();  // the fixed codes
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<int, unsigned>> weights;
        unsigned a = 1, b = 1;
        uint32_t expected_fixed = 0;
        for (int k = 0; k < c.symbols; k++) {
            int s = k * c.stride;
            weights.emplace_back(s, a);
            unsigned x = c.spec->extra_table && s >= c.spec->extra_from ? c.spec->extra_table[s - c.spec->extra_from] : 0;
            if (c.spec->fixed_entries) expected_fixed += a * (c.spec->fixed_entries[s].bitlen + x);
            unsigned t = a + b;
            a = b;
            b = t;
        }
        Built built = build(*c.spec, weights);
        expect_complete_prefix_code(built);

        unsigned longest = 0;
        uint32_t cost = 0;
        for (auto [s, w] : weights) {
            longest = std::max(longest, built.len[s]);
            unsigned x = s >= c.spec->extra_from ? c.spec->extra_table[s - c.spec->extra_from] : 0;
            cost += w * (built.len[s] + x);
        }
        EXPECT_EQ(longest, c.limit);
        EXPECT_EQ(c.spec->last_used, (c.symbols - 1) * c.stride);
        // The cost counts the repaired lengths.
        EXPECT_EQ(codes.dyn_bits, cost);
        if (c.spec->fixed_entries) {
            EXPECT_EQ(codes.fixed_bits, expected_fixed);
        }
        // Less frequent symbols never get shorter codes.
        for (auto [s1, w1] : weights)
            for (auto [s2, w2] : weights)
                if (w1 < w2) {
                    EXPECT_GE(built.len[s1], built.len[s2]) << s1 << " vs " << s2;
                }
    }
}

TEST(HuffmanMinimum, EveryAlphabetGetsTwoCodesAtNoCost) {
    // Only the end-of-block symbol: symbol 0 is added as the second code.
    Built lit = build(lit_spec, {{256, 1}});
    EXPECT_EQ(lit.len[0], 1u);
    EXPECT_EQ(lit.len[256], 1u);
    EXPECT_EQ(lit_spec.last_used, 256);
    EXPECT_EQ(codes.dyn_bits, 1u);    // the end-of-block symbol's one bit
    EXPECT_EQ(codes.fixed_bits, 7u);  // and its fixed code

    // No distances: symbols 0 and 1, costing nothing.
    Built dist = build(dist_spec, {});
    EXPECT_EQ(dist.len[0], 1u);
    EXPECT_EQ(dist.len[1], 1u);
    EXPECT_EQ(dist_spec.last_used, 1);
    EXPECT_EQ(codes.dyn_bits, 0u);
    EXPECT_EQ(codes.fixed_bits, 0u);

    // One distance code low in the alphabet: the next symbol up is added.
    Built one = build(dist_spec, {{1, 9}});
    EXPECT_EQ(one.len[1], 1u);
    EXPECT_EQ(one.len[2], 1u);
    EXPECT_EQ(dist_spec.last_used, 2);

    // One high up: symbol 0 is added.
    Built high = build(dist_spec, {{20, 9}});
    EXPECT_EQ(high.len[0], 1u);
    EXPECT_EQ(high.len[20], 1u);
    EXPECT_EQ(dist_spec.last_used, 20);
}

TEST(HuffmanTies, EqualWeightsMergeTheShallowerNodeFirst) {
    // After 1+1 = 2, three nodes weigh 2; the two leaves merge before the
    // deeper node, giving a balanced code rather than lengths 3, 3, 2, 1.
    Built b = build(dist_spec, {{0, 1}, {1, 1}, {2, 2}, {3, 2}});
    EXPECT_EQ(b.len, (std::vector<unsigned>{2, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Canonical: codes of one length are consecutive in symbol order.
    EXPECT_EQ(b.code[0], 0u);
    EXPECT_EQ(b.code[1], 1u);
    EXPECT_EQ(b.code[2], 2u);
    EXPECT_EQ(b.code[3], 3u);
}

TEST(FixedCode, MatchesTheStandardTable) {
    trees_begin();
    auto code = [](int s) {
        return bits_reverse(codes.fixed_lit[s].codeword, codes.fixed_lit[s].bitlen);
    };
    EXPECT_EQ(codes.fixed_lit[0].bitlen, 8);
    EXPECT_EQ(code(0), 0x30u);
    EXPECT_EQ(code(143), 0xBFu);
    EXPECT_EQ(codes.fixed_lit[144].bitlen, 9);
    EXPECT_EQ(code(144), 0x190u);
    EXPECT_EQ(code(255), 0x1FFu);
    EXPECT_EQ(codes.fixed_lit[256].bitlen, 7);
    EXPECT_EQ(code(256), 0u);
    EXPECT_EQ(code(279), 0x17u);
    EXPECT_EQ(code(280), 0xC0u);
    EXPECT_EQ(code(287), 0xC7u);
    EXPECT_EQ(codes.fixed_dist[29].bitlen, 5);
    EXPECT_EQ(bits_reverse(codes.fixed_dist[29].codeword, 5), 29u);
}

TEST(CodeLookup, LengthAndDistanceCodes) {
    // Lengths 3..258 as length - 3.
    EXPECT_EQ(code_lookup.len_symbol_of[0], 0);
    EXPECT_EQ(code_lookup.len_symbol_of[254], 27);  // 257: symbol 284
    EXPECT_EQ(254 - code_lookup.len_base[27], 30);
    EXPECT_EQ(code_lookup.len_symbol_of[255], 28);  // 258: symbol 285
    // Distances 1..32768 as distance - 1.
    EXPECT_EQ(dist_code(0), 0u);
    EXPECT_EQ(dist_code(255), 15u);
    EXPECT_EQ(dist_code(256), 16u);  // distance 257 in the second half
    EXPECT_EQ(code_lookup.dist_base[16], 256);
    EXPECT_EQ(dist_code(4095), 23u);
    EXPECT_EQ(dist_code(4096), 24u);
    EXPECT_EQ(dist_code(32767), 29u);
    EXPECT_EQ(code_lookup.dist_base[29], 24576);
}

}  // namespace
