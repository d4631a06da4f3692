// The bit writer: field packing, alignment, stored copies and the output
// buffer's 16 KiB boundary.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "deflate/bitwriter.h"
#include "gzstream/compress.h"
#include "gzstream/stream.h"
#include "test_support.h"

using test_support::Bytes;
using namespace sxpak;

namespace {

class BitWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = test_support::temp_dir() + "/out";
        fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd_, 0);
        stream.output_fd = fd_;
        stream.output_count = 0;
        bits_begin(fd_);
    }
    void TearDown() override { close(fd_); }

    // What has reached the descriptor so far.
    Bytes written() { return test_support::read_file(path_); }

    Bytes finish() {
        bits_align();
        drain_output();
        return written();
    }

    std::string path_;
    int fd_ = -1;
};

// Packs fields one bit at a time, least significant bit first.
struct NaivePacker {
    Bytes out;
    unsigned bit = 0;
    void put(unsigned value, unsigned length) {
        for (unsigned k = 0; k < length; k++) {
            if (bit == 0) out.push_back(0);
            out.back() |= static_cast<uint8_t>(((value >> k) & 1) << bit);
            bit = (bit + 1) & 7;
        }
    }
    void align() { bit = 0; }
};

TEST_F(BitWriterTest, ThreeBitsAndSevenGiveOneBlockHeaderAndPadding) {
    bits_put(3, 3);
    bits_put(0, 7);
    EXPECT_EQ(finish(), (Bytes{0x03, 0x00}));
}

TEST_F(BitWriterTest, AlignWritesOnlyTheBytesHoldingPendingBits) {
    for (unsigned pending : {0u, 1u, 8u, 9u, 16u, 17u, 47u}) {
        SCOPED_TRACE(pending);
        if (pending != 0) {
            TearDown();
            SetUp();
        }
        for (unsigned k = 0; k < pending; k++) bits_put(1, 1);
        Bytes out = finish();
        EXPECT_EQ(out.size(), (pending + 7) / 8);
        // A second align with nothing pending adds nothing.
        EXPECT_EQ(finish().size(), (pending + 7) / 8);
    }
}

TEST_F(BitWriterTest, StoredCopyAlignsThenWritesLengthWords) {
    bits_put(1, 3);  // a final stored block's header
    bits_copy_stored(nullptr, 0, 1);
    const uint8_t five[] = {'h', 'e', 'l', 'l', 'o'};
    bits_copy_stored(five, 5, 1);
    bits_copy_stored(five, 2, 0);
    EXPECT_EQ(finish(), (Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF, 0x05, 0x00, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o', 'h', 'e'}));
}

TEST_F(BitWriterTest, OutputLeavesInPiecesOfSixteenKiB) {
    // 16,383 bytes, then a 16-bit field whose first byte fills the buffer:
    // exactly 16,384 bytes are written at once, the second byte stays.
    for (int k = 0; k < 16383; k++) bits_put(static_cast<unsigned>(k & 0xFF), 8);
    bits_put(0xBBAA, 16);
    bits_align();
    Bytes now = written();
    ASSERT_EQ(now.size(), 16384u);
    EXPECT_EQ(now.back(), 0xAA);
    EXPECT_EQ(stream.output_count, 1);
    EXPECT_EQ(stream.output_buffer[0], 0xBB);
    Bytes all = finish();
    EXPECT_EQ(all.size(), 16385u);
    EXPECT_EQ(all.back(), 0xBB);

    // A stored copy across the boundary also leaves in whole pieces.
    TearDown();
    SetUp();
    std::vector<uint8_t> big(40000);
    for (size_t k = 0; k < big.size(); k++) big[k] = static_cast<uint8_t>(k * 7);
    bits_copy_stored(big.data(), static_cast<unsigned>(big.size()), 0);
    EXPECT_EQ(written().size(), 32768u);
    Bytes out = finish();
    EXPECT_EQ(out, Bytes(big.begin(), big.end()));
}

TEST_F(BitWriterTest, RandomFieldsMatchBitByBitPacking) {
    std::mt19937 rng(99);
    NaivePacker naive;
    for (int k = 0; k < 200000; k++) {
        unsigned r = rng();
        if (r % 5000 == 0) {
            uint8_t data[300];
            unsigned n = rng() % sizeof data;
            for (unsigned i = 0; i < n; i++) data[i] = static_cast<uint8_t>(rng());
            bits_copy_stored(data, n, 1);
            naive.align();
            naive.put(n, 16);
            naive.put(~n & 0xFFFF, 16);
            for (unsigned i = 0; i < n; i++) naive.put(data[i], 8);
            continue;
        }
        unsigned length = 1 + r % 16;
        unsigned value = rng() & ((1u << length) - 1);
        bits_put(value, length);
        naive.put(value, length);
    }
    EXPECT_EQ(finish(), naive.out);
}

TEST(BitReverse, ReversesTheLowBits) {
    EXPECT_EQ(bits_reverse(1, 1), 1u);
    EXPECT_EQ(bits_reverse(0b110, 3), 0b011u);
    EXPECT_EQ(bits_reverse(0b0000000000000001, 16), 0x8000u);
    EXPECT_EQ(bits_reverse(0b10110, 5), 0b01101u);
    EXPECT_EQ(bits_reverse(0xFF01, 8), 0x80u);  // bits above length are ignored
}

int fake_reader(uint8_t*, unsigned) { return 0; }

TEST(BitsBegin, MinusOneKeepsTheInputSource) {
    engine_reader = fake_reader;
    bit_writer.acc = 5;
    bit_writer.fill = 3;
    bits_begin(-1);
    EXPECT_EQ(engine_reader, &fake_reader);
    EXPECT_EQ(bit_writer.fill, 0u);
    EXPECT_EQ(bit_writer.acc, 0u);
    bits_begin(7);
    EXPECT_EQ(engine_reader, &read_input_block);
}

}  // namespace
