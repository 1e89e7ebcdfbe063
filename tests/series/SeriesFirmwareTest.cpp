// tuvactl series with --firmware and --verify against simulated boards: the firmware compared with
// one short read, programmed only where it differs, the configuration after it; the Write's
// read-back as the verification.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SeriesStations.h"
#include "files/ConfigFile.h"
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "sim/SimFlash.h"
#include "sim/SimServer.h"
#include "support/RunProgram.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kWindowSize = 0x10000;

// One S-record: type, byte count, address, data, checksum (one's complement of the sum).
std::string Record(const char* type, std::uint32_t address, int addressBytes,
                   const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(addressBytes + data.size() + 1)};
  for (int i = addressBytes - 1; i >= 0; --i) body.push_back((address >> (8 * i)) & 0xFF);
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string line = type;
  char hex[3];
  for (const std::uint8_t byte : body) {
    sum += byte;
    std::snprintf(hex, sizeof hex, "%02X", byte);
    line += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
  return line + hex + "\n";
}

// The window's bytes as an S2 file, its S5 record counting the S2 records; the loader computes
// the two sum bytes at the end itself.
std::string SRecords(const std::vector<std::uint8_t>& window) {
  std::string text = Record("S0", 0, 2, {'f', 'w'});
  std::uint32_t records = 0;
  for (std::uint32_t at = 0; at < kWindowSize - 2; at += 30) {
    const auto end = std::min<std::uint32_t>(at + 30, kWindowSize - 2);
    std::vector<std::uint8_t> chunk(window.begin() + at, window.begin() + end);
    if (std::all_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b == 0xFF; })) continue;
    text += Record("S2", kFirmwareBase + at, 3, chunk);
    ++records;
  }
  return text + Record("S5", records, 2, {}) + Record("S8", kFirmwareBase, 3, {});
}

std::vector<std::uint8_t> FirmwareOf(const sim::SimOptions& options) {
  return sim::MakeFlash(options).Read(kFirmwareBase, kWindowSize);
}

// Waits for `condition` for at most a minute; false (and the test failed) when it never holds.
bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "the condition never held";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::size_t NonBlankBlocks(const std::vector<std::uint8_t>& window) {
  std::size_t blocks = 0;
  for (std::size_t at = 0; at < kWindowSize; at += 2048) {
    blocks += !std::all_of(window.begin() + at, window.begin() + at + 2048,
                           [](std::uint8_t b) { return b == 0xFF; });
  }
  return blocks;
}

bool InWindow(const sim::SimFrameRecord& frame) {
  return frame.address >= kFirmwareBase;
}

class SeriesFirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("tuva-series-fw");
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), ConfigImage::StartupImage()).ok());
    // The released firmware is what a board with the simulator's default firmware runs.
    std::ofstream(Path("released.s19")) << SRecords(FirmwareOf({}));
  }
  void TearDown() override {
    sims_.clear();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // A jig that serves `boards` new boards one after another.
  sim::SimServer& Jig(int boards, sim::SimOptions options = {}) {
    options.contents = sim::SimContents::Erased;
    options.boards = boards;
    options.removedMs = 700;
    sims_.push_back(std::make_unique<sim::SimServer>(options));
    sims_.back()->Start();
    return *sims_.back();
  }

  ProgramRun Series(std::vector<std::string> arguments, const std::vector<sim::SimServer*>& jigs) {
    std::vector<std::string> words = {"series",       Path("template.tbl"), "--capcode",
                                      "1=1500000",    "--records",          Path("records.sqlite"),
                                      "--new-records"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    for (auto* jig : jigs) words.insert(words.end(), {"--port", jig->SlavePath()});
    return RunProgram(TUVACTL, words, dir_.string());
  }

  std::vector<records::Attempt> Attempts() const {
    return records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::ReadOnly)->List({});
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::SimServer>> sims_;
};

TEST_F(SeriesFirmwareTest, BoardsWithTheFileKeepTheirFirmwareOthersAreProgrammedThenConfigured) {
  auto& same = Jig(1);
  auto& other = Jig(1, {.identification = "FLEX  V02.30"});
  // The same identification over other code: the sum at 0xEFFFE tells them apart.
  sim::SimFlash rebuilt = sim::MakeFlash({.contents = sim::SimContents::Erased});
  const std::uint32_t sumAt = kFirmwareBase + kWindowSize - 2;
  rebuilt.Place(sumAt, std::vector<std::uint8_t>{static_cast<std::uint8_t>(rebuilt.At(sumAt) + 1)});
  rebuilt.Save(Path("rebuilt.flash.1"));
  auto& resummed = Jig(1, {.flashFile = Path("rebuilt.flash")});
  const ProgramRun run =
      Series({"--count", "3", "--firmware", Path("released.s19")}, {&same, &other, &resummed});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  // Same firmware: one 32-byte read at the end of the window, nothing written there.
  std::vector<sim::SimFrameRecord> looks;
  for (const auto& frame : same.Requests()) {
    if (!InWindow(frame)) continue;
    EXPECT_EQ(frame.command, "ReadBlock") << frame.Line();
    if (frame.length != 12) looks.push_back(frame);  // 12: the identification every probe reads
  }
  ASSERT_EQ(looks.size(), 1u);
  EXPECT_EQ(looks[0].address, 0xEFFE0u);
  EXPECT_EQ(looks[0].length, 32u);

  // Other firmware: erased, written, read back, and only then the configuration.
  const auto frames = other.Requests();
  const auto firstErase = std::find_if(frames.begin(), frames.end(), [](const auto& frame) {
    return frame.command == "EraseBlock";
  });
  ASSERT_NE(firstErase, frames.end());
  EXPECT_EQ(firstErase->address, kFirmwareBase);
  const auto lastBlockRead = std::find_if(frames.rbegin(), frames.rend(), [](const auto& frame) {
    return InWindow(frame) && frame.command == "ReadBlock" && frame.length == 2048;
  });
  ASSERT_NE(lastBlockRead, frames.rend());
  const auto configErase = std::find_if(frames.begin(), frames.end(), [](const auto& frame) {
    return frame.command == "EraseBlock" && !InWindow(frame);
  });
  ASSERT_NE(configErase, frames.end());
  EXPECT_GT(configErase - frames.begin(), frames.rend() - lastBlockRead - 1);
  EXPECT_EQ(other.BoardFlashes().back().Read(kFirmwareBase, kWindowSize), FirmwareOf({}));
  EXPECT_NE(run.out.find("FLEX 2.30 -> FLEX 2.41  programmed"), std::string::npos) << run.out;
  EXPECT_EQ(resummed.BoardFlashes().back().Read(kFirmwareBase, kWindowSize), FirmwareOf({}));

  std::ifstream file(Path("released.s19"));
  const std::string text((std::istreambuf_iterator<char>(file)), {});
  const std::string sha =
      records::Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  int programmedFirmware = 0;
  for (const auto& attempt : Attempts()) {
    EXPECT_EQ(attempt.result, records::Result::Programmed) << attempt.message;
    EXPECT_EQ(attempt.firmwareFile, sha);
    if (attempt.firmwareProgrammed) {
      ++programmedFirmware;
      EXPECT_NE(attempt.port, same.SlavePath());
    }
    EXPECT_TRUE(attempt.firmware.ends_with("2.41")) << attempt.firmware;  // what it runs now
  }
  EXPECT_EQ(programmedFirmware, 2);
}

// The board loses power right after its firmware is read back: the look at the jig (probe and
// three reads), the look at the firmware (probe and one read), and the program form's probe, two
// identification reads, erase, and one write and one read per non-blank block.
TEST_F(SeriesFirmwareTest, ABoardLostBetweenItsFirmwareAndItsConfigurationSaysBothSteps) {
  const std::size_t frames = 4 + 2 + 4 + 2 * NonBlankBlocks(FirmwareOf({}));
  auto& lost = Jig(1, {.identification = "FLEX  V02.30", .cutAfterFrames = frames});
  // The run ends with a good board, on a port that appears once the lost board is gone (so it
  // cannot be taken first).
  auto& good = Jig(1);
  std::thread plugIn([&] {
    if (WaitFor([&] { return lost.PoweredOff(); })) {
      fs::create_symlink(good.SlavePath(), Path("late-port"));
    }
  });
  const ProgramRun run = Series(
      {"--count", "1", "--firmware", Path("released.s19"), "--port", Path("late-port")}, {&lost});
  plugIn.join();
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(lost.BoardFlashes().back().Read(kFirmwareBase, kWindowSize), FirmwareOf({}));
  const auto attempts = Attempts();
  const auto failed = std::find_if(attempts.begin(), attempts.end(), [](const auto& attempt) {
    return attempt.result == records::Result::Failed;
  });
  ASSERT_NE(failed, attempts.end()) << run.out;
  EXPECT_TRUE(failed->firmwareProgrammed);
  EXPECT_EQ(failed->message, "firmware programmed; configuration: The target board is not found !");
}

TEST_F(SeriesFirmwareTest, AFullCheckComparesEveryBlockOfABoardThatLooksTheSame) {
  auto& jig = Jig(1);
  const ProgramRun run = Series(
      {"--count", "1", "--firmware", Path("released.s19"), "--firmware-check", "full"}, {&jig});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::size_t blockReads = 0;
  for (const auto& frame : jig.Requests()) {
    if (!InWindow(frame)) continue;
    EXPECT_EQ(frame.command, "ReadBlock") << frame.Line();
    blockReads += frame.length == 2048;
  }
  EXPECT_EQ(blockReads, NonBlankBlocks(FirmwareOf({})));
  EXPECT_FALSE(Attempts().at(0).firmwareProgrammed);
}

TEST_F(SeriesFirmwareTest, AFirmwareFileThatMustNotGoOnABoardIsRefusedBeforeAnythingIsSent) {
  std::ofstream(Path("garbage.s19")) << "this is no firmware\n";
  auto pocsag = FirmwareOf({.pocsagFirmware = true});
  std::ofstream(Path("pocsag.s19")) << SRecords(pocsag);
  std::string lost = SRecords(FirmwareOf({}));  // its third line lost in transit
  const std::size_t third = lost.find('\n', lost.find('\n') + 1) + 1;
  lost.erase(third, lost.find('\n', third) + 1 - third);
  std::ofstream(Path("lost.s19")) << lost;
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"--firmware", Path("missing.s19")}, "missing.s19 cannot be read"},
      {{"--firmware", Path("garbage.s19")}, "garbage.s19: line 1"},
      {{"--firmware", Path("pocsag.s19")}, "\"POCSAG V1.20\" is no FLEX firmware"},
      {{"--firmware", Path("lost.s19")}, "records, the file has 820 (a record is missing)"},
      {{"--firmware", Path("released.s19"), "--firmware-check", "fast"}, "the only check is full"},
      {{"--firmware-check", "full"}, "--firmware-check needs --firmware FILE"},
  };
  auto& jig = Jig(1);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.message);
    std::vector<std::string> arguments = test.arguments;
    arguments.insert(arguments.end(), {"--count", "1"});
    const ProgramRun run = Series(arguments, {&jig});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
  }
  EXPECT_TRUE(jig.Requests().empty());
}

TEST_F(SeriesFirmwareTest, TheWritesReadBackIsTheVerificationUnlessAVerifyPassIsAsked) {
  struct Case {
    std::vector<std::string> arguments;
    std::size_t verifyReads;
    std::string verification;
  };
  const Case cases[] = {{{}, 0, "read-back"}, {{"--verify"}, 1, "verify"}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.verification);
    sims_.clear();
    fs::remove(Path("records.sqlite"));
    auto& jig = Jig(1);
    std::vector<std::string> arguments = test.arguments;
    arguments.insert(arguments.end(), {"--count", "1"});
    const ProgramRun run = Series(arguments, {&jig});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto frames = jig.Requests();
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const auto& frame) {
                              return frame.command == "ReadBlock" && frame.address == kConfigBase &&
                                     frame.length == 4096;
                            }),
              static_cast<std::ptrdiff_t>(test.verifyReads));
    // Both copies read back whole after their Write.
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const auto& frame) {
                              return frame.command == "ReadBlock" && frame.length == kImageSize;
                            }),
              2);
    EXPECT_EQ(Attempts().at(0).verification, test.verification);
  }
}

}  // namespace
}  // namespace tuva::testing
