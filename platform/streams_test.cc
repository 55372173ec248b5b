// The standard output streams: a terminal gets each write operation at once, a pipe or a file
// gets the text when the 256-byte buffer is full or flushed; a descriptor that refuses a write
// fails the stream for good.
#include "platform/streams.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "gtest/gtest.h"

namespace launcher {
namespace {

// What can be read from `fd` now, or within `wait_ms` if nothing can be read now.
std::string Available(int fd, int wait_ms = 0) {
  std::string text;
  char block[1024];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, text.empty() ? wait_ms : 0) != 1 || (ready.revents & POLLIN) == 0) break;
    const ssize_t got = read(fd, block, sizeof block);
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
  }
  return text;
}

// A descriptor to write to, and one to read what arrived from (the same one for a file).
struct Channel {
  int write_fd = -1;
  int read_fd = -1;
  bool terminal = false;
  std::string received;

  ~Channel() {
    if (write_fd >= 0) close(write_fd);
    if (read_fd >= 0 && read_fd != write_fd) close(read_fd);
  }
  // Everything that has arrived so far. A terminal passes text on to its other side a moment
  // later: there, wait (boundedly) until `size` bytes have arrived.
  const std::string& Received(std::size_t size = 0) {
    if (read_fd != write_fd) {
      received += Available(read_fd);
      while (terminal && received.size() < size) {
        const std::string more = Available(read_fd, 10000);
        if (more.empty()) break;
        received += more;
      }
      return received;
    }
    received.clear();
    char block[1024];
    for (off_t offset = 0;;) {
      const ssize_t got = pread(read_fd, block, sizeof block, offset);
      if (got <= 0) return received;
      received.append(block, static_cast<std::size_t>(got));
      offset += got;
    }
  }
};

void OpenTerminal(Channel& channel) {
  ASSERT_EQ(openpty(&channel.read_fd, &channel.write_fd, nullptr, nullptr, nullptr), 0);
  termios attributes{};
  ASSERT_EQ(tcgetattr(channel.write_fd, &attributes), 0);
  cfmakeraw(&attributes);  // line feeds stay line feeds
  ASSERT_EQ(tcsetattr(channel.write_fd, TCSANOW, &attributes), 0);
  channel.terminal = true;
}

void OpenPipe(Channel& channel) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  channel.read_fd = ends[0];
  channel.write_fd = ends[1];
}

void OpenFile(Channel& channel) {
  channel.write_fd = channel.read_fd = memfd_create("stream", 0);
  ASSERT_GE(channel.write_fd, 0);
}

const struct {
  const char* name;
  void (*open)(Channel&);
} kChannels[] = {{"terminal", OpenTerminal}, {"pipe", OpenPipe}, {"file", OpenFile}};

// On a terminal every write operation is handed over at its end; elsewhere nothing moves until
// the stream is flushed.
TEST(TextOutStreamTest, TerminalGetsEachWriteAtOnceOthersWhenFlushed) {
  for (const auto& kind : kChannels) {
    SCOPED_TRACE(kind.name);
    Channel channel;
    ASSERT_NO_FATAL_FAILURE(kind.open(channel));
    TextOutStream stream(channel.write_fd);
    stream.SetUp();
    EXPECT_EQ(stream.IsTerminal(), channel.terminal);
    const std::string_view first = "An unhandled exception";
    const std::string_view all = "An unhandled exception occurred at $0000000000001000:\n\n";
    const auto now = [&](std::string_view text) { return channel.terminal ? text : ""; };

    EXPECT_TRUE(stream.Write({"An unhandled ", "exception"}));
    EXPECT_EQ(channel.Received(first.size()), now(first));
    EXPECT_TRUE(stream.WriteLine({" occurred at $", "0000000000001000", ":"}));
    EXPECT_TRUE(stream.WriteLine({}));
    EXPECT_EQ(channel.Received(all.size()), now(all));
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(channel.Received(all.size()), all);
  }
}

// Buffered text goes out in 256-byte pieces as the buffer fills, the rest when flushed.
TEST(TextOutStreamTest, FullBufferIsHandedOverWithoutAFlush) {
  Channel channel;
  ASSERT_NO_FATAL_FAILURE(OpenPipe(channel));
  TextOutStream stream(channel.write_fd);
  stream.SetUp();
  std::string text;
  for (int i = 0; i < 600; ++i) text += static_cast<char>('a' + i % 26);
  EXPECT_TRUE(
      stream.Write({std::string_view(text).substr(0, 100), std::string_view(text).substr(100)}));
  EXPECT_EQ(channel.Received(), text.substr(0, 512));
  EXPECT_TRUE(stream.Flush());
  EXPECT_EQ(channel.Received(), text);
}

// A descriptor left non-blocking by whoever started the process, on a full pipe: the stream
// waits for room instead of failing.
TEST(TextOutStreamTest, NonBlockingFullPipeIsWaitedOn) {
  Channel channel;
  ASSERT_NO_FATAL_FAILURE(OpenPipe(channel));
  ASSERT_EQ(fcntl(channel.write_fd, F_SETFL, O_NONBLOCK), 0);
  std::size_t filled = 0;
  const std::string block(4096, 'f');
  for (ssize_t put; (put = write(channel.write_fd, block.data(), block.size())) > 0;) {
    filled += static_cast<std::size_t>(put);
  }
  ASSERT_EQ(errno, EAGAIN);

  TextOutStream stream(channel.write_fd);
  stream.SetUp();
  ASSERT_TRUE(stream.Write({"still here"}));
  // The reader drains the pipe once the writer is committed to the flush; it reads until the
  // writing end is closed.
  std::string drained;
  std::thread reader([&] {
    char buffer[4096];
    for (;;) {
      pollfd ready{channel.read_fd, POLLIN, 10000};
      if (poll(&ready, 1, 10000) != 1) return;
      const ssize_t got = read(channel.read_fd, buffer, sizeof buffer);
      if (got <= 0) return;
      drained.append(buffer, static_cast<std::size_t>(got));
    }
  });
  const bool flushed = stream.Flush();
  close(channel.write_fd);
  channel.write_fd = -1;
  reader.join();
  EXPECT_TRUE(flushed);
  EXPECT_FALSE(stream.Failed());
  EXPECT_EQ(drained.size(), filled + 10);
  EXPECT_EQ(drained.substr(filled), "still here");
}

// A write that fails (a closed descriptor; a pipe whose reader is gone, SIGPIPE ignored) fails
// the stream: every later write operation reports failure and nothing is written again, even
// once the descriptor number leads somewhere that would take it.
TEST(TextOutStreamTest, FailedWriteFailsTheStreamForGood) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previous), 0);

  for (const bool closed : {true, false}) {
    SCOPED_TRACE(closed ? "closed descriptor" : "pipe without reader");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const int fd = ends[1];
    close(ends[0]);
    if (closed) close(fd);

    TextOutStream stream(fd);
    stream.SetUp();
    EXPECT_TRUE(stream.Write({"first"}));  // only buffered so far
    EXPECT_FALSE(stream.Flush());
    EXPECT_TRUE(stream.Failed());
    EXPECT_FALSE(stream.WriteLine({"second"}));

    // The same number now names a working pipe: the failed stream leaves it alone.
    int working[2];
    ASSERT_EQ(pipe(working), 0);
    ASSERT_EQ(dup2(working[1], fd), fd);
    EXPECT_FALSE(stream.Write({"third"}));
    EXPECT_FALSE(stream.Flush());
    EXPECT_EQ(Available(working[0]), "");
    close(fd);
    close(working[0]);
    close(working[1]);
  }
  sigaction(SIGPIPE, &previous, nullptr);
}

TEST(FormatAddressTest, SixteenUpperCaseHexDigitsZeroPadded) {
  const struct {
    std::uintptr_t address;
    const char* text;
  } kCases[] = {
      {0, "0000000000000000"},
      {0x1, "0000000000000001"},
      {0x5581E2B3A3B0, "00005581E2B3A3B0"},
      {0xabcdef, "0000000000ABCDEF"},
      {0xFEDCBA9876543210, "FEDCBA9876543210"},
      {UINTPTR_MAX, "FFFFFFFFFFFFFFFF"},
  };
  for (const auto& row : kCases) {
    char out[16];
    FormatAddress(reinterpret_cast<const void*>(row.address), out);
    EXPECT_EQ(std::string(out, sizeof out), row.text);
  }
}

}  // namespace
}  // namespace launcher
