// A temporary directory laid out like sysfs (devices with driver links, class/tty entries whose
// `device` links point at them) and a /dev beside it whose nodes can point at pseudo-terminals.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tuva::testing {

class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tuva-sysfs-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "class/tty");
    std::filesystem::create_directories(root_ / "dev");
  }
  ~FakeSysfs() { std::filesystem::remove_all(root_); }

  std::string ttyRoot() const { return (root_ / "class/tty").string(); }
  std::string devRoot() const { return (root_ / "dev").string(); }

  // A USB adapter `name` bound to `driver`, its product text, and its /dev node pointing at
  // `target` (a board's pseudo-terminal); returns the node's path.
  std::string UsbAdapter(const std::string& name, const std::string& driver,
                         const std::string& product, const std::string& target = "/dev/null") {
    const auto usb = root_ / "devices/usb1" / name;
    const auto device = usb / "1.0" / name;
    const auto drivers = root_ / "bus/usb-serial/drivers" / driver;
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(drivers);
    std::filesystem::create_directory_symlink(drivers, device / "driver");
    std::filesystem::create_directory_symlink(root_ / "bus/usb-serial", device / "subsystem");
    std::ofstream(usb / "product") << product << '\n';
    const auto entry = root_ / "class/tty" / name;
    std::filesystem::create_directories(entry);
    std::filesystem::create_directory_symlink(device, entry / "device");
    const auto node = root_ / "dev" / name;
    std::filesystem::create_symlink(target, node);
    return node.string();
  }
  // Unplugs the adapter: its tty entry and its node go.
  void Unplug(const std::string& name) {
    std::filesystem::remove_all(root_ / "class/tty" / name);
    std::filesystem::remove(root_ / "dev" / name);
  }

 private:
  std::filesystem::path root_;
};

}  // namespace tuva::testing
