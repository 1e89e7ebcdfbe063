// A PostgreSQL server of the test's own: a fresh cluster in a temporary folder, listening only on
// a Unix socket in that folder, stopped and removed when the object goes. The server refuses to
// run as root, so when the tests run as root the cluster belongs to the `postgres` user and its
// programs run under that user's ids.
//
//   PostgresServer server;
//   if (!server.Installed()) GTEST_SKIP() << server.Problem();
//   ASSERT_TRUE(server.Running()) << server.Problem();
//   const std::string url = server.CreateDatabase("records1");
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tuva::testing {

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
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

}  // namespace tuva::testing
