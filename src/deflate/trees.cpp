#include "deflate/trees.h"

#include "deflate/bitwriter.h"
#include "deflate/match.h"
#include "driver/settings.h"

namespace sxpak {

BlockState block;

namespace {

void block_reset() {
    for (int n = 0; n < lit_symbols; n++) codes.lit_tree[n].weight = 0;
    for (int n = 0; n < dist_symbols; n++) codes.dist_tree[n].weight = 0;
    for (int n = 0; n < clen_symbols; n++) codes.clen_tree[n].weight = 0;
    codes.lit_tree[end_of_block].weight = 1;
    codes.dyn_bits = codes.fixed_bits = 0;
    block.sym_count = block.dist_count = block.flag_count = 0;
    block.flag_byte = 0;
    block.flag_mask = 1;
}

// The code lengths of symbols 0..last, run-length coded with the repeat
// symbols 16, 17 and 18. Counting and sending walk the same runs.
enum class RunPass { count, send };

template <RunPass pass>
void walk_runs(CodeEntry* tree, int last) {
    CodeEntry* clen = codes.clen_tree.data();
    auto symbol = [clen](int s) {
        if constexpr (pass == RunPass::count)
            clen[s].weight++;
        else
            bits_put(clen[s].codeword, clen[s].bitlen);
    };
    // A length no code has, so that the final run ends at last.
    if constexpr (pass == RunPass::count) tree[last + 1].bitlen = 0xFFFF;

    int prev = -1;
    int next = tree[0].bitlen;
    int run = 0;
    int max_run = 7, min_run = 4;
    if (next == 0) max_run = 138, min_run = 3;

    for (int n = 0; n <= last; n++) {
        int cur = next;
        next = tree[n + 1].bitlen;
        if (++run < max_run && cur == next) continue;
        if (run < min_run) {
            if constexpr (pass == RunPass::count) {
                clen[cur].weight = static_cast<uint16_t>(clen[cur].weight + run);
            } else {
                do symbol(cur);
                while (--run != 0);
            }
        } else if (cur != 0) {
            if (cur != prev) {
                symbol(cur);
                run--;
            }
            symbol(16);
            if constexpr (pass == RunPass::send) bits_put(static_cast<unsigned>(run - 3), 2);
        } else if (run <= 10) {
            symbol(17);
            if constexpr (pass == RunPass::send) bits_put(static_cast<unsigned>(run - 3), 3);
        } else {
            symbol(18);
            if constexpr (pass == RunPass::send) bits_put(static_cast<unsigned>(run - 11), 7);
        }
        run = 0;
        prev = cur;
        if (next == 0) {
            max_run = 138, min_run = 3;
        } else if (cur == next) {
            max_run = 6, min_run = 3;
        } else {
            max_run = 7, min_run = 4;
        }
    }
}

void count_runs(CodeEntry* tree, int last) { walk_runs<RunPass::count>(tree, last); }
void emit_runs(CodeEntry* tree, int last) { walk_runs<RunPass::send>(tree, last); }

// Builds the code-length code; returns the index in clen_order of the last
// length sent (at least 3, so that four are always sent).
int build_clen_code() {
    count_runs(codes.lit_tree.data(), lit_spec.last_used);
    count_runs(codes.dist_tree.data(), dist_spec.last_used);
    build_code(clen_spec);
    int index = clen_symbols - 1;
    while (index >= 4 && codes.clen_tree[clen_order[index]].bitlen == 0) index--;
    codes.dyn_bits += 3 * static_cast<uint32_t>(index + 1) + 5 + 5 + 4;
    return index;
}

void emit_dynamic_header(int lcodes, int dcodes, int blcodes) {
    bits_put(static_cast<unsigned>(lcodes - 257), 5);
    bits_put(static_cast<unsigned>(dcodes - 1), 5);
    bits_put(static_cast<unsigned>(blcodes - 4), 4);
    for (int r = 0; r < blcodes; r++) bits_put(codes.clen_tree[clen_order[r]].bitlen, 3);
    emit_runs(codes.lit_tree.data(), lcodes - 1);
    emit_runs(codes.dist_tree.data(), dcodes - 1);
}

void emit_symbols(const CodeEntry* ltree, const CodeEntry* dtree) {
    const uint8_t* syms = sym_buf();
    unsigned dx = 0;
    unsigned flags = 0;
    for (unsigned i = 0; i < block.sym_count; i++) {
        if ((i & 7) == 0) flags = block.kind_flags[i >> 3];
        unsigned lc = syms[i];
        if ((flags & 1) == 0) {
            bits_put(ltree[lc].codeword, ltree[lc].bitlen);
        } else {
            unsigned c = code_lookup.len_symbol_of[lc];
            bits_put(ltree[257 + c].codeword, ltree[257 + c].bitlen);
            if (len_extra_bits[c] != 0) bits_put(lc - code_lookup.len_base[c], len_extra_bits[c]);
            unsigned d = block.dist_buf[dx++];
            c = dist_code(d);
            bits_put(dtree[c].codeword, dtree[c].bitlen);
            if (dist_extra_bits[c] != 0) bits_put(d - code_lookup.dist_base[c], dist_extra_bits[c]);
        }
        flags >>= 1;
    }
    bits_put(ltree[end_of_block].codeword, ltree[end_of_block].bitlen);
}

}  // namespace

void trees_begin() {
    if (codes.fixed_dist[0].bitlen != 0) return;

    codes.len_histogram.fill(0);
    for (int n = 0; n < 288; n++) {
        int len = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
        codes.fixed_lit[n].bitlen = static_cast<uint16_t>(len);
        codes.len_histogram[len]++;
    }
    assign_codes(codes.fixed_lit.data(), 287);
    for (int n = 0; n < dist_symbols; n++) {
        codes.fixed_dist[n].bitlen = 5;
        codes.fixed_dist[n].codeword = static_cast<uint16_t>(bits_reverse(static_cast<unsigned>(n), 5));
    }
    block_reset();
}

bool block_ends_early() {
    if (settings.compression_level <= 2) return false;
    uint32_t estimate = block.sym_count * 8;
    for (int c = 0; c < dist_symbols; c++)
        estimate += codes.dist_tree[c].weight * (5u + dist_extra_bits[c]);
    estimate >>= 3;
    // Input covered so far; the block's origin may lie below the window.
    uint32_t covered = static_cast<uint32_t>(static_cast<int64_t>(matcher.cur_pos) - matcher.block_origin);
    return block.dist_count < block.sym_count / 2 && estimate < covered / 2;
}

void block_flush(const uint8_t* data, uint32_t stored_len, int last) {
    block.kind_flags[block.flag_count] = block.flag_byte;

    build_code(lit_spec);
    build_code(dist_spec);
    int index = build_clen_code();

    uint32_t dyn_bytes = (codes.dyn_bits + 3 + 7) >> 3;
    uint32_t fixed_bytes = (codes.fixed_bits + 3 + 7) >> 3;
    uint32_t best = fixed_bytes <= dyn_bytes ? fixed_bytes : dyn_bytes;

    if (static_cast<uint64_t>(stored_len) + 4 <= best && data != nullptr) {
        bits_put(static_cast<unsigned>(last), 3);
        bits_copy_stored(data, stored_len, 1);
    } else if (fixed_bytes == best) {
        bits_put(2 + static_cast<unsigned>(last), 3);
        emit_symbols(codes.fixed_lit.data(), codes.fixed_dist.data());
    } else {
        bits_put(4 + static_cast<unsigned>(last), 3);
        emit_dynamic_header(lit_spec.last_used + 1, dist_spec.last_used + 1, index + 1);
        emit_symbols(codes.lit_tree.data(), codes.dist_tree.data());
    }
    block_reset();
    if (last) bits_align();
}

}  // namespace sxpak
