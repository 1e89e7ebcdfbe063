// The S-record loader against files made by an independent tool (srec_cat from the srecord
// package): what it loads must be exactly the binary the tool was given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "service/SRecordLoader.h"

namespace tuva {
namespace {

namespace fs = std::filesystem;

class SRecordLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tuva-srec-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
  }

  // S2 records of `bytes` at `address`, as srec_cat writes them (S0 header, S2 data, S5 count,
  // S8 end).
  std::string ToolRecords(const std::vector<std::uint8_t>& bytes, std::uint32_t address) {
    const fs::path binary = dir_ / "in.bin";
    const fs::path records = dir_ / "out.s28";
    std::ofstream(binary, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::ostringstream command;
    command << SREC_CAT << " " << binary << " -binary -offset 0x" << std::hex << address << " -o "
            << records << " -motorola -address-length=3";
    EXPECT_EQ(std::system(command.str().c_str()), 0) << command.str();
    return Read(records);
  }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  static std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }

  // What the buffer must hold after loading `bytes` at window offset `offset`.
  static FirmwareBuffer Expected(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    FirmwareBuffer expected;
    std::copy(bytes.begin(), bytes.end(), expected.bytes.begin() + offset);
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < kFirmwareBufferSize - 2; ++i) sum += expected.bytes[i];
    expected.bytes[0xFFFE] = static_cast<std::uint8_t>(sum);
    expected.bytes[0xFFFF] = static_cast<std::uint8_t>(sum >> 8);
    return expected;
  }

  fs::path dir_;
};

TEST_F(SRecordLoaderTest, LoadsWhatTheToolWasGiven) {
  const auto bytes = RandomBytes(0x3456, 1);
  const std::string path = WriteFile("fw.s28", ToolRecords(bytes, 0xE1000));
  FirmwareBuffer buffer;
  ASSERT_TRUE(LoadSRecordFile(path, buffer));
  EXPECT_EQ(buffer.bytes, Expected(bytes, 0x1000).bytes);
  EXPECT_EQ(buffer.loadedBytes, bytes.size());
  EXPECT_EQ(buffer.fileName, fs::absolute(path).string());
  EXPECT_TRUE(buffer.IsBlank(0));
  EXPECT_FALSE(buffer.IsBlank(2));
  EXPECT_FALSE(buffer.IsBlank(31));  // the sum bytes at the end
}

TEST_F(SRecordLoaderTest, CrLfAndLfLoadTheSame) {
  const auto bytes = RandomBytes(4000, 2);
  const std::string text = ToolRecords(bytes, 0xE0000);
  // Blank lines anywhere, in both conventions, are no records and no header.
  const std::string lf = "\n" + text + "\n\n";
  FirmwareBuffer fromLf;
  FirmwareBuffer fromCrLf;
  LoadSRecordText(lf, fromLf);
  LoadSRecordText(WithCrLf(lf), fromCrLf);
  EXPECT_EQ(fromLf.bytes, Expected(bytes, 0).bytes);
  EXPECT_EQ(fromCrLf.bytes, fromLf.bytes);
  EXPECT_EQ(fromCrLf.loadedBytes, fromLf.loadedBytes);
}

TEST_F(SRecordLoaderTest, RecordAtTheEndOfTheWindowStopsTheLoad) {
  const auto first = RandomBytes(64, 3);
  const auto later = RandomBytes(64, 4);
  const std::string head = ToolRecords(first, 0xE0000);
  std::string tail = ToolRecords(later, 0xE8000);
  tail = tail.substr(tail.find('\n') + 1);  // its own header line would be read as a record
  const std::string stop = "S2080F000001020304E8\n";
  FirmwareBuffer buffer;
  LoadSRecordText(head + stop + tail, buffer);
  EXPECT_EQ(buffer.bytes, Expected(first, 0).bytes);
  EXPECT_EQ(buffer.loadedBytes, first.size());
}

TEST_F(SRecordLoaderTest, RecordsOutsideTheWindowAndBrokenLinesLeaveTheBufferIntact) {
  const auto good = RandomBytes(256, 5);
  std::string text = ToolRecords(good, 0xE4000);
  const std::string::size_type body = text.find('\n') + 1;
  text.insert(body,
              // Eight bytes from 0xDFFFC: the last four fall into the window.
              "S20C0DFFFC1111111122222222AA\n"
              // Eight bytes from 0xEFFFC: the first four are the last of the window.
              "S20C0EFFFC3333333344444444AA\n"
              // Byte counts below four, and a count far longer than the line.
              "S2020E1000FF\nS2000E1000\nS2FF0E200055\n"
              // Lines too short for their columns, a lone carriage return, non-hex digits.
              "S2\nS214\nS2140E30\n\r\nS2XX0E3000AA\nS2060E5000ZZ66AA\n");
  FirmwareBuffer buffer;
  LoadSRecordText(text, buffer);

  FirmwareBuffer expected = Expected(good, 0x4000);
  expected.bytes[0x2000] = 0x55;  // the one byte the over-counted record really carries
  expected.bytes[0x5001] = 0x66;  // the readable byte after the unreadable one
  for (std::size_t i = 0; i < 4; ++i) expected.bytes[i] = 0x22;
  for (std::size_t i = 0; i < 4; ++i) expected.bytes[0xFFFC + i] = 0x33;
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kFirmwareBufferSize - 2; ++i) sum += expected.bytes[i];
  expected.bytes[0xFFFE] = static_cast<std::uint8_t>(sum);
  expected.bytes[0xFFFF] = static_cast<std::uint8_t>(sum >> 8);
  EXPECT_EQ(buffer.bytes, expected.bytes);
  EXPECT_EQ(buffer.loadedBytes, good.size() + 4 + 4 + 1 + 1);
}

TEST_F(SRecordLoaderTest, RandomTextNeverReachesOutsideTheBuffer) {
  std::mt19937 random(6);
  const std::string alphabet = "S0123456789ABCDEFabcdef\r\n \tZ";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += alphabet[random() % alphabet.size()];
    FirmwareBuffer buffer;
    LoadSRecordText(text, buffer);
    EXPECT_LE(buffer.loadedBytes, text.size() / 2);
  }
}

TEST_F(SRecordLoaderTest, ASecondLoadReplacesTheFirstAndTheSumOverwritesTheFile) {
  FirmwareBuffer buffer;
  LoadSRecordText(ToolRecords(RandomBytes(0x10000, 7), 0xE0000), buffer);
  const auto second = RandomBytes(16, 8);
  LoadSRecordText(ToolRecords(second, 0xE0100), buffer);
  EXPECT_EQ(buffer.bytes, Expected(second, 0x100).bytes);
  EXPECT_EQ(buffer.loadedBytes, second.size());
}

TEST_F(SRecordLoaderTest, AFileWithoutDataStillCarriesItsSum) {
  FirmwareBuffer buffer;
  LoadSRecordText("S00600004844521B\nS804000000FB\n", buffer);
  EXPECT_EQ(buffer.loadedBytes, 0u);
  // 65534 bytes of 0xFF sum to 0xFE02, stored low byte first.
  EXPECT_EQ(buffer.bytes[0xFFFE], 0x02);
  EXPECT_EQ(buffer.bytes[0xFFFF], 0xFE);
  for (std::size_t block = 0; block + 1 < kFirmwareBlocks; ++block) {
    EXPECT_TRUE(buffer.IsBlank(block));
  }
  EXPECT_FALSE(buffer.IsBlank(kFirmwareBlocks - 1));
}

TEST_F(SRecordLoaderTest, AFileThatCannotBeReadLeavesTheBufferUnchanged) {
  FirmwareBuffer buffer;
  LoadSRecordText(ToolRecords(RandomBytes(100, 9), 0xE0000), buffer);
  buffer.fileName = "first.s28";
  const FirmwareBuffer before = buffer;
  EXPECT_FALSE(LoadSRecordFile((dir_ / "missing.s28").string(), buffer));
  EXPECT_FALSE(LoadSRecordFile(dir_.string(), buffer));  // a folder
  const std::string locked = WriteFile("locked.s28", "S0\n");
  fs::permissions(locked, fs::perms::none);
  // Permissions do not stop root; then only the first two cases are tried.
  if (!std::ifstream(locked).good()) {
    EXPECT_FALSE(LoadSRecordFile(locked, buffer));
  }
  EXPECT_EQ(buffer.bytes, before.bytes);
  EXPECT_EQ(buffer.loadedBytes, before.loadedBytes);
  EXPECT_EQ(buffer.fileName, "first.s28");
}

}  // namespace
}  // namespace tuva
