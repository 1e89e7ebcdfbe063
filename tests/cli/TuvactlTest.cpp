// tuvactl as a technician runs it: the real executable, real files in a temporary folder, and a
// simulated board on a pseudo-terminal given with --port. Standard input is not a terminal.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "records/RecordStore.h"
#include "sim/SimListener.h"
#include "support/RunProgram.h"
#include "support/SimBoardFixture.h"

extern char** environ;

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// A TCP port on the loopback that nobody listens on (bound and let go again).
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return up;
}

// Debian's ser2net on 127.0.0.1 serving `terminal` with RFC 2217, for as long as the object lives.
class Ser2net {
 public:
  Ser2net(const fs::path& dir, const std::string& terminal) : port_(FreePort()) {
    const fs::path config = dir / "ser2net.yaml";
    std::ofstream(config) << "%YAML 1.1\n---\nconnection: &bench\n  accepter: telnet(rfc2217),tcp,"
                          << "127.0.0.1," << port_ << "\n  connector: serialdev," << terminal
                          << ",19200n81,local\n  options:\n    kickolduser: true\n";
    std::vector<std::string> words = {
        SER2NET, "-n", "-u", "-c", config.string(), "-P", (dir / "ser2net.pid").string()};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (dir / "ser2net.log").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn(&pid_, SER2NET, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && !Accepts(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~Ser2net() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

 private:
  std::uint16_t port_;
  pid_t pid_ = 0;
};

class TuvactlTest : public SimBoardFixture {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tuva-cli-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SimBoardFixture::TearDown();
    fs::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs tuvactl with `arguments`; stdin is /dev/null, stdout and stderr are captured (stdout
  // goes to `outputTo` instead when one is given).
  Outcome Tuvactl(const std::vector<std::string>& arguments, const std::string& outputTo = {}) {
    const ProgramRun run = RunProgram(TUVACTL, arguments, dir_.string(), {}, outputTo);
    return {run.status, run.out, run.err};
  }

  // An S2 file of `code` at 0xE0000 made by srec_cat, with the identification text at 0xEFFE0
  // unless `identified` is false.
  std::string FirmwareRecords(const std::string& name, const std::string& code,
                              bool identified = true) {
    const fs::path binary = dir_ / "code.bin";
    std::ofstream(binary, std::ios::binary) << code;
    std::ostringstream command;
    command << SREC_CAT << ' ' << binary << " -binary -offset 0xE0000";
    if (identified) {
      std::ofstream(dir_ / "id.bin", std::ios::binary) << "FLEX  V02.50";
      command << ' ' << dir_ / "id.bin"
              << " -binary -offset 0xEFFE0";
    }
    command << " -o " << dir_ / name << " -motorola -address-length=3";
    EXPECT_EQ(std::system(command.str().c_str()), 0) << command.str();
    return Path(name);
  }

  // The same against the board, on its pseudo-terminal.
  Outcome OnBoard(std::vector<std::string> arguments) {
    arguments.push_back("--port");
    arguments.push_back(BoardPath());
    return Tuvactl(arguments);
  }

  std::vector<std::uint8_t> BoardData() { return board().ReadFlash(0x88000, kImageDataSize); }
  static std::vector<std::uint8_t> FileData(const std::string& path) {
    const std::string bytes = Slurp(path);
    return {bytes.begin(), bytes.begin() + std::min(bytes.size(), kImageDataSize)};
  }
  static void Poke(const std::string& path, std::size_t offset, std::uint8_t value) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(value));
  }

  static ConfigImage ReadImage(const std::string& path) {
    ConfigImage image;
    EXPECT_TRUE(OpenConfigFile(path, image).ok());
    return image;
  }

  fs::path dir_;
};

TEST_F(TuvactlTest, NewDumpAndDiffWorkOnFilesAlone) {
  const std::string a = Path("a.tbl");
  const std::string b = Path("b.tbl");
  ASSERT_EQ(Tuvactl({"new", a}).status, 0);
  const auto startup = ConfigImage::StartupImage();
  EXPECT_EQ(Slurp(a), std::string(startup.bytes().begin(), startup.bytes().end()));

  const Outcome dump = Tuvactl({"dump", a});
  EXPECT_EQ(dump.status, 0);
  EXPECT_EQ(static_cast<std::size_t>(std::count(dump.out.begin(), dump.out.end(), '\n')),
            ConfigFields().size());
  EXPECT_NE(dump.out.find("serial.baud"), std::string::npos);

  const Outcome json = Tuvactl({"dump", a, "--json"});
  ASSERT_EQ(json.status, 0);
  const auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed["fields"].size(), ConfigFields().size());
  EXPECT_EQ(parsed["fields"][1]["name"], ConfigFields()[1].name);
  EXPECT_EQ(parsed["fields"][1]["value"], ConfigFields()[1].Text(startup));

  fs::copy_file(a, b);
  const Outcome same = Tuvactl({"diff", a, b});
  EXPECT_EQ(same.status, 0);
  EXPECT_TRUE(same.out.empty());

  Poke(b, 3, 0x19);  // the serial output's baud rate: 9600 -> 19200
  const Outcome differ = Tuvactl({"diff", a, b});
  EXPECT_EQ(differ.status, 1);
  EXPECT_EQ(std::count(differ.out.begin(), differ.out.end(), '\n'), 1) << differ.out;
  for (const char* part : {"0x003", "serial.baud", "9600", "19200"}) {
    EXPECT_NE(differ.out.find(part), std::string::npos) << part << " in " << differ.out;
  }
  const auto rows = nlohmann::json::parse(Tuvactl({"--json", "diff", a, b}).out)["differences"];
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["offset"], 3);
  EXPECT_EQ(rows[0]["b"]["value"], "19200");
}

TEST_F(TuvactlTest, BadArgumentsAreUsageErrors) {
  const std::string good = Path("good.tbl");
  ASSERT_EQ(Tuvactl({"new", good, "--quiet"}).status, 0);  // options after the command word
  const std::string wrongTag = Path("wrong.tbl");
  fs::copy_file(good, wrongTag);
  Poke(wrongTag, 0x84B, 'f');

  EXPECT_EQ(Tuvactl({}).status, 2);
  EXPECT_EQ(Tuvactl({"frobnicate"}).status, 2);
  EXPECT_EQ(Tuvactl({"write"}).status, 2);
  EXPECT_EQ(Tuvactl({"new", good, "--no-such-option"}).status, 2);

  const Outcome missing = Tuvactl({"write", Path("missing.tbl")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("missing.tbl: no such file"), std::string::npos) << missing.err;

  const Outcome refused = Tuvactl({"verify", wrongTag});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("wrong.tbl: not a configuration file"), std::string::npos)
      << refused.err;

  EXPECT_EQ(Tuvactl({"read", Path("no-folder/out.tbl")}).status, 2);
  EXPECT_EQ(Tuvactl({"fw-verify", Path("missing.s28")}).status, 2);
  const Outcome noDevice = Tuvactl({"probe", "--port", Path("ttyNothing")});
  EXPECT_EQ(noDevice.status, 2);
  EXPECT_NE(noDevice.err.find("no such device"), std::string::npos) << noDevice.err;
  for (const std::string& notSerial : {std::string("/dev/null"), dir_.string(), good}) {
    const Outcome outcome = Tuvactl({"probe", "--port", notSerial});
    EXPECT_EQ(outcome.status, 2) << notSerial;
    EXPECT_EQ(outcome.err, "tuvactl: " + notSerial + " is not a serial port\n");
  }
  const Outcome misspelt = Tuvactl({"--quiet", "verfy", good});
  EXPECT_EQ(misspelt.status, 2);
  EXPECT_NE(misspelt.err.find("tuvactl: unknown command 'verfy' (did you mean verify?)"),
            std::string::npos)
      << misspelt.err;
  EXPECT_EQ(Tuvactl({"--help"}).status, 0);
}

// An option never takes another option for its value, whatever the option and the command, and a
// port name is checked before anything is opened: a refused command touches no file and no board.
TEST_F(TuvactlTest, AnOptionIsNeverAnotherOptionsValue) {
  StartBoard();
  const std::string tbl = Path("template.tbl");
  ASSERT_EQ(Tuvactl({"new", tbl}).status, 0);
  const std::string records = Path("m3.sqlite");
  const std::vector<std::string> series = {"series", tbl, "--capcode", "1=1500000", "--count", "1"};
  auto with = [](std::vector<std::string> words, const std::vector<std::string>& more) {
    words.insert(words.end(), more.begin(), more.end());
    return words;
  };
  const struct {
    std::vector<std::string> words;
    std::string err;
  } cases[] = {
      {with(series, {"--port", "--records", records, "--new-records", "--port", BoardPath()}),
       "tuvactl: --port needs a value (got the option --records)\n"},
      {with(series, {"--port", BoardPath(), "--records", "--new-records"}),
       "tuvactl: --records needs a value (got the option --new-records)\n"},
      {with(series, {"--records=--new-records", "--port", BoardPath()}),
       "tuvactl: --records needs a value (got the option --new-records)\n"},
      {{"records", "--release", "--force"},
       "tuvactl: --release needs a value (got the option --force)\n"},
      {{"export", tbl, "-o", "--json"}, "tuvactl: -o needs a value (got the option --json)\n"},
      {{"export", tbl, "-o"}, "tuvactl: --output: 1 required OUT missing\n"},
      {{"read", Path("out.tbl"), "--password", "--secret"},
       "tuvactl: --password needs a value, not a word that begins with --\n"},
      {with(series, {"--port", "-q", "--port", BoardPath(), "--records", records, "--new-records"}),
       "tuvactl: -q: a port name cannot begin with -\n"},
      {{"probe", "--port", "-q"}, "tuvactl: -q: a port name cannot begin with -\n"},
      {{"probe", "--port", BoardPath() + "\t"}, "tuvactl: a port name holds a control character\n"},
  };
  const std::string before = Slurp(tbl);
  for (const auto& c : cases) {
    const ProgramRun run =
        RunProgram(TUVACTL, c.words, dir_.string(), {"XDG_DATA_HOME=" + Path("data")});
    EXPECT_EQ(run.status, 2) << c.err;
    EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
  }
  EXPECT_EQ(Slurp(tbl), before);
  EXPECT_FALSE(fs::exists(records));
  EXPECT_FALSE(fs::exists(Path("out.tbl")));
  EXPECT_FALSE(fs::exists(Path("data")));
  EXPECT_TRUE(board().Requests().empty());
}

TEST_F(TuvactlTest, ReadWriteAndVerifyABoard) {
  StartBoard();
  const std::string file = Path("board.tbl");
  const Outcome read = OnBoard({"read", file});
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_NE(read.err.find("Read Sucess!"), std::string::npos);
  EXPECT_TRUE(read.out.empty());
  EXPECT_EQ(FileData(file), BoardData());
  // Success is told of the file, so a file that cannot be saved never hears of it.
  const Outcome unsaved = OnBoard({"read", "/dev/full"});
  EXPECT_EQ(unsaved.status, 1);
  EXPECT_EQ(unsaved.err.find("Read Sucess!"), std::string::npos) << unsaved.err;
  EXPECT_NE(unsaved.err.find("tuvactl: /dev/full: "), std::string::npos) << unsaved.err;

  Poke(file, 6, 77);
  const Outcome write = OnBoard({"write", file});
  ASSERT_EQ(write.status, 0) << write.err;
  EXPECT_NE(write.err.find("Transmit Success!"), std::string::npos);
  EXPECT_EQ(BoardData(), FileData(file));
  EXPECT_EQ(OnBoard({"verify", file}).status, 0);

  Poke(file, 6, 78);
  const Outcome verify = OnBoard({"verify", file});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.err.find("Verify Error! Htag = "), std::string::npos) << verify.err;
}

TEST_F(TuvactlTest, AWriteTheBoardStoresWronglyFails) {
  StartBoard({.corruptWrite = sim::CorruptWrite{2, 2044}});
  const std::string file = Path("new.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  const Outcome write = OnBoard({"write", file});
  EXPECT_EQ(write.status, 1);
  EXPECT_NE(write.err.find("Verify Error! Htag = "), std::string::npos) << write.err;
  EXPECT_EQ(write.err.find("Success"), std::string::npos) << write.err;
}

TEST_F(TuvactlTest, QuestionsNeedYesWithoutATerminal) {
  StartBoard({.contents = sim::SimContents::Erased});
  const std::string file = Path("new.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  const Outcome refused = OnBoard({"write", file});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("The program data is wrong ! Are you sure to overwrite ?"),
            std::string::npos);
  EXPECT_NE(refused.err.find("--yes"), std::string::npos);
  EXPECT_EQ(BoardData(), std::vector<std::uint8_t>(kImageDataSize, 0xFF));

  EXPECT_EQ(OnBoard({"write", file, "--yes"}).status, 0);
  EXPECT_EQ(BoardData(), FileData(file));
}

TEST_F(TuvactlTest, ReadPasswordComesFromTheCommandLine) {
  StartBoard({.readPassword = "12.34"});
  const std::string file = Path("locked.tbl");
  const Outcome asked = OnBoard({"read", file});
  EXPECT_EQ(asked.status, 1);
  EXPECT_NE(asked.err.find("--password"), std::string::npos) << asked.err;
  EXPECT_NE(asked.err.find("Read Password Error !"), std::string::npos);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(OnBoard({"read", file, "--password", "12.3"}).status, 1);
  EXPECT_EQ(OnBoard({"--password", "12.34", "read", file}).status, 0);
  EXPECT_EQ(FileData(file), BoardData());
}

TEST_F(TuvactlTest, ProbeFirmwareAndTrace) {
  StartBoard();
  const Outcome probe = OnBoard({"probe", "--trace"});
  EXPECT_EQ(probe.status, 0);
  EXPECT_EQ(probe.out, BoardPath() + "\n");
  // The first frame of a run, on the wire, then the board's acknowledgement.
  EXPECT_NE(probe.err.find("-> 27: 02 81 0A 00 18 E7 54 61 72 6E 68 6F 6C 6C 6F 77 00 00 00 FF "
                           "FF FF 00 00 B3 08 03"),
            std::string::npos)
      << probe.err;
  EXPECT_NE(probe.err.find("<- 4: "), std::string::npos);

  const Outcome firmware = OnBoard({"firmware"});
  EXPECT_EQ(firmware.status, 0);
  EXPECT_EQ(firmware.out, "Model : FLEX    Version = 2.41\n");
  EXPECT_EQ(Tuvactl({"ports"}).status, 0);
}

// A record as a tool writes it: type, byte count, `body` (address and data), checksum.
std::string Record(char type, std::vector<std::uint8_t> body) {
  body.insert(body.begin(), static_cast<std::uint8_t>(body.size() + 1));
  unsigned sum = 0;
  for (const std::uint8_t byte : body) sum += byte;
  body.push_back(static_cast<std::uint8_t>(~sum));
  std::string text = {'S', type};
  for (const std::uint8_t byte : body) {
    text += "0123456789ABCDEF"[byte >> 4];
    text += "0123456789ABCDEF"[byte & 15];
  }
  return text + "\n";
}

// Only an S2 file for the program memory that carries its identification reaches the board: any
// other file is refused with its reason and line before a single frame is sent.
TEST_F(TuvactlTest, FirmwareFilesAreCheckedBeforeTheBoardIsTouched) {
  StartBoard();
  const std::string code = std::string(3000, '\x5A') + std::string(100, '\x03');
  const std::string records = FirmwareRecords("code.s28", code);
  const std::string text = Slurp(records);
  const std::string header = text.substr(0, text.find('\n') + 1);
  std::string damaged = text;
  damaged[header.size() + 10] ^= 1;  // the first data digit of line 2
  // The tool ends the file with its S5 record counting the n data records of lines 2 to n + 1.
  const std::string counted = text.substr(0, text.rfind("\nS5") + 1);
  ASSERT_EQ(text.substr(counted.size(), 2), "S5");
  ASSERT_EQ(text.back(), '\n');
  const auto n = static_cast<std::size_t>(std::count(counted.begin(), counted.end(), '\n')) - 1;
  std::string lost = text;  // line 3 lost in transit
  const std::size_t third = lost.find('\n', header.size()) + 1;
  lost.erase(third, lost.find('\n', third) + 1 - third);
  const auto countOf = [](std::size_t records) {
    return Record('5',
                  {static_cast<std::uint8_t>(records >> 8), static_cast<std::uint8_t>(records)});
  };
  const auto missing = [](std::size_t line, std::size_t records) {
    return "line " + std::to_string(line) + ": the S5 record counts " + std::to_string(records) +
           " data records, the file has " + std::to_string(records - 1) + " (a record is missing)";
  };
  ASSERT_EQ(Tuvactl({"new", Path("board.tbl")}).status, 0);
  const struct {
    std::string name;
    std::string text;
    std::string reason;
  } refused[] = {
      {"board.tbl", Slurp(Path("board.tbl")), "line 1: not an S-record"},
      {"empty.s28", "", "no S2 record holds data for the firmware window"},
      {"code.s19", header + Record('1', {0x10, 0x00, 1, 2, 3}), "line 2: an S1 record"},
      {"code.s37", header + Record('3', {0x00, 0x0E, 0x00, 0x00, 1, 2, 3}), "line 2: an S3 record"},
      {"damaged.s28", damaged, "line 2: bad checksum"},
      {"outside.s28",
       header + Record('2', {0x0D, 0xFF, 0xFC, 1, 2, 3, 4, 5, 6, 7, 8}) +
           text.substr(header.size()),
       "line 2: data at 0xDFFFC-0xE0003 lies outside the firmware window"},
      {"beyond.s28",
       header + Record('2', {0x0E, 0xFF, 0xFC, 1, 2, 3, 4, 5, 6, 7, 8}) +
           text.substr(header.size()),
       "line 2: data at 0xEFFFC-0xF0003 lies outside the firmware window"},
      {"anonymous.s28", Slurp(FirmwareRecords("anonymous.s28", code, false)),
       "no identification text at 0xEFFE0"},
      {"uncounted.s28", counted, "the file has no S5 or S6 record counting its data records"},
      {"overcounted.s28", counted + countOf(n + 1), missing(n + 2, n + 1)},
      {"lost.s28", lost, missing(n + 1, n)},
      {"recounted.s28", text + countOf(n), "line " + std::to_string(n + 3) + ": a second count"},
  };
  for (const auto& file : refused) {
    std::ofstream(Path(file.name), std::ios::binary | std::ios::trunc) << file.text;
    for (const char* command : {"fw-program", "fw-verify"}) {
      const Outcome outcome = OnBoard({command, Path(file.name), "--yes"});
      EXPECT_EQ(outcome.status, 2) << file.name;
      EXPECT_NE(outcome.err.find(file.name + ": " + file.reason), std::string::npos) << outcome.err;
    }
  }
  EXPECT_TRUE(board().Requests().empty());

  // The erase is confirmed first: without a terminal to ask on, only --yes gives the answer.
  const Outcome unasked = OnBoard({"fw-program", records});
  EXPECT_EQ(unasked.status, 1);
  EXPECT_NE(unasked.err.find("Erase the board's firmware and program "), std::string::npos);
  EXPECT_NE(unasked.err.find("--yes"), std::string::npos);
  EXPECT_TRUE(board().Requests().empty());

  const Outcome before = OnBoard({"fw-verify", records});
  EXPECT_EQ(before.status, 1);
  EXPECT_NE(before.err.find("Verify Error! Htag = "), std::string::npos) << before.err;
  const Outcome program = OnBoard({"fw-program", records, "--yes"});
  EXPECT_EQ(program.status, 0) << program.err;
  EXPECT_NE(program.err.find("Transmit Success!"), std::string::npos);
  EXPECT_EQ(board().ReadFlash(0xE0000, code.size()),
            std::vector<std::uint8_t>(code.begin(), code.end()));
  EXPECT_EQ(OnBoard({"fw-verify", records}).status, 0);
}

// Killed in the middle of a transfer, tuvactl leaves the line free for the next program: a
// pseudo-terminal would otherwise keep the exclusive use it took.
TEST_F(TuvactlTest, AKilledTransferLeavesTheLineFree) {
  StartBoard({.paced = true});
  std::vector<std::string> words = {TUVACTL,     "--quiet", "--port",
                                    BoardPath(), "read",    Path("out.tbl")};
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TUVACTL, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // The configuration read takes seconds at 19200 baud; stop it once it has begun.
  for (int i = 0; i < 500 && board().Requests().size() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(board().Requests().size(), 2u);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

  const int fd = ::open(BoardPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int exclusive = 1;
  ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
  ::close(fd);
  EXPECT_EQ(exclusive, 0);
}

// A file's fields by name: set changes all or nothing and keeps what lies beyond the image, as
// Save does; get prints the values back in the order asked.
TEST_F(TuvactlTest, SetAndGetFieldsByName) {
  const std::string file = Path("fields.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  std::ofstream(file, std::ios::binary | std::ios::app) << "kept tail";
  const std::string before = Slurp(file);

  ConfigImage refusing = ConfigImage::StartupImage();
  const std::string message =
      SetFieldText(refusing, *FindField("capcode.2.address"), "12x").message;
  ASSERT_FALSE(message.empty());
  const struct {
    std::vector<std::string> arguments;
    std::string error;
  } refusals[] = {
      {{"serial.baud=19200", "capcode.2.address=12x"}, "capcode.2.address: " + message + "\n"},
      {{"serial.baud=19200", "capcode.3.adress=1"}, "unknown field capcode.3.adress"},
      {{"serial.baud"}, "serial.baud: expected NAME=VALUE"},
      // The command line's frequency is in MHz, and so are the limits it is told.
      {{"pll.n=4620125"},
       "pll.n: Frequency setting error( 400.0000 < = Frequency < = 499.0000 MHz )"},
      // Values the editor takes without storing them, and a name given twice.
      {{"capcode.1.address=2031615"}, "capcode.1.address: Capcode 2031615 has no form"},
      {{"capcode.1.address="}, "capcode.1.address: a value is needed"},
      {{"serial.baud=9600", "serial.baud=4800"}, "serial.baud: given twice"},
  };
  for (const auto& refusal : refusals) {
    std::vector<std::string> arguments = {"set", file};
    arguments.insert(arguments.end(), refusal.arguments.begin(), refusal.arguments.end());
    const Outcome refused = Tuvactl(arguments);
    EXPECT_EQ(refused.status, 2) << refusal.error;
    EXPECT_NE(refused.err.find(refusal.error), std::string::npos) << refused.err;
    EXPECT_EQ(Slurp(file), before);
  }
  // Suggestions follow the dotted names: a group spelt whole, another case, a misspelt last part.
  for (const auto& [name, first] :
       {std::pair{"capcode.3.adress", "capcode.3.address"}, std::pair{"capcode.1", "capcode.1."},
        std::pair{"SERIAL.BAUD", "serial.baud"}}) {
    const std::string err = Tuvactl({"get", file, name}).err;
    EXPECT_NE(err.find(std::string("(did you mean ") + first), std::string::npos) << err;
  }

  // Through a link, the file it names is replaced and keeps its permissions.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string link = Path("link.tbl");
  fs::create_symlink(file, link);
  const Outcome set = Tuvactl({"set", link, "capcode.2.address=1500000", "serial.baud=19200"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string after = Slurp(file);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(kSumOffset), before.substr(kSumOffset));  // trailer as it stood, tail
  EXPECT_EQ(Tuvactl({"get", file, "serial.baud", "capcode.2.address"}).out, "19200\n1500000\n");
}

// export writes every settable field; apply takes it back onto the start-up image, and bad JSON
// is pointed at by line and column without touching the file.
TEST_F(TuvactlTest, ExportAndApplyAsJson) {
  const std::string file = Path("source.tbl");
  const std::string target = Path("target.tbl");
  const std::string changes = Path("changes.json");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  ASSERT_EQ(Tuvactl({"new", target}).status, 0);
  ASSERT_EQ(Tuvactl({"set", file, "capcode.5.address=1234567", "serial.baud=4800"}).status, 0);

  const Outcome exported = Tuvactl({"export", file, "-o", changes});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const auto object = nlohmann::ordered_json::parse(Slurp(changes));
  EXPECT_EQ(object.size(), SettableFields().size());
  EXPECT_EQ(Tuvactl({"export", file}).out, Slurp(changes));
  const Outcome applied = Tuvactl({"apply", target, changes});
  ASSERT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(FileData(target), FileData(file));

  const std::string before = Slurp(target);
  const struct {
    const char* json;
    const char* error;
  } bad[] = {
      {"{\n  \"serial.baud\": 9600\n}", "changes.json:2:18: "},
      {"{\"serial.baud\": \"9600\",}", "changes.json:1:24: "},
      {"[]", "changes.json:1:1: "},
      {"{\"serial.bawd\": \"9600\"}", "unknown field serial.bawd"},
      {"{\"serial.baud\": \"9600\", \"serial.baud\": \"4800\"}", "serial.baud is given twice"},
      {"{\"capcode.address_mode\": \"Long\", \"capcode.1.address\": \"2050000\"}",
       "Capcode 2050000 has no form the board can store in Long address mode !"},
  };
  for (const auto& input : bad) {
    std::ofstream(changes, std::ios::binary | std::ios::trunc) << input.json;
    const Outcome refused = Tuvactl({"apply", target, changes});
    EXPECT_EQ(refused.status, 2) << input.json;
    EXPECT_NE(refused.err.find(input.error), std::string::npos) << refused.err;
    EXPECT_EQ(Slurp(target), before);
  }
}

// Each program tells its version, and a usage error of either exits with 2.
TEST_F(TuvactlTest, VersionsAndUsageErrors) {
  for (const auto& [program, name] :
       {std::pair{TUVACTL, "tuvactl "}, std::pair{TUVA_SIM, "tuva-sim "}}) {
    const ProgramRun version = RunProgram(program, {"--version"}, dir_.string());
    EXPECT_EQ(version.status, 0) << name;
    EXPECT_TRUE(version.out.starts_with(name)) << version.out;
  }
  const struct {
    const char* program;
    std::vector<std::string> arguments;
  } usage[] = {
      {TUVACTL, {"--no-such-option"}},   {TUVACTL, {"dump"}},
      {TUVA_SIM, {"--no-such-option"}},  {TUVA_SIM, {"--corrupt-write", "x"}},
      {TUVA_SIM, {"--listen", "70000"}}, {TUVA_SIM, {"--boards", "-1"}},
  };
  for (const auto& run : usage) {
    EXPECT_EQ(RunProgram(run.program, run.arguments, dir_.string()).status, 2)
        << run.program << " " << run.arguments[0];
  }
}

// Data cut short by a full disk is a failure, never a document that looks complete.
TEST_F(TuvactlTest, OutputThatCannotBeWrittenFails) {
  const std::string file = Path("full.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  records::OpenRecordStore(Path("records.sqlite"), records::OpenMode::Create);
  std::vector<std::vector<std::string>> commands = {
      {"export", file},
      {"dump", file},
      {"get", file, "serial.baud"},
      {"records", "--records", Path("records.sqlite"), "--csv"},
  };
  // A machine without serial ports prints no table, only a message.
  if (!Tuvactl({"ports"}).out.empty()) commands.push_back({"ports"});
  for (const auto& words : commands) {
    const Outcome outcome = Tuvactl(words, "/dev/full");
    EXPECT_EQ(outcome.status, 1) << words[0];
    EXPECT_EQ(outcome.err, "tuvactl: write error: No space left on device\n") << words[0];
  }
  const Outcome named = Tuvactl({"export", file, "-o", "/dev/full"});
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.err, "tuvactl: /dev/full: write error: No space left on device\n");
}

// Replacing a file whose tail cannot be read leaves it as it was, instead of cutting the tail off;
// a replacement keeps the owner, where the process may give it.
TEST_F(TuvactlTest, AReplacementNeverLosesTheOriginal) {
  const std::string file = Path("tail.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  std::ofstream(file, std::ios::binary | std::ios::app) << std::string(8000, 'T');
  const std::string before = Slurp(file);
  std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
  if (const char* options = std::getenv("ASAN_OPTIONS")) asan.append(":").append(options);
  const ProgramRun broken =
      RunProgram(TUVACTL, {"set", file, "serial.baud=4800"}, dir_.string(),
                 {"LD_PRELOAD=" FAILING_READS, "TUVA_FAIL_READS_FROM=6000", asan});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("tuvactl: cannot read " + file + ": Input/output error"),
            std::string::npos)
      << broken.err;
  EXPECT_EQ(Slurp(file), before);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".tail.tbl")) << entry.path();
  }

  if (::geteuid() != 0) return;  // only root may give a file to another user
  ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
  ASSERT_EQ(Tuvactl({"set", file, "serial.baud=4800"}).status, 0);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4321u);
  EXPECT_EQ(info.st_gid, 4322u);
}

// new keeps an existing file unless told; "-" is standard output for export and standard input
// for apply.
TEST_F(TuvactlTest, FileConventions) {
  const std::string file = Path("kept.tbl");
  ASSERT_EQ(Tuvactl({"new", file}).status, 0);
  ASSERT_EQ(Tuvactl({"set", file, "serial.baud=4800"}).status, 0);
  const std::string before = Slurp(file);
  const Outcome again = Tuvactl({"new", file});
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
  EXPECT_EQ(Slurp(file), before);

  const Outcome exported = Tuvactl({"export", file, "-o", "-"});
  EXPECT_EQ(exported.out, Tuvactl({"export", file}).out);
  ASSERT_EQ(Tuvactl({"new", file, "--force"}).status, 0);
  EXPECT_NE(Slurp(file), before);
  std::ofstream(Path("changes.json")) << exported.out;
  std::ostringstream shell;
  shell << TUVACTL << " apply " << file << " - < " << Path("changes.json");
  ASSERT_EQ(std::system(shell.str().c_str()), 0);
  EXPECT_EQ(Tuvactl({"get", file, "serial.baud"}).out, "4800\n");
}

// compare reads the board without saving anything and lists the fields the file changes.
TEST_F(TuvactlTest, CompareListsTheFieldsTheBoardLacks) {
  StartBoard();
  const std::string file = Path("board.tbl");
  ASSERT_EQ(OnBoard({"read", file}).status, 0);
  const Outcome equal = OnBoard({"compare", file});
  EXPECT_EQ(equal.status, 0) << equal.err;
  EXPECT_TRUE(equal.out.empty());

  ASSERT_EQ(Tuvactl({"set", file, "capcode.3.address=1500000"}).status, 0);
  const Outcome differ = OnBoard({"compare", file});
  EXPECT_EQ(differ.status, 1) << differ.err;
  EXPECT_NE(differ.out.find("capcode.3.address"), std::string::npos) << differ.out;
  const auto rows = nlohmann::json::parse(OnBoard({"compare", file, "--json"}).out)["differences"];
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    const std::string name = row["name"];
    EXPECT_TRUE(name == "capcode.3.address" || name.starts_with("capcode.group_map")) << name;
    EXPECT_EQ(row["file"]["value"], FindField(name)->Text(ReadImage(file)));
  }
  EXPECT_EQ(std::count(differ.out.begin(), differ.out.end(), '\n'), static_cast<long>(rows.size()));

  ASSERT_EQ(OnBoard({"write", file}).status, 0);
  EXPECT_EQ(OnBoard({"compare", file}).status, 0);
  EXPECT_EQ(Tuvactl({"compare", file, "--port", Path("ttyNothing")}).status, 2);
}

// Through a serial server the board sees exactly the frames it sees through the local device:
// RFC 2217 through Debian's ser2net, and a raw socket through the simulated board's own listener.
TEST_F(TuvactlTest, NetworkPortsCarryTheSameFramesAsTheDevice) {
  const std::string records =
      FirmwareRecords("code.s28", std::string(2000, '\xFF') + std::string(50, '\x03'));
  const std::string table = Path("board.tbl");

  // The same session against a fresh board on `port`: every frame, both ways.
  auto session = [&](const std::string& port) {
    std::vector<int> statuses;
    for (const std::vector<std::string>& words : {std::vector<std::string>{"firmware"},
                                                  {"read", table},
                                                  {"write", table},
                                                  {"verify", table},
                                                  {"fw-verify", records}}) {
      std::vector<std::string> arguments = words;
      arguments.insert(arguments.end(), {"--quiet", "--port", port});
      const Outcome outcome = Tuvactl(arguments);
      statuses.push_back(outcome.status);
      if (words[0] == "read") Poke(table, 6, 0xFF);  // a byte the wire must carry doubled
    }
    std::vector<std::string> lines;
    for (const auto& frame : board().Frames()) lines.push_back(frame.Line());
    return std::make_pair(statuses, lines);
  };

  StartBoard();
  const auto local = session(BoardPath());
  EXPECT_EQ(local.first, (std::vector<int>{0, 0, 0, 0, 1}));  // the firmware differs from the file
  ASSERT_GT(local.second.size(), 20u);

  StartBoard();
  {
    const Ser2net server(dir_, BoardPath());
    EXPECT_EQ(session(server.Url()), local);
  }
  StartBoard();
  sim::SimListener listener(BoardPath(), 0);
  listener.Start();
  EXPECT_EQ(session("socket://127.0.0.1:" + std::to_string(listener.Port())), local);
}

TEST_F(TuvactlTest, NetworkPortFailuresAreNamed) {
  for (const char* bad : {"rfc2217://127.0.0.1", "socket://127.0.0.1:0", "socket://host:65536",
                          "telnet://127.0.0.1:23"}) {
    const Outcome outcome = Tuvactl({"probe", "--port", bad});
    EXPECT_EQ(outcome.status, 2) << bad;
    EXPECT_NE(outcome.err.find(bad), std::string::npos) << outcome.err;
  }

  const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
  const Outcome refused = Tuvactl({"probe", "--port", nobody});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("The target board is not found !"), std::string::npos);
  EXPECT_LT(refused.err.find(nobody + ": cannot connect to 127.0.0.1:"),
            refused.err.find("The target board is not found !"))
      << refused.err;

  // The server goes away in the middle of a read: the operation ends as on a pulled adapter.
  StartBoard({.paced = true});
  auto listener = std::make_unique<sim::SimListener>(BoardPath(), 0);
  listener->Start();
  const std::string url = "socket://127.0.0.1:" + std::to_string(listener->Port());
  std::thread cut([&] {
    for (int i = 0; i < 500 && board().Requests().size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    listener.reset();
  });
  const Outcome lost = Tuvactl({"read", Path("out.tbl"), "--quiet", "--port", url});
  cut.join();
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("The connection to the board on " + url + " failed"), std::string::npos)
      << lost.err;
  EXPECT_FALSE(fs::exists(Path("out.tbl")));
}

}  // namespace
}  // namespace tuva::testing
