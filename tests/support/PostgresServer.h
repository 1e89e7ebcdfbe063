// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder, listening only on
// a Unix socket in that folder, stopped and removed when the object goes. The server refuses to
// run as root, so when the tests run as root the cluster belongs to the `postgres` user and its
// programs run under that user's ids.
//
// The server goes with the test process however that ends: a watchdog outside the test's process
// tree and session waits on a pipe only the test holds, and when the pipe closes (the test ended,
// was killed, or hit its time limit) it stops the server and removes the folder.
//
//   PostgresServer server;
//   TUVA_REQUIRE_POSTGRES(server);
//   const std::string url = server.CreateDatabase("records1");
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Without a server the suite skips what needs one, with the reason; CI (CI=true) installs
// PostgreSQL, so there a missing server fails the test. An installed server that does not start
// always fails.
#define TUVA_REQUIRE_POSTGRES(server)                                  \
  do {                                                                 \
    if (!(server).Running()) {                                         \
      if ((server).Installed() || ::tuva::testing::PostgresRequired()) \
        FAIL() << "PostgreSQL: " << (server).Problem();                \
      GTEST_SKIP() << "PostgreSQL: " << (server).Problem();            \
    }                                                                  \
  } while (false)

namespace tuva::testing {

inline bool PostgresRequired() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

class PostgresServer {
 public:
  PostgresServer() {
    bin_ = FindBinaries();
    if (bin_.empty()) {
      problem_ = "the PostgreSQL server programs (Debian package postgresql) are not installed";
      return;
    }
    installed_ = true;
    Start();
  }
  ~PostgresServer() {
    if (running_) Run({bin_ + "/pg_ctl", "-D", Data(), "-m", "immediate", "-w", "stop"});
    if (!folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
    if (watchdog_ >= 0) ::close(watchdog_);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool Installed() const { return installed_; }
  bool Running() const { return running_; }
  const std::string& Problem() const { return problem_; }
  const std::string& Folder() const { return folder_; }

  // The connection URL of `database` on this server.
  std::string Url(const std::string& database = "postgres") const {
    return "postgresql:///" + database + "?host=" + folder_ + "&user=postgres";
  }

  // Creates an empty database and returns its URL; an empty string when createdb fails.
  std::string CreateDatabase(const std::string& name) {
    if (Run({bin_ + "/createdb", "-h", folder_, "-U", "postgres", name}) != 0) return "";
    return Url(name);
  }

  // Stops the server (its clients' connections break); Restart starts it again with the options
  // of its first start, or stops and starts it when it runs. True when it succeeded.
  bool Stop() {
    if (Run({bin_ + "/pg_ctl", "-D", Data(), "-m", "fast", "-w", "stop"}) != 0) return false;
    running_ = false;
    return true;
  }
  bool Restart() {
    running_ = Run({bin_ + "/pg_ctl", "-D", Data(), "-l", folder_ + "/server.log", "-m", "fast",
                    "-w", "-t", "60", "restart"}) == 0;
    return running_;
  }

  // Runs SQL on `database` with psql; true when it succeeded.
  bool Sql(const std::string& database, const std::string& sql) {
    return Run({bin_ + "/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", folder_, "-U",
                "postgres", "-d", database, "-c", sql}) == 0;
  }

 private:
  // The bin folder of the newest installed server version.
  static std::string FindBinaries() {
    std::string best;
    int bestVersion = -1;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
      const std::string version = entry.path().filename().string();
      if (version.empty() || version.find_first_not_of("0123456789") != std::string::npos) continue;
      if (!std::filesystem::exists(entry.path() / "bin" / "pg_ctl")) continue;
      if (std::stoi(version) > bestVersion) {
        bestVersion = std::stoi(version);
        best = (entry.path() / "bin").string();
      }
    }
    return best;
  }

  void Start() {
    char pattern[] = "/tmp/tuva-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      problem_ = "cannot create a temporary folder";
      return;
    }
    folder_ = pattern;
    if (::geteuid() == 0) {
      const passwd* user = ::getpwnam("postgres");
      if (user == nullptr) {
        problem_ = "running as root and there is no postgres user to own the cluster";
        return;
      }
      uid_ = user->pw_uid;
      gid_ = user->pw_gid;
      if (::chown(folder_.c_str(), uid_, gid_) != 0) {
        problem_ = "cannot give " + folder_ + " to the postgres user";
        return;
      }
    }
    if (!StartWatchdog()) {
      problem_ = "cannot start the watchdog that stops the server with the test";
      return;
    }
    if (Run({bin_ + "/initdb", "-D", Data(), "-U", "postgres", "-A", "trust", "-E", "UTF8",
             "--locale=C", "--no-sync"}) != 0) {
      problem_ = "initdb failed: " + Log();
      return;
    }
    const std::string options = "-c listen_addresses='' -k " + folder_ +
                                " -c fsync=off -c shared_buffers=16MB -c max_connections=40";
    if (Run({bin_ + "/pg_ctl", "-D", Data(), "-l", folder_ + "/server.log", "-w", "-t", "60", "-o",
             options, "start"}) != 0) {
      problem_ = "the server did not start: " + Log();
      return;
    }
    running_ = true;
  }

  std::string Data() const { return folder_ + "/data"; }

  // The watchdog is a shell in a session of its own whose parent has already gone, so that
  // neither a kill of the test's process group nor of its process tree reaches it. It reads a
  // pipe whose only writer is this process (close-on-exec keeps it from the server), and at the
  // end of the pipe it stops the server and removes the folder.
  bool StartWatchdog() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    const std::string script =
        "read ignored; \"$0/pg_ctl\" -D \"$1/data\" -m immediate -w stop; rm -rf \"$1\"";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), bin_.c_str(), folder_.c_str(), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
      const pid_t watchdog = ::fork();
      if (watchdog != 0) ::_exit(watchdog > 0 ? 0 : 1);
      ::setsid();
      ::dup2(ends[0], 0);
      const int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      if (::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0)) {
        ::_exit(126);
      }
      if (::chdir("/") != 0) ::_exit(126);
      ::execv(argv[0], const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::close(ends[0]);
    if (child < 0 || !Reap(child)) {
      ::close(ends[1]);
      return false;
    }
    watchdog_ = ends[1];
    return true;
  }

  static bool Reap(pid_t child) {
    int status = 0;
    pid_t waited;
    do {
      waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // What the programs and the server wrote, for a failure message.
  std::string Log() const {
    std::string text;
    for (const char* name : {"/programs.log", "/server.log"}) {
      std::ifstream in(folder_ + name);
      text += std::string(std::istreambuf_iterator<char>(in), {});
    }
    return text;
  }

  // Runs a program, as the postgres user when the tests run as root, with its output appended to
  // programs.log; returns its exit status.
  int Run(const std::vector<std::string>& words) const {
    const std::string log = folder_ + "/programs.log";
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return -1;
    if (::geteuid() == 0 && ::fchown(out, uid_, gid_) != 0) {
      ::close(out);
      return -1;
    }
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
      const int in = ::open("/dev/null", O_RDONLY);
      if (in >= 0) ::dup2(in, 0);
      if (::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0)) {
        ::_exit(126);
      }
      if (::chdir(folder_.c_str()) != 0) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out);
    if (child < 0) return -1;
    int status = 0;
    pid_t waited;
    do {
      waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string bin_;
  std::string folder_;
  std::string problem_;
  bool installed_ = false;
  bool running_ = false;
  int watchdog_ = -1;  // the pipe's writing end
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// The server of `folder` frozen, as a hung machine leaves it: its postmaster and every process it
// started are stopped (SIGSTOP) until Thaw, which the destructor calls however the test ends.
class FrozenServer {
 public:
  explicit FrozenServer(const std::string& folder) {
    std::ifstream pidFile(folder + "/data/postmaster.pid");
    pid_t postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0 || ::kill(postmaster, SIGSTOP) != 0) return;
    stopped_.push_back(postmaster);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      std::getline(stat, line);
      const auto name = line.rfind(')');  // "pid (name) state parent ..."
      if (name == std::string::npos) continue;
      std::istringstream rest(line.substr(name + 1));
      char state = 0;
      pid_t parent = 0;
      if (!(rest >> state >> parent) || parent != postmaster) continue;
      const pid_t child = std::stoi(entry.path().filename().string());
      if (::kill(child, SIGSTOP) == 0) stopped_.push_back(child);
    }
  }
  ~FrozenServer() { Thaw(); }
  FrozenServer(const FrozenServer&) = delete;
  FrozenServer& operator=(const FrozenServer&) = delete;

  bool Frozen() const { return stopped_.size() > 1; }  // the postmaster and its backends
  void Thaw() {
    for (const pid_t pid : stopped_) ::kill(pid, SIGCONT);
    stopped_.clear();
  }

 private:
  std::vector<pid_t> stopped_;
};

}  // namespace tuva::testing
