// Power cuts during a Write: the board loses power after every frame it receives and in the
// middle of frames, is powered up again from what its flash kept, and is read. Whatever the moment,
// the Read must succeed and give either the old configuration or the new one, never a mix.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "device/DeviceTest.h"
#include "device/Operations.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::SimContents;
using sim::SimOptions;

class PowerCutTest : public DeviceTest {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tuva-powercut-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    oldImage_.setByte(6, 11);
    oldImage_.setByte(2500, 0x11);
    newImage_.setByte(6, 22);
    newImage_.setByte(700, 0x22);
    newImage_.setByte(3500, 0x22);
    table_ = (dir_ / "old.tbl").string();
    std::ofstream(table_, std::ios::binary)
        .write(reinterpret_cast<const char*>(oldImage_.bytes().data()), kImageSize);
  }
  void TearDown() override {
    DeviceTest::TearDown();
    fs::remove_all(dir_);
  }

  // The board as it starts every case: the old configuration, or (for `copyOneOnly`) the start-up
  // configuration in copy 1 alone.
  SimOptions Board(bool copyOneOnly) const {
    SimOptions options;
    options.contents = copyOneOnly ? SimContents::Copy1Only : SimContents::Table;
    options.tablePath = table_;
    return options;
  }

  // The sizes on the wire of the frames an uninterrupted Write sends.
  std::vector<std::size_t> FrameSizes(bool copyOneOnly) {
    StartBoard(Board(copyOneOnly));
    Session& writer = NewSession();
    writer.document.image = newImage_;
    std::vector<std::size_t> sizes;
    writer.link.protocol.trace = [&sizes](bool sent, std::span<const std::uint8_t> bytes) {
      if (sent) sizes.push_back(bytes.size());
    };
    EXPECT_TRUE(WriteConfiguration(writer.link, writer.document).Done());
    StopBoard();
    return sizes;
  }

  // One Write against a board that loses power as `cut` says, then a Read after power-up.
  void RunCase(SimOptions cut, bool copyOneOnly, const std::string& label) {
    SCOPED_TRACE(label);
    const std::string flash = (dir_ / "flash.bin").string();
    fs::remove(flash);
    const SimOptions board = Board(copyOneOnly);
    cut.contents = board.contents;
    cut.tablePath = board.tablePath;
    cut.flashFile = flash;
    StartBoard(cut);
    Session& writer = NewSession();
    // The board stops answering at the cut: the wait for its answer is kept short.
    writer.link.protocol.SetPollIntervals(1ms, 1ms);
    writer.document.image = newImage_;
    WriteConfiguration(writer.link, writer.document);
    StopBoard();

    SimOptions restart;
    restart.flashFile = flash;
    StartBoard(restart);
    Session& reader = NewSession();
    reader.document.image.AssignData(std::array<std::uint8_t, kImageDataSize>{});
    ASSERT_TRUE(ReadConfiguration(reader.link, reader.document).Done())
        << ::testing::PrintToString(ui().messages);
    const auto data = Data(reader.document.image);
    const auto oldData = Data(copyOneOnly ? ConfigImage::StartupImage() : oldImage_);
    EXPECT_TRUE(data == oldData || data == Data(newImage_));
    ++(data == oldData ? oldResults_ : newResults_);
    StopBoard();
  }

  void RunAllCuts(bool copyOneOnly) {
    const std::vector<std::size_t> sizes = FrameSizes(copyOneOnly);
    ASSERT_EQ(sizes.size(),
              14u);  // probe, identification, 2 trailers, 2 x (2 erases, 2 writes, read)
    for (std::size_t frames = 1; frames <= sizes.size(); ++frames) {
      SimOptions cut;
      cut.cutAfterFrames = frames;
      RunCase(cut, copyOneOnly, "after frame " + std::to_string(frames));
    }
    // Inside every frame after the probe: its first byte, its middle, all but its ETX.
    std::size_t start = sizes[0];
    for (std::size_t frame = 1; frame < sizes.size(); ++frame) {
      for (const std::size_t into : {std::size_t{1}, sizes[frame] / 2, sizes[frame] - 1}) {
        SimOptions cut;
        cut.cutAfterBytes = start + into;
        RunCase(cut, copyOneOnly,
                "frame " + std::to_string(frame + 1) + ", byte " + std::to_string(into));
      }
      start += sizes[frame];
    }
    // Early cuts keep the old configuration, late ones leave the new one.
    EXPECT_GT(oldResults_, 0);
    EXPECT_GT(newResults_, 0);
  }

  fs::path dir_;
  std::string table_;
  int oldResults_ = 0;
  int newResults_ = 0;
  ConfigImage oldImage_ = ConfigImage::StartupImage();
  ConfigImage newImage_ = ConfigImage::StartupImage();
};

TEST_F(PowerCutTest, BothCopiesGoodGivesOldOrNew) {
  RunAllCuts(false);
}

TEST_F(PowerCutTest, OnlyCopyOneGoodGivesOldOrNew) {
  RunAllCuts(true);
}

}  // namespace
}  // namespace tuva::testing
