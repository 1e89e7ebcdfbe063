#include "records/Journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "records/ImageRuns.h"
#include "records/StoreCommon.h"

namespace tuva::records {
namespace {

std::string Escape(const std::string& field) {
  std::string out;
  for (const char c : field) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') {
      fields.emplace_back();
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      const char next = line[++i];
      fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

std::string TakenColumn(const Attempt& attempt) {
  std::string column;
  for (const Attempt::Taken& t : attempt.taken) {
    if (!column.empty()) column += ' ';
    column += std::to_string(t.slot) + ":" + std::to_string(t.capcode) + ":" + (t.held ? "1" : "0");
  }
  return column;
}

std::string Line(const Journal::Entry& entry) {
  const Attempt& a = entry.attempt;
  const std::string fields[] = {entry.identity,
                                entry.database,
                                std::to_string(a.id),
                                a.time,
                                a.station,
                                a.port,
                                a.firmware,
                                JoinCapcodes(a.capcodes),
                                a.frequency,
                                a.sha256,
                                ResultName(a.result),
                                a.erased ? "1" : "0",
                                a.message,
                                std::to_string(a.seconds),
                                TakenColumn(a),
                                a.kept,
                                a.firmwareFile,
                                a.firmwareProgrammed ? "1" : "0",
                                a.verification,
                                a.templateSha256,
                                a.imageRuns,
                                HexBytes(a.templateImage)};
  // Every field after the first follows a tab, the first too when it is empty.
  std::string line;
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    if (i > 0) line += '\t';
    line += Escape(fields[i]);
  }
  return line + "\n";
}

// A line has 22 fields; one written before the image was kept has the first 19, and one written
// before the kept fields, the firmware step and the check were recorded the first 15.
constexpr std::size_t kFields = 22;
constexpr std::size_t kVersion3Fields = 19;
constexpr std::size_t kEarlierFields = 15;

Journal::Entry EntryOf(const std::vector<std::string>& f) {
  Journal::Entry entry{f[0], f[1], {}};
  Attempt& a = entry.attempt;
  a.id = std::stoll(f[2]);
  a.time = f[3];
  a.station = f[4];
  a.port = f[5];
  a.firmware = f[6];
  a.capcodes = SplitCapcodes(f[7]);
  a.frequency = f[8];
  a.sha256 = f[9];
  a.result = ParseResult(f[10]);
  a.erased = f[11] == "1";
  a.message = f[12];
  a.seconds = std::stod(f[13]);
  a.taken = ParseTaken(f[14]);
  if (f.size() >= kVersion3Fields) {
    a.kept = f[15];
    a.firmwareFile = f[16];
    a.firmwareProgrammed = f[17] == "1";
    a.verification = f[18];
  }
  if (f.size() >= kFields) {
    a.templateSha256 = f[19];
    a.imageRuns = f[20];
    a.templateImage = BytesOfHex(f[21]).value_or(std::vector<std::uint8_t>{});
  }
  return entry;
}

// An exclusive lock on the journal's lock file for as long as the object lives. The lock belongs
// to the file, not to a Journal: each reading or rewriting opens the lock file anew, so two runs on
// one computer, or two journals of one run on the same path, never rewrite the journal at once.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw RecordsError("journal " + path + ": " + what + " (" + std::strerror(errno) + ")");
}

[[noreturn]] void Refuse(const std::string& path, const std::string& what) {
  throw RecordsError("journal " + path + ": " + what);
}

// The lock file, like the journal, is never reached through a link someone else put there.
FileLock::FileLock(const std::string& path) {
  fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) Fail(path, "cannot lock it");
  // Without the lock another run could write over this one's boards: no lock, no rewriting.
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd_);
    errno = error;
    Fail(path, "cannot lock it");
  }
}

// Every missing folder on the way to `folder` is made 0700 (mkdir's mode, whatever the umask
// would have allowed).
void MakeFolders(const std::string& path, const std::filesystem::path& folder) {
  std::filesystem::path made;
  for (const auto& part : folder) {
    made /= part;
    struct stat info {};
    if (::stat(made.c_str(), &info) == 0) continue;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
      Fail(path, "cannot make the folder " + made.string());
  }
}

}  // namespace

std::string DefaultJournalPath() {
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    state = std::string(home) + "/.local/state";
  } else {
    throw RecordsError(
        "neither XDG_STATE_HOME nor HOME is set: there is no folder of this user's own to keep the "
        "journal of unrecorded results in");
  }
  return state + "/tuva/unrecorded.journal";
}

Journal::Journal(std::string path) : path_(std::move(path)), owner_(::geteuid()) {}

void Journal::OwnFolder() const {
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  const std::filesystem::path above = folder.parent_path();
  // The folder above the journal's (the user's state folder) may be a link the user made, and may
  // be written by the user's own group (a group of one, where the umask is 002), never by every
  // user: in /tmp another user could put a folder of theirs in place of ours.
  MakeFolders(path_, above);
  struct stat info {};
  if (::stat(above.c_str(), &info) != 0) Fail(path_, "cannot read the folder " + above.string());
  if (info.st_uid != owner_ && info.st_uid != 0)
    Refuse(path_, "the folder " + above.string() + " belongs to another user");
  if ((info.st_mode & S_IWOTH) != 0)
    Refuse(path_, "every user may write the folder " + above.string());
  // The journal's own folder: lstat, so a link put in its place is seen as a link.
  MakeFolders(path_, folder);
  if (::lstat(folder.c_str(), &info) != 0) Fail(path_, "cannot read the folder " + folder.string());
  if (S_ISLNK(info.st_mode))
    Refuse(path_, "the folder " + folder.string() + " is a link, not a folder of this user's own");
  if (!S_ISDIR(info.st_mode)) Refuse(path_, folder.string() + " is not a folder");
  if (info.st_uid != owner_)
    Refuse(path_, "the folder " + folder.string() + " belongs to another user");
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    Refuse(path_, "other users may write the folder " + folder.string() + " (chmod 700 it)");
}

void Journal::Keep(const Entry& entry) {
  OwnFolder();
  const FileLock file(path_);
  std::vector<Entry> entries = Read();
  std::erase_if(entries, [&](const Entry& e) {
    return e.identity == entry.identity && e.attempt.id == entry.attempt.id;
  });
  entries.push_back(entry);
  Write(entries);
}

void Journal::Drop(const std::string& identity, std::int64_t id) {
  OwnFolder();
  const FileLock file(path_);
  std::vector<Entry> entries = Read();
  const std::size_t before = entries.size();
  std::erase_if(entries,
                [&](const Entry& e) { return e.identity == identity && e.attempt.id == id; });
  if (entries.size() != before) Write(entries);
}

std::vector<Journal::Entry> Journal::Entries() {
  OwnFolder();
  const FileLock file(path_);
  return Read();
}

std::vector<Journal::Entry> Journal::Read() {
  std::vector<Entry> entries;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return entries;
    Fail(path_, errno == ELOOP ? "it is a link, not a file of its own" : "cannot read it");
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      Fail(path_, "cannot read it");
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::vector<std::string> fields = Fields(text.substr(start, end - start));
    start = end + 1;
    // A line cut short by a crash while it was written is skipped.
    if (fields.size() != kFields && fields.size() != kVersion3Fields &&
        fields.size() != kEarlierFields) {
      continue;
    }
    try {
      entries.push_back(EntryOf(fields));
    } catch (const std::exception&) {
      continue;
    }
  }
  return entries;
}

void Journal::Write(const std::vector<Entry>& entries) {
  if (entries.empty()) {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) Fail(path_, "cannot remove it");
    return;
  }
  // The new file is always a file of our own making: one a crash left behind (or anything else by
  // that name, unlink never follows a link) is removed, and the new one must not exist yet.
  const std::string temporary = path_ + ".new";
  if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) Fail(path_, "cannot write it");
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) Fail(path_, "cannot write it");
  std::string text;
  for (const Entry& entry : entries) text += Line(entry);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      ::close(fd);
      Fail(path_, "cannot write it");
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (::fsync(fd) != 0) {
    ::close(fd);
    Fail(path_, "cannot flush it to the disk");
  }
  ::close(fd);
  if (::rename(temporary.c_str(), path_.c_str()) != 0) Fail(path_, "cannot write it");
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(std::filesystem::path(path_).parent_path().c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

}  // namespace tuva::records
