// A simulated board on a pseudo-terminal for the length of a test. ScopedSimBoard works anywhere;
// SimBoardFixture is the GoogleTest fixture built on it. Give BoardPath() to the port (or as the
// device list of FindBoard) and look at the board through board().
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "sim/SimServer.h"

namespace tuva::testing {

class ScopedSimBoard {
 public:
  explicit ScopedSimBoard(sim::SimOptions options = {}) : server_(std::move(options)) {
    server_.Start();
  }
  // The device path to give the port (the pseudo-terminal's slave side).
  const std::string& path() const { return server_.SlavePath(); }
  sim::SimServer& server() { return server_; }
  sim::SimServer* operator->() { return &server_; }

 private:
  sim::SimServer server_;
};

class SimBoardFixture : public ::testing::Test {
 protected:
  // Powers up a board with these options (a running one is stopped first).
  void StartBoard(sim::SimOptions options = {}) {
    board_.reset();
    board_ = std::make_unique<ScopedSimBoard>(std::move(options));
  }
  // Stops the board, as a power-down: its flash file is written.
  void StopBoard() { board_.reset(); }

  const std::string& BoardPath() const { return board_->path(); }
  sim::SimServer& board() { return board_->server(); }

  void TearDown() override { board_.reset(); }

 private:
  std::unique_ptr<ScopedSimBoard> board_;
};

}  // namespace tuva::testing
