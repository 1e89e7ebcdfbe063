// Port listing on a made-up /sys/class/tty tree, and the board search over real pseudo-terminals.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "link/Discovery.h"
#include "support/PtyPair.h"
#include "support/RecordingFrontend.h"
#include "support/SimBoardFixture.h"

namespace tuva {
namespace {

namespace fs = std::filesystem;

// A temporary directory laid out like sysfs: devices with driver links, and class/tty entries
// whose `device` links point at them.
class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "tuva-sysfs-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directories(root_ / "class/tty");
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  fs::path ttyRoot() const { return root_ / "class/tty"; }

  // A device directory bound to `driver` of `bus`; returns its path.
  fs::path Device(const std::string& relative, const std::string& driver,
                  const std::string& bus = "platform") {
    const fs::path device = root_ / "devices" / relative;
    fs::create_directories(device);
    fs::create_directories(root_ / "bus" / bus / "drivers" / driver);
    fs::create_directory_symlink(root_ / "bus" / bus / "drivers" / driver, device / "driver");
    fs::create_directory_symlink(root_ / "bus" / bus, device / "subsystem");
    return device;
  }
  // A tty entry; `device` empty for a tty without hardware. `type` is the UART type file.
  void Tty(const std::string& name, const fs::path& device, const std::string& type = {}) {
    const fs::path entry = ttyRoot() / name;
    fs::create_directories(entry);
    if (!device.empty()) fs::create_directory_symlink(device, entry / "device");
    if (!type.empty()) Write(entry / "type", type + "\n");
  }
  static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
  fs::path root() const { return root_; }

 private:
  fs::path root_;
};

TEST(Discovery, OnlyUartsWithHardwareAndPl2303AdaptersAreCandidatesInNaturalOrder) {
  FakeSysfs sysfs;
  const fs::path uart = sysfs.Device("platform/serial8250", "serial8250");
  sysfs.Tty("ttyS10", uart, "4");
  sysfs.Tty("ttyS1", uart, "0");  // registered, but no chip behind it
  // Newer kernels: tty -> serial-base port -> serial-base controller -> the UART's own device.
  sysfs.Device("pnp0/00:01", "serial", "pnp");
  sysfs.Device("pnp0/00:01/00:01:0", "ctrl", "serial-base");
  sysfs.Tty("ttyS2", sysfs.Device("pnp0/00:01/00:01:0/00:01:0.0", "port", "serial-base"), "4");
  const fs::path prolific = sysfs.Device("usb1/1-1/1-1:1.0/ttyUSB0", "pl2303", "usb-serial");
  FakeSysfs::Write(sysfs.root() / "devices/usb1/1-1/product", "USB-Serial Controller\n");
  FakeSysfs::Write(sysfs.root() / "devices/usb1/1-1/manufacturer", "Prolific Technology Inc.\n");
  sysfs.Tty("ttyUSB0", prolific);
  sysfs.Tty("ttyUSB1", sysfs.Device("usb1/1-2/1-2:1.0/ttyUSB1", "ftdi_sio", "usb-serial"));
  sysfs.Tty("tty0", {});  // a virtual console

  const auto ports = EnumeratePorts(sysfs.ttyRoot().string(), "/dev");
  EXPECT_EQ(CandidateDevices(ports),
            (std::vector<std::string>{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}));

  ASSERT_EQ(ports.size(), 5u);  // the console is not a port at all
  EXPECT_EQ(ports[2].driver, "pl2303");
  EXPECT_EQ(ports[2].description, "Prolific Technology Inc. USB-Serial Controller");
  EXPECT_EQ(ports[0].driver, "serial");
  EXPECT_EQ(ports[1].description, "serial8250");
  EXPECT_EQ(ports[3].name, "ttyS1");
  EXPECT_EQ(ports[3].reason, "no UART hardware behind it");
  EXPECT_EQ(ports[4].name, "ttyUSB1");
  EXPECT_EQ(ports[4].reason, "driver ftdi_sio is not a supported serial-port driver");
  EXPECT_FALSE(ports[4].candidate);
}

TEST(Discovery, AMissingTreeListsNothing) {
  EXPECT_TRUE(EnumeratePorts("/nonexistent/class/tty").empty());
}

struct Searcher {
  testing::RecordingFrontend frontend;
  ConfigImage image;
  std::vector<std::uint8_t> firmware = std::vector<std::uint8_t>(kFirmwareSize, 0xFF);
  TCommPort port;
  Protocol protocol{port, frontend, image, firmware};
};

TEST(Discovery, NoCandidateFailsAtOnce) {
  Searcher pc;
  EXPECT_FALSE(FindBoard(pc.protocol, {}));
  EXPECT_FALSE(pc.port.IsOpen());
  EXPECT_EQ(pc.frontend.eventPumps, 0);
}

TEST(Discovery, ASilentPortIsPassedOverAndTheBoardBehindTheNextOneFound) {
  testing::PtyPair silent;
  testing::ScopedSimBoard board;
  Searcher pc;
  pc.protocol.linkError = true;  // left over from an earlier failure

  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(FindBoard(pc.protocol, {silent.path(), board.path()}));
  const auto took = std::chrono::steady_clock::now() - start;
  std::cout << "[ measured ] silent port then board: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";

  EXPECT_TRUE(pc.port.IsOpen());
  EXPECT_EQ(pc.port.PortName(), board.path());
  EXPECT_EQ(pc.port.BaudRate(), 19200u);
  EXPECT_FALSE(pc.protocol.linkError);
  EXPECT_FALSE(pc.protocol.probe);
  EXPECT_TRUE(pc.frontend.statuses.empty());  // the search is quiet
  EXPECT_GT(pc.frontend.eventPumps, 101);     // and the front end kept running
  // The silent port got exactly one probe, the board one.
  EXPECT_EQ(silent.Drain(10).size(), 27u);
  EXPECT_EQ(board->Requests().size(), 1u);
}

TEST(Discovery, AllPortsAreProbedAtOnceAndTheFirstBoardInOrderIsKept) {
  std::vector<std::unique_ptr<testing::PtyPair>> silent;
  std::vector<std::string> devices;
  for (int i = 0; i < 8; ++i) {
    silent.push_back(std::make_unique<testing::PtyPair>());
    devices.push_back(silent.back()->path());
  }
  testing::ScopedSimBoard first;
  testing::ScopedSimBoard second;
  devices.insert(devices.begin() + 4, first.path());
  devices.push_back(second.path());
  Searcher pc;

  ASSERT_TRUE(FindBoard(pc.protocol, devices));
  EXPECT_EQ(pc.port.PortName(), first.path());
  EXPECT_EQ(pc.protocol.sequence(), 0x85);   // the fifth probe's number, as one port at a time
  EXPECT_EQ(second->Requests().size(), 1u);  // probed too, and let go
  TCommPort other;
  EXPECT_NO_THROW(other.Reconfigure(19200, second.path(), 1));
  for (auto& port : silent) EXPECT_EQ(port->Drain(10).size(), 27u);
}

TEST(Discovery, WithoutABoardTheSearchEndsClosed) {
  testing::PtyPair silent;
  Searcher pc;
  std::vector<std::string> denied;
  EXPECT_FALSE(FindBoard(pc.protocol, {"/dev/tuva-missing", silent.path()}, &denied));
  EXPECT_FALSE(pc.port.IsOpen());
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_FALSE(pc.protocol.probe);
  EXPECT_TRUE(denied.empty());  // missing is not the same as forbidden
  EXPECT_TRUE(pc.frontend.messages.empty());
}

}  // namespace
}  // namespace tuva
