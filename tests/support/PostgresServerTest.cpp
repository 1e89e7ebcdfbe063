// The test's own PostgreSQL server goes with the test, even when the test is killed outright as a
// time limit kills it.
#include "support/PostgresServer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace tuva::testing {
namespace {

using namespace std::chrono_literals;

// The first line `fd` carries, waiting at most `limit` for it.
std::string ReadLine(int fd, std::chrono::milliseconds limit) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char c = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd waiter{fd, POLLIN, 0};
    if (::poll(&waiter, 1, 100) <= 0) continue;
    if (::read(fd, &c, 1) != 1 || c == '\n') return line;
    line += c;
  }
  return line;
}

// A process that has not exited (a zombie has: only its parent has not looked yet).
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidText, name, state;
  return stat >> pidText >> name >> state && state != "Z";
}

TEST(PostgresServer, AKilledTestLeavesNoServerBehind) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const pid_t test = ::fork();
  if (test == 0) {
    ::close(ends[0]);
    PostgresServer server;
    const std::string said = (server.Running() ? "folder " + server.Folder() : server.Problem()) +
                             (server.Installed() ? "" : " (not installed)") + "\n";
    if (::write(ends[1], said.data(), said.size()) < 0) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(ends[1]);
  const std::string said = ReadLine(ends[0], 120s);
  ::close(ends[0]);
  if (said.rfind("folder ", 0) != 0) {
    ::kill(test, SIGKILL);
    ::waitpid(test, nullptr, 0);
    if (said.ends_with("(not installed)") && !PostgresRequired()) GTEST_SKIP() << said;
    FAIL() << "PostgreSQL: " << said;
  }
  const std::string folder = said.substr(7);
  std::ifstream pidFile(folder + "/data/postmaster.pid");
  pid_t postmaster = 0;
  ASSERT_TRUE(pidFile >> postmaster) << folder;
  ASSERT_EQ(::kill(test, SIGKILL), 0);
  ASSERT_EQ(::waitpid(test, nullptr, 0), test);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while ((Alive(postmaster) || std::filesystem::exists(folder)) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_FALSE(Alive(postmaster)) << "the server " << postmaster << " still runs";
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace tuva::testing
