// The DEFLATE decoder on hand-made streams, on random dynamic blocks checked
// against zlib, and on zlib's own output at every offset in the input buffer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "deflate/inflate.h"
#include "gzstream/stream.h"
#include "test_support.h"

using test_support::Bytes;

namespace {

// Bits packed as DEFLATE does: fields from the least significant bit,
// Huffman codes from their most significant bit.
struct BitPacker {
    Bytes bytes;
    unsigned bit = 0;

    void put(unsigned value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (bit % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << (bit % 8));
            ++bit;
        }
    }
    void put_code(unsigned code, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((code >> i) & 1, 1);
    }
    void align() { bit = (bit + 7) / 8 * 8; }
};

constexpr unsigned length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned distance_base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr unsigned code_length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned length_symbol(unsigned length) {
    unsigned s = 28;
    while (length_base[s] > length) --s;
    return s;
}
unsigned distance_symbol(unsigned distance) {
    unsigned s = 29;
    while (distance_base[s] > distance) --s;
    return s;
}

// Canonical codes for a set of lengths (RFC 1951 3.2.2).
std::vector<unsigned> canonical_codes(const std::vector<unsigned>& lengths) {
    unsigned count[17] = {}, next[17] = {};
    for (unsigned l : lengths) ++count[l];
    count[0] = 0;
    unsigned code = 0;
    for (unsigned bits = 1; bits <= 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<unsigned> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
    return codes;
}

struct Code {
    std::vector<unsigned> lengths, codes;
    explicit Code(std::vector<unsigned> l) : lengths(std::move(l)), codes(canonical_codes(lengths)) {}
    void put(BitPacker& p, unsigned symbol) const { p.put_code(codes[symbol], lengths[symbol]); }
};

const Code& fixed_literals() {
    static const Code code([] {
        std::vector<unsigned> l(288);
        for (unsigned i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        return l;
    }());
    return code;
}
const Code& fixed_distances() {
    static const Code code(std::vector<unsigned>(32, 5));
    return code;
}

void put_match(BitPacker& p, const Code& lit, const Code& dist, unsigned length, unsigned distance) {
    unsigned ls = length_symbol(length);
    lit.put(p, 257 + ls);
    p.put(length - length_base[ls], length_extra[ls]);
    unsigned ds = distance_symbol(distance);
    dist.put(p, ds);
    p.put(distance - distance_base[ds], distance_extra[ds]);
}

// Header of a dynamic block whose lengths are sent with literal code-length
// symbols only, under a code-length code of sixteen 4-bit codes.
void put_dynamic_header(BitPacker& p, bool final_block, const std::vector<unsigned>& lit,
                        const std::vector<unsigned>& dist) {
    p.put(final_block, 1);
    p.put(2, 2);
    p.put(static_cast<unsigned>(lit.size() - 257), 5);
    p.put(static_cast<unsigned>(dist.size() - 1), 5);
    p.put(19 - 4, 4);
    for (unsigned i = 0; i < 19; ++i) p.put(code_length_order[i] < 16 ? 4 : 0, 3);
    for (unsigned l : lit) p.put_code(l, 4);
    for (unsigned l : dist) p.put_code(l, 4);
}

// One scratch directory per test program.
std::string scratch() {
    static const std::string dir = test_support::temp_dir();
    return dir;
}

struct Decoded {
    int result;
    Bytes out;
    int64_t consumed;    // input bytes taken, counted after the hand-back
    std::string messages;
};

// Decodes the stream at offset `skip` of the input buffer: the file holds
// `skip` filler bytes, then the data.
Decoded inflate_bytes(const Bytes& data, unsigned skip = 0) {
    Bytes file(skip, 0xEE);
    file.insert(file.end(), data.begin(), data.end());
    std::string in_path = scratch() + "/in", out_path = scratch() + "/out";
    test_support::write_file(in_path, file);
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    sxpak::stream.input_fd = in;
    sxpak::stream.output_fd = out;
    sxpak::stream.fill_count = 0;
    sxpak::stream.read_position = 0;
    sxpak::stream.input_byte_count = 0;
    sxpak::stream.output_byte_count = 0;
    if (skip > 0) {
        (void)sxpak::refill_input(0);
        sxpak::stream.read_position = skip;
    }
    testing::internal::CaptureStderr();
    Decoded d;
    d.result = sxpak::decode_deflate_stream();
    d.messages = testing::internal::GetCapturedStderr();
    d.consumed = sxpak::stream.input_byte_count - sxpak::stream.fill_count + sxpak::stream.read_position - skip;
    close(in);
    close(out);
    d.out = test_support::read_file(out_path);
    return d;
}

Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Raw DEFLATE data of a zlib gzip member (no name: 10 header bytes).
Bytes zlib_raw(const Bytes& data, int level, int strategy) {
    Bytes member = test_support::zlib_gzip(data, level, strategy);
    return Bytes(member.begin() + 10, member.end() - 8);
}

// Text-like words, random bytes, runs and short periods: every copy path.
Bytes mixed_corpus(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    static const char* words[] = {"inflate ", "window ", "table ", "the ", "of ", "stream\n", "{\n\t", "};\n"};
    Bytes out;
    while (out.size() < size) {
        switch (rng() % 5) {
            case 0:
            case 1:
                for (int k = 0; k < 20; ++k) {
                    const char* w = words[rng() % 8];
                    out.insert(out.end(), w, w + strlen(w));
                }
                break;
            case 2:
                for (unsigned k = rng() % 300; k > 0; --k) out.push_back(static_cast<uint8_t>(rng()));
                break;
            case 3:
                out.insert(out.end(), rng() % 700, static_cast<uint8_t>(rng()));
                break;
            default: {
                unsigned period = 2 + rng() % 6;
                uint8_t pattern[8];
                for (auto& b : pattern) b = static_cast<uint8_t>(rng());
                for (unsigned k = rng() % 400; k > 0; --k) out.push_back(pattern[k % period]);
            }
        }
    }
    out.resize(size);
    return out;
}

// ---------------------------------------------------------------------------

struct StreamCase {
    const char* name;
    Bytes stream;
    int result;
    Bytes out;            // checked when result is 0
    int64_t consumed;     // checked when result is 0
    const char* messages;
};

Bytes fixed_block(const std::vector<unsigned>& symbols) {
    BitPacker p;
    p.put(1, 1);
    p.put(1, 2);
    for (unsigned s : symbols) fixed_literals().put(p, s);
    return p.bytes;
}

std::vector<StreamCase> stream_cases() {
    std::vector<StreamCase> cases;
    cases.push_back({"stored, empty", {0x01, 0x00, 0x00, 0xff, 0xff, 'T'}, 0, {}, 5, ""});
    cases.push_back({"stored, three bytes", {0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b', 'c', 'T'}, 0, text("abc"), 8, ""});
    cases.push_back({"stored, complement wrong", {0x01, 0x03, 0x00, 0xfd, 0xff, 'a', 'b', 'c'}, 1, {}, 0, ""});
    cases.push_back({"block type 3", {0x07, 0x00}, 2, {}, 0, ""});
    cases.push_back({"fixed, end of block only", {0x03, 0x00, 'T'}, 0, {}, 2, ""});
    cases.push_back({"fixed, literal symbol 286", fixed_block({'a', 286, 256}), 1, {}, 0, ""});
    cases.push_back({"fixed, literal symbol 287", fixed_block({287, 256}), 1, {}, 0, ""});
    {
        BitPacker p;  // a non-final stored block, then a final fixed block
        p.put(0, 1);
        p.put(0, 2);
        p.align();
        p.put(2, 16);
        p.put(0xfffd, 16);
        p.put('x', 8);
        p.put('y', 8);
        p.put(1, 1);
        p.put(1, 2);
        fixed_literals().put(p, 'z');
        put_match(p, fixed_literals(), fixed_distances(), 258, 1);
        fixed_literals().put(p, 256);
        Bytes expected = text("xyz");
        expected.insert(expected.end(), 258, 'z');
        cases.push_back({"stored then fixed, length 258 at distance 1", concat(p.bytes, text("T")), 0, expected,
                         static_cast<int64_t>(p.bytes.size()), ""});
    }
    for (unsigned bad : {30u, 31u}) {
        BitPacker p;
        p.put(1, 1);
        p.put(1, 2);
        fixed_literals().put(p, 'a');
        fixed_literals().put(p, 257);
        fixed_distances().put(p, bad);
        fixed_literals().put(p, 256);
        cases.push_back({bad == 30 ? "fixed, distance code 30" : "fixed, distance code 31", p.bytes, 1, {}, 0, ""});
    }
    {
        BitPacker p;  // a match reaching before the first byte copies the fresh window's zeros
        p.put(1, 1);
        p.put(1, 2);
        put_match(p, fixed_literals(), fixed_distances(), 3, 5);
        fixed_literals().put(p, 'k');
        fixed_literals().put(p, 256);
        cases.push_back({"distance before the output", p.bytes, 0, {0, 0, 0, 'k'},
                         static_cast<int64_t>(p.bytes.size()), ""});
    }
    for (unsigned field : {0u, 1u}) {  // HLIT of 30, HDIST of 30
        BitPacker p;
        p.put(1, 1);
        p.put(2, 2);
        p.put(field == 0 ? 30 : 0, 5);
        p.put(field == 1 ? 30 : 0, 5);
        p.put(0, 4);
        cases.push_back({field == 0 ? "dynamic, 287 literal codes" : "dynamic, 31 distance codes", p.bytes, 1, {}, 0, ""});
    }

    // Dynamic blocks with a custom code-length code: `cl` gives the length of
    // each code-length symbol, `send` the code-length symbols and extra bits.
    struct ClSym {
        unsigned symbol, extra, extra_bits;
    };
    auto dynamic = [](unsigned nlit, unsigned ndist, std::vector<unsigned> cl, std::vector<ClSym> send,
                      std::vector<unsigned> lit_lengths = {}, std::vector<unsigned> dist_lengths = {},
                      std::vector<unsigned> body = {}) {
        BitPacker p;
        p.put(1, 1);
        p.put(2, 2);
        p.put(nlit - 257, 5);
        p.put(ndist - 1, 5);
        p.put(19 - 4, 4);
        for (unsigned i = 0; i < 19; ++i) p.put(cl[code_length_order[i]], 3);
        Code clc(cl);
        for (const ClSym& s : send) {
            clc.put(p, s.symbol);
            p.put(s.extra, s.extra_bits);
        }
        if (!lit_lengths.empty()) {
            Code lit(lit_lengths);
            for (unsigned s : body) lit.put(p, s);
        }
        (void)dist_lengths;
        return p.bytes;
    };
    std::vector<unsigned> four_bits(19, 0);
    for (unsigned s = 0; s < 19; ++s) four_bits[s] = s < 16 ? 4 : 0;
    {
        std::vector<unsigned> cl(19, 0);
        cl[0] = cl[8] = cl[1] = 1;  // three 1-bit codes
        cases.push_back({"code-length code over-subscribed", dynamic(257, 1, cl, {}), 2, {}, 0, ""});
    }
    {
        std::vector<unsigned> cl(19, 0);
        cl[0] = cl[8] = cl[1] = 2;  // three of four 2-bit codes
        cases.push_back({"code-length code incomplete", dynamic(257, 1, cl, {}), 1, {}, 0, ""});
    }
    {
        std::vector<unsigned> cl(19, 0);
        cl[8] = 1;  // a single 1-bit code; its spare pattern follows
        BitPacker p;
        p.put(1, 1);
        p.put(2, 2);
        p.put(0, 5);
        p.put(0, 5);
        p.put(19 - 4, 4);
        for (unsigned i = 0; i < 19; ++i) p.put(cl[code_length_order[i]], 3);
        p.put(0, 1);
        p.put(1, 1);
        p.put(0, 8);
        cases.push_back({"code-length code: spare pattern of a single 1-bit code", p.bytes, 1, {}, 0, ""});
    }
    {
        // 258 lengths to read: symbol 18 with 138 zeros, 16 first (repeats 0),
        // then 18 runs past the end.
        std::vector<unsigned> cl(19, 0);
        cl[16] = cl[17] = cl[18] = 2;
        cl[1] = 2;
        cases.push_back({"repeat past the last length", dynamic(257, 1, cl, {{18, 127, 7}, {18, 127, 7}}), 1, {}, 0, ""});
        cases.push_back({"repeat ending on the last length, no literal codes",
                         dynamic(257, 1, cl, {{16, 0, 2}, {18, 127, 7}, {18, 106, 7}}), 1, {}, 0, ""});
    }
    {
        // Literal code: 'a' and end of block, 1 bit each; no distance code.
        std::vector<unsigned> lit(257, 0);
        lit['a'] = 1;
        lit[256] = 1;
        std::vector<ClSym> send;
        for (unsigned l : lit) send.push_back({l, 0, 0});
        send.push_back({0, 0, 0});
        cases.push_back({"no distance codes, literals only", dynamic(257, 1, four_bits, send, lit, {}, {'a', 'a', 256}),
                         0, text("aa"), -1, ""});
    }
    {
        // Literal code 'a', end of block, length 3 (2 bits each); no distance code.
        std::vector<unsigned> lit(258, 0);
        lit['a'] = 1;
        lit[256] = 2;
        lit[257] = 2;
        std::vector<ClSym> send;
        for (unsigned l : lit) send.push_back({l, 0, 0});
        send.push_back({0, 0, 0});
        cases.push_back({"no distance codes, then a length", dynamic(258, 1, four_bits, send, lit, {}, {'a', 257, 256}),
                         1, {}, 0, ""});
    }
    {
        std::vector<unsigned> lit(257, 0);
        lit['a'] = 2;
        lit['b'] = 2;
        lit[256] = 2;  // three of four 2-bit codes
        std::vector<ClSym> send;
        for (unsigned l : lit) send.push_back({l, 0, 0});
        send.push_back({1, 0, 0});
        cases.push_back({"incomplete literal code", dynamic(257, 1, four_bits, send), 1, {}, 0,
                         " incomplete literal tree\n"});
        send['a'] = send['b'] = send[256] = {1, 0, 0};  // three 1-bit codes
        cases.push_back({"over-subscribed literal code", dynamic(257, 1, four_bits, send), 2, {}, 0, ""});
    }
    {
        std::vector<unsigned> lit(257, 0);
        lit['a'] = 1;
        lit[256] = 1;
        std::vector<ClSym> send;
        for (unsigned l : lit) send.push_back({l, 0, 0});
        send.push_back({2, 0, 0});
        send.push_back({2, 0, 0});
        send.push_back({2, 0, 0});  // three of four 2-bit distance codes
        cases.push_back({"incomplete distance code", dynamic(257, 3, four_bits, send), 1, {}, 0,
                         " incomplete distance tree\n"});
    }
    return cases;
}

TEST(Inflate, HandMadeStreams) {
    for (const StreamCase& c : stream_cases()) {
        SCOPED_TRACE(c.name);
        memset(sxpak::stream.window, 0, 32768);
        Decoded d = inflate_bytes(c.stream);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.messages, c.messages);
        if (c.result == 0) {
            EXPECT_EQ(d.out, c.out);
            if (c.consumed >= 0) {
                EXPECT_EQ(d.consumed, c.consumed);
            }
        }
    }
}

// A distance code of one 1-bit code works while only that code is used; its
// spare pattern is an invalid code.
TEST(Inflate, SingleOneBitDistanceCode) {
    for (unsigned spare : {0u, 1u}) {
        BitPacker p;
        std::vector<unsigned> lit(258, 0);
        lit['a'] = 1;
        lit[256] = 2;
        lit[257] = 2;
        std::vector<unsigned> dist = {1};
        put_dynamic_header(p, true, lit, dist);
        Code lc(lit);
        lc.put(p, 'a');
        lc.put(p, 257);   // length 3
        p.put(spare, 1);  // distance symbol 0 (distance 1), or the spare pattern
        lc.put(p, 256);
        Decoded d = inflate_bytes(p.bytes);
        if (spare == 0) {
            EXPECT_EQ(d.result, 0);
            EXPECT_EQ(d.out, text("aaaa"));
        } else {
            EXPECT_EQ(d.result, 1);
        }
    }
}

// The byte after the stream is the next to be read, whatever the last code's
// length: streams of every size up to a few hundred bytes, from zlib.
TEST(Inflate, ReadPositionAfterStream) {
    Bytes corpus = mixed_corpus(4000, 7);
    for (size_t size = 0; size < 400; size += 7) {
        for (int strategy : {0, 2, 4}) {
            Bytes data(corpus.begin(), corpus.begin() + static_cast<long>(size));
            Bytes raw = zlib_raw(data, 9, strategy);
            Decoded d = inflate_bytes(concat(raw, {0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A, 0xA5, 0x5A}));
            ASSERT_EQ(d.result, 0) << size;
            ASSERT_EQ(d.out, data) << size;
            ASSERT_EQ(d.consumed, static_cast<int64_t>(raw.size())) << size << " strategy " << strategy;
        }
    }
}

// The stream crosses refills of the input buffer at every alignment; near a
// buffer's end the bits are fetched one byte at a time.
TEST(Inflate, AcrossInputBufferRefills) {
    Bytes data = mixed_corpus(300000, 11);
    for (int strategy : {0, 1, 2, 3, 4}) {
        Bytes raw = zlib_raw(data, strategy == 0 ? 6 : 9, strategy);
        for (unsigned skip : {0u, 1u, 2u, 3u, 5u, 7u, 8u, 13u, 32760u, 32767u}) {
            Decoded d = inflate_bytes(concat(raw, {1, 2, 3, 4, 5, 6, 7, 8}), skip);
            ASSERT_EQ(d.result, 0);
            ASSERT_TRUE(d.out == data) << "strategy " << strategy << " skip " << skip;
            ASSERT_EQ(d.consumed, static_cast<int64_t>(raw.size()));
        }
    }
}

// A stream that ends exactly where the input ends decodes when no byte-at-a-
// time reader would have fetched beyond it: here a stored block last.
TEST(Inflate, StreamEndingAtEndOfInput) {
    Bytes data = mixed_corpus(70000, 3);
    Bytes raw = zlib_raw(data, 0, 0);
    Decoded d = inflate_bytes(raw);
    EXPECT_EQ(d.result, 0);
    EXPECT_TRUE(d.out == data);
    EXPECT_EQ(d.consumed, static_cast<int64_t>(raw.size()));
    EXPECT_EQ(inflate_bytes({0x03, 0x00}).result, 0);
}

// Random complete codes of every shape (lengths up to 15, so sub-tables at
// several levels) against zlib.
std::vector<unsigned> random_code(std::mt19937& rng, unsigned symbols, unsigned used, unsigned must_have) {
    std::vector<unsigned> leaves = {used == 1 ? 1u : 0u};  // one code alone is 1 bit long
    while (leaves.size() < used) {
        size_t pick = rng() % leaves.size();
        if (leaves[pick] >= 15) continue;
        unsigned l = ++leaves[pick];
        leaves.push_back(l);
    }
    std::vector<unsigned> order(symbols);
    for (unsigned i = 0; i < symbols; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    std::iter_swap(std::find(order.begin(), order.end(), must_have), order.begin());
    std::vector<unsigned> lengths(symbols, 0);
    for (size_t i = 0; i < leaves.size(); ++i) lengths[order[i]] = leaves[i];
    return lengths;
}

TEST(Inflate, RandomDynamicBlocksMatchZlib) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        BitPacker p;
        Bytes expected;
        int blocks = 1 + static_cast<int>(rng() % 3);
        for (int b = 0; b < blocks; ++b) {
            unsigned nlit = 257 + rng() % 30, ndist = 1 + rng() % 30;
            auto lit = random_code(rng, nlit, 2 + rng() % (nlit - 1), 256);
            auto dist = random_code(rng, ndist, 1 + rng() % ndist, 0);
            put_dynamic_header(p, b == blocks - 1, lit, dist);
            Code lc(lit), dc(dist);
            std::vector<unsigned> literals, lengths, distances;
            for (unsigned s = 0; s < 256; ++s)
                if (lit[s]) literals.push_back(s);
            for (unsigned s = 257; s < nlit; ++s)
                if (lit[s]) lengths.push_back(s);
            for (unsigned s = 0; s < ndist; ++s)
                if (dist[s]) distances.push_back(s);
            for (int n = 0; n < 2000; ++n) {
                bool match = !lengths.empty() && !expected.empty() && rng() % 2;
                unsigned ds = 0;
                if (match) {
                    std::vector<unsigned> usable;
                    for (unsigned s : distances)
                        if (distance_base[s] <= expected.size()) usable.push_back(s);
                    match = !usable.empty();
                    if (match) ds = usable[rng() % usable.size()];
                }
                if (!match) {
                    if (literals.empty()) break;
                    unsigned s = literals[rng() % literals.size()];
                    lc.put(p, s);
                    expected.push_back(static_cast<uint8_t>(s));
                    continue;
                }
                unsigned ls = lengths[rng() % lengths.size()] - 257;
                unsigned length = length_base[ls] + (rng() & ((1u << length_extra[ls]) - 1));
                unsigned room = static_cast<unsigned>(std::min<size_t>(expected.size(), 32768)) - distance_base[ds];
                unsigned distance =
                    distance_base[ds] + std::min<unsigned>(rng() & ((1u << distance_extra[ds]) - 1), room);
                lc.put(p, 257 + ls);
                p.put(length - length_base[ls], length_extra[ls]);
                dc.put(p, ds);
                p.put(distance - distance_base[ds], distance_extra[ds]);
                for (unsigned k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
            }
            lc.put(p, 256);
        }
        Bytes reference;
        ASSERT_TRUE(test_support::zlib_inflate_raw(p.bytes, reference)) << round;
        ASSERT_TRUE(reference == expected) << round;
        // The trailer's place: the last lookup may fetch a byte past the stream.
        Decoded d = inflate_bytes(concat(p.bytes, Bytes(8, 0xC3)));
        ASSERT_EQ(d.result, 0) << round;
        ASSERT_TRUE(d.out == expected) << round;
        ASSERT_EQ(d.consumed, static_cast<int64_t>(p.bytes.size())) << round;
    }
}

// Output of exactly one window, and one byte more.
TEST(Inflate, WindowSizedOutputs) {
    for (size_t size : {32767u, 32768u, 32769u, 65536u}) {
        Bytes data = mixed_corpus(size, static_cast<unsigned>(size));
        for (int level : {0, 1, 9}) {
            Decoded d = inflate_bytes(zlib_raw(data, level, 0));
            ASSERT_EQ(d.result, 0);
            EXPECT_TRUE(d.out == data) << size << " level " << level;
            EXPECT_EQ(sxpak::stream.output_count, 0);
        }
    }
}

// ---------------------------------------------------------------------------

struct TableCase {
    const char* name;
    std::vector<unsigned> lengths;
    unsigned width_in;
    int result;
    unsigned width_out;
};

TEST(BuildDecodeTable, ResultsAndWidths) {
    std::vector<unsigned> fixed_lit(288);
    for (unsigned i = 0; i < 288; ++i) fixed_lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    const TableCase cases[] = {
        {"no codes", {0, 0, 0}, 7, 0, 0},
        {"complete", {2, 2, 2, 2}, 7, 0, 2},
        {"single 1-bit code", {0, 1, 0}, 7, 0, 1},
        {"single 2-bit code", {0, 2, 0}, 7, 1, 2},
        {"complete, width lowered to the longest code", {1, 2, 2}, 7, 0, 2},
        {"incomplete", {1, 2, 0}, 7, 1, 2},
        {"incomplete, three of four", {2, 2, 2}, 7, 1, 2},
        {"over-subscribed", {1, 1, 1}, 7, 2, 0},
        {"over-subscribed at the longest length", {1, 2, 2, 2}, 7, 2, 0},
        {"width raised to the shortest code", {9, 9, 9, 9, 8, 8, 8, 8}, 5, 1, 8},
        {"fixed literal code", fixed_lit, 7, 0, 7},
        {"fixed distance code", std::vector<unsigned>(30, 5), 5, 1, 5},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        sxpak::DecodeEntry* table = reinterpret_cast<sxpak::DecodeEntry*>(1);
        unsigned width = c.width_in;
        static const uint16_t base[288] = {}, extra[288] = {};
        int r = sxpak::build_decode_table(c.lengths.data(), static_cast<unsigned>(c.lengths.size()), 0, base, extra,
                                          &table, &width);
        EXPECT_EQ(r, c.result);
        if (r <= 1) {
            EXPECT_EQ(width, c.width_out);
            EXPECT_EQ(table == nullptr, c.width_out == 0);
        }
        EXPECT_EQ(sxpak::free_decode_table(r <= 1 ? table : nullptr), 0);
    }
}

}  // namespace
