// The simulated board on a pseudo-terminal, in this process and as the tuva-sim program.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "link/Protocol.h"
#include "support/RecordingFrontend.h"
#include "support/SimBoardFixture.h"

extern char** environ;

namespace tuva {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Waits until `condition` holds, at most `limit`; false when it never did.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

struct Programmer {
  explicit Programmer(const std::string& path) { port.Reconfigure(19200, path, 1); }
  bool Send(std::uint32_t address, std::uint16_t length, std::uint8_t command,
            std::uint16_t bank = 0) {
    return protocol.SendCommand(address, length, command, ArgumentOf(command), bank);
  }
  testing::RecordingFrontend frontend;
  ConfigImage image = ConfigImage::StartupImage();
  Bytes firmware = Bytes(kFirmwareSize, 0xA5);
  TCommPort port;
  Protocol protocol{port, frontend, image, firmware};
};

std::string TempPath(const std::string& stem) {
  return (fs::temp_directory_path() / (stem + std::to_string(::getpid()))).string();
}

class SimServerTest : public testing::SimBoardFixture {};

TEST_F(SimServerTest, AWriteOfACopyOverTheLineLandsInFlashAndIsLogged) {
  std::vector<std::string> lines;
  std::mutex linesMutex;
  StartBoard({.contents = sim::SimContents::Erased, .log = [&](const std::string& line) {
                std::lock_guard lock(linesMutex);
                lines.push_back(line);
              }});
  Programmer pc(BoardPath());
  pc.image.Seal();

  ASSERT_TRUE(pc.Send(kConfigBase, 0, kEraseBlock));
  ASSERT_TRUE(pc.Send(kConfigSecondErase, 0, kEraseBlock));
  ASSERT_TRUE(pc.Send(kConfigBase, 2054, kWriteBlock));
  ASSERT_TRUE(pc.Send(kConfigBase + 2050, 2054, kWriteBlock));
  ASSERT_FALSE(pc.protocol.linkError);
  const Bytes back = pc.protocol.ReadData(kConfigBase, 4100, kLargeReplyBuffer);
  EXPECT_EQ(back, Bytes(pc.image.bytes().begin(), pc.image.bytes().end()));

  const auto requests = board().Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[2].Line(), "rx WriteBlock 0x88000 2054 written");
  EXPECT_EQ(requests[4].command, "ReadBlock");
  std::lock_guard lock(linesMutex);
  ASSERT_EQ(lines.size(), 10u);  // each request and each answer
  EXPECT_EQ(lines[9], "tx ReadBlock 0x88000 4100 data");
}

TEST_F(SimServerTest, ABoardCutMidWriteComesBackFromItsFlashFileAsItWas) {
  const std::string file = TempPath("tuva-cut-") + ".flash";
  // Power fails after the two erases and the first block of copy 1.
  StartBoard({.cutAfterFrames = 3, .flashFile = file});
  {
    Programmer pc(BoardPath());
    pc.protocol.SetPollIntervals(2ms, 1ms);
    pc.image.Seal();
    ASSERT_TRUE(pc.Send(kConfigBase + kCopyStride, 0, kEraseBlock, 1));
    ASSERT_TRUE(pc.Send(kConfigSecondErase + kCopyStride, 0, kEraseBlock, 1));
    ASSERT_TRUE(pc.Send(kConfigBase + kCopyStride, 2054, kWriteBlock, 1));
    EXPECT_TRUE(board().PoweredOff());
    EXPECT_FALSE(pc.Send(kConfigBase + kCopyStride + 2050, 2054, kWriteBlock, 1));
  }
  StopBoard();

  StartBoard({.flashFile = file});
  Programmer pc(BoardPath());
  const Bytes trailer = pc.protocol.ReadData(kConfigTrailer + kCopyStride, 6, kSmallReplyBuffer);
  EXPECT_EQ(trailer, Bytes(6, 0xFF));  // the second block never arrived
  const Bytes head = pc.protocol.ReadData(kConfigBase + kCopyStride, 16, kSmallReplyBuffer);
  EXPECT_EQ(head, Bytes(pc.image.bytes().begin(), pc.image.bytes().begin() + 16));
  StopBoard();
  fs::remove(file);
}

TEST_F(SimServerTest, BoardsComeAndGoAfterACompleteWrite) {
  StartBoard({.contents = sim::SimContents::Erased, .boards = 2, .removedMs = 50});
  const auto absent = [&] { return board().BoardAbsent(); };
  const auto present = [&] { return !board().BoardAbsent(); };
  {
    Programmer pc(BoardPath());
    pc.protocol.SetPollIntervals(2ms, 1ms);
    pc.image.Seal();
    for (std::uint16_t copy : {1, 0}) {
      const std::uint32_t base = kConfigBase + copy * kCopyStride;
      ASSERT_TRUE(pc.Send(base, 0, kEraseBlock, copy));
      ASSERT_TRUE(pc.Send(base + kConfigSecondErase - kConfigBase, 0, kEraseBlock, copy));
      ASSERT_TRUE(pc.Send(base, 2054, kWriteBlock, copy));
      // A quiet line alone, longer than the quarter second that lets a written board go, does not
      // pull the board out.
      ASSERT_FALSE(WaitUntil(absent, 300ms));
      ASSERT_TRUE(pc.Send(base + 2050, 2054, kWriteBlock, copy));
    }
  }
  ASSERT_TRUE(WaitUntil(absent, 10s)) << "the written board was never pulled out";
  {
    Programmer pc(BoardPath());
    pc.protocol.SetPollIntervals(2ms, 1ms);
    EXPECT_FALSE(pc.Send(0, 0, kProbe));  // the line is empty
  }
  ASSERT_TRUE(WaitUntil(present, 10s)) << "the next board never came";
  Programmer pc(BoardPath());
  EXPECT_TRUE(pc.Send(0, 0, kProbe));  // the second board, erased again
  ConfigImage written = ConfigImage::StartupImage();
  written.Seal();
  const auto flashes = board().BoardFlashes();
  ASSERT_EQ(flashes.size(), 2u);
  EXPECT_EQ(flashes[0].Read(kConfigBase, kImageSize),
            Bytes(written.bytes().begin(), written.bytes().end()));
  EXPECT_EQ(flashes[1].At(kConfigBase), 0xFF);
}

TEST_F(SimServerTest, APacedBoardStillAnswersInFull) {
  StartBoard({.paced = true});
  Programmer pc(BoardPath());
  const auto start = std::chrono::steady_clock::now();
  const Bytes block = pc.protocol.ReadData(kFirmwareBase, 2048, kLargeReplyBuffer);
  const auto took = std::chrono::steady_clock::now() - start;
  std::cout << "[ measured ] paced 2048-byte read: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
  EXPECT_EQ(block, board().ReadFlash(kFirmwareBase, 2048));
}

// Ends a child program that a failed assertion left running.
struct ChildGuard {
  pid_t pid = 0;
  ~ChildGuard() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
};

// tuva-sim as a program of its own: it prints the device path and serves until SIGTERM.
TEST(TuvaSimProgram, PrintsItsPathAndAnswersAnotherProgram) {
  const std::string flash = TempPath("tuva-sim-cli-") + ".flash";
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = TUVA_SIM_PATH;
  std::vector<std::string> args = {program, "--pocsag", "--flash", flash};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ChildGuard guard{child};

  std::string path;
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') path += c;
  ::close(out[0]);
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;

  {
    Programmer pc(path);
    pc.protocol.probe = true;
    EXPECT_TRUE(pc.Send(0, 0, kProbe));
    pc.protocol.probe = false;
    EXPECT_FALSE(pc.protocol.linkError);
    const Bytes id = pc.protocol.ReadData(kFirmwareVersion, 12, kSmallReplyBuffer);
    EXPECT_EQ(std::string(id.begin(), id.end()), "POCSAG V1.20");
  }

  ASSERT_EQ(::kill(child, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  guard.pid = 0;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::exists(flash));  // saved on the way out
  fs::remove(flash);
}

}  // namespace
}  // namespace tuva
