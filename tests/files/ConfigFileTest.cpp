#include "files/ConfigFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace tuva {
namespace {

namespace fs = std::filesystem;

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tuva-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Path(const char* name) const { return (dir_ / name).string(); }

  static std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<std::uint8_t> Bytes(const ConfigImage& image) {
    return {image.bytes().begin(), image.bytes().end()};
  }

  fs::path dir_;
};

TEST_F(ConfigFileTest, SavedStartupImageIsTheImageByteForByte) {
  const ConfigImage image = ConfigImage::StartupImage();
  const std::string path = Path("default.tbl");
  ASSERT_TRUE(SaveConfigFile(path, image).ok());
  const auto file = ReadAll(path);
  ASSERT_EQ(file.size(), 4100u);
  EXPECT_EQ(file, Bytes(image));
  for (std::size_t i = 4094; i < 4100; ++i) EXPECT_EQ(file[i], 0xFF) << i;
  EXPECT_EQ(std::string(file.begin() + 0x84B, file.begin() + 0x84B + 12), "FLEX  V02.41");
}

TEST_F(ConfigFileTest, OpenRestoresEverySavedByte) {
  ConfigImage saved = ConfigImage::StartupImage();
  for (std::size_t i = 0; i < 2123; ++i) saved.setByte(i, static_cast<std::uint8_t>(i * 7 + 3));
  saved.Seal();
  const std::string path = Path("board.tbl");
  ASSERT_TRUE(SaveConfigFile(path, saved).ok());

  ConfigImage loaded;  // built-in content, different in every region touched above
  ASSERT_NE(loaded, saved);
  const FileResult result = OpenConfigFile(path, loaded);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_TRUE(result.message.empty());
  EXPECT_EQ(Bytes(loaded), Bytes(saved));
}

TEST_F(ConfigFileTest, BadFilesAreRefusedAndTheImageIsKept) {
  std::vector<std::uint8_t> good = Bytes(ConfigImage::StartupImage());
  good[10] = 0x42;  // so that a wrongly accepted file would show
  ConfigImage image;
  image.setByte(0, 0x99);
  const ConfigImage before = image;

  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"lower.tbl", good});
  std::copy_n("flex  ", 6, cases.back().bytes.begin() + 0x84B);
  cases.push_back({"zero.tbl", good});
  cases.back().bytes[0x84B + 4] = 0x00;
  cases.push_back({"short.tbl", std::vector<std::uint8_t>(good.begin(), good.begin() + 4099)});
  cases.push_back({"empty.tbl", {}});

  for (const Case& c : cases) {
    const std::string path = Path(c.name);
    WriteAll(path, c.bytes);
    const FileResult result = OpenConfigFile(path, image);
    EXPECT_EQ(result.status, FileStatus::BadFormat) << c.name;
    EXPECT_EQ(result.message, "The [" + path + "] is not correct format, the file will discard !");
    EXPECT_FALSE(result.exclamation());
    EXPECT_EQ(image, before) << c.name;
  }

  // Missing, a directory, and (when the tests do not run as root) a file nobody may read.
  std::vector<std::string> unreadable = {Path("missing.tbl"), dir_.string()};
  if (::geteuid() != 0) {
    const std::string locked = Path("locked.tbl");
    WriteAll(locked, good);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    unreadable.push_back(locked);
  }
  for (const std::string& path : unreadable) {
    const FileResult result = OpenConfigFile(path, image);
    EXPECT_EQ(result.status, FileStatus::OpenError) << path;
    EXPECT_EQ(result.message, "Open Error!");
    EXPECT_EQ(result.caption, "Tuva");
    EXPECT_EQ(image, before) << path;
  }
}

TEST_F(ConfigFileTest, SavingOverALongerFileKeepsItsTail) {
  const std::string path = Path("long.tbl");
  WriteAll(path, std::vector<std::uint8_t>(5000, 0xAB));
  const ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(SaveConfigFile(path, image).ok());
  const auto file = ReadAll(path);
  ASSERT_EQ(file.size(), 5000u);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 4100), Bytes(image));
  for (std::size_t i = 4100; i < 5000; ++i) ASSERT_EQ(file[i], 0xAB) << i;
  // Only the first 4100 bytes are an image; the file opens again.
  ConfigImage loaded;
  EXPECT_TRUE(OpenConfigFile(path, loaded).ok());
  EXPECT_EQ(loaded, image);
}

TEST_F(ConfigFileTest, SaveReportsFilesItCannotWrite) {
  const ConfigImage image = ConfigImage::StartupImage();
  bool collected = false;
  const auto collect = [&] { collected = true; };
  for (const std::string& path : {Path("no/such/dir.tbl"), dir_.string()}) {
    const FileResult result = SaveConfigFile(path, image, collect);
    EXPECT_EQ(result.status, FileStatus::SaveError) << path;
    EXPECT_EQ(result.message, "Save Error!");
    EXPECT_EQ(result.caption, "Tuva");
  }
  EXPECT_FALSE(collected);  // nothing is collected for a file that never opened
  // A device that takes no bytes: the write fails and must not pass as saved.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(SaveConfigFile("/dev/full", image, collect).status, FileStatus::SaveError);
    EXPECT_TRUE(collected);
  }
}

TEST_F(ConfigFileTest, BeforeWriteChangesAreSaved) {
  ConfigImage image = ConfigImage::StartupImage();
  const std::string path = Path("collected.tbl");
  ASSERT_TRUE(SaveConfigFile(path, image, [&] { image.setByte(518, 'A'); }).ok());
  EXPECT_EQ(ReadAll(path)[518], 'A');
}

TEST(ConfigFileCaption, BracketedNameIsReplacedNotAppended) {
  const std::string first = CaptionWithFile("Tuva Programmer", "/home/tech/default.tbl");
  EXPECT_EQ(first, "Tuva Programmer - [/home/tech/default.tbl]");
  EXPECT_EQ(CaptionWithFile(first, "/tmp/b.tbl"), "Tuva Programmer - [/tmp/b.tbl]");
  EXPECT_EQ(CaptionWithFile("A [x] [y]", "z"), "A [z]");
}

}  // namespace
}  // namespace tuva
