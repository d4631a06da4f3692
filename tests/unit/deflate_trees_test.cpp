// The block encoder on its own: when record_symbol ends a block, and which
// block type block_flush chooses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "deflate/bitwriter.h"
#include "deflate/match.h"
#include "deflate/trees.h"
#include "gzstream/stream.h"
#include "test_support.h"

using test_support::Bytes;
using namespace sxpak;

namespace {

class BlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = test_support::temp_dir() + "/out";
        fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd_, 0);
        stream.output_fd = fd_;
        stream.output_count = 0;
        bits_begin(-1);
        trees_begin();
        matcher.block_origin = 0;
    }
    void TearDown() override {
        // Leave an empty block behind for the next test.
        block_flush(nullptr, 0, 1);
        stream.output_count = 0;
        close(fd_);
    }

    // Flushes the block as the member's last and returns its bytes.
    Bytes flush(const uint8_t* data, uint32_t stored_len) {
        block_flush(data, stored_len, 1);
        drain_output();
        Bytes out = test_support::read_file(path_);
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        lseek(fd_, 0, SEEK_SET);
        return out;
    }

    std::string path_;
    int fd_ = -1;
};

TEST_F(BlockTest, BlockEndsAtTheSymbolLimit) {
    // Literals covering one byte each: the size estimate never ends the block.
    for (unsigned n = 1; n < 32767; n++) {
        matcher.cur_pos = n;
        ASSERT_EQ(record_symbol(0, 'a' + n % 7), 0) << n;
    }
    matcher.cur_pos = 32767;
    EXPECT_EQ(record_symbol(0, 'a'), 1);
}

TEST_F(BlockTest, SizeEstimateEndsAWellCompressingBlockEarly) {
    struct Case {
        const char* what;
        unsigned matches_per_8;  // matches among every 8 symbols
        unsigned covered;        // input bytes the 4,096 symbols cover
        int ends;
    };
    const Case cases[] = {
        {"few matches, much input", 1, 40000, 1},
        {"estimate not below half the input", 1, 8000, 0},
        {"half of the symbols are matches", 4, 40000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int result = 0;
        for (unsigned n = 0; n < 4096; n++) {
            matcher.cur_pos = n == 4095 ? c.covered : n;
            result = n % 8 < c.matches_per_8 ? record_symbol(100, 20) : record_symbol(0, 'x');
            if (n < 4095) {
                ASSERT_EQ(result, 0);
            }
        }
        EXPECT_EQ(result, c.ends);
        block_flush(nullptr, 0, 0);
    }
}

TEST_F(BlockTest, OnlyABlockStillInTheWindowIsStored) {
    // Bytes the fixed code sends in 9 bits: storing them is cheaper.
    std::mt19937 rng(5);
    Bytes data(100);
    for (auto& b : data) b = static_cast<uint8_t>(144 + rng() % 112);
    auto record_all = [&] {
        for (uint8_t b : data) record_symbol(0, b);
    };

    record_all();
    Bytes stored = flush(data.data(), 100);
    ASSERT_EQ(stored.size(), 105u);
    EXPECT_EQ(stored[0], 0x01);  // final, stored
    EXPECT_EQ(Bytes(stored.begin() + 5, stored.end()), data);

    record_all();
    Bytes coded = flush(nullptr, 100);
    EXPECT_NE(coded[0] & 0x06, 0);  // fixed or dynamic codes instead
    Bytes decoded;
    ASSERT_TRUE(test_support::zlib_inflate_raw(coded, decoded));
    EXPECT_EQ(decoded, data);
}

}  // namespace
