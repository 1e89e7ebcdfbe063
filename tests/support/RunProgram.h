// Runs a program to its end as a technician would from a shell without a terminal: standard input
// is /dev/null, standard output and standard error are captured through files in `folder`, and
// `environment` ("NAME=value") is added to (or replaces in) the test's own environment. Standard
// output goes to `outputTo` instead (a full disk: /dev/full) when one is given.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace tuva::testing {

struct ProgramRun {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

inline ProgramRun RunProgram(const std::string& program, std::vector<std::string> arguments,
                             const std::string& folder,
                             const std::vector<std::string>& environment = {},
                             const std::string& outputTo = {}) {
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (auto& word : arguments) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment;
  for (char** v = environ; *v; ++v) {
    const std::string variable = *v;
    bool replaced = false;
    for (const std::string& added : environment) {
      replaced |= variable.compare(0, added.find('=') + 1, added, 0, added.find('=') + 1) == 0;
    }
    if (!replaced) variables.push_back(variable);
  }
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  const std::string out = outputTo.empty() ? folder + "/program-stdout.txt" : outputTo;
  const std::string err = folder + "/program-stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  ProgramRun run;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  if (outputTo.empty()) run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

}  // namespace tuva::testing
