// The serial port on real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "link/CommPort.h"
#include "support/PtyPair.h"

namespace tuva {
namespace {

using testing::PtyPair;

std::uint8_t CodeOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const ECommError& error) {
    return error.Code;
  }
  return 0;
}

// Whether the terminal still carries an exclusive mark that keeps every other user out. Root may
// open it anyway, so the mark itself is asked for.
bool Reserved(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;
  int exclusive = 0;
  const bool marked = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
  ::close(fd);
  return marked;
}

TEST(CommPort, OpenOfAMissingOrEmptyNameRaises8AndStaysClosed) {
  TCommPort port;
  port.SetPortName("/dev/tuva-no-such-port");
  try {
    port.Open();
    FAIL() << "opened a missing port";
  } catch (const ECommError& error) {
    EXPECT_EQ(error.Code, ECommError::kOpen);
    EXPECT_EQ(error.SystemError, static_cast<std::uint32_t>(ENOENT));
    EXPECT_NE(error.Describe().find("No such file or directory"), std::string::npos);
  }
  // Whoever catches the standard exceptions catches it too, with the same description.
  try {
    port.Open();
    FAIL() << "opened a missing port";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "Serial port error 8: the port cannot be opened (No such file or directory)");
  }
  EXPECT_FALSE(port.IsOpen());

  port.SetPortName("");
  EXPECT_EQ(CodeOf([&] { port.Open(); }), ECommError::kOpen);
  EXPECT_FALSE(port.IsOpen());
}

TEST(CommPort, EveryOperationOnAClosedPortRaises7) {
  TCommPort port;
  const std::uint8_t byte = 0x55;
  EXPECT_EQ(CodeOf([&] { port.Write(&byte, 1); }), ECommError::kPortNotOpen);
  EXPECT_EQ(CodeOf([&] { port.Write(nullptr, 0); }), ECommError::kPortNotOpen);
  EXPECT_EQ(CodeOf([&] { port.ReadByte(); }), ECommError::kPortNotOpen);
  EXPECT_EQ(CodeOf([&] { port.InQueue(); }), ECommError::kPortNotOpen);
  EXPECT_EQ(CodeOf([&] { port.Purge(); }), ECommError::kPortNotOpen);
  EXPECT_FALSE(port.WaitForInput(10));
}

TEST(CommPort, OpenPortKeepsItsNameAndOpenCloseAreIdempotent) {
  PtyPair line;
  TCommPort port;
  port.Close();  // closing a closed port does nothing
  port.SetPortName(line.path());
  port.Open();
  port.Open();  // opening an open port does nothing
  EXPECT_TRUE(port.IsOpen());

  EXPECT_EQ(CodeOf([&] { port.SetPortName("/dev/ttyS9"); }), ECommError::kPortIsOpen);
  EXPECT_EQ(port.PortName(), line.path());

  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  port.Open();  // the port can be opened again after closing, exclusivity released
  EXPECT_TRUE(port.IsOpen());
}

// A port held by one opener refuses a second at once, whoever asks (root too: the advisory lock
// does not yield to root as the exclusive mark does), and is free again once closed.
TEST(CommPort, AHeldPortRefusesASecondOpenerUntilClosed) {
  PtyPair line;
  TCommPort first;
  first.Reconfigure(19200, line.path(), 1);
  TCommPort second;
  second.SetPortName(line.path());
  try {
    second.Open();
    ADD_FAILURE() << "the second open succeeded";
  } catch (const ECommError& error) {
    EXPECT_EQ(error.Code, ECommError::kOpen);
    EXPECT_EQ(error.SystemError, static_cast<std::uint32_t>(EBUSY));
    EXPECT_EQ(error.Detail, line.path() + " is in use by another program");
  }
  EXPECT_TRUE(first.IsOpen());
  first.Close();
  second.Open();
  EXPECT_TRUE(second.IsOpen());
}

TEST(CommPort, BytesTravelBothWaysAndPurgeEmptiesTheInput) {
  PtyPair line;
  TCommPort port;
  port.Reconfigure(19200, line.path(), 1);

  port.Write(nullptr, 0);
  const std::uint8_t none[] = {0x11};
  port.Write(none, 0);
  EXPECT_TRUE(line.Drain(50).empty());

  std::vector<std::uint8_t> block(5000);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  port.Write(block.data(), static_cast<std::uint32_t>(block.size()));
  EXPECT_EQ(line.Drain(), block);

  line.Send({0x06, 0x03, 0x1B});
  ASSERT_TRUE(port.WaitForInput(1000));
  EXPECT_EQ(port.InQueue(), 3u);
  EXPECT_EQ(port.ReadByte(), 0x06);
  EXPECT_EQ(port.InQueue(), 2u);
  port.Purge();
  EXPECT_EQ(port.InQueue(), 0u);
  EXPECT_FALSE(port.WaitForInput(20));
}

TEST(CommPort, ReconfigurePutsTheModesLineSettingsOnTheLine) {
  PtyPair line;
  TCommPort port;

  port.Reconfigure(9600, line.path(), 0);
  EXPECT_EQ(port.ByteSize(), 7);
  EXPECT_EQ(port.Parity(), 2);
  EXPECT_EQ(port.StopBits(), 2);
  // A pseudo-terminal always runs eight bits without parity; the stop bits and rate show.
  termios settings = line.settings();
  EXPECT_TRUE(settings.c_cflag & CSTOPB);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));

  port.Reconfigure(19200, line.path(), 1);
  EXPECT_TRUE(port.IsOpen());
  settings = line.settings();
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_FALSE(settings.c_iflag & (IXON | IXOFF));
  EXPECT_FALSE(settings.c_lflag & (ICANON | ECHO));
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B19200));

  port.Reconfigure(38400, line.path(), 7);
  settings = line.settings();
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(settings.c_cflag & PARENB);
  EXPECT_TRUE(settings.c_cflag & CSTOPB);

  // A reopening that fails leaves the port closed, with the new settings kept for next time.
  EXPECT_EQ(CodeOf([&] { port.Reconfigure(19200, "/dev/tuva-gone", 1); }), ECommError::kOpen);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.PortName(), "/dev/tuva-gone");
  EXPECT_EQ(port.BaudRate(), 19200u);
}

TEST(CommPort, ARateTheLineCannotTakeIsRefusedAndTheOldRateKept) {
  PtyPair line;
  TCommPort port;
  port.Reconfigure(19200, line.path(), 1);
  EXPECT_EQ(CodeOf([&] { port.SetBaudRate(12345); }), ECommError::kSetBaudRate);
  EXPECT_EQ(port.BaudRate(), 19200u);
  EXPECT_TRUE(port.IsOpen());

  port.Close();
  port.SetBaudRate(12345);  // stored while closed; refused when applied
  EXPECT_EQ(CodeOf([&] { port.Open(); }), ECommError::kSetState);
  EXPECT_FALSE(port.IsOpen());
  // The failed open must not leave the terminal reserved for a port object that is gone.
  EXPECT_FALSE(Reserved(line.path()));
}

}  // namespace
}  // namespace tuva
