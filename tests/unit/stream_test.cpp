#include <atomic>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "driver/settings.h"
#include "gzstream/stream.h"

using namespace sxpak;

namespace {

TEST(Crc32, KnownValuesAndIncrementalFeeding) {
    struct Case {
        const char* text;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crc_feed(nullptr, 0), 0u);
        EXPECT_EQ(crc_feed(c.text, strlen(c.text)), c.crc) << c.text;
        EXPECT_EQ(crc_feed(c.text, 0), c.crc) << "feeding nothing reads the current value";
    }
    // Any split of the input gives the same value as one call, across the
    // eight-byte fast path and the byte tail.
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 3));
    crc_feed(nullptr, 0);
    uint32_t whole = crc_feed(data.data(), data.size());
    for (size_t split : {1u, 3u, 8u, 13u, 999u}) {
        crc_feed(nullptr, 0);
        crc_feed(data.data(), split);
        EXPECT_EQ(crc_feed(data.data() + split, data.size() - split), whole) << split;
    }
}

TEST(RefillInput, KeepsReadingUntilTheBufferIsFull) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<uint8_t> data(40000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251);
    std::thread writer([&] {
        // Pieces of 10,000 and 30,000 bytes, the second after the reader has started.
        ASSERT_EQ(write(fds[1], data.data(), 10000), 10000);
        usleep(50000);
        size_t done = 10000;
        while (done < data.size()) done += static_cast<size_t>(write(fds[1], data.data() + done, data.size() - done));
        close(fds[1]);
    });
    stream.input_fd = fds[0];
    stream.input_byte_count = 0;
    int first = refill_input(0);
    EXPECT_EQ(first, data[0]);
    EXPECT_EQ(stream.fill_count, 32768);
    EXPECT_EQ(stream.read_position, 1u);
    EXPECT_EQ(stream.input_byte_count, 32768);
    EXPECT_EQ(memcmp(stream.input_buffer, data.data(), 32768), 0);
    EXPECT_EQ(refill_input(1), data[32768]);
    EXPECT_EQ(stream.fill_count, 40000 - 32768);
    EXPECT_EQ(refill_input(1), -1);
    EXPECT_EQ(stream.input_byte_count, 40000);
    writer.join();
    close(fds[0]);
}

TEST(RefillInputDeathTest, EndOfInputWhereNotAllowedIsFatal) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    stream.input_fd = fds[0];
    snprintf(stream.input_name, sizeof stream.input_name, "archive.run");
    settings.program_name = "sxpak";
    EXPECT_EXIT(refill_input(0), testing::ExitedWithCode(1), "^\nsxpak: archive.run: unexpected end of file\n$");
    stream.input_fd = -1;
    EXPECT_EXIT(refill_input(0), testing::ExitedWithCode(1), "^\nsxpak: archive.run: Bad file descriptor\n$");
    close(fds[0]);
}

TEST(InputExhausted, PeekedByteStaysAvailable) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "xy", 2), 2);
    close(fds[1]);
    stream.input_fd = fds[0];
    stream.fill_count = 0;
    stream.read_position = 0;
    EXPECT_FALSE(input_exhausted());
    EXPECT_EQ(next_input_byte(), 'x');
    EXPECT_FALSE(input_exhausted());
    EXPECT_EQ(next_input_byte(), 'y');
    EXPECT_TRUE(input_exhausted());
    close(fds[0]);
}

std::atomic<int> interruptions{0};
void count_interruption(int) { ++interruptions; }

TEST(WriteFully, RetriesPartialAndInterruptedWrites) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<uint8_t> data(4 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
    std::vector<uint8_t> received;
    // Only the writer may see the timer's signal: the reader starts with it blocked.
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr);
    std::thread reader([&] {
        uint8_t chunk[3000];
        ssize_t got;
        while ((got = read(fds[0], chunk, sizeof chunk)) > 0) {
            received.insert(received.end(), chunk, chunk + got);
            usleep(20);
        }
    });
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr);
    // A timer without SA_RESTART cuts blocked writes short.
    struct sigaction action {};
    action.sa_handler = count_interruption;
    sigaction(SIGALRM, &action, nullptr);
    itimerval timer{{0, 500}, {0, 500}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    write_fully(fds[1], data.data(), data.size());
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    signal(SIGALRM, SIG_DFL);
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_GT(interruptions.load(), 0);
    EXPECT_TRUE(received == data);
}

TEST(WriteFullyDeathTest, WriteErrorIsFatalWithTheOutputName) {
    settings.program_name = "sxpak";
    snprintf(stream.output_name, sizeof stream.output_name, "stdout");
    EXPECT_EXIT(write_fully(-1, "x", 1), testing::ExitedWithCode(1), "^\nsxpak: stdout: Bad file descriptor\n$");
}

TEST(Drains, EmptyBuffersWriteNothing) {
    // A write to descriptor -1 would be fatal: nothing may be written.
    stream.output_fd = -1;
    stream.output_count = 0;
    int64_t before = stream.output_byte_count;
    drain_output();
    drain_window();
    EXPECT_EQ(stream.output_byte_count, before);
}

TEST(Drains, WindowDrainFeedsTheCrcAndCounts) {
    FILE* sink = tmpfile();
    stream.output_fd = fileno(sink);
    stream.output_byte_count = 0;
    memcpy(stream.window, "123456789", 9);
    stream.output_count = 9;
    crc_feed(nullptr, 0);
    drain_window();
    EXPECT_EQ(stream.output_count, 0);
    EXPECT_EQ(stream.output_byte_count, 9);
    EXPECT_EQ(crc_feed(stream.window, 0), 0xCBF43926u);
    fclose(sink);
}

TEST(Warn, SetsStatusTwoOnlyWhenZero) {
    testing::internal::CaptureStderr();
    settings.program_name = "sxpak";
    snprintf(stream.input_name, sizeof stream.input_name, "in");
    settings.exit_status = 0;
    warn("first ", "note");
    EXPECT_EQ(settings.exit_status, 2);
    settings.exit_status = 1;
    warn("second", "");
    EXPECT_EQ(settings.exit_status, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "sxpak: in: warning: first note\nsxpak: in: warning: second\n");
    settings.exit_status = 0;
}

}  // namespace
