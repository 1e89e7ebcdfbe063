// A series whose records fail under it: a result that cannot be recorded is reported as such and
// kept for the next run, and a database removed during the run stops it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "SeriesStations.h"
#include "files/ConfigFile.h"
#include "records/Journal.h"
#include "records/RecordStore.h"
#include "series/SeriesRecords.h"
#include "series/SeriesRun.h"
#include "sim/SimServer.h"
#include "support/PostgresServer.h"

extern char** environ;

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Attempt;
using records::OpenMode;
using records::RecordsError;
using records::Result;

constexpr auto kDeadline = std::chrono::seconds(60);

// The real SQLite store, whose Finish fails the first `failures` times as on a full disk, and
// whose open attempts may be shown as a killed run leaves them (heartbeat long gone).
class FailingFinish : public records::RecordStore {
 public:
  FailingFinish(records::RecordStore& real, int failures) : real_(real), failures_(failures) {}
  std::string Name() const override { return real_.Name(); }
  std::string Identity() override { return real_.Identity(); }
  Attempt Reserve(const Attempt& start, const std::vector<records::CountingSlot>& slots) override {
    return real_.Reserve(start, slots);
  }
  void MarkErased(std::int64_t id) override { real_.MarkErased(id); }
  void Finish(const Attempt& attempt) override {
    ++finishes;
    if (failures_-- > 0 || std::chrono::steady_clock::now() < refuseUntil) {
      if (unanswered) throw records::UnansweredError("records database: no answer");
      throw RecordsError("records database: database or disk is full");
    }
    real_.Finish(attempt);
  }
  void Beat() override { real_.Beat(); }
  void Each(const records::ListFilter& filter,
            const std::function<void(const Attempt&)>& row) override {
    real_.Each(filter, [&](const Attempt& attempt) {
      Attempt shown = attempt;
      if (aged) shown.heartbeat = 0;
      row(shown);
    });
  }
  records::ReleaseOutcome Release(int slot, std::uint32_t capcode, bool force) override {
    return real_.Release(slot, capcode, force);
  }
  bool aged = false;
  int finishes = 0;         // calls of Finish
  bool unanswered = false;  // Finish fails as on a server that did not answer
  std::chrono::steady_clock::time_point refuseUntil;  // Finish fails until then, too

 private:
  records::RecordStore& real_;
  int failures_;
};

// A store whose Finish goes silent, as on a frozen server, until Answer says what the server then
// does: takes the result, or gives the call up unanswered.
class SilentFinish : public FailingFinish {
 public:
  explicit SilentFinish(records::RecordStore& real) : FailingFinish(real, 0) {}
  void Finish(const Attempt& attempt) override {
    std::unique_lock lock(mutex_);
    ++silent;
    if (!answered_.wait_for(lock, kDeadline, [this] { return answer_.has_value(); })) {
      throw RecordsError("the test never answered");
    }
    if (!*answer_) throw records::UnansweredError("records database: no answer");
    lock.unlock();
    FailingFinish::Finish(attempt);
  }
  void Answer(bool takes) {
    std::lock_guard lock(mutex_);
    answer_ = takes;
    answered_.notify_all();
  }
  int silent = 0;  // calls of Finish

 private:
  std::mutex mutex_;
  std::condition_variable answered_;
  std::optional<bool> answer_;
};

class SeriesRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("tuva-series-records");
    ASSERT_TRUE(SaveConfigFile(Path("template.tbl"), ConfigImage::StartupImage()).ok());
    ::setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
  }
  void TearDown() override {
    sims_.clear();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  sim::SimServer& Jig(int boards, bool paced = false) {
    sim::SimOptions options;
    options.paced = paced;  // a Write that takes seconds
    options.contents = sim::SimContents::Erased;
    options.boards = boards;
    options.removedMs = 700;
    sims_.push_back(std::make_unique<sim::SimServer>(options));
    sims_.back()->Start();
    return *sims_.back();
  }

  // tuvactl series with its output in `out`; returns its process.
  pid_t Start(std::vector<std::string> words, const std::string& out) {
    words.insert(words.begin(), {TUVACTL, "series", Path("template.tbl")});
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, TUVACTL, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // The exit status of `pid`; the test fails (and the process is killed) after the deadline.
  static int Wait(pid_t pid, std::chrono::seconds deadline = kDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "tuvactl series did not end in time";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  static std::string Text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::vector<std::unique_ptr<sim::SimServer>> sims_;
};

// The board is written and verified but its record will not finish: once is mended by the retry;
// for good, the line says so, the result waits in the journal and the next run records it.
TEST_F(SeriesRecordsTest, AResultThatCannotBeRecordedIsKeptAndRecordedByTheNextRun) {
  for (const int failures : {1, 100}) {
    SCOPED_TRACE(failures);
    const std::string db = Path("records" + std::to_string(failures) + ".sqlite");
    auto real = records::OpenRecordStore(db, OpenMode::Create);
    FailingFinish store(*real, failures);
    auto& jig = Jig(1);
    series::SeriesPlan plan;
    plan.counting = {{1, 1500000, 1}};
    plan.count = 1;
    plan.ports = {jig.SlavePath()};
    plan.station = "bench";
    std::vector<series::BoardReport> reports;
    series::SeriesRun run(store, plan,
                          [&](const series::BoardReport& report) { reports.push_back(report); });
    run.Run();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].programmed);
    const std::string journal = records::DefaultJournalPath();
    if (failures == 1) {
      EXPECT_EQ(reports[0].result, "programmed");
      EXPECT_TRUE(run.records().unrecorded().empty());
      EXPECT_FALSE(fs::exists(journal));
      EXPECT_EQ(real->List({}).at(0).result, Result::Programmed);
      continue;
    }
    EXPECT_EQ(reports[0].result,
              "programmed, NOT RECORDED: records database: database or disk is full");
    ASSERT_EQ(run.records().unrecorded().size(), 1u);
    EXPECT_EQ(run.records().unrecorded()[0].capcodes, "1500000");
    EXPECT_EQ(real->List({}).at(0).result, Result::Erased);
    ASSERT_TRUE(fs::exists(journal));

    const auto lines = series::PrepareRecords(*real, journal);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "recorded 1 result an earlier run kept in " + journal);
    const Attempt recorded = real->List({}).at(0);
    EXPECT_EQ(recorded.result, Result::Programmed);
    EXPECT_EQ(recorded.capcodes.at(0), "1500000");
    EXPECT_FALSE(fs::exists(journal));
  }
}

// A refused record is not tried again by a run that is stopping, nor after a server that did not
// answer (the store waited and tried again already; each try would wait as long): the result goes
// to the journal after the one try. A refusal of a moment is mended by the try after the pause.
TEST_F(SeriesRecordsTest, ARecordIsTriedOnceWhenStoppingOrUnanswered) {
  struct Case {
    const char* name;
    bool stopping;
    bool unanswered;
    int failures;
    std::chrono::milliseconds refusing;  // the store refuses for this long, whatever the failures
    std::string reason;
    int finishes;
  };
  const std::vector<Case> cases = {
      {"stop", true, false, 100, {}, "records database: database or disk is full", 1},
      {"frozen", false, true, 100, {}, "records database: no answer", 1},
      {"moment", false, false, 0, std::chrono::milliseconds(300), "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto real = records::OpenRecordStore(Path(std::string(c.name) + ".sqlite"), OpenMode::Create);
    FailingFinish store(*real, c.failures);
    store.unanswered = c.unanswered;
    std::stop_source stop;
    series::RecordKeeper keeper(store, records::DefaultJournalPath(), stop.get_token());
    Attempt attempt = store.Reserve({}, {{1, 1500000, 1, 2097151}});
    attempt.result = Result::Programmed;
    if (c.stopping) stop.request_stop();
    store.refuseUntil = std::chrono::steady_clock::now() + c.refusing;
    EXPECT_EQ(keeper.Record(attempt), c.reason);
    EXPECT_EQ(store.finishes, c.finishes);
  }
  EXPECT_EQ(records::Journal(records::DefaultJournalPath()).Entries().size(), 2u);
}

// A store silent on a result: the caller stops waiting after the patience, the result in the
// journal, and one given meanwhile goes there at once. A store that answers after all takes both
// out of the journal; one that gives up leaves them there, the second not tried (it would wait
// as long again), and the run is told of each.
TEST_F(SeriesRecordsTest, AResultTheStoreIsSilentOnIsKeptAtOnceAndRecordedIfItAnswers) {
  const std::string journal = records::DefaultJournalPath();
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers);
    auto real = records::OpenRecordStore(Path(answers ? "answers.sqlite" : "silent.sqlite"),
                                         OpenMode::Create);
    SilentFinish store(*real);
    std::vector<std::string> failures;
    series::RecordKeeper keeper(
        store, journal, {}, [&](const std::string& why) { failures.push_back(why); },
        std::chrono::milliseconds(100));
    Attempt first = store.Reserve({}, {{1, 1500000, 1, 2097151}});
    first.result = Result::Programmed;
    Attempt second = store.Reserve({}, {{1, 1500000, 1, 2097151}});
    second.result = Result::Failed;
    for (const Attempt& attempt : {first, second}) {
      EXPECT_EQ(keeper.Record(attempt), "records database " + store.Name() +
                                            " did not answer within 100 ms; the result is kept "
                                            "in " +
                                            journal + " until it answers");
    }
    EXPECT_EQ(records::Journal(journal).Entries().size(), 2u);
    store.Answer(answers);
    keeper.Drain();
    EXPECT_EQ(records::Journal(journal).Entries().size(), answers ? 0u : 2u);
    EXPECT_EQ(keeper.unrecorded().size(), answers ? 0u : 2u);
    EXPECT_EQ(failures, answers ? std::vector<std::string>{}
                                : std::vector<std::string>(2, "records database: no answer"));
    EXPECT_EQ(store.silent, answers ? 2 : 1);
    const auto attempts = real->List({});
    EXPECT_EQ(attempts.at(0).result, answers ? Result::Programmed : Result::Reserved);
    EXPECT_EQ(attempts.at(1).result, answers ? Result::Failed : Result::Reserved);
    fs::remove(journal);
  }
}

// Two boards programmed but not recorded, then the database lost: a new one at its path refuses to
// start while the journal holds their results; one is dropped by name, the other adopted, and the
// pool steps over its capcode.
TEST_F(SeriesRecordsTest, ALostDatabasesResultsStopANewOneUntilAdoptedOrDropped) {
  const std::string db = Path("records.sqlite");
  auto& first = Jig(1);
  auto& second = Jig(1);
  {
    auto lost = records::OpenRecordStore(db, OpenMode::Create);
    FailingFinish store(*lost, 100);
    for (auto* jig : {&first, &second}) {  // a result not recorded stops its run
      series::SeriesPlan plan;
      plan.counting = {{1, 1500000, 1}};
      plan.ports = {jig->SlavePath()};
      series::SeriesRun(store, plan, {}).Run();
    }
  }
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix);
  const std::string journal = records::DefaultJournalPath();
  auto& jig = Jig(2);
  auto series = [&](const std::string& out, std::vector<std::string> more) {
    std::vector<std::string> words = {"--capcode",    "1=1500000", "--count",       "2",
                                      "--records",    db,          "--new-records", "--port",
                                      jig.SlavePath()};
    words.insert(words.end(), more.begin(), more.end());
    return Wait(Start(words, Path(out)));
  };
  auto records = [&](const std::string& out, std::vector<std::string> words) {
    words.insert(words.begin(), {TUVACTL, "records", "--records", db});
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, Path(out).c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, TUVACTL, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return Wait(pid);
  };

  EXPECT_EQ(series("refused.txt", {}), 2);
  const std::string port = first.SlavePath();
  EXPECT_NE(Text(Path("refused.txt"))
                .find("the journal " + journal +
                      " holds 2 results of another records database (capcode 1500000, "
                      "programmed on " +
                      port),
            std::string::npos)
      << Text(Path("refused.txt"));
  EXPECT_NE(Text(Path("refused.txt"))
                .find("record them here with --adopt-journal, or drop them with `tuvactl records "
                      "--records " +
                      db + " --discard-journal all`"),
            std::string::npos)
      << Text(Path("refused.txt"));
  EXPECT_TRUE(jig.Requests().empty());

  EXPECT_EQ(records("dropped.txt", {"--discard-journal", "#1"}), 0);
  EXPECT_NE(Text(Path("dropped.txt"))
                .find("dropped from the journal: capcode 1500000, programmed on " + port),
            std::string::npos)
      << Text(Path("dropped.txt"));
  EXPECT_EQ(series("refused-again.txt", {}), 2);
  EXPECT_NE(Text(Path("refused-again.txt"))
                .find("holds 1 result of another records database (capcode 1500001, "),
            std::string::npos)
      << Text(Path("refused-again.txt"));

  EXPECT_EQ(series("adopted.txt", {"--adopt-journal"}), 0) << Text(Path("adopted.txt"));
  for (const char* capcode : {"  1500000  ", "  1500002  "}) {
    EXPECT_NE(Text(Path("adopted.txt")).find(jig.SlavePath() + capcode), std::string::npos)
        << Text(Path("adopted.txt"));
  }
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ(records("found.txt", {"--capcode", "1500001"}), 0);
  EXPECT_NE(Text(Path("found.txt")).find("adopted from the journal: attempt #2 of " + db),
            std::string::npos)
      << Text(Path("found.txt"));
}

// The PostgreSQL server restarted between two boards: the run reconnects and goes on.
TEST_F(SeriesRecordsTest, APostgresRestartBetweenTwoBoardsDoesNotStopTheRun) {
  PostgresServer server;
  if (!server.Installed()) GTEST_SKIP() << server.Problem();
  ASSERT_TRUE(server.Running()) << server.Problem();
  const std::string url = server.CreateDatabase("series");
  auto store = records::OpenRecordStore(url, OpenMode::Create);
  auto& jig = Jig(2);
  series::SeriesPlan plan;
  plan.counting = {{1, 1500000, 1}};
  plan.count = 2;
  plan.ports = {jig.SlavePath()};
  std::vector<std::string> lines;
  series::SeriesRun run(*store, plan, [&](const series::BoardReport& report) {
    lines.push_back(report.Line());
    if (lines.size() == 1) {
      EXPECT_TRUE(server.Restart()) << server.Problem();
    }
  });
  run.Run();
  EXPECT_EQ(run.programmed(), 2) << run.problem();
  EXPECT_EQ(run.problem(), "");
  const auto attempts = store->List({});
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(attempts[0].taken.at(0).capcode, 1500000u);
  EXPECT_EQ(attempts[1].taken.at(0).capcode, 1500001u);
  EXPECT_EQ(attempts[1].result, Result::Programmed);
}

// A run names once the attempts an earlier run left open, but not those of a series running now.
TEST_F(SeriesRecordsTest, ARunNamesTheAttemptsAnEarlierRunLeftOpen) {
  auto real = records::OpenRecordStore(Path("records.sqlite"), OpenMode::Create);
  Attempt start;
  start.port = "/dev/ttyUSB0";
  start.station = "bench2";
  const Attempt open = real->Reserve(start, {{1, 1500001, 1, 2097151}});
  real->MarkErased(open.id);
  FailingFinish store(*real, 0);
  EXPECT_TRUE(series::PrepareRecords(store, records::DefaultJournalPath()).empty());
  store.aged = true;
  EXPECT_EQ(
      series::PrepareRecords(store, records::DefaultJournalPath()),
      std::vector<std::string>{"1 attempt of an earlier run is still open: 1500001 (erased, "
                               "/dev/ttyUSB0, station bench2, " +
                               open.time.substr(0, 10) + " " + open.time.substr(11, 5) + ")"});
}

// Three results an earlier run kept: the next run records the one the store takes and drops it
// alone from the journal; one refused while its attempt is still open stays there, one whose
// attempt was closed meanwhile leaves it with the reason.
TEST_F(SeriesRecordsTest, EachKeptResultIsRecordedOrKeptOnItsOwn) {
  auto real = records::OpenRecordStore(Path("records.sqlite"), OpenMode::Create);
  const std::string journal = records::DefaultJournalPath();
  records::Journal kept(journal);
  for (int board = 0; board < 3; ++board) {
    Attempt attempt = real->Reserve({}, {{1, 1500000, 1, 2097151}});
    real->MarkErased(attempt.id);
    attempt.result = Result::Programmed;
    kept.Keep({real->Identity(), real->Name(), attempt});
    if (board == 2) {
      attempt.result = Result::Failed;
      real->Finish(attempt);  // closed meanwhile
    }
  }
  FailingFinish store(*real, 1);  // the first result's Finish is refused
  const auto lines = series::PrepareRecords(store, journal);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "the result of attempt #1 (1500000, programmed) cannot be recorded: records database: "
            "database or disk is full; it stays in " +
                journal);
  EXPECT_EQ(
      lines[1].rfind("the result of attempt #3 (1500002, programmed) cannot be recorded: ", 0), 0u)
      << lines[1];
  EXPECT_EQ(lines[1].find("stays"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "recorded 1 result an earlier run kept in " + journal);
  const auto left = kept.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].attempt.id, 1);
  EXPECT_EQ(real->List({}).at(1).result, Result::Programmed);
}

// rm -rf of the database's folder during a run: the run stops with the message; a later run does
// not start a new pool at that path unless asked to.
TEST_F(SeriesRecordsTest, ADatabaseRemovedDuringTheRunStopsItAndIsNotMadeAgainUnasked) {
  fs::create_directories(Path("db"));
  const std::string db = Path("db/records.sqlite");
  auto& jig = Jig(4);
  const std::string out = Path("out1.txt");
  const pid_t run = Start({"--capcode", "1=1500000", "--count", "4", "--records", db,
                           "--new-records", "--port", jig.SlavePath()},
                          out);
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (Text(out).find("programmed") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << Text(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  fs::remove_all(Path("db"));
  EXPECT_EQ(Wait(run), 1);
  const std::string said = Text(out);
  EXPECT_NE(said.find("records database " + db +
                      " is gone: the file was removed or replaced while in use"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("4 of 4 boards programmed"), std::string::npos) << said;

  const std::string again = Path("out2.txt");
  EXPECT_EQ(Wait(Start({"--capcode", "1=1500000", "--count", "1", "--records", db, "--port",
                        jig.SlavePath()},
                       again)),
            2);
  EXPECT_NE(Text(again).find("no records database at " + db + " (its folder " + Path("db") +
                             " is not there)"),
            std::string::npos)
      << Text(again);
  EXPECT_FALSE(fs::exists(Path("db")));
}

// A real full file system under the records: the board written while it filled up is reported as
// programmed but not recorded, its result waits in the journal (on another file system), and the
// next run, with room again, records it.
TEST_F(SeriesRecordsTest, ARecordThatAFullDiskRefusesIsKeptAndRecordedByTheNextRun) {
  const std::string disk = Path("disk");
  fs::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                 << "): the full-disk case needs one";
  }
  const std::unique_ptr<const char, void (*)(const char*)> mounted(
      disk.c_str(), [](const char* path) { ::umount2(path, MNT_DETACH); });
  const std::string db = disk + "/records.sqlite";
  const std::string closed = disk + "/closed.sqlite";  // made, then closed before the disk fills
  records::OpenRecordStore(closed, OpenMode::Create);
  auto& jig = Jig(1, true);
  const std::string out = Path("out1.txt");
  const pid_t run = Start({"--capcode", "1=1500000", "--count", "1", "--records", db,
                           "--new-records", "--port", jig.SlavePath()},
                          out);
  // The board is being written once its attempt is marked erased: then the disk fills up.
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  auto erased = [&] {
    try {
      const auto attempts = records::OpenRecordStore(db, OpenMode::ReadOnly)->List({});
      return !attempts.empty() && attempts[0].result == Result::Erased;
    } catch (const RecordsError&) {
      return false;  // not made yet
    }
  };
  while (!erased()) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << Text(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  {
    std::ofstream filler(disk + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  EXPECT_EQ(Wait(run), 1);
  EXPECT_NE(Text(out).find("programmed, NOT RECORDED: "), std::string::npos) << Text(out);
  const std::string journal = records::DefaultJournalPath();
  EXPECT_NE(Text(journal).find("1500000"), std::string::npos) << Text(out);
  // Records that must grow to open do not open on the full disk, new ones nor closed ones: a
  // failure of the station, not of its command.
  for (const std::string& named : {disk + "/new.sqlite", closed}) {
    const std::string full = Path("out-full.txt");
    EXPECT_EQ(Wait(Start({"--capcode", "1=1500000", "--count", "1", "--records", named,
                          "--new-records", "--port", Path("no-port")},
                         full)),
              1);
    EXPECT_NE(Text(full).find("records database " + named + ": cannot open it (the disk " +
                              "holding " + disk + " is full)"),
              std::string::npos)
        << Text(full);
  }

  fs::remove(disk + "/filler");
  const std::string again = Path("out2.txt");
  EXPECT_EQ(Wait(Start({"--capcode", "1=1500000", "--count", "1", "--records", db, "--port",
                        Jig(1).SlavePath()},
                       again)),
            0);
  EXPECT_NE(Text(again).find("recorded 1 result an earlier run kept in " + journal),
            std::string::npos)
      << Text(again);
  const auto attempts = records::OpenRecordStore(db, OpenMode::ReadOnly)->List({});
  ASSERT_EQ(attempts.size(), 2u);
  EXPECT_EQ(attempts[0].result, Result::Programmed);
  EXPECT_EQ(attempts[0].capcodes.at(0), "1500000");
  EXPECT_EQ(attempts[1].capcodes.at(0), "1500001");
}

// Another program holds the records file's write lock from the moment a board is being written:
// its result waits for the lock, and would be tried again after pauses, each try waiting the whole
// busy timeout, while the port waits for the next board. Ctrl+C ends the run at once, the result
// kept in the journal.
TEST_F(SeriesRecordsTest, CtrlCEndsARunWhoseResultWaitsForAnotherProgramsLock) {
  const std::string db = Path("locked.sqlite");
  records::OpenRecordStore(db, OpenMode::Create);
  auto& jig = Jig(1, true);
  const std::string out = Path("out.txt");
  const pid_t run = Start(
      {"--capcode", "1=1500000", "--count", "2", "--records", db, "--port", jig.SlavePath()}, out);
  auto erased = [&] {
    const auto attempts = records::OpenRecordStore(db, OpenMode::ReadOnly)->List({});
    return !attempts.empty() && attempts[0].result == Result::Erased;
  };
  auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!erased()) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << Text(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  sqlite3_busy_timeout(other, 5000);  // past a heartbeat being written now
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const std::string line = jig.SlavePath() + "  1500000  FLEX 2.41  programmed, NOT RECORDED: ";
  end = std::chrono::steady_clock::now() + kDeadline;
  while (Text(out).find(line) == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << Text(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto interrupted = std::chrono::steady_clock::now();
  ::kill(run, SIGINT);
  EXPECT_EQ(Wait(run, std::chrono::seconds(5)), 1);
  std::cout << "stopped a run waiting for the lock in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - interrupted)
                   .count()
            << " ms" << std::endl;
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_NE(Text(out).find("tuvactl: stopping; the boards being written are finished first\n"),
            std::string::npos)
      << Text(out);
  EXPECT_NE(Text(out).find("1 board's result is not recorded: " + jig.SlavePath() +
                           " 1500000 (#1, programmed)"),
            std::string::npos)
      << Text(out);
  EXPECT_NE(Text(records::DefaultJournalPath()).find("1500000"), std::string::npos);
}

// The PostgreSQL server frozen (SIGSTOP) while a board is written, its own limits far beyond the
// test's waits: the board's line comes all the same, saying the server did not answer, with the
// result in the journal. A server that thaws takes the result out of the journal; Ctrl+C ends a
// run waiting for one that does not, and its journal agrees with the records when it thaws.
TEST_F(SeriesRecordsTest, AFrozenServerHoldsUpNeitherTheBoardsLineNorCtrlC) {
  PostgresServer server;
  if (!server.Installed()) GTEST_SKIP() << server.Problem();
  ASSERT_TRUE(server.Running()) << server.Problem();
  const std::string journal = records::DefaultJournalPath();
  for (const bool thaws : {true, false}) {
    const std::string name = thaws ? "thaws" : "interrupted";
    SCOPED_TRACE(name);
    const std::string url = server.CreateDatabase(name) +
                            "&options=-c%20statement_timeout%3D600s%20-c%20lock_timeout%3D600s";
    ASSERT_EQ(records::OpenRecordStore(url, OpenMode::Create)->List({}).size(), 0u);
    auto& jig = Jig(1, true);
    const std::string out = Path(name + ".txt");
    const pid_t run = Start(
        {"--capcode", "1=1500000", "--count", "1", "--records", url, "--port", jig.SlavePath()},
        out);
    // Frozen once the board is being written (its attempt marked erased).
    auto erased = [&] {
      const std::unique_ptr<PGconn, decltype(&PQfinish)> look(PQconnectdb(url.c_str()), &PQfinish);
      PGresult* rows = PQexec(look.get(), "SELECT 1 FROM attempts WHERE result = 'erased'");
      const bool found = PQntuples(rows) == 1;
      PQclear(rows);
      return found;
    };
    auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!erased() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FrozenServer frozen(server.Folder());
    EXPECT_TRUE(frozen.Frozen());
    // The board's end: its last frame, and the bytes of its reply at 19200 baud (ten bits each).
    const std::string line = jig.SlavePath() + "  1500000  ";
    std::size_t frames = 0;
    auto boardEnd = std::chrono::steady_clock::now();
    end = std::chrono::steady_clock::now() + kDeadline;
    while (Text(out).find(line) == std::string::npos && std::chrono::steady_clock::now() < end) {
      if (const auto now = jig.Frames(); now.size() != frames) {
        frames = now.size();
        boardEnd = std::chrono::steady_clock::now() +
                   std::chrono::microseconds(now.back().length * 10'000'000LL / 19200);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto shown = std::chrono::steady_clock::now();
    std::cout << name << ": the board's line came "
              << std::chrono::duration_cast<std::chrono::milliseconds>(shown - boardEnd).count()
              << " ms after the board's end" << std::endl;
    EXPECT_NE(Text(out).find(line + "FLEX 2.41  programmed, NOT RECORDED: records database "),
              std::string::npos)
        << Text(out);
    EXPECT_NE(Text(out).find(" did not answer within "), std::string::npos) << Text(out);
    EXPECT_NE(Text(journal).find("1500000"), std::string::npos) << Text(out);
    if (thaws) {
      frozen.Thaw();
      EXPECT_EQ(Wait(run), 0) << Text(out);
      EXPECT_NE(Text(out).find("1 of 1 boards programmed, 0 failed\n"), std::string::npos)
          << Text(out);
      EXPECT_FALSE(fs::exists(journal));
    } else {
      const auto interrupted = std::chrono::steady_clock::now();
      ::kill(run, SIGINT);
      EXPECT_EQ(Wait(run, std::chrono::seconds(5)), 1);  // its statement's grace is 1 s
      std::cout << name << ": stopped in "
                << std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - interrupted)
                       .count()
                << " ms" << std::endl;
      EXPECT_NE(Text(out).find("1 board's result is not recorded: " + jig.SlavePath() +
                               " 1500000 (#1, programmed)"),
                std::string::npos)
          << Text(out);
      frozen.Thaw();
      auto store = records::OpenRecordStore(url, OpenMode::Existing);
      EXPECT_EQ(series::PrepareRecords(*store, journal),
                std::vector<std::string>{"recorded 1 result an earlier run kept in " + journal});
    }
    EXPECT_EQ(Text(out).find("lost"), std::string::npos) << Text(out);
    const auto attempts = records::OpenRecordStore(url, OpenMode::ReadOnly)->List({});
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0].result, Result::Programmed);
  }
}

// Ctrl+C ends a run whatever its PostgreSQL database is doing: a lock held by another connection
// (the run waits inside a reservation) or a server that takes the connection and never answers
// (the run is still opening its records). The database's own limits are set far beyond the wait.
TEST_F(SeriesRecordsTest, CtrlCEndsTheRunWhateverThePostgresDatabaseIsDoing) {
  PostgresServer server;
  if (!server.Installed()) GTEST_SKIP() << server.Problem();
  ASSERT_TRUE(server.Running()) << server.Problem();
  const std::string url = server.CreateDatabase("locked");
  records::OpenRecordStore(url, OpenMode::Create);
  const std::unique_ptr<PGconn, decltype(&PQfinish)> holder(PQconnectdb(url.c_str()), &PQfinish);
  ASSERT_EQ(PQstatus(holder.get()), CONNECTION_OK);
  PQclear(PQexec(holder.get(), "BEGIN; LOCK TABLE pool_hint IN ACCESS EXCLUSIVE MODE"));
  auto waitingOnLock = [&] {
    PGresult* rows = PQexec(holder.get(), "SELECT count(*) FROM pg_locks WHERE NOT granted");
    const bool waiting = PQntuples(rows) == 1 && std::string(PQgetvalue(rows, 0, 0)) != "0";
    PQclear(rows);
    return waiting;
  };

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int silent = -1;
  auto connected = [&] {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, 0) > 0) silent = ::accept(listener, nullptr, nullptr);
    return silent >= 0;
  };

  struct Case {
    std::string name;
    std::string url;
    std::function<bool()> waiting;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"a held lock", url + "&options=-c%20lock_timeout%3D120s%20-c%20statement_timeout%3D120s",
       waitingOnLock, "cannot reserve capcodes (stopping; the database did not answer in time)"},
      {"a silent server",
       "postgresql://postgres@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
           "/records?connect_timeout=120",
       connected, "stopped before the first board: records database"},
  };
  auto& jig = Jig(1);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string out = Path("out.txt");
    const pid_t run = Start({"--capcode", "1=1500000", "--count", "1", "--records", test.url,
                             "--port", jig.SlavePath()},
                            out);
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!test.waiting()) {
      ASSERT_LT(std::chrono::steady_clock::now(), end) << Text(out);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(run, SIGINT);
    EXPECT_EQ(Wait(run, std::chrono::seconds(10)), 1);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - interrupted);
    std::cout << "stopped " << test.name << " in " << took.count() << " ms" << std::endl;
    EXPECT_NE(Text(out).find(test.says), std::string::npos) << Text(out);
  }
  if (silent >= 0) ::close(silent);
  ::close(listener);
}

}  // namespace
}  // namespace tuva::testing
