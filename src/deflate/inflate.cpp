#include "deflate/inflate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gzstream/stream.h"

namespace sxpak {

InflateState inflate_state;

namespace {

constexpr unsigned window_span = 32768;     // the decoder uses the window's first half
constexpr unsigned window_mask = window_span - 1;
constexpr unsigned max_code_bits = 16;      // what the builder accepts
constexpr unsigned longest_code = 15;       // what a DEFLATE stream can send
constexpr unsigned max_symbols = 288;

constexpr unsigned literal_width = 9;
constexpr unsigned distance_width = 6;
constexpr unsigned fixed_literal_width = 7;
constexpr unsigned fixed_distance_width = 5;
constexpr unsigned length_code_width = 7;

// Length symbols 257 to 287; 286 and 287 are invalid.
constexpr uint16_t length_base[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                      35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint16_t length_extra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                       3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t distance_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                        33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint16_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t length_code_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint64_t low_bits(unsigned n) { return (uint64_t{1} << n) - 1; }

void release_tables() {
    free_decode_table(inflate_state.literal_table);
    free_decode_table(inflate_state.distance_table);
    free_decode_table(inflate_state.length_code_table);
    inflate_state.literal_table = nullptr;
    inflate_state.distance_table = nullptr;
    inflate_state.length_code_table = nullptr;
}

// Fetches input bytes one at a time until the bit buffer holds n bits. Used
// where fewer than 8 bytes are left in the input buffer, so that the input
// is refilled exactly when a byte-at-a-time reader would refill it.
[[gnu::noinline]] void need_bits_slow(unsigned n) {
    uint64_t bb = inflate_state.bit_buffer;
    unsigned bk = inflate_state.bit_count;
    while (bk < n) {
        bb = (bb & low_bits(bk)) | static_cast<uint64_t>(next_input_byte()) << bk;
        bk += 8;
    }
    inflate_state.bit_buffer = bb;
    inflate_state.bit_count = bk;
}

// Hands the window to the output; the window position restarts at 0.
[[gnu::noinline]] void flush_window(unsigned position) {
    stream.output_count = static_cast<int>(position);
    drain_window();
}

}  // namespace

// The bit state lives in locals of each block routine: bb, bk and the input
// position pos with the fill count end. While 8 or more bytes are buffered a
// whole 64-bit word is loaded at once; the bytes loaded ahead are handed back
// at the end of the stream.
#define BITS_LOAD()                                        \
    uint64_t bb = inflate_state.bit_buffer;                \
    unsigned bk = inflate_state.bit_count;                 \
    unsigned pos = stream.read_position;                   \
    unsigned end = static_cast<unsigned>(stream.fill_count)
#define BITS_SAVE()                         \
    do {                                    \
        inflate_state.bit_buffer = bb;      \
        inflate_state.bit_count = bk;       \
        stream.read_position = pos;         \
    } while (0)
#define NEEDBITS(n)                                                          \
    do {                                                                     \
        if (bk < (n)) {                                                      \
            if (end > pos && end - pos >= 8) {                               \
                uint64_t word;                                               \
                memcpy(&word, stream.input_buffer + pos, 8);                 \
                bb = (bb & low_bits(bk)) | word << bk;                       \
                pos += (63 - bk) >> 3;                                       \
                bk |= 56;                                                    \
            } else {                                                         \
                BITS_SAVE();                                                 \
                need_bits_slow(n);                                           \
                bb = inflate_state.bit_buffer;                               \
                bk = inflate_state.bit_count;                                \
                pos = stream.read_position;                                  \
                end = static_cast<unsigned>(stream.fill_count);              \
            }                                                                \
        }                                                                    \
    } while (0)
#define BITS(n) (static_cast<unsigned>(bb & low_bits(n)))
#define DROPBITS(n)    \
    do {               \
        bb >>= (n);    \
        bk -= (n);     \
    } while (0)

int build_decode_table(const unsigned* lengths, unsigned n, unsigned plain_count, const uint16_t* base_values,
                       const uint16_t* extra_bits, DecodeEntry** table, unsigned* width) {
    *table = nullptr;
    if (n > max_symbols) return inflate_bad_code;

    unsigned count[max_code_bits + 1] = {};
    for (unsigned i = 0; i < n; ++i) {
        if (lengths[i] > max_code_bits) return inflate_bad_code;
        ++count[lengths[i]];
    }
    if (count[0] == n) {
        *width = 0;
        return inflate_ok;
    }

    unsigned kmin = 1;
    while (count[kmin] == 0) ++kmin;
    unsigned kmax = max_code_bits;
    while (count[kmax] == 0) --kmax;
    unsigned w = *width;
    if (w < kmin) w = kmin;
    if (w > kmax) w = kmax;
    *width = w;

    // Code space: over-subscription is refused; what is left becomes filler
    // codes of the longest length, which decode as invalid.
    int spare = 1 << kmin;
    for (unsigned len = kmin; len < kmax; ++len) {
        spare -= static_cast<int>(count[len]);
        if (spare < 0) return inflate_bad_code;
        spare <<= 1;
    }
    spare -= static_cast<int>(count[kmax]);
    if (spare < 0) return inflate_bad_code;
    count[kmax] += static_cast<unsigned>(spare);

    // Coded symbols sorted by length, ties by symbol.
    unsigned offset[max_code_bits + 2];
    offset[1] = 0;
    for (unsigned len = 1; len <= max_code_bits; ++len) offset[len + 1] = offset[len] + count[len];
    unsigned sorted[max_symbols];
    unsigned coded = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (lengths[i] != 0) {
            sorted[offset[lengths[i]]++] = i;
            ++coded;
        }
    }

    // Walk the codes in canonical order, bit-reversed, opening a sub-table
    // whenever a code is longer than the bits the current level resolves.
    DecodeEntry* level_table[max_code_bits + 1];
    unsigned level_size[max_code_bits + 1];
    unsigned level_prefix[max_code_bits + 1];
    DecodeEntry* first = nullptr;
    DecodeEntry* last = nullptr;
    unsigned code = 0;
    int level = -1;
    int start = -static_cast<int>(w);
    unsigned next_symbol = 0;

    for (unsigned len = kmin; len <= kmax; ++len) {
        for (unsigned left = count[len]; left > 0; --left) {
            unsigned rest = left - 1;   // codes of this length after this one
            while (static_cast<int>(len) > start + static_cast<int>(w)) {
                ++level;
                start += static_cast<int>(w);
                unsigned ustart = static_cast<unsigned>(start);
                unsigned limit = kmax - ustart < w ? kmax - ustart : w;
                unsigned j = len - ustart;
                unsigned f = 1u << j;
                if (f > rest + 1 && j < limit) {
                    // Too few codes of this length to fill a j-bit table:
                    // widen it while the longer codes fill what is left.
                    f -= rest + 1;
                    while (++j < limit) {
                        f <<= 1;
                        if (f <= count[ustart + j]) break;
                        f -= count[ustart + j];
                    }
                }
                unsigned size = 1u << j;
                auto* block = static_cast<DecodeEntry*>(malloc((size + 1) * sizeof(DecodeEntry)));
                if (block == nullptr) {
                    free_decode_table(first);
                    return inflate_no_memory;
                }
                block[0].tag = 0;
                block[0].used_bits = 0;
                block[0].subtable = nullptr;
                DecodeEntry* t = block + 1;
                if (last != nullptr) last[-1].subtable = t;
                last = t;
                level_table[level] = t;
                level_size[level] = size;
                if (level == 0) {
                    first = t;
                    level_prefix[0] = 0;
                } else {
                    level_prefix[level] = code & static_cast<unsigned>(low_bits(ustart));
                    unsigned parent_start = ustart - w;
                    DecodeEntry& link = level_table[level - 1][(code >> parent_start) & (level_size[level - 1] - 1)];
                    link.tag = static_cast<uint8_t>(tag_subtable + j);
                    link.used_bits = static_cast<uint8_t>(w);
                    link.subtable = t;
                }
            }

            unsigned ustart = static_cast<unsigned>(start);
            DecodeEntry entry;
            entry.used_bits = static_cast<uint8_t>(len - ustart);
            entry.value = 0;
            if (next_symbol >= coded) {
                entry.tag = tag_invalid;
            } else {
                unsigned symbol = sorted[next_symbol++];
                if (symbol < plain_count) {
                    entry.tag = symbol < 256 ? tag_literal : tag_end_of_block;
                    entry.value = static_cast<uint16_t>(symbol);
                } else if (base_values != nullptr && extra_bits != nullptr) {
                    entry.tag = static_cast<uint8_t>(extra_bits[symbol - plain_count]);
                    entry.value = base_values[symbol - plain_count];
                } else {
                    entry.tag = tag_invalid;
                }
            }
            DecodeEntry* t = level_table[level];
            for (unsigned i = code >> ustart; i < level_size[level]; i += 1u << (len - ustart)) t[i] = entry;

            // Next canonical code, bit-reversed.
            unsigned bit = 1u << (len - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;

            while ((code & static_cast<unsigned>(low_bits(static_cast<unsigned>(start)))) != level_prefix[level]) {
                --level;
                start -= static_cast<int>(w);
            }
        }
    }

    *table = first;
    return spare > 0 && kmax > 1 ? table_incomplete : inflate_ok;
}

int free_decode_table(DecodeEntry* table) {
    while (table != nullptr) {
        DecodeEntry* next = table[-1].subtable;
        free(table - 1);
        table = next;
    }
    return 0;
}

int decode_symbols(const DecodeEntry* literal_table, const DecodeEntry* distance_table, unsigned literal_bits,
                   unsigned distance_bits) {
    if (literal_table == nullptr) return inflate_bad_data;
    BITS_LOAD();
    unsigned wp = static_cast<unsigned>(stream.output_count);
    uint8_t* const window = stream.window;
    const uint8_t* const input = stream.input_buffer;
    const uint64_t literal_mask = low_bits(literal_bits);
    const uint64_t distance_mask = low_bits(distance_bits);

    for (;;) {
        if (bk < 48) {
            if (end - pos >= 8) {
                // One load gives at least 56 bits, more than one symbol can
                // take (48), so the NEEDBITS below cost a compare each. Bits
                // above bk are zero or already these same input bits.
                uint64_t word;
                memcpy(&word, input + pos, 8);
                bb |= word << bk;
                pos += (63 - bk) >> 3;
                bk |= 56;
            } else {
                NEEDBITS(literal_bits);
            }
        }
        const DecodeEntry* e = literal_table + (bb & literal_mask);
        unsigned tag = e->tag;
        if (tag == tag_literal) {
            // A run of literals: the next lookup needs no fetch while the
            // buffer holds the longest code.
            for (;;) {
                DROPBITS(e->used_bits);
                window[wp++] = static_cast<uint8_t>(e->value);
                if (wp == window_span) {
                    flush_window(wp);
                    wp = 0;
                }
                if (bk < longest_code) break;
                e = literal_table + (bb & literal_mask);
                tag = e->tag;
                if (tag != tag_literal) goto resolve_literal_code;
            }
            continue;
        }
    resolve_literal_code:
        while (tag > tag_subtable) {
            if (tag == tag_invalid) return inflate_bad_data;
            DROPBITS(e->used_bits);
            tag -= tag_subtable;
            NEEDBITS(tag);
            e = e->subtable + BITS(tag);
            tag = e->tag;
        }
        DROPBITS(e->used_bits);

        if (tag == tag_literal) {
            window[wp++] = static_cast<uint8_t>(e->value);
            if (wp == window_span) {
                flush_window(wp);
                wp = 0;
            }
            continue;
        }
        if (tag == tag_end_of_block) break;

        NEEDBITS(tag);
        unsigned length = e->value + BITS(tag);
        DROPBITS(tag);

        if (distance_table == nullptr) return inflate_bad_data;
        NEEDBITS(distance_bits);
        e = distance_table + (bb & distance_mask);
        tag = e->tag;
        while (tag > tag_subtable) {
            if (tag == tag_invalid) return inflate_bad_data;
            DROPBITS(e->used_bits);
            tag -= tag_subtable;
            NEEDBITS(tag);
            e = e->subtable + BITS(tag);
            tag = e->tag;
        }
        DROPBITS(e->used_bits);
        NEEDBITS(tag);
        unsigned distance = e->value + BITS(tag);
        DROPBITS(tag);

        if (distance <= wp && wp + length <= window_span) {
            // Source and destination lie in one piece of the window.
            uint8_t* to = window + wp;
            uint8_t* const stop = to + length;
            const uint8_t* from = to - distance;
            if (distance == 1) {
                memset(to, *from, length);
            } else {
                if (distance < 8) {
                    // A repeating pattern: once a multiple of its period that
                    // is 8 or more has been written, copy from that far back.
                    unsigned period = distance;
                    while (period < 8) period *= 2;
                    unsigned head = period < length ? period : length;
                    for (unsigned k = 0; k < head; ++k) to[k] = from[k];
                    to += head;
                    from = to - period;
                }
                if (distance >= 16) {
                    // Sixteen bytes per step never read a byte this copy has
                    // yet to write; the bytes written past the end are put back.
                    uint8_t kept[16];
                    memcpy(kept, stop, 16);
                    do {
                        uint8_t chunk[16];
                        memcpy(chunk, from, 16);
                        memcpy(to, chunk, 16);
                        to += 16;
                        from += 16;
                    } while (to < stop);
                    memcpy(stop, kept, 16);
                } else if (to < stop) {
                    // The same with eight bytes per step.
                    uint64_t kept;
                    memcpy(&kept, stop, 8);
                    do {
                        uint64_t chunk;
                        memcpy(&chunk, from, 8);
                        memcpy(to, &chunk, 8);
                        to += 8;
                        from += 8;
                    } while (to < stop);
                    memcpy(stop, &kept, 8);
                }
            }
            wp += length;
            if (wp == window_span) {
                flush_window(wp);
                wp = 0;
            }
            continue;
        }

        // Otherwise copy in chunks that end at the window's end, as a forward
        // byte-by-byte copy would, also when the source lies ahead of the
        // position (before the start of the output, or in the last window).
        unsigned source = (wp - distance) & window_mask;
        do {
            unsigned chunk = window_span - (source > wp ? source : wp);
            if (chunk > length) chunk = length;
            if (wp - source >= chunk) {
                memmove(window + wp, window + source, chunk);
            } else {
                for (unsigned k = 0; k < chunk; ++k) window[wp + k] = window[source + k];
            }
            wp += chunk;
            source = (source + chunk) & window_mask;
            length -= chunk;
            if (wp == window_span) {
                flush_window(wp);
                wp = 0;
            }
        } while (length > 0);
    }

    stream.output_count = static_cast<int>(wp);
    BITS_SAVE();
    return inflate_ok;
}

int decode_stored_block() {
    BITS_LOAD();
    unsigned wp = static_cast<unsigned>(stream.output_count);

    DROPBITS(bk & 7);
    NEEDBITS(16);
    unsigned length = BITS(16);
    DROPBITS(16);
    NEEDBITS(16);
    if (length != (~bb & 0xFFFF)) {
        BITS_SAVE();
        return inflate_bad_data;
    }
    DROPBITS(16);

    // Whole bytes still in the bit buffer come first, then the input buffer
    // is copied directly; an empty input buffer is refilled one byte at a time.
    while (length > 0 && bk >= 8) {
        stream.window[wp++] = static_cast<uint8_t>(bb);
        DROPBITS(8);
        --length;
        if (wp == window_span) {
            flush_window(wp);
            wp = 0;
        }
    }
    if (length > 0) {
        bb = 0;
        stream.read_position = pos;
        while (length > 0) {
            if (stream.read_position >= static_cast<unsigned>(stream.fill_count)) {
                stream.window[wp++] = static_cast<uint8_t>(refill_input(0));
                --length;
            } else {
                unsigned n = length;
                unsigned available = static_cast<unsigned>(stream.fill_count) - stream.read_position;
                if (n > available) n = available;
                if (n > window_span - wp) n = window_span - wp;
                memcpy(stream.window + wp, stream.input_buffer + stream.read_position, n);
                stream.read_position += n;
                wp += n;
                length -= n;
            }
            if (wp == window_span) {
                flush_window(wp);
                wp = 0;
            }
        }
        pos = stream.read_position;
    }

    stream.output_count = static_cast<int>(wp);
    BITS_SAVE();
    return inflate_ok;
}

int decode_fixed_block() {
    unsigned lengths[max_symbols];
    unsigned i = 0;
    for (; i < 144; ++i) lengths[i] = 8;
    for (; i < 256; ++i) lengths[i] = 9;
    for (; i < 280; ++i) lengths[i] = 7;
    for (; i < 288; ++i) lengths[i] = 8;
    unsigned lit_width = fixed_literal_width;
    int result = build_decode_table(lengths, 288, 257, length_base, length_extra, &inflate_state.literal_table,
                                    &lit_width);
    if (result != inflate_ok) {
        release_tables();
        return result;
    }

    for (i = 0; i < 30; ++i) lengths[i] = 5;
    unsigned dist_width = fixed_distance_width;
    result = build_decode_table(lengths, 30, 0, distance_base, distance_extra, &inflate_state.distance_table,
                                &dist_width);
    if (result > table_incomplete) {
        release_tables();
        return result;
    }

    result = decode_symbols(inflate_state.literal_table, inflate_state.distance_table, lit_width, dist_width);
    release_tables();
    return result != 0 ? inflate_bad_data : inflate_ok;
}

int decode_dynamic_block() {
    BITS_LOAD();
    NEEDBITS(5);
    unsigned nlit = 257 + BITS(5);
    DROPBITS(5);
    NEEDBITS(5);
    unsigned ndist = 1 + BITS(5);
    DROPBITS(5);
    NEEDBITS(4);
    unsigned nclen = 4 + BITS(4);
    DROPBITS(4);
    if (nlit > 286 || ndist > 30) {
        BITS_SAVE();
        return inflate_bad_data;
    }

    unsigned lengths[286 + 30];
    unsigned code_lengths[19] = {};
    for (unsigned i = 0; i < nclen; ++i) {
        NEEDBITS(3);
        code_lengths[length_code_order[i]] = BITS(3);
        DROPBITS(3);
    }

    unsigned cl_width = length_code_width;
    int result = build_decode_table(code_lengths, 19, 19, nullptr, nullptr, &inflate_state.length_code_table,
                                    &cl_width);
    if (result != inflate_ok) {
        release_tables();
        BITS_SAVE();
        return result == table_incomplete ? inflate_bad_data : result;
    }
    const DecodeEntry* cl_table = inflate_state.length_code_table;
    if (cl_table == nullptr) {
        BITS_SAVE();
        return inflate_bad_data;   // no code-length codes, yet lengths to read
    }

    const unsigned total = nlit + ndist;
    const uint64_t cl_mask = low_bits(cl_width);
    unsigned last = 0;
    for (unsigned i = 0; i < total;) {
        NEEDBITS(cl_width);
        const DecodeEntry* e = cl_table + (bb & cl_mask);
        if (e->tag != tag_literal) {
            // The spare pattern of a single 1-bit code.
            release_tables();
            BITS_SAVE();
            return inflate_bad_data;
        }
        DROPBITS(e->used_bits);
        unsigned symbol = e->value;
        if (symbol < 16) {
            lengths[i++] = last = symbol;
            continue;
        }
        unsigned repeat;
        unsigned value;
        if (symbol == 16) {
            NEEDBITS(2);
            repeat = 3 + BITS(2);
            DROPBITS(2);
            value = last;
        } else if (symbol == 17) {
            NEEDBITS(3);
            repeat = 3 + BITS(3);
            DROPBITS(3);
            value = last = 0;
        } else {
            NEEDBITS(7);
            repeat = 11 + BITS(7);
            DROPBITS(7);
            value = last = 0;
        }
        if (i + repeat > total) {
            release_tables();
            BITS_SAVE();
            return inflate_bad_data;
        }
        while (repeat-- > 0) lengths[i++] = value;
    }
    release_tables();
    BITS_SAVE();

    unsigned lit_width = literal_width;
    result = build_decode_table(lengths, nlit, 257, length_base, length_extra, &inflate_state.literal_table,
                                &lit_width);
    if (result != inflate_ok) {
        if (result == table_incomplete) {
            fputs(" incomplete literal tree\n", stderr);
            result = inflate_bad_data;
        }
        release_tables();
        return result;
    }
    unsigned dist_width = distance_width;
    result = build_decode_table(lengths + nlit, ndist, 0, distance_base, distance_extra,
                                &inflate_state.distance_table, &dist_width);
    if (result != inflate_ok) {
        if (result == table_incomplete) {
            fputs(" incomplete distance tree\n", stderr);
            result = inflate_bad_data;
        }
        release_tables();
        return result;
    }

    result = decode_symbols(inflate_state.literal_table, inflate_state.distance_table, lit_width, dist_width);
    release_tables();
    return result != 0 ? inflate_bad_data : inflate_ok;
}

int decode_block(int& final_block) {
    BITS_LOAD();
    NEEDBITS(1);
    final_block = static_cast<int>(BITS(1));
    DROPBITS(1);
    NEEDBITS(2);
    unsigned type = BITS(2);
    DROPBITS(2);
    BITS_SAVE();
    switch (type) {
        case 0: return decode_stored_block();
        case 1: return decode_fixed_block();
        case 2: return decode_dynamic_block();
        default: return inflate_bad_code;
    }
}

int decode_deflate_stream() {
    release_tables();   // left by a stream abandoned through a fatal exit
    stream.output_count = 0;
    inflate_state.bit_buffer = 0;
    inflate_state.bit_count = 0;

    int final_block = 0;
    do {
        int result = decode_block(final_block);
        if (result != inflate_ok) return result;
    } while (!final_block);

    // Hand back the whole bytes fetched ahead, so that the read position
    // stands right after the stream.
    while (inflate_state.bit_count >= 8 && stream.read_position > 0) {
        inflate_state.bit_count -= 8;
        --stream.read_position;
    }
    inflate_state.bit_buffer &= low_bits(inflate_state.bit_count);
    drain_window();
    return inflate_ok;
}

}  // namespace sxpak
