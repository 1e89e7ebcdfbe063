// The simulated board's firmware side, byte by byte: frame checks, NOR flash rules, power cuts,
// its contents at power-up and its flash file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "image/ConfigImage.h"
#include "link/Protocol.h"
#include "sim/SimBoard.h"

namespace tuva::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCopy0 = 0x88000;
constexpr std::uint32_t kCopy1 = 0xA8000;
constexpr std::uint32_t kFirmware = 0xE0000;

// Recomputes the sum of an unstuffed frame after a test changed it.
void Reseal(Bytes& frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i + 2 < frame.size(); ++i) sum += frame[i];
  frame[frame.size() - 2] = static_cast<std::uint8_t>(sum);
  frame[frame.size() - 1] = static_cast<std::uint8_t>(sum >> 8);
}

Bytes Plain(std::uint8_t command, std::uint32_t address, const Bytes& payload = {},
            std::uint16_t length = 0) {
  if (command != kReadBlock) length = static_cast<std::uint16_t>(payload.size());
  return BuildFrame(0x81, command, ArgumentOf(command), address, length, payload);
}

Bytes Exchange(SimBoard& board, const Bytes& wire) {
  Bytes reply;
  for (const std::uint8_t byte : wire) board.Receive(byte, reply);
  return reply;
}

Bytes Send(SimBoard& board, const Bytes& plain) {
  return Exchange(board, StuffFrame(plain));
}

bool Accepted(const Bytes& reply) {
  return reply.size() == 4 && reply[1] == 0x06;
}
bool Refused(const Bytes& reply) {
  return reply.size() == 4 && reply[1] == 0x15;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tuva-sim-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

TEST(SimBoard, EveryMalformedFrameIsRefusedAndChangesNothing) {
  SimBoard board({.contents = SimContents::Erased});
  const SimFlash before = board.flash();
  const Bytes good = Plain(kWriteBlock, kFirmware, Bytes(16, 0x00));

  struct Case {
    const char* fault;
    std::function<void(Bytes&)> damage;
  };
  const std::vector<Case> cases = {
      {"checksum", [](Bytes& f) { f.back() ^= 0x01; }},
      {"no STX",
       [](Bytes& f) {
         f[0] = 0x01;
         Reseal(f);
       }},
      {"signature",
       [](Bytes& f) {
         f[6] = 't';
         Reseal(f);
       }},
      {"argument is not ~command",
       [](Bytes& f) {
         f[5] = f[4];
         Reseal(f);
       }},
      {"address complement",
       [](Bytes& f) {
         f[19] ^= 0x01;
         Reseal(f);
       }},
      {"length field",
       [](Bytes& f) {
         f[2] += 1;
         Reseal(f);
       }},
      {"frame length",
       [](Bytes& f) {
         f.erase(f.begin() + 30);
         Reseal(f);
       }},
      {"frame too short", [](Bytes& f) { f.resize(20); }},
  };
  for (const auto& test : cases) {
    Bytes frame = good;
    test.damage(frame);
    EXPECT_TRUE(Refused(Send(board, frame))) << test.fault;
    const auto& records = board.records();
    EXPECT_EQ(records.back().result, "refusal");
    EXPECT_EQ(records.end()[-2].result, std::string("refused: ") + test.fault);
  }
  // An escape that does not stand for ETX or ESC.
  Bytes wire = StuffFrame(good);
  wire.insert(wire.begin() + 30, {0x1B, 0x00});
  EXPECT_TRUE(Refused(Exchange(board, wire)));
  EXPECT_TRUE(Refused(Send(board, Plain(0x30, 0))));  // a command the board does not know
  EXPECT_EQ(board.flash(), before);

  // The same frame undamaged goes through.
  EXPECT_TRUE(Accepted(Send(board, good)));
  EXPECT_EQ(board.flash().At(kFirmware), 0x00);
}

TEST(SimBoard, WritesOnlyClearBitsAndEraseRestoresWholeSectors) {
  SimBoard board({});
  const std::uint8_t original = board.flash().At(kCopy0 + 4000);

  // Without an erase the old bits show through.
  EXPECT_TRUE(Accepted(Send(board, Plain(kWriteBlock, kCopy0 + 4000, {0xF0}))));
  EXPECT_EQ(board.flash().At(kCopy0 + 4000), original & 0xF0);

  board.flash().Place(0x90000, Bytes{0x12});
  board.flash().Place(0x87FFF, Bytes{0x34});
  EXPECT_TRUE(Accepted(Send(board, Plain(kEraseBlock, kCopy0))));
  EXPECT_EQ(board.flash().Read(kCopy0, 0x8000), Bytes(0x8000, 0xFF));
  EXPECT_EQ(board.flash().At(0x90000), 0x12);  // the next sector is untouched
  EXPECT_EQ(board.flash().At(0x87FFF), 0x34);  // and so is the one before
  EXPECT_EQ(board.records().end()[-2].Line(), "rx EraseBlock 0x88000 0 erased 0x88000-0x8FFFF");
  EXPECT_EQ(board.records().back().Line(), "tx EraseBlock 0x88000 0 ack");

  EXPECT_TRUE(Accepted(Send(board, Plain(kWriteBlock, kCopy0 + 4000, {0x5A}))));
  EXPECT_EQ(board.flash().At(kCopy0 + 4000), 0x5A);

  // Any address inside a sector erases that sector; the program memory is one 64 KB sector.
  EXPECT_TRUE(Accepted(Send(board, Plain(kEraseBlock, 0x94000))));
  EXPECT_EQ(board.flash().At(0x90000), 0xFF);
  EXPECT_NE(board.flash().Read(kFirmware, 0x100), Bytes(0x100, 0xFF));
  EXPECT_TRUE(Accepted(Send(board, Plain(kEraseBlock, kFirmware))));
  EXPECT_EQ(board.flash().Read(kFirmware, 0x10000), Bytes(0x10000, 0xFF));

  // Outside the memory nothing is done.
  EXPECT_TRUE(Refused(Send(board, Plain(kEraseBlock, 0x70000))));
  EXPECT_TRUE(Refused(Send(board, Plain(kWriteBlock, 0xEFFFF, {0x00, 0x00}))));
}

TEST(SimBoard, RefusalOptionsRefuseTheirCommandsOnly) {
  SimBoard board({.refuseErase = true, .refuseWrite = true});
  EXPECT_TRUE(Refused(Send(board, Plain(kEraseBlock, kCopy0))));
  EXPECT_TRUE(Refused(Send(board, Plain(kWriteBlock, kCopy0, {0x00}))));
  EXPECT_TRUE(Accepted(Send(board, Plain(kProbe, 0))));
  EXPECT_NE(board.flash().At(kCopy0), 0x00);
}

TEST(SimBoard, AReadIsAnsweredWithHeaderDataAndSumStuffedAndEndedByEtx) {
  SimBoard board({});
  board.flash().Place(kCopy0, Bytes{0x03, 0x1B, 0x41});
  Bytes reply = Send(board, Plain(kReadBlock, kCopy0, {}, 3));
  ASSERT_EQ(reply.back(), 0x03);
  reply.pop_back();
  reply.resize(Unescape(reply.data(), reply.size()));
  ASSERT_EQ(reply.size(), 14u + 3 + 2);
  EXPECT_EQ(Bytes(reply.begin() + 14, reply.begin() + 17), (Bytes{0x03, 0x1B, 0x41}));
  unsigned sum = 0;
  for (std::size_t i = 0; i < 17; ++i) sum += reply[i];
  EXPECT_EQ(reply[17] | reply[18] << 8, static_cast<int>(sum & 0xFFFF));
}

TEST(SimBoard, APowerCutStopsAnsweringAndApplying) {
  SimBoard byFrames({.cutAfterFrames = 2});
  EXPECT_TRUE(Accepted(Send(byFrames, Plain(kProbe, 0))));
  EXPECT_TRUE(Accepted(Send(byFrames, Plain(kEraseBlock, kCopy1))));
  EXPECT_TRUE(byFrames.poweredOff());
  EXPECT_TRUE(Send(byFrames, Plain(kWriteBlock, kCopy1, {0x00})).empty());
  EXPECT_EQ(byFrames.flash().At(kCopy1), 0xFF);  // erased, never written

  // Cut in the middle of the second frame: it is never applied.
  const Bytes probe = StuffFrame(Plain(kProbe, 0));
  SimBoard byBytes({.cutAfterBytes = probe.size() + 10});
  EXPECT_TRUE(Accepted(Exchange(byBytes, probe)));
  const std::uint8_t before = byBytes.flash().At(kCopy0);
  EXPECT_TRUE(Send(byBytes, Plain(kEraseBlock, kCopy0)).empty());
  EXPECT_TRUE(byBytes.poweredOff());
  EXPECT_EQ(byBytes.flash().At(kCopy0), before);
}

TEST(SimBoard, PowerUpContents) {
  ConfigImage sealed = ConfigImage::StartupImage();
  sealed.Seal();
  const Bytes stored(sealed.storage().begin(), sealed.storage().end());

  SimBoard fresh({});
  EXPECT_EQ(fresh.flash().Read(kCopy0, stored.size()), stored);
  EXPECT_EQ(fresh.flash().Read(kCopy1, stored.size()), stored);
  const Bytes id = fresh.flash().Read(0xEFFE0, 12);
  EXPECT_EQ(std::string(id.begin(), id.end()), "FLEX  V02.41");
  // The program memory ends with the sum of everything before it, low byte first.
  const Bytes program = fresh.flash().Read(kFirmware, 0x10000);
  unsigned sum = 0;
  for (std::size_t i = 0; i < 0xFFFE; ++i) sum += program[i];
  EXPECT_EQ(program[0xFFFE] | program[0xFFFF] << 8, static_cast<int>(sum & 0xFFFF));

  SimBoard corrupted({.contents = SimContents::Copy0Corrupted});
  const Bytes copy0 = corrupted.flash().Read(kCopy0, kImageSize);
  EXPECT_FALSE(PassesSumCheck(copy0));
  EXPECT_TRUE(TrailerWellFormed(std::span(copy0).subspan(kSumOffset)));
  EXPECT_TRUE(PassesSumCheck(corrupted.flash().Read(kCopy1, kImageSize)));

  SimBoard copy1({.contents = SimContents::Copy1Only});
  EXPECT_EQ(copy1.flash().Read(kCopy0, kImageSize), Bytes(kImageSize, 0xFF));
  EXPECT_TRUE(PassesSumCheck(copy1.flash().Read(kCopy1, kImageSize)));

  SimBoard erased({.contents = SimContents::Erased, .erasedIdentification = true});
  EXPECT_EQ(erased.flash().Read(kCopy1, kImageSize), Bytes(kImageSize, 0xFF));
  EXPECT_EQ(erased.flash().Read(0xEFFE0, 12), Bytes(12, 0xFF));

  SimBoard pocsag({.pocsagFirmware = true, .readPassword = "2468"});
  const Bytes pocsagId = pocsag.flash().Read(0xEFFE0, 12);
  EXPECT_EQ(std::string(pocsagId.begin(), pocsagId.end()), "POCSAG V1.20");
  const Bytes password = pocsag.flash().Read(kCopy0 + 2108, 5);
  EXPECT_EQ(password, (Bytes{'2', '4', '6', '8', 0}));
  EXPECT_TRUE(PassesSumCheck(pocsag.flash().Read(kCopy0, kImageSize)));

  EXPECT_THROW(SimBoard({.readPassword = "12345678901"}), std::runtime_error);
}

TEST(SimBoard, ATableFileIsStoredSealedAndABadOneIsNamed) {
  TempDir dir;
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(6, 42);  // 0xFF sum bytes as saved by the programmer
  {
    std::ofstream out(dir / "board.tbl", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.bytes().data()), kImageSize);
  }
  SimBoard board({.contents = SimContents::Table, .tablePath = dir / "board.tbl"});
  const Bytes copy0 = board.flash().Read(kCopy0, kImageSize);
  EXPECT_EQ(copy0[6], 42);
  EXPECT_TRUE(PassesSumCheck(copy0));

  std::ofstream(dir / "short.tbl") << "FLEX  ";
  try {
    SimBoard({.contents = SimContents::Table, .tablePath = dir / "short.tbl"});
    FAIL() << "a 6-byte table was taken";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("short.tbl holds 6 bytes"), std::string::npos);
  }
}

TEST(SimBoard, TheFlashFileCarriesTheBoardAcrossPowerUps) {
  TempDir dir;
  const std::string file = dir / "board.flash";
  {
    SimBoard board({.flashFile = file});
    EXPECT_TRUE(Accepted(Send(board, Plain(kEraseBlock, kCopy1))));
    EXPECT_TRUE(Accepted(Send(board, Plain(kWriteBlock, kCopy1, {0x12, 0x34}))));
  }
  // Powered up again: the file wins over the contents options.
  SimBoard again({.contents = SimContents::Erased, .flashFile = file});
  EXPECT_EQ(again.flash().Read(kCopy1, 3), (Bytes{0x12, 0x34, 0xFF}));
  EXPECT_EQ(again.flash().At(kCopy0 + 3), 0x34);  // copy 0 as the first board left it

  std::ofstream(dir / "text.flash") << "not a flash image";
  EXPECT_THROW(SimBoard({.flashFile = dir / "text.flash"}), std::runtime_error);
  std::ofstream(dir / "cut.flash") << "TUVAFLSH" << std::string(100, '\xFF');
  try {
    SimBoard({.flashFile = dir / "cut.flash"});
    FAIL() << "a cut-short flash file was taken";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("cut short"), std::string::npos);
  }
}

}  // namespace
}  // namespace tuva::sim
