// What the series tests share: a folder of each test's own, tuvactl runs started in the background
// while a test works the jigs (each with both output streams in a file of its own, killed if still
// running when the test ends), and the configurations the jigs' boards were left holding.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "image/ConfigImage.h"
#include "link/Protocol.h"
#include "sim/SimServer.h"

extern char** environ;

namespace tuva::testing {

// A new folder under the system's temporary folder: PREFIX-PID-TEST, the test running now.
inline std::filesystem::path TestFolder(const std::string& prefix) {
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 (prefix + "-" + std::to_string(::getpid()) + "-" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(folder);
  return folder;
}

struct Station {
  pid_t pid = 0;
  std::string out;

  // The exit status; a run that does not end within the limit is killed and fails the test.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "tuvactl did not end in time";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Both output streams, as far as written.
  std::string Output() const {
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

class Stations {
 public:
  // `outputPath` names the file of the n-th run's output.
  explicit Stations(std::function<std::string(std::size_t)> outputPath)
      : outputPath_(std::move(outputPath)) {}
  ~Stations() {
    for (auto& run : runs_) {
      if (run->pid <= 0) continue;
      ::kill(run->pid, SIGKILL);
      ::waitpid(run->pid, nullptr, 0);
    }
  }
  Stations(const Stations&) = delete;
  Stations& operator=(const Stations&) = delete;

  // Starts `program` with `words`, standard input /dev/null.
  Station& Spawn(const char* program, std::vector<std::string> words) {
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    runs_.push_back(std::make_unique<Station>());
    Station& run = *runs_.back();
    run.out = outputPath_(runs_.size());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    EXPECT_EQ(posix_spawn(&run.pid, program, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return run;
  }

 private:
  std::function<std::string(std::size_t)> outputPath_;
  std::vector<std::unique_ptr<Station>> runs_;
};

// Copy 0 of every board the jigs served whose sums check, board by board, jig by jig.
inline std::vector<ConfigImage> WrittenImages(
    const std::vector<std::unique_ptr<sim::SimServer>>& jigs) {
  std::vector<ConfigImage> images;
  for (const auto& jig : jigs) {
    for (const auto& flash : jig->BoardFlashes()) {
      const auto copy0 = flash.Read(kConfigBase, kImageSize);
      if (!PassesSumCheck(copy0)) continue;
      images.emplace_back();
      images.back().Assign(std::span<const std::uint8_t, kImageSize>(copy0.data(), kImageSize));
    }
  }
  return images;
}

}  // namespace tuva::testing
