// Member compression end to end: exact bytes for the known vectors, the
// symbols chosen by the match finder, block types and boundaries, and round
// trips through zlib's inflate.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "driver/settings.h"
#include "gzstream/compress.h"
#include "gzstream/stream.h"
#include "test_support.h"

using test_support::Bytes;

namespace {

// ---------------------------------------------------------------------------
// A slow DEFLATE reader that reports what the encoder decided: block types,
// block sizes in symbols, and every literal and match.

struct Symbol {
    unsigned length;  // 0 for a literal
    unsigned dist;
    unsigned value;   // literal byte, or the length symbol 257..285
    unsigned extra;   // the length's extra-bits value
};

struct Block {
    int type = -1;  // 0 stored, 1 fixed, 2 dynamic
    bool final = false;
    unsigned hdist = 0;  // HDIST field of a dynamic block
    unsigned stored_len = 0;
    std::vector<Symbol> symbols;
};

struct Trace {
    bool ok = false;
    std::vector<Block> blocks;
    Bytes out;
    size_t end_byte = 0;  // bytes of DEFLATE data consumed

    int count_type(int t) const {
        int n = 0;
        for (const auto& b : blocks) n += b.type == t;
        return n;
    }
};

class BitReader {
public:
    explicit BitReader(const Bytes& d) : data_(d) {}
    bool bits(unsigned n, unsigned& v) {
        v = 0;
        for (unsigned k = 0; k < n; k++) {
            if (pos_ >= data_.size() * 8) return false;
            v |= ((data_[pos_ >> 3] >> (pos_ & 7)) & 1u) << k;
            pos_++;
        }
        return true;
    }
    void align() { pos_ = (pos_ + 7) & ~size_t{7}; }
    size_t byte_pos() const { return pos_ >> 3; }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

struct Code {
    std::vector<unsigned> count = std::vector<unsigned>(16, 0);
    std::vector<unsigned> symbols;
};

Code make_code(const std::vector<unsigned>& lengths) {
    Code c;
    for (unsigned l : lengths) c.count[l]++;
    c.count[0] = 0;
    for (unsigned l = 1; l < 16; l++)
        for (unsigned s = 0; s < lengths.size(); s++)
            if (lengths[s] == l) c.symbols.push_back(s);
    return c;
}

bool decode(BitReader& in, const Code& c, unsigned& sym) {
    unsigned code = 0, first = 0, index = 0;
    for (unsigned len = 1; len < 16; len++) {
        unsigned bit;
        if (!in.bits(1, bit)) return false;
        code |= bit;
        unsigned count = c.count[len];
        if (code < first + count) {
            sym = c.symbols[index + code - first];
            return true;
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return false;
}

constexpr unsigned len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned dist_base[30] = {1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,    49,    65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool trace_block_data(BitReader& in, Block& b, Bytes& out, const Code& lit, const Code& dist) {
    for (;;) {
        unsigned s;
        if (!decode(in, lit, s)) return false;
        if (s < 256) {
            out.push_back(static_cast<uint8_t>(s));
            b.symbols.push_back({0, 0, s, 0});
            continue;
        }
        if (s == 256) return true;
        if (s > 285) return false;
        unsigned extra, d;
        if (!in.bits(len_extra[s - 257], extra)) return false;
        unsigned length = len_base[s - 257] + extra;
        if (!decode(in, dist, d) || d > 29) return false;
        unsigned dextra;
        if (!in.bits(dist_extra[d], dextra)) return false;
        unsigned distance = dist_base[d] + dextra;
        if (distance > out.size()) return false;
        for (unsigned k = 0; k < length; k++) out.push_back(out[out.size() - distance]);
        b.symbols.push_back({length, distance, s, extra});
    }
}

Trace trace_deflate(const Bytes& data) {
    Trace t;
    BitReader in(data);
    for (;;) {
        Block b;
        unsigned final, type;
        if (!in.bits(1, final) || !in.bits(2, type)) return t;
        b.final = final != 0;
        b.type = static_cast<int>(type);
        if (type == 0) {
            in.align();
            unsigned len, nlen;
            if (!in.bits(16, len) || !in.bits(16, nlen) || (len ^ 0xFFFF) != nlen) return t;
            b.stored_len = len;
            for (unsigned k = 0; k < len; k++) {
                unsigned v;
                if (!in.bits(8, v)) return t;
                t.out.push_back(static_cast<uint8_t>(v));
            }
        } else if (type == 1) {
            std::vector<unsigned> l(288, 8);
            for (int s = 144; s < 256; s++) l[s] = 9;
            for (int s = 256; s < 280; s++) l[s] = 7;
            if (!trace_block_data(in, b, t.out, make_code(l), make_code(std::vector<unsigned>(30, 5)))) return t;
        } else if (type == 2) {
            unsigned hlit, hdist, hclen;
            if (!in.bits(5, hlit) || !in.bits(5, hdist) || !in.bits(4, hclen)) return t;
            b.hdist = hdist;
            static constexpr unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            std::vector<unsigned> cl(19, 0);
            for (unsigned k = 0; k < hclen + 4; k++)
                if (!in.bits(3, cl[order[k]])) return t;
            Code clc = make_code(cl);
            std::vector<unsigned> lengths;
            while (lengths.size() < hlit + 257 + hdist + 1) {
                unsigned s, rep, v = 0;
                if (!decode(in, clc, s)) return t;
                if (s < 16) {
                    lengths.push_back(s);
                    continue;
                }
                if (s == 16) {
                    if (lengths.empty() || !in.bits(2, rep)) return t;
                    v = lengths.back();
                    rep += 3;
                } else if (s == 17) {
                    if (!in.bits(3, rep)) return t;
                    rep += 3;
                } else {
                    if (!in.bits(7, rep)) return t;
                    rep += 11;
                }
                lengths.insert(lengths.end(), rep, v);
            }
            if (lengths.size() != hlit + 257 + hdist + 1) return t;
            std::vector<unsigned> ll(lengths.begin(), lengths.begin() + hlit + 257);
            std::vector<unsigned> dl(lengths.begin() + hlit + 257, lengths.end());
            if (!trace_block_data(in, b, t.out, make_code(ll), make_code(dl))) return t;
        } else {
            return t;
        }
        t.blocks.push_back(std::move(b));
        if (final) break;
    }
    in.align();
    t.end_byte = in.byte_pos();
    t.ok = true;
    return t;
}

// ---------------------------------------------------------------------------
// Running compress_member on files.

struct Member {
    Bytes bytes;
    std::string name;
    Bytes deflate;
    uint32_t crc = 0;
    uint32_t isize = 0;
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

Member parse_member(const Bytes& b) {
    Member m;
    m.bytes = b;
    EXPECT_GE(b.size(), 20u);
    if (b.size() < 20) return m;
    size_t p = 10;
    while (p < b.size() && b[p] != 0) m.name.push_back(static_cast<char>(b[p++]));
    p++;
    m.deflate.assign(b.begin() + static_cast<long>(p), b.end() - 8);
    m.crc = le32(&b[b.size() - 8]);
    m.isize = le32(&b[b.size() - 4]);
    return m;
}

class CompressTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_support::temp_dir();
        // What a fresh build process sees.
        memset(stream.window, 0, sxpak::window_size);
        stream.input_byte_count = 0;
        stream.output_byte_count = 0;
        settings.exit_status = 0;
    }

    // Compresses the file at path, named as name on the command line.
    Member compress_path(const std::string& path, const std::string& name) {
        snprintf(stream.input_name, sizeof stream.input_name, "%s", name.c_str());
        int in = open(path.c_str(), O_RDONLY);
        EXPECT_GE(in, 0);
        std::string out_path = dir_ + "/member.gz";
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(out, 0);
        sxpak::compress_member(in, out);
        close(in);
        close(out);
        return parse_member(test_support::read_file(out_path));
    }

    Member compress(const Bytes& data, const std::string& name = "input") {
        std::string path = dir_ + "/input";
        test_support::write_file(path, data);
        return compress_path(path, name);
    }

    std::string dir_;
    sxpak::StreamState& stream = sxpak::stream;
    sxpak::Settings& settings = sxpak::settings;
};

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t crc_of(const Bytes& b) {
    return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

// Round trip through zlib, and through the trace reader, with the limits
// every block must keep.
void expect_round_trip(const Member& m, const Bytes& input) {
    Bytes zout;
    ASSERT_TRUE(test_support::zlib_inflate_raw(m.deflate, zout));
    ASSERT_EQ(zout.size(), input.size());
    EXPECT_TRUE(zout == input);
    EXPECT_EQ(m.crc, crc_of(input));
    Trace t = trace_deflate(m.deflate);
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.end_byte, m.deflate.size());
    for (const auto& b : t.blocks) {
        EXPECT_LE(b.symbols.size(), 32767u);
        for (const auto& s : b.symbols) {
            EXPECT_LE(s.length, 258u);
            EXPECT_LE(s.dist, 32506u);
        }
    }
}

// A sequence over 18 letters in which no 3 consecutive bytes occur twice
// (5,834 bytes): it offers the match finder nothing.
Bytes no_repeats() {
    // de Bruijn sequence of order 3 over 18 symbols, made linear.
    constexpr int k = 18;
    std::vector<int> a(3 * k, 0), seq;
    auto db = [&](auto&& self, int t, int p) -> void {
        if (t > 3) {
            if (3 % p == 0)
                for (int j = 1; j <= p; j++) seq.push_back(a[j]);
        } else {
            a[t] = a[t - p];
            self(self, t + 1, p);
            for (int j = a[t - p] + 1; j < k; j++) {
                a[t] = j;
                self(self, t + 1, t);
            }
        }
    };
    db(db, 1, 1);
    Bytes out;
    for (int v : seq) out.push_back(static_cast<uint8_t>('a' + v));
    out.push_back(out[0]);
    out.push_back(out[1]);
    return out;
}

// ---------------------------------------------------------------------------

TEST_F(CompressTest, EmptyFileGivesTheWholeKnownMember) {
    Member m = compress({}, "e");
    const Bytes expected = {0x1f, 0x8b, 0x08, 0x08, 0, 0, 0, 0, 0x02, 0x03, 'e', 0, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(m.bytes, expected);
}

TEST_F(CompressTest, SingleByteGivesTheWholeKnownMember) {
    Member m = compress(bytes_of("a"), "dir/a.txt");
    const Bytes expected = {0x1f, 0x8b, 0x08, 0x08, 0, 0, 0, 0, 0x02, 0x03, 'a', '.', 't', 'x', 't', 0,
                            0x4b, 0x04, 0x00, 0x43, 0xbe, 0xb7, 0xe8, 0x01, 0, 0, 0};
    EXPECT_EQ(m.bytes, expected);
}

TEST_F(CompressTest, KnownDeflateVectors) {
    struct Case {
        const char* what;
        Bytes input;
        Bytes deflate;
    };
    const Case cases[] = {
        {"abc six times", bytes_of("abcabcabcabcabcabc"), {0x4B, 0x4C, 0x4A, 0x4E, 0x44, 0x45, 0x00}},
        {"ten a", bytes_of("aaaaaaaaaa"), {0x4B, 0x4C, 0x84, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Member m = compress(c.input);
        EXPECT_EQ(m.deflate, c.deflate);
        expect_round_trip(m, c.input);
    }
}

TEST_F(CompressTest, SymbolsChosenByTheMatchFinder) {
    // Expected symbols: a literal is {0, 0, byte}, a match {length, distance}.
    struct Case {
        const char* what;
        Bytes input;
        std::vector<std::pair<unsigned, unsigned>> matches;  // in order
        unsigned literals;
    };
    Bytes d4096 = no_repeats();
    // "XYZ" at 1 and again 4,096 bytes later; the filler shares no 3 bytes
    // with it, and position 0 never serves as a candidate.
    auto at_distance = [&](unsigned distance, const std::string& s) {
        Bytes b(d4096.begin(), d4096.begin() + distance + 1);
        for (size_t k = 0; k < s.size(); k++) b[1 + k] = static_cast<uint8_t>(s[k]);
        b.insert(b.end(), s.begin(), s.end());
        b.push_back('#');
        return b;
    };
    const Case cases[] = {
        {"abc six times", bytes_of("abcabcabcabcabcabc"), {{14, 3}}, 4},
        {"ten a", bytes_of("aaaaaaaaaa"), {{8, 1}}, 2},
        {"lazy: the longer match one byte later wins", bytes_of("abcXbcdefghabcdefgh"), {{7, 8}}, 12},
        {"3 bytes at distance 4,096", at_distance(4096, "XYZ"), {{3, 4096}}, 4096 + 2},
        {"3 bytes at distance 4,097 are literals", at_distance(4097, "XYZ"), {}, 4097 + 5},
        {"4 bytes at distance 5,004", at_distance(5004, "WXYZ"), {{4, 5004}}, 5004 + 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Member m = compress(c.input);
        expect_round_trip(m, c.input);
        Trace t = trace_deflate(m.deflate);
        std::vector<std::pair<unsigned, unsigned>> matches;
        unsigned literals = 0;
        for (const auto& b : t.blocks)
            for (const auto& s : b.symbols) {
                if (s.length == 0)
                    literals++;
                else
                    matches.emplace_back(s.length, s.dist);
            }
        EXPECT_EQ(matches, c.matches);
        EXPECT_EQ(literals, c.literals);
    }
}

TEST_F(CompressTest, LongestLengthsUseTheirOwnSymbols) {
    // 'a' * n gives two literals and one match of n - 2 at distance 1.
    struct Case {
        unsigned n;
        unsigned symbol;
        unsigned extra;
    };
    for (Case c : {Case{260, 285, 0}, Case{259, 284, 30}}) {
        SCOPED_TRACE(c.n);
        Bytes input(c.n, 'a');
        Member m = compress(input);
        expect_round_trip(m, input);
        Trace t = trace_deflate(m.deflate);
        ASSERT_EQ(t.blocks.size(), 1u);
        ASSERT_EQ(t.blocks[0].symbols.size(), 3u);
        EXPECT_EQ(t.blocks[0].symbols[2].length, c.n - 2);
        EXPECT_EQ(t.blocks[0].symbols[2].value, c.symbol);
        EXPECT_EQ(t.blocks[0].symbols[2].extra, c.extra);
    }
}

TEST_F(CompressTest, HundredThousandZerosAreOneDynamicBlock) {
    Bytes input(100000, 0);
    Member m = compress(input);
    expect_round_trip(m, input);
    EXPECT_EQ(m.deflate.size(), 114u);
    Trace t = trace_deflate(m.deflate);
    ASSERT_EQ(t.blocks.size(), 1u);
    EXPECT_EQ(t.blocks[0].type, 2);
    EXPECT_TRUE(t.blocks[0].final);
    EXPECT_EQ(m.isize, 100000u);
}

TEST_F(CompressTest, BlockWithoutMatchesSendsTwoDistanceCodes) {
    Bytes input = no_repeats();
    Member m = compress(input);
    expect_round_trip(m, input);
    Trace t = trace_deflate(m.deflate);
    ASSERT_EQ(t.blocks.size(), 1u);
    EXPECT_EQ(t.blocks[0].type, 2);
    EXPECT_EQ(t.blocks[0].hdist, 1u);
    EXPECT_EQ(t.blocks[0].symbols.size(), input.size());
}

TEST_F(CompressTest, IsizeCarriesTheRunningTotalAndCrcCoversOneFile) {
    Bytes ten(10, 'x'), twenty(20, 'y'), hundred(100, 'z');
    EXPECT_EQ(compress(ten).isize, 10u);
    Member second = compress(twenty);
    EXPECT_EQ(second.isize, 30u);
    EXPECT_EQ(second.crc, crc_of(twenty));
    EXPECT_EQ(compress(hundred).isize, 130u);
    Member empty = compress({});
    EXPECT_EQ(empty.isize, 130u);
    EXPECT_EQ(empty.crc, 0u);
    EXPECT_EQ(empty.deflate, (Bytes{0x03, 0x00}));
}

TEST_F(CompressTest, IsizeIsTheCountModulo2To32) {
    stream.input_byte_count = (int64_t{5} << 32) - 3;
    EXPECT_EQ(compress(Bytes(10, 'q')).isize, 7u);
}

TEST_F(CompressTest, NameIsTheLastComponent) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"}, {"a/b/c.tar", "c.tar"}, {"/abs/x", "x"}, {"trailing/", ""}};
    for (auto [given, stored] : cases) {
        Member m = compress(bytes_of("data"), given);
        EXPECT_EQ(m.name, stored) << given;
        const Bytes head(m.bytes.begin(), m.bytes.begin() + 10);
        EXPECT_EQ(head, (Bytes{0x1f, 0x8b, 8, 8, 0, 0, 0, 0, 2, 3}));
    }
}

// Generated inputs, each checked through zlib and the trace reader.
struct Corpus {
    const char* name;
    Bytes data;
};

std::vector<Corpus> make_corpus() {
    std::mt19937 rng(12345);
    std::vector<Corpus> c;
    auto random_bytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(rng());
        return b;
    };
    c.push_back({"random 200 KiB", random_bytes(200000)});
    // Too short to pay for a dynamic header.
    c.push_back({"short text", bytes_of("Hello, hello, hello world.")});
    {
        Bytes b(300000);
        for (auto& x : b) x = static_cast<uint8_t>("aab\0"[rng() % 4]);
        c.push_back({"low entropy", b});
    }
    {
        static const char* words[] = {"the ",  "quick ", "brown ", "fox ",   "jumps ", "over ",
                                      "lazy ", "dog ",   "and ",   "then\n", "a ",     "compressor "};
        Bytes b;
        while (b.size() < 400000) {
            const char* w = words[rng() % 12];
            b.insert(b.end(), w, w + strlen(w));
            if (rng() % 7 == 0) b.push_back(static_cast<uint8_t>('0' + rng() % 10));
        }
        c.push_back({"text-like", b});
    }
    {
        Bytes b;
        while (b.size() < 250000) b.insert(b.end(), 1 + rng() % 2000, static_cast<uint8_t>(rng() % 3));
        c.push_back({"long runs", b});
    }
    {
        // Two literals per long repeat: few matches covering much input,
        // which ends blocks at the size estimate.
        Bytes b = random_bytes(300);
        while (b.size() < 200000) {
            b.push_back(static_cast<uint8_t>(rng()));
            b.push_back(static_cast<uint8_t>(rng()));
            size_t from = b.size() - 300 + rng() % 200;
            for (int k = 0; k < 40; k++) b.push_back(b[from + k]);
        }
        c.push_back({"estimate ends blocks", b});
    }
    {
        // Mostly literals from a 64-letter alphabet: blocks fill up to the
        // symbol limit and are sent with dynamic codes.
        Bytes b(150000);
        for (auto& x : b) x = static_cast<uint8_t>('0' + rng() % 64);
        c.push_back({"literal-heavy text", b});
    }
    {
        Bytes b = random_bytes(20000);
        Bytes more(b);
        b.insert(b.end(), more.begin(), more.end());  // 20 KB of random, then a copy of it
        Bytes tail = random_bytes(100000);
        b.insert(b.end(), tail.begin(), tail.end());
        c.push_back({"mixed", b});
    }
    {
        // Binary records: counters, flags and short names, like a table
        // dump or an object file's symbol section.
        Bytes b;
        for (uint32_t i = 0; b.size() < 300000; i++) {
            uint32_t v[3] = {i * 24, i ^ (i >> 3), static_cast<uint32_t>(rng() % 5)};
            const uint8_t* p = reinterpret_cast<const uint8_t*>(v);
            b.insert(b.end(), p, p + sizeof v);
            for (int k = 0; k < 4 + static_cast<int>(i % 9); k++) b.push_back(static_cast<uint8_t>("_init_fini"[k % 10]));
            b.push_back(0);
        }
        c.push_back({"records", b});
    }
    {
        // A 16-byte unit repeated with scattered changes: long chains of
        // candidates that agree on many leading bytes.
        Bytes unit = random_bytes(16);
        Bytes b;
        while (b.size() < 200000) {
            Bytes u = unit;
            if (rng() % 4 == 0) u[rng() % 16] = static_cast<uint8_t>(rng());
            b.insert(b.end(), u.begin(), u.end());
        }
        c.push_back({"mutated units", b});
    }
    {
        // Copies at the distances and lengths where the rules change.
        static const unsigned distances[] = {1, 3, 4095, 4096, 4097, 5004, 32505, 32506, 32507, 32768};
        static const unsigned lengths[] = {3, 4, 5, 6, 7, 15, 16, 17, 258, 300};
        Bytes b = random_bytes(40000);
        while (b.size() < 250000) {
            unsigned d = distances[rng() % 10], len = lengths[rng() % 10];
            for (unsigned k = 0; k < len; k++) b.push_back(b[b.size() - d]);
            for (unsigned k = rng() % 3; k > 0; k--) b.push_back(static_cast<uint8_t>(rng()));
        }
        c.push_back({"boundary copies", b});
    }
    return c;
}

TEST_F(CompressTest, GeneratedCorpusRoundTripsThroughZlib) {
    int seen[3] = {0, 0, 0};
    bool full_block = false, early_block = false;
    for (const auto& c : make_corpus()) {
        SCOPED_TRACE(c.name);
        Member m = compress(c.data);
        expect_round_trip(m, c.data);
        Trace t = trace_deflate(m.deflate);
        size_t covered = 0;
        for (const auto& b : t.blocks) {
            seen[b.type]++;
            if (b.symbols.size() == 32767) full_block = true;
            if (!b.final && b.type != 0 && b.symbols.size() % 4096 == 0) early_block = true;
            size_t bytes = b.stored_len;
            for (const auto& s : b.symbols) bytes += s.length ? s.length : 1;
            covered += bytes;
        }
        EXPECT_EQ(covered, c.data.size());
    }
    EXPECT_GT(seen[0], 0) << "stored";
    EXPECT_GT(seen[1], 0) << "fixed";
    EXPECT_GT(seen[2], 0) << "dynamic";
    EXPECT_TRUE(full_block);
    EXPECT_TRUE(early_block);
}

TEST_F(CompressTest, RandomDataIsStored) {
    std::mt19937 rng(7);
    Bytes input(100000);
    for (auto& x : input) x = static_cast<uint8_t>(rng());
    Member m = compress(input);
    expect_round_trip(m, input);
    Trace t = trace_deflate(m.deflate);
    for (size_t k = 0; k + 1 < t.blocks.size(); k++) EXPECT_EQ(t.blocks[k].type, 0);
    EXPECT_LT(m.deflate.size(), input.size() + 5 * t.blocks.size() + 64);
}

// The exact output of generated inputs, recorded from the straightforward
// implementation: any change to a single output byte shows here.
TEST_F(CompressTest, OutputBytesArePinned) {
    struct Pin {
        const char* name;
        size_t size;
        uint32_t crc;
    };
    const Pin pins[] = {
        {"random 200 KiB", 200035, 0xad427e2c},
        {"short text", 18, 0x932ea9d3},
        {"low entropy", 67579, 0x92b18a6e},
        {"text-like", 70057, 0xd312199a},
        {"long runs", 600, 0xe3c666df},
        {"estimate ends blocks", 18365, 0x01a1111e},
        {"literal-heavy text", 113501, 0x13937db6},
        {"mixed", 120300, 0xa4a9582b},
        {"records", 77572, 0xa3539ce5},
        {"mutated units", 10311, 0x45f170a8},
        {"boundary copies", 60753, 0xfa4ae538},
    };
    auto corpus = make_corpus();
    ASSERT_EQ(corpus.size(), std::size(pins));
    for (size_t k = 0; k < corpus.size(); k++) {
        SCOPED_TRACE(corpus[k].name);
        Member m = compress(corpus[k].data);
        EXPECT_EQ(m.deflate.size(), pins[k].size);
        EXPECT_EQ(crc_of(m.deflate), pins[k].crc);
    }
}

// The window is not cleared between members, and the match search reads
// past the end of the input: bytes an earlier member left there decide
// between candidates that all reach the end.
TEST_F(CompressTest, LeftoverWindowBytesChooseTheDistanceAtTheEnd) {
    // "KEY" ends the input; it occurs far back followed by "abcd..." and
    // nearer followed by '!'.
    Bytes tail;
    auto filler = [&tail](int n, unsigned seed) {
        for (int k = 0; k < n; k++) tail.push_back(static_cast<uint8_t>(0x80 + (seed = seed * 1103515245 + 12345) % 128));
    };
    tail.push_back('#');
    const std::string far = "KEYabcdabcdabcdabcdabcd";
    tail.insert(tail.end(), far.begin(), far.end());
    filler(1000, 1);
    const size_t near_at = tail.size();
    tail.insert(tail.end(), {'K', 'E', 'Y', '!'});
    filler(1000 - static_cast<int>((tail.size() + 3) % 4), 2);  // ends at a multiple of 4
    const size_t end_at = tail.size();
    tail.insert(tail.end(), {'K', 'E', 'Y'});
    ASSERT_EQ(tail.size() % 4, 0u);

    auto last_match = [&](const Member& m) {
        Trace t = trace_deflate(m.deflate);
        return t.blocks.back().symbols.back();
    };
    // Fresh window: zeros follow the input, the nearest candidate wins.
    Member fresh = compress(tail);
    expect_round_trip(fresh, tail);
    EXPECT_EQ(last_match(fresh).length, 3u);
    EXPECT_EQ(last_match(fresh).dist, end_at - near_at);

    // After a member of "abcd" repeated, "abcd..." follows the input.
    Bytes first;
    while (first.size() < 70000) first.insert(first.end(), {'a', 'b', 'c', 'd'});
    compress(first);
    Member after = compress(tail);
    expect_round_trip(after, tail);
    EXPECT_EQ(last_match(after).length, 3u);
    EXPECT_EQ(last_match(after).dist, end_at - 1);
}

// Build then extract with sxpak itself: the archive's first member, decoded
// by the unpacking side, gives the file back.
TEST_F(CompressTest, ArchivesRoundTripThroughSxpak) {
    std::mt19937 rng(3);
    std::vector<Corpus> cases = {{"empty", {}}, {"one byte", bytes_of("x")}};
    Bytes random(150000);
    for (auto& x : random) x = static_cast<uint8_t>(rng());
    cases.push_back({"random", random});
    for (auto& c : make_corpus())
        if (c.data.size() > 65536) cases.push_back(std::move(c));
    const std::string sxpak = test_support::sxpak_path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::write_file(dir_ + "/in.dat", c.data);
        unlink((dir_ + "/got").c_str());
        std::string command = "cd '" + dir_ + "' && '" + sxpak + "' -f 'cat > got' -r true in.dat > a.run && '" +
                              sxpak + "' -u -n a.run 2>/dev/null";
        ASSERT_EQ(system(command.c_str()), 0);
        EXPECT_TRUE(test_support::read_file(dir_ + "/got") == c.data);
    }
}

// Reads that fail: the member is completed from what was read, the error is
// reported once after it, and the build fails.
TEST_F(CompressTest, ReadErrorCompletesTheMemberAndFailsTheBuild) {
    std::string err_path = dir_ + "/stderr";
    int saved = dup(2);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, 2);
    close(err);
    std::string sub = dir_ + "/sub";
    mkdir(sub.c_str(), 0700);
    Member m = compress_path(sub, "some/sub");
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(m.name, "sub");
    EXPECT_EQ(m.deflate, (Bytes{0x03, 0x00}));
    EXPECT_EQ(m.crc, 0u);
    EXPECT_EQ(m.isize, 0u);
    EXPECT_EQ(settings.exit_status, 1);
    Bytes msg = test_support::read_file(err_path);
    EXPECT_EQ(std::string(msg.begin(), msg.end()), std::string("some/sub: ") + strerror(EISDIR) + "\n");

    // The next member starts clean.
    settings.exit_status = 0;
    Member next = compress(bytes_of("ok"));
    expect_round_trip(next, bytes_of("ok"));
    EXPECT_EQ(settings.exit_status, 0);
}

}  // namespace
