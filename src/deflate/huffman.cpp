#include "deflate/huffman.h"

#include "deflate/bitwriter.h"

namespace sxpak {

CodeTables codes;

TreeSpec lit_spec = {codes.lit_tree.data(), codes.fixed_lit.data(), len_extra_bits.data(), 257,
                     lit_symbols, max_code_bits, 0};
TreeSpec dist_spec = {codes.dist_tree.data(), codes.fixed_dist.data(), dist_extra_bits.data(), 0,
                      dist_symbols, max_code_bits, 0};
TreeSpec clen_spec = {codes.clen_tree.data(), nullptr, clen_extra_bits.data(), 0, clen_symbols, max_clen_bits, 0};

namespace {

// Scratch of one build: a min-heap in node_heap[1..heap_count], and the nodes
// taken out of it stored downward from the top, root last.
struct HeapScratch {
    std::array<int, heap_size> node_heap;
    std::array<uint8_t, heap_size> node_depth;
    int heap_count;
    int sorted_from;
};

HeapScratch heap;

// Equal weights fall back to depth, so flatter subtrees merge first.
inline bool smaller(const CodeEntry* tree, int a, int b) {
    return tree[a].weight < tree[b].weight ||
           (tree[a].weight == tree[b].weight && heap.node_depth[a] <= heap.node_depth[b]);
}

void heap_sift(const CodeEntry* tree, int k) {
    int v = heap.node_heap[k];
    int j = k << 1;
    while (j <= heap.heap_count) {
        if (j < heap.heap_count && smaller(tree, heap.node_heap[j + 1], heap.node_heap[j])) j++;
        if (smaller(tree, v, heap.node_heap[j])) break;
        heap.node_heap[k] = heap.node_heap[j];
        k = j;
        j <<= 1;
    }
    heap.node_heap[k] = v;
}

// Lengths from the tree, clamped to the limit; the histogram is then
// repaired into a complete code and the lengths dealt out again, longest to
// the symbols that left the heap first.
void assign_lengths(TreeSpec& spec) {
    CodeEntry* tree = spec.dyn_entries;
    const CodeEntry* fixed = spec.fixed_entries;
    const int limit = spec.length_limit;
    const int last = spec.last_used;
    auto& hist = codes.len_histogram;
    hist.fill(0);
    tree[heap.node_heap[heap.sorted_from]].bitlen = 0;
    int overflow = 0;

    for (int h = heap.sorted_from + 1; h < heap_size; h++) {
        int n = heap.node_heap[h];
        int bits = tree[tree[n].parent].bitlen + 1;
        if (bits > limit) {
            bits = limit;
            overflow++;
        }
        tree[n].bitlen = static_cast<uint16_t>(bits);
        if (n > last) continue;  // internal node
        hist[bits]++;
        int xbits = n >= spec.extra_from ? spec.extra_table[n - spec.extra_from] : 0;
        uint32_t w = tree[n].weight;
        codes.dyn_bits += w * static_cast<uint32_t>(bits + xbits);
        if (fixed) codes.fixed_bits += w * static_cast<uint32_t>(fixed[n].bitlen + xbits);
    }
    if (overflow == 0) return;

    do {
        int bits = limit - 1;
        while (hist[bits] == 0) bits--;
        hist[bits]--;
        hist[bits + 1] += 2;
        hist[limit]--;
        overflow -= 2;
    } while (overflow > 0);

    int h = heap_size;
    for (int bits = limit; bits != 0; bits--) {
        int k = hist[bits];
        while (k != 0) {
            int m = heap.node_heap[--h];
            if (m > last) continue;
            if (tree[m].bitlen != bits) {
                codes.dyn_bits += static_cast<uint32_t>(bits - tree[m].bitlen) * tree[m].weight;
                tree[m].bitlen = static_cast<uint16_t>(bits);
            }
            k--;
        }
    }
}

}  // namespace

void assign_codes(CodeEntry* tree, int last) {
    std::array<uint16_t, max_code_bits + 1> next_code{};
    uint16_t code = 0;
    for (int bits = 1; bits <= max_code_bits; bits++) {
        code = static_cast<uint16_t>((code + codes.len_histogram[bits - 1]) << 1);
        next_code[bits] = code;
    }
    for (int n = 0; n <= last; n++) {
        int len = tree[n].bitlen;
        if (len == 0) continue;
        tree[n].codeword = static_cast<uint16_t>(bits_reverse(next_code[len]++, len));
    }
}

void build_code(TreeSpec& spec) {
    CodeEntry* tree = spec.dyn_entries;
    const CodeEntry* fixed = spec.fixed_entries;
    const int count = spec.symbol_count;
    int last = -1;

    heap.heap_count = 0;
    heap.sorted_from = heap_size;
    for (int n = 0; n < count; n++) {
        if (tree[n].weight != 0) {
            heap.node_heap[++heap.heap_count] = last = n;
            heap.node_depth[n] = 0;
        } else {
            tree[n].bitlen = 0;
        }
    }

    // Every alphabet gets at least two codes, so that each code is complete.
    while (heap.heap_count < 2) {
        int added = last < 2 ? ++last : 0;
        heap.node_heap[++heap.heap_count] = added;
        tree[added].weight = 1;
        heap.node_depth[added] = 0;
        codes.dyn_bits--;
        if (fixed) codes.fixed_bits -= fixed[added].bitlen;
    }
    spec.last_used = last;

    for (int k = heap.heap_count / 2; k >= 1; k--) heap_sift(tree, k);

    int next = count;
    do {
        int n = heap.node_heap[1];
        heap.node_heap[1] = heap.node_heap[heap.heap_count--];
        heap_sift(tree, 1);
        int m = heap.node_heap[1];
        heap.node_heap[--heap.sorted_from] = n;
        heap.node_heap[--heap.sorted_from] = m;

        tree[next].weight = static_cast<uint16_t>(tree[n].weight + tree[m].weight);
        uint8_t dn = heap.node_depth[n], dm = heap.node_depth[m];
        heap.node_depth[next] = static_cast<uint8_t>((dn >= dm ? dn : dm) + 1);
        tree[n].parent = tree[m].parent = static_cast<uint16_t>(next);

        heap.node_heap[1] = next++;
        heap_sift(tree, 1);
    } while (heap.heap_count >= 2);
    heap.node_heap[--heap.sorted_from] = heap.node_heap[1];

    assign_lengths(spec);
    assign_codes(tree, spec.last_used);
}

}  // namespace sxpak
