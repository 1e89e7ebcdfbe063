// The journal of unrecorded results is kept only in a folder of the user's own: a folder others
// may write, a link in place of the folder or of one of its files, or no state folder at all is
// refused, and a file another user pointed a link at is never written.
#include "records/Journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using records::Journal;
using records::RecordsError;

std::string Contents(const fs::path& file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(JournalTest, KeptOnlyInAFolderOfTheUsersOwn) {
  char pattern[] = "/tmp/tuva-journal-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path root = pattern;            // stands in for /tmp
  const fs::path target = root / "target";  // a file only its owner may write
  const uid_t me = ::geteuid();
  struct Case {
    const char* name;
    std::function<void(const fs::path& folder)> build;  // makes what is there before the run
    uid_t owner;
    bool refused;
  };
  const auto mode = [](const fs::path& folder, mode_t bits) {
    fs::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), bits), 0);
  };
  std::vector<Case> cases = {
      {"made fresh", [](const fs::path&) {}, me, false},
      {"others may write it", [&](const fs::path& f) { mode(f, 0777); }, me, true},
      {"its group may write it", [&](const fs::path& f) { mode(f, 0770); }, me, true},
      {"another user's", [&](const fs::path& f) { mode(f, 0700); }, me + 1, true},
      {"in a folder every user may write", [&](const fs::path& f) { mode(f.parent_path(), 01777); },
       me, true},
      {"a link to a folder",
       [&](const fs::path& f) {
         mode(root / "elsewhere", 0700);
         fs::create_directories(f.parent_path());
         fs::create_directory_symlink(root / "elsewhere", f);
       },
       me, true},
      {"the journal a link",
       [&](const fs::path& f) {
         mode(f, 0700);
         fs::create_symlink(target, f / "unrecorded.journal");
       },
       me, true},
      {"the new file a link",
       [&](const fs::path& f) {
         mode(f, 0700);
         fs::create_symlink(target, f / "unrecorded.journal.new");
       },
       me, false},
  };
  // A user's state folder may sit in one root made (a home under /home, /var/lib): only a root
  // run can give the journal's folder to another user to see that.
  if (me == 0) {
    constexpr uid_t user = 4242;
    cases.push_back({"the user's own in a folder root made",
                     [&](const fs::path& f) {
                       mode(f, 0700);
                       ASSERT_EQ(::chown(f.c_str(), user, user), 0);
                     },
                     user, false});
  }
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    { std::ofstream(target) << "root's own\n"; }
    const fs::path folder = root / std::to_string(++n) / "state" / "tuva";
    c.build(folder);
    Journal journal((folder / "unrecorded.journal").string(), c.owner);
    Journal::Entry entry{"identity", "records.sqlite", {}};
    entry.attempt.id = 7;
    entry.attempt.station = "bench";
    if (c.refused) {
      EXPECT_THROW(journal.Keep(entry), RecordsError);
      EXPECT_THROW(journal.Entries(), RecordsError);
      EXPECT_FALSE(fs::exists(root / "elsewhere" / "unrecorded.journal"));
    } else {
      journal.Keep(entry);
      ASSERT_EQ(journal.Entries().size(), 1u);
      EXPECT_EQ(journal.Entries()[0].attempt.station, "bench");
      EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    }
    EXPECT_EQ(Contents(target), "root's own\n");
  }
  fs::remove_all(root);
}

// Two boards of one database and one of another could not be recorded: each is kept with all
// it learnt, a second keeping of one replaces it, and finishing one drops that one alone.
TEST(JournalTest, KeepsEachUnrecordedBoardAndDropsOnlyTheOneFinished) {
  char pattern[] = "/tmp/tuva-journal-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  Journal journal((fs::path(pattern) / "tuva" / "unrecorded.journal").string());
  auto entry = [](const char* identity, std::int64_t id, const char* message) {
    Journal::Entry kept{identity, std::string(identity) + ".sqlite", {}};
    kept.attempt.id = id;
    kept.attempt.result = records::Result::Programmed;
    kept.attempt.message = message;
    kept.attempt.capcodes = {"1500000", "", "group\tone"};
    kept.attempt.templateSha256 = std::string(64, 'e');
    kept.attempt.imageRuns = "36:0f4240 4094:1a2b";
    kept.attempt.templateImage = {0x00, 0x7F, 0xFF};
    return kept;
  };
  journal.Keep(entry("a", 1, "first"));
  journal.Keep(entry("a", 2, "second\tline\nbreak"));
  journal.Keep(entry("b", 1, "other database"));
  journal.Keep(entry("a", 1, "first, kept again"));
  journal.Drop("a", 2);
  journal.Drop("c", 1);  // of no database kept: nothing changes
  std::vector<std::string> left;
  for (const Journal::Entry& kept : journal.Entries()) {
    left.push_back(kept.identity + "#" + std::to_string(kept.attempt.id) + " " +
                   kept.attempt.message);
    EXPECT_EQ(kept.attempt,
              entry(kept.identity.c_str(), kept.attempt.id, kept.attempt.message.c_str()).attempt);
  }
  EXPECT_EQ(left, (std::vector<std::string>{"b#1 other database", "a#1 first, kept again"}));

  // A line written before images were kept (19 fields) still reads, without an image.
  {
    std::ofstream earlier(journal.Path(), std::ios::app);
    earlier << "c\tc.sqlite\t7\t\t\t\t\t1500007\t\t\tprogrammed\t1\t\t1.5\t1:1500007:1"
               "\t\t\t0\tverify\n";
  }
  const std::vector<Journal::Entry> entries = journal.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].attempt.id, 7);
  EXPECT_EQ(entries[2].attempt.verification, "verify");
  EXPECT_TRUE(entries[2].attempt.templateSha256.empty());
  fs::remove_all(pattern);
}

// Two runs on one computer keep their unrecorded boards in one journal at once: each keeping
// rewrites the whole file, and none may be written over by the other's.
TEST(JournalTest, TwoProcessesKeepingAtOnceLoseNoBoard) {
  char pattern[] = "/tmp/tuva-journal-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string path = (fs::path(pattern) / "tuva" / "unrecorded.journal").string();
  constexpr int kProcesses = 3;
  constexpr int kBoards = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int code = 0;
      try {
        Journal journal(path);
        for (int i = 0; i < kBoards; ++i) {
          Journal::Entry entry{"db", "db.sqlite", {}};
          entry.attempt.id = p * 1000 + i;
          journal.Keep(entry);
        }
      } catch (const std::exception&) {
        code = 1;
      }
      ::_exit(code);
    }
    children.push_back(child);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (const pid_t child : children) {
    int status = -1;
    while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (status == -1) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Journal(path).Entries().size(), std::size_t{kProcesses * kBoards});
  fs::remove_all(pattern);
}

TEST(JournalTest, NoStateFolderIsRefused) {
  const char* home = std::getenv("HOME");
  const std::string saved = home ? home : "";
  const char* state = std::getenv("XDG_STATE_HOME");
  const std::string savedState = state ? state : "";
  ::unsetenv("HOME");
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_THROW(records::DefaultJournalPath(), RecordsError);
  if (home) ::setenv("HOME", saved.c_str(), 1);
  if (state) ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
}

}  // namespace
}  // namespace tuva::testing
