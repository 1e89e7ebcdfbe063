// tuva-sim: a simulated Tuva board on a pseudo-terminal. Prints the device path to open on
// standard output and serves until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
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

}  // namespace

int main(int argc, char** argv) {
  using tuva::sim::SimContents;
  tuva::sim::SimOptions options;
  bool trace = false;
  std::size_t cutFrames = 0;
  std::size_t cutBytes = 0;

  CLI::App app{
      "A simulated Tuva board on a pseudo-terminal. Prints the device path to open and "
      "answers the programmer until interrupted.",
      "tuva-sim"};
  app.set_version_flag("--version", std::string("tuva-sim ") + TUVA_VERSION);
  bool erasedCopies = false;
  bool corruptCopy0 = false;
  bool copy1Only = false;
  auto* erased = app.add_flag("--erased", erasedCopies, "both configuration copies erased");
  auto* table =
      app.add_option("--table", options.tablePath, "a .tbl configuration file in both copies")
          ->check(CLI::ExistingFile);
  auto* corrupt =
      app.add_flag("--corrupt-copy0", corruptCopy0, "copy 0 fails its sum, copy 1 is good");
  auto* copy1 = app.add_flag("--copy1-only", copy1Only, "copy 0 erased, copy 1 good");
  erased->excludes(table)->excludes(corrupt)->excludes(copy1);
  table->excludes(corrupt)->excludes(copy1);
  corrupt->excludes(copy1);
  app.add_flag("--pocsag", options.pocsagFirmware, "the firmware identifies as POCSAG");
  app.add_flag("--erased-id", options.erasedIdentification,
               "the firmware's identification text is erased");
  app.add_option("--read-password", options.readPassword,
                 "a read password in both copies (at most 10 characters)");
  app.add_flag("--refuse-erase", options.refuseErase, "refuse every erase command");
  app.add_flag("--refuse-write", options.refuseWrite, "refuse every write command");
  app.add_flag("--silent", options.silent, "never answer");
  app.add_flag("--paced", options.paced, "take as long as a 19200-baud line, both ways");
  std::string corruptWrite;
  app.add_option("--corrupt-write", corruptWrite,
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
  auto* cutFramesOption =
      app.add_option("--cut-after-frames", cutFrames, "power cut after this many received frames");
  auto* cutBytesOption =
      app.add_option("--cut-after-bytes", cutBytes, "power cut after this many received bytes");
  app.add_option("--flash", options.flashFile,
                 "flash file: loaded at power-up when it exists, kept up to date");
  app.add_option("--boards", options.boards,
                 "serve this many boards one after another: each is pulled out after a complete "
                 "Write and the next plugged in (with --flash, board k keeps FILE.k)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--removed-ms", options.removedMs,
                 "how long the line stays empty between two boards (default 1000)")
      ->check(CLI::NonNegativeNumber);
  AddJigFaults(app, options);
  app.add_flag("--trace", trace, "log every frame on standard error");
  int listenPort = -1;
  app.add_option("--listen", listenPort,
                 "also serve the board on this TCP port as a raw socket (0: a free port); the "
                 "URL is printed on a second line")
      ->check(CLI::Range(0, 65535))
      ->type_name("PORT");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version end here with 0; every usage error exits with 2.
    return app.exit(error) == 0 ? 0 : 2;
  }

  if (erasedCopies) options.contents = SimContents::Erased;
  if (*table) options.contents = SimContents::Table;
  if (corruptCopy0) options.contents = SimContents::Copy0Corrupted;
  if (copy1Only) options.contents = SimContents::Copy1Only;
  if (*cutFramesOption) options.cutAfterFrames = cutFrames;
  if (*cutBytesOption) options.cutAfterBytes = cutBytes;
  if (!corruptWrite.empty()) options.corruptWrite = ParseCorruptWrite(corruptWrite);
  if (trace) {
    options.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }

  // The signals are taken by sigwait below, so they are blocked before the server's thread
  // starts and inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  tuva::sim::SimServer server(options);
  try {
    server.Start();
  } catch (const std::exception& error) {
    std::cerr << "tuva-sim: " << error.what() << "\n";
    return 2;
  }
  std::cout << server.SlavePath() << std::endl;
  std::unique_ptr<tuva::sim::SimListener> listener;
  if (listenPort >= 0) {
    listener = std::make_unique<tuva::sim::SimListener>(server.SlavePath(),
                                                        static_cast<std::uint16_t>(listenPort));
    try {
      listener->Start();
    } catch (const std::exception& error) {
      std::cerr << "tuva-sim: " << error.what() << "\n";
      return 2;
    }
    std::cout << "socket://127.0.0.1:" << listener->Port() << std::endl;
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
