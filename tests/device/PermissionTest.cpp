// A serial port this user may not open: the board search passes it over, and the report after
// "The target board is not found !" names it and says how to get the permission.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "device/BoardLink.h"
#include "device/Operations.h"
#include "support/RecordingFrontend.h"

namespace tuva::testing {
namespace {

// Runs the board search on `device` and checks what the user is told; true when all holds.
bool SearchReportsDenied(const std::string& device) {
  RecordingFrontend frontend;
  const Document document;
  BoardLink link(frontend, document);
  link.ports = {device};
  if (CheckFirmware(link).Done()) return false;
  if (link.port.IsOpen()) return false;
  if (frontend.messages.size() != 2) return false;
  if (frontend.messages[0] != "The target board is not found !") return false;
  const std::string& advice = frontend.messages[1];
  return advice.find(device) != std::string::npos && advice.find("dialout") != std::string::npos &&
         frontend.status() == " Ready";
}

TEST(Permission, ADeniedPortIsNamedWithTheFix) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tuva-perm-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string device = (dir / "ttyUSB9").string();
  const int fd = ::open(device.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);

  if (::geteuid() != 0) {
    // Without privileges a file nobody may open is refused to this user as well.
    ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    EXPECT_TRUE(SearchReportsDenied(device));
  } else {
    // Root may open anything, so the search runs as an ordinary user in a child process.
    ::chmod(dir.c_str(), 0755);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      ::_exit(SearchReportsDenied(device) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tuva::testing
