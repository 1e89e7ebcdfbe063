// tuva-sim: a simulated Tuva board on a pseudo-terminal. Prints the device path to open on
// standard output and serves until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/SimListener.h"
#include "sim/SimServer.h"

namespace {

std::optional<std::size_t> Number(std::string_view text) {
  std::size_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
  return value;
}

// "K:INDEX": write command K (from 1) stores payload byte INDEX (from 0, within a 64 KB payload).
std::optional<tuva::sim::CorruptWrite> ParseCorruptWrite(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return {};
  const auto command = Number(text.substr(0, colon));
  const auto index = Number(text.substr(colon + 1));
  if (!command || *command == 0 || !index || *index > 0xFFFF) return {};
  return tuva::sim::CorruptWrite{*command, *index};
}

// The faults a real jig shows: a contact that misses probes, a board slow to wake, odd firmware.
void AddJigFaults(CLI::App& app, tuva::sim::SimOptions& options) {
  app.add_option("--flicker", options.flickerEvery,
                 "a flickering contact: one probe in N goes unanswered")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--flicker-run", options.flickerRun,
                 "with --flicker, this many probes in a row go unanswered (default 1)")
      ->check(CLI::PositiveNumber);
  app.add_option("--deaf-after-probes", options.deafAfterProbes,
                 "after each of its first K answered probes, the board leaves the next command "
                 "unanswered")
      ->type_name("K")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--identification", options.identification,
                 "the firmware's twelve identification bytes (default \"FLEX  V02.41\")")
      ->type_name("TEXT");
}

// The command line's values, before they become the boards' options.
struct CommandLine {
  tuva::sim::SimOptions options;
  bool erasedCopies = false;
  bool corruptCopy0 = false;
  bool copy1Only = false;
  std::string corruptWrite;
  std::optional<std::size_t> cutAfterFrames;
  std::optional<std::size_t> cutAfterBytes;
  bool trace = false;
  int listenPort = -1;
};

// What the board holds when it is plugged in: its configuration copies and its firmware.
void AddContents(CLI::App& app, CommandLine& line) {
  tuva::sim::SimOptions& options = line.options;
  auto* erased = app.add_flag("--erased", line.erasedCopies, "both configuration copies erased");
  auto* table =
      app.add_option("--table", options.tablePath, "a .tbl configuration file in both copies")
          ->check(CLI::ExistingFile);
  auto* corrupt =
      app.add_flag("--corrupt-copy0", line.corruptCopy0, "copy 0 fails its sum, copy 1 is good");
  auto* copy1 = app.add_flag("--copy1-only", line.copy1Only, "copy 0 erased, copy 1 good");
  erased->excludes(table)->excludes(corrupt)->excludes(copy1);
  table->excludes(corrupt)->excludes(copy1);
  corrupt->excludes(copy1);
  app.add_flag("--pocsag", options.pocsagFirmware, "the firmware identifies as POCSAG");
  app.add_flag("--erased-id", options.erasedIdentification,
               "the firmware's identification text is erased");
  app.add_option("--read-password", options.readPassword,
                 "a read password in both copies (at most 10 characters)");
}

// How the board answers on its line, and the faults it has there.
void AddAnswers(CLI::App& app, CommandLine& line) {
  tuva::sim::SimOptions& options = line.options;
  app.add_flag("--refuse-erase", options.refuseErase, "refuse every erase command");
  app.add_flag("--refuse-write", options.refuseWrite, "refuse every write command");
  app.add_flag("--silent", options.silent, "never answer");
  app.add_flag("--paced", options.paced, "take as long as a 19200-baud line, both ways");
  app.add_flag("--garble-first-reply", options.garbleFirstReply,
               "send the rest of a reply cut off earlier before the first data reply");
  app.add_option("--corrupt-write", line.corruptWrite,
                 "write command K (counting from 1) stores its payload byte INDEX (counting from "
                 "0) inverted")
      ->type_name("K:INDEX")
      ->check(
          [](const std::string& text) {
            return ParseCorruptWrite(text)
                       ? std::string()
                       : "expected K:INDEX, K from 1 and INDEX from 0 to 65535, as in 2:2044";
          },
          "");
  app.add_option("--cut-after-frames", line.cutAfterFrames,
                 "power cut after this many received frames");
  app.add_option("--cut-after-bytes", line.cutAfterBytes,
                 "power cut after this many received bytes");
}

// The boards served one after another, and how they are served.
void AddServing(CLI::App& app, CommandLine& line) {
  tuva::sim::SimOptions& options = line.options;
  app.add_option("--flash", options.flashFile,
                 "flash file: loaded at power-up when it exists, kept up to date");
  app.add_option("--boards", options.boards,
                 "serve this many boards one after another: each is pulled out after a complete "
                 "Write and the next plugged in (with --flash, board k keeps FILE.k)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--removed-ms", options.removedMs,
                 "how long the line stays empty between two boards (default 1000)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--trace", line.trace, "log every frame on standard error");
  app.add_option("--listen", line.listenPort,
                 "also serve the board on this TCP port as a raw socket (0: a free port); the "
                 "URL is printed on a second line")
      ->check(CLI::Range(0, 65535))
      ->type_name("PORT");
}

// Reads the command line; the exit status when it ends here: --help and --version with 0, every
// usage error with 2.
std::optional<int> ReadCommandLine(int argc, char** argv, CommandLine& line) {
  CLI::App app{
      "A simulated Tuva board on a pseudo-terminal. Prints the device path to open and "
      "answers the programmer until interrupted.",
      "tuva-sim"};
  app.set_version_flag("--version", std::string("tuva-sim ") + TUVA_VERSION);
  AddContents(app, line);
  AddAnswers(app, line);
  AddServing(app, line);
  AddJigFaults(app, line.options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  return {};
}

// The boards' options from the command line's values.
tuva::sim::SimOptions BoardOptions(const CommandLine& line) {
  using tuva::sim::SimContents;
  tuva::sim::SimOptions options = line.options;
  if (line.erasedCopies) options.contents = SimContents::Erased;
  if (!options.tablePath.empty()) options.contents = SimContents::Table;
  if (line.corruptCopy0) options.contents = SimContents::Copy0Corrupted;
  if (line.copy1Only) options.contents = SimContents::Copy1Only;
  if (line.cutAfterFrames) options.cutAfterFrames = *line.cutAfterFrames;
  if (line.cutAfterBytes) options.cutAfterBytes = *line.cutAfterBytes;
  if (!line.corruptWrite.empty()) options.corruptWrite = ParseCorruptWrite(line.corruptWrite);
  if (line.trace) {
    options.log = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  }
  return options;
}

// Serves the boards until SIGINT or SIGTERM; the exit status.
int Serve(const tuva::sim::SimOptions& options, int listenPort) {
  // The signals are taken by sigwait below, so they are blocked before the server's thread
  // starts and inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  tuva::sim::SimServer server(options);
  std::unique_ptr<tuva::sim::SimListener> listener;
  try {
    server.Start();
    std::cout << server.SlavePath() << std::endl;
    if (listenPort >= 0) {
      listener = std::make_unique<tuva::sim::SimListener>(server.SlavePath(),
                                                          static_cast<std::uint16_t>(listenPort));
      listener->Start();
      std::cout << "socket://127.0.0.1:" << listener->Port() << std::endl;
    }
  } catch (const std::exception& error) {
    std::cerr << "tuva-sim: " << error.what() << "\n";
    return 2;
  }

  int received = 0;
  sigwait(&signals, &received);
  listener.reset();
  try {
    server.Stop();
  } catch (const std::exception& error) {
    std::cerr << "tuva-sim: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  if (const auto ended = ReadCommandLine(argc, argv, line)) return *ended;
  return Serve(BoardOptions(line), line.listenPort);
}
