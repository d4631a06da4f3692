// Decoding and verifying gzip members, one or several in a row, as the
// extraction run drives them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "driver/settings.h"
#include "gzstream/decompress.h"
#include "gzstream/member_header.h"
#include "gzstream/stream.h"
#include "test_support.h"

using test_support::Bytes;

namespace {

// One scratch directory per test program.
std::string scratch() {
    static const std::string dir = test_support::temp_dir();
    return dir;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

uint32_t crc_of(const Bytes& data) { return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))); }

const Bytes plain_header = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 3};

// A member from zlib's raw data with the given trailer fields.
Bytes member_with(const Bytes& raw_deflate, uint32_t crc, uint32_t length) {
    return plain_header + raw_deflate + le32(crc) + le32(length);
}

Bytes zlib_raw(const Bytes& data, int level = 9, int strategy = 0) {
    Bytes member = test_support::zlib_gzip(data, level, strategy);
    return Bytes(member.begin() + 10, member.end() - 8);
}

Bytes corpus(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    static const char* words[] = {"member ", "trailer ", "crc ", "length\n", "the ", "window "};
    Bytes out;
    while (out.size() < size) {
        if (rng() % 4 == 0) {
            for (unsigned k = rng() % 200; k > 0; --k) out.push_back(static_cast<uint8_t>(rng()));
        } else {
            const char* w = words[rng() % 6];
            out.insert(out.end(), w, w + strlen(w));
        }
    }
    out.resize(size);
    return out;
}

struct Outcome {
    Bytes out;
    int64_t consumed;   // input bytes taken, look-ahead excluded
};

// The extraction run's loop: the first member, then every further member
// until the input ends. Fatal errors end the process.
Bytes decode_payload(const Bytes& payload, const std::string& out_name = "out") {
    std::string in_path = scratch() + "/payload", out_path = scratch() + "/" + out_name;
    test_support::write_file(in_path, payload);
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    sxpak::settings.program_name = "sxpak";
    sxpak::settings.stdout_output = 1;
    strcpy(sxpak::stream.input_name, "archive.run");
    strcpy(sxpak::stream.output_name, "stdout");
    sxpak::stream.input_fd = in;
    sxpak::stream.fill_count = 0;
    sxpak::stream.read_position = 0;
    sxpak::stream.input_byte_count = 0;
    sxpak::stream.output_byte_count = 0;
    sxpak::member_count = 0;
    if (sxpak::read_member_header() != 8) exit(2);
    (void)sxpak::decompress_member(in, out);
    while (!sxpak::input_exhausted()) {
        if (sxpak::read_member_header() != 8) exit(1);
        (void)sxpak::decompress_member(in, out);
    }
    close(in);
    close(out);
    return test_support::read_file(out_path);
}

// One member only; the read position is left right after its trailer.
Outcome decode_first_member(const Bytes& payload) {
    std::string in_path = scratch() + "/payload", out_path = scratch() + "/out";
    test_support::write_file(in_path, payload);
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    sxpak::stream.input_fd = in;
    sxpak::stream.fill_count = 0;
    sxpak::stream.read_position = 0;
    sxpak::stream.input_byte_count = 0;
    sxpak::stream.output_byte_count = 0;
    sxpak::member_count = 0;
    EXPECT_EQ(sxpak::read_member_header(), 8);
    EXPECT_EQ(sxpak::decompress_member(in, out), 0);
    Outcome o;
    o.consumed = sxpak::stream.input_byte_count - sxpak::stream.fill_count + sxpak::stream.read_position;
    close(in);
    close(out);
    o.out = test_support::read_file(out_path);
    return o;
}

// ---------------------------------------------------------------------------

TEST(DecompressMember, ZlibLevelsAndStrategies) {
    const Bytes data = corpus(100000, 1);
    const Bytes window_sized = corpus(32768, 2);
    const Bytes tail = {0x1f, 0x8b, 0x08};   // the start of a next member, left unread
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
        for (int level = 0; level <= 9; ++level) {
            for (const Bytes* input : {&data, &window_sized}) {
                SCOPED_TRACE(testing::Message() << "strategy " << strategy << " level " << level << " size "
                                                << input->size());
                Bytes member = test_support::zlib_gzip(*input, level, strategy, "name.txt");
                Outcome o = decode_first_member(member + tail);
                EXPECT_TRUE(o.out == *input);
                EXPECT_EQ(o.consumed, static_cast<int64_t>(member.size()));
            }
        }
    }
}

TEST(DecompressMember, EmptyMember) {
    Outcome o = decode_first_member(member_with({0x03, 0x00}, 0, 0));
    EXPECT_TRUE(o.out.empty());
    EXPECT_EQ(sxpak::stream.output_byte_count, 0);
}

// Several members into one output. The length field may hold the running
// total (as the build writes it) or the member's own size (as other writers
// do); the running total wraps at 2^32.
TEST(DecompressMember, SeveralMembersEitherLengthConvention) {
    Bytes a = corpus(40000, 3), b = corpus(5000, 4), c = corpus(70000, 5);
    Bytes ra = zlib_raw(a), rb = zlib_raw(b, 1), rc = zlib_raw(c, 0);
    auto size = [](const Bytes& x) { return static_cast<uint32_t>(x.size()); };
    struct {
        const char* name;
        uint32_t lengths[3];
    } cases[] = {
        {"running totals", {size(a), size(a) + size(b), size(a) + size(b) + size(c)}},
        {"own sizes", {size(a), size(b), size(c)}},
        {"mixed", {size(a), size(b), size(a) + size(b) + size(c)}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes payload = member_with(ra, crc_of(a), k.lengths[0]) + member_with(rb, crc_of(b), k.lengths[1]) +
                        member_with(rc, crc_of(c), k.lengths[2]);
        EXPECT_TRUE(decode_payload(payload) == a + b + c);
    }
}

// ---------------------------------------------------------------------------
// Fatal paths: exit status 1 and the exact message.

struct FatalCase {
    const char* name;
    Bytes payload;
    const char* message;   // the whole of standard error
};

std::vector<FatalCase> fatal_cases() {
    const Bytes data = corpus(50000, 6);
    const Bytes raw = zlib_raw(data);
    const uint32_t crc = crc_of(data), length = static_cast<uint32_t>(data.size());
    const Bytes good = member_with(raw, crc, length);
    std::vector<FatalCase> cases;
    cases.push_back({"crc bit flipped", member_with(raw, crc ^ 0x100, length),
                     "\nsxpak: archive.run: invalid compressed data--crc error\n"});
    cases.push_back({"length off by one", member_with(raw, crc, length + 1),
                     "\nsxpak: archive.run: invalid compressed data--length error\n"});
    cases.push_back({"crc and length both wrong", member_with(raw, crc ^ 1, length - 1),
                     "\nsxpak: archive.run: invalid compressed data--crc error\n"});
    cases.push_back({"cut inside the trailer", Bytes(good.begin(), good.end() - 3),
                     "\nsxpak: archive.run: unexpected end of file\n"});
    cases.push_back({"cut inside the data", Bytes(good.begin(), good.begin() + 10 + static_cast<long>(raw.size()) / 2),
                     "\nsxpak: archive.run: unexpected end of file\n"});
    cases.push_back({"block type 3", member_with({0x07, 0x00}, 0, 0),
                     "\nsxpak: archive.run: invalid compressed data--format violated\n"});
    cases.push_back({"second member's length neither total nor own size",
                     good + member_with(zlib_raw(data), crc, length + length + 1),
                     "\nsxpak: archive.run: invalid compressed data--length error\n"});
    cases.push_back({"second member's crc wrong", good + member_with(raw, crc ^ 1, length),
                     "\nsxpak: archive.run: invalid compressed data--crc error\n"});
    cases.push_back({"second member cut inside its header", good + Bytes{0x1f, 0x8b, 8, 0, 0},
                     "\nsxpak: archive.run: unexpected end of file\n"});
    return cases;
}

std::string regex_quote(const std::string& s) {
    std::string out = "^";
    for (char c : s) {
        if (strchr(".-+*?()[]{}|^$\\", c)) out += '\\';
        out += c;
    }
    return out + "$";
}

TEST(DecompressMemberDeathTest, FatalConditions) {
    for (const FatalCase& c : fatal_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(decode_payload(c.payload), testing::ExitedWithCode(1), regex_quote(c.message));
    }
}

// The decoder's own line comes before the fatal message.
TEST(DecompressMemberDeathTest, IncompleteLiteralTreeMessage) {
    // Built by hand: HLIT 0, HDIST 0, a code-length code of sixteen 4-bit
    // codes, then literal lengths 'a' 2, 'b' 2, end of block 2 (three of four
    // 2-bit codes) and one 1-bit distance code.
    struct Packer {
        Bytes bytes;
        unsigned bit = 0;
        void put(unsigned v, unsigned n) {
            for (unsigned i = 0; i < n; ++i, ++bit) {
                if (bit % 8 == 0) bytes.push_back(0);
                bytes.back() |= static_cast<uint8_t>(((v >> i) & 1) << (bit % 8));
            }
        }
        void put_code(unsigned code, unsigned len) {
            for (unsigned i = len; i-- > 0;) put((code >> i) & 1, 1);
        }
    } p;
    p.put(1, 1);
    p.put(2, 2);
    p.put(0, 5);
    p.put(0, 5);
    p.put(15, 4);
    static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (unsigned s : order) p.put(s < 16 ? 4 : 0, 3);
    for (unsigned s = 0; s < 257; ++s) p.put_code(s == 'a' || s == 'b' || s == 256 ? 2 : 0, 4);
    p.put_code(1, 4);
    Bytes payload = member_with(p.bytes + Bytes(8, 0), 0, 0);
    EXPECT_EXIT(decode_payload(payload), testing::ExitedWithCode(1),
                regex_quote(" incomplete literal tree\n\nsxpak: archive.run: invalid compressed data--format violated\n"));
}

// Every decoded byte reaches the output before the CRC is found wrong.
TEST(DecompressMemberDeathTest, OutputDeliveredBeforeCrcError) {
    const Bytes data = corpus(100000, 8);
    Bytes payload = member_with(zlib_raw(data), crc_of(data) ^ 0x80000000u, static_cast<uint32_t>(data.size()));
    std::string delivered = scratch() + "/delivered";   // made by this process, not the child
    EXPECT_EXIT(decode_payload(payload, "delivered"), testing::ExitedWithCode(1), "crc error");
    EXPECT_TRUE(test_support::read_file(delivered) == data);
}

TEST(DecompressMemberDeathTest, MethodOtherThanDeflate) {
    EXPECT_EXIT(
        {
            strcpy(sxpak::stream.input_name, "archive.run");
            sxpak::settings.program_name = "sxpak";
            sxpak::settings.member_method = 0;
            (void)sxpak::decompress_member(0, 1);
        },
        testing::ExitedWithCode(1), regex_quote("\nsxpak: archive.run: internal error, invalid method\n"));
}

}  // namespace
