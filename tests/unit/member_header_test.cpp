// The gzip member header reader.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "driver/settings.h"
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

struct Read {
    int result;
    int64_t consumed;
    std::string messages;
};

// Reads one header from a fresh input holding `data`.
Read read_header(const Bytes& data) {
    std::string path = scratch() + "/member";
    test_support::write_file(path, data);
    int fd = open(path.c_str(), O_RDONLY);
    sxpak::stream.input_fd = fd;
    sxpak::stream.fill_count = 0;
    sxpak::stream.read_position = 0;
    sxpak::stream.input_byte_count = 0;
    strcpy(sxpak::stream.input_name, "archive.run");
    sxpak::settings.program_name = "sxpak";
    testing::internal::CaptureStderr();
    Read r;
    r.result = sxpak::read_member_header();
    r.messages = testing::internal::GetCapturedStderr();
    r.consumed = sxpak::stream.input_byte_count - sxpak::stream.fill_count + sxpak::stream.read_position;
    close(fd);
    return r;
}

class MemberHeader : public testing::Test {
protected:
    void SetUp() override {
        sxpak::member_count = 0;
        sxpak::member_time = 0;
        sxpak::settings.exit_status = 0;
        sxpak::settings.verbose_output = 0;
        sxpak::settings.stdout_output = 0;
        sxpak::settings.list_mode = 0;
        strcpy(sxpak::stream.output_name, "stdout");
    }
};

Bytes header(uint8_t id2, uint8_t method, uint8_t flags, uint32_t mtime = 0) {
    return {0x1f, id2, method, flags, static_cast<uint8_t>(mtime), static_cast<uint8_t>(mtime >> 8),
            static_cast<uint8_t>(mtime >> 16), static_cast<uint8_t>(mtime >> 24), 2, 3};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text0(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

const Bytes deflate_start = {0x03, 0x00};   // what follows the header: never read

struct HeaderCase {
    const char* name;
    Bytes bytes;
    int verbose;
    int result;
    int64_t consumed;
    const char* output_name;
    const char* messages;
};

TEST_F(MemberHeader, Layouts) {
    const HeaderCase cases[] = {
        {"plain, with a name", header(0x8b, 8, 0x08) + text0("file.txt") + deflate_start, 0, 8, 19, "file.txt", ""},
        {"second magic 1f 9e", header(0x9e, 8, 0x08) + text0("file.txt") + deflate_start, 0, 8, 19, "file.txt", ""},
        {"no name keeps the output name", header(0x8b, 8, 0) + deflate_start, 0, 8, 10, "stdout", ""},
        {"flags 0x20 and 0xc0 ignored", header(0x8b, 8, 0xe9) + text0("n") + deflate_start, 0, 8, 12, "n", ""},
        {"part number after OS", header(0x8b, 8, 0x0a) + Bytes{0x34, 0x12} + text0("p") + deflate_start, 1, 8, 14,
         "p", "sxpak: archive.run: part number 4660\n"},
        {"empty extra field", header(0x8b, 8, 0x04) + Bytes{0, 0} + deflate_start, 1, 8, 12, "stdout",
         "sxpak: archive.run: extra field of 0 bytes ignored\n"},
        {"extra field skipped", header(0x8b, 8, 0x0c) + Bytes{3, 0, 'x', 0, 'z'} + text0("e") + deflate_start, 0, 8,
         17, "e", ""},
        {"all optional parts in order",
         header(0x8b, 8, 0x1e) + Bytes{1, 0} + Bytes{1, 0, 0} + text0("all") + text0("a comment") + deflate_start, 1,
         8, 29, "all", "sxpak: archive.run: part number 1\nsxpak: archive.run: extra field of 1 bytes ignored\n"},
        {"bad magic", Bytes{0x1f, 0x8c, 8, 0} + deflate_start, 0, -1, 2, "stdout",
         "sxpak: can only handle GZIP compression method\n"},
        {"bad first magic byte", Bytes{0x8b, 0x1f, 8, 0}, 0, -1, 2, "stdout",
         "sxpak: can only handle GZIP compression method\n"},
        {"unknown method", header(0x8b, 7, 0x08) + text0("x"), 0, -1, 3, "stdout",
         "sxpak: archive.run: unknown method 7 -- get newer version of gzip\n"},
        {"method 255", header(0x8b, 255, 0), 0, -1, 3, "stdout",
         "sxpak: archive.run: unknown method 255 -- get newer version of gzip\n"},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        sxpak::settings.verbose_output = c.verbose;
        Read r = read_header(c.bytes);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.consumed, c.consumed);
        EXPECT_STREQ(sxpak::stream.output_name, c.output_name);
        EXPECT_EQ(r.messages, c.messages);
        EXPECT_EQ(sxpak::member_count, 1);
        EXPECT_EQ(sxpak::settings.exit_status, c.result == -1 ? 1 : 0);
        if (c.result == 8) {
            EXPECT_EQ(sxpak::settings.member_method, 8);
            EXPECT_EQ(sxpak::header_length, c.consumed + 8);
        } else {
            EXPECT_EQ(sxpak::header_length, 0);
        }
    }
}

TEST_F(MemberHeader, MethodAfterRefusal) {
    read_header(Bytes{0x1f, 0x8c, 8, 0});
    EXPECT_EQ(sxpak::settings.member_method, -1);
    read_header(header(0x8b, 9, 0));
    EXPECT_EQ(sxpak::settings.member_method, 9);
}

// The example of a first header: 19 bytes plus the trailer's 8.
TEST_F(MemberHeader, HeaderLengthOfFirstMemberOnly) {
    Bytes member = header(0x8b, 8, 0x08) + text0("abcdefgh") + deflate_start;
    EXPECT_EQ(read_header(member).result, 8);
    EXPECT_EQ(sxpak::header_length, 27);
    strcpy(sxpak::stream.output_name, "stdout");
    EXPECT_EQ(read_header(header(0x8b, 8, 0x08) + text0("second") + deflate_start).result, 8);
    EXPECT_EQ(sxpak::member_count, 2);
    EXPECT_EQ(sxpak::header_length, 0);
    EXPECT_STREQ(sxpak::stream.output_name, "stdout");   // later names are skipped
}

// A header longer than the input buffer still gives its own size.
TEST_F(MemberHeader, HeaderLengthAcrossRefill) {
    Bytes extra(40000, 'x');
    Bytes member = header(0x8b, 8, 0x0c) + Bytes{0x40, 0x9c} + extra + text0("big") + deflate_start;
    Read r = read_header(member);
    EXPECT_EQ(r.result, 8);
    EXPECT_EQ(r.consumed, 10 + 2 + 40000 + 4);
    EXPECT_EQ(sxpak::header_length, 10 + 2 + 40000 + 4 + 8);
    EXPECT_STREQ(sxpak::stream.output_name, "big");
}

TEST_F(MemberHeader, MemberTime) {
    read_header(header(0x8b, 8, 0, 0x5a5b5c5d) + deflate_start);
    EXPECT_EQ(sxpak::member_time, 0x5a5b5c5du);
    read_header(header(0x8b, 8, 0, 0) + deflate_start);
    EXPECT_EQ(sxpak::member_time, 0x5a5b5c5du);   // zero leaves it
}

TEST_F(MemberHeader, NameSkippedWithStdoutOutput) {
    struct {
        int stdout_output, list_mode;
        const char* expected;
    } cases[] = {{1, 0, "stdout"}, {1, 1, "kept"}, {0, 1, "kept"}};
    for (const auto& c : cases) {
        SetUp();
        sxpak::settings.stdout_output = c.stdout_output;
        sxpak::settings.list_mode = c.list_mode;
        Read r = read_header(header(0x8b, 8, 0x18) + text0("kept") + text0("comment") + deflate_start);
        EXPECT_EQ(r.result, 8);
        EXPECT_EQ(r.consumed, 10 + 5 + 8);
        EXPECT_STREQ(sxpak::stream.output_name, c.expected);
    }
}

// The output name is cut to its base name before the stored name replaces it.
TEST_F(MemberHeader, StoredNameReplacesWholeBuffer) {
    strcpy(sxpak::stream.output_name, "/some/dir/long-previous-name");
    read_header(header(0x8b, 8, 0x08) + text0("n") + deflate_start);
    EXPECT_STREQ(sxpak::stream.output_name, "n");
}

TEST_F(MemberHeader, NameOf1023BytesAccepted) {
    Read r = read_header(header(0x8b, 8, 0x08) + text0(std::string(1023, 'n')) + deflate_start);
    EXPECT_EQ(r.result, 8);
    EXPECT_EQ(strlen(sxpak::stream.output_name), 1023u);
}

using MemberHeaderDeathTest = MemberHeader;

TEST_F(MemberHeaderDeathTest, NameOf1024BytesIsFatal) {
    std::string path = scratch() + "/long";
    test_support::write_file(path, header(0x8b, 8, 0x08) + text0(std::string(1024, 'n')));
    EXPECT_EXIT(
        {
            sxpak::stream.input_fd = open(path.c_str(), O_RDONLY);
            sxpak::stream.fill_count = 0;
            sxpak::stream.read_position = 0;
            strcpy(sxpak::stream.input_name, "archive.run");
            (void)sxpak::read_member_header();
        },
        testing::ExitedWithCode(1), "^\nsxpak: archive.run: corrupted input -- file name too large\n$");
}

// Input that ends inside the header, the magic included.
TEST_F(MemberHeaderDeathTest, TruncatedHeader) {
    Bytes full = header(0x8b, 8, 0x0e) + Bytes{1, 0, 2, 0, 'x', 'y'} + text0("name");
    for (size_t cut : {size_t{0}, size_t{1}, size_t{9}, size_t{11}, size_t{13}, size_t{15}, full.size() - 1}) {
        SCOPED_TRACE(cut);
        std::string path = scratch() + "/cut";
        test_support::write_file(path, Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
        EXPECT_EXIT(
            {
                sxpak::stream.input_fd = open(path.c_str(), O_RDONLY);
                sxpak::stream.fill_count = 0;
                sxpak::stream.read_position = 0;
                strcpy(sxpak::stream.input_name, "archive.run");
                (void)sxpak::read_member_header();
            },
            testing::ExitedWithCode(1), "^\nsxpak: archive.run: unexpected end of file\n$");
    }
}

}  // namespace
