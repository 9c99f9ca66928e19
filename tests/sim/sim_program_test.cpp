// quarn-sim on a pseudo-terminal, seen from the host's side with nothing but the slave path and
// bytes: a hand-made identification request is answered; at the HART speed the same bytes are not.
// Every test also checks that the program ends cleanly on SIGTERM with nothing alarming on stderr
// (a sanitizer report fails the test).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "sim_line_io.h"
#include "test_paths.h"

namespace {

class SimProgram : public ::testing::Test {
 protected:
  void start(std::vector<std::string> args) {
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    char errPath[] = "/tmp/quarn_sim_stderr_XXXXXX";
    const int err = mkstemp(errPath);
    ASSERT_GE(err, 0);
    errPath_ = errPath;
    std::string program = quarn::test::path("QUARN_SIM_PROGRAM");
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(in[0], STDIN_FILENO);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      close(in[0]);
      close(in[1]);
      std::vector<char*> argv{program.data()};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    close(err);
    stdout_ = out[0];
    stdin_ = in[1];
    // First line: "calibrator <slave path>".
    const std::string line = readLine(3000);
    ASSERT_EQ(line.rfind("calibrator ", 0), 0u) << line;
    slavePath_ = line.substr(11);
  }

  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "quarn-sim did not end cleanly on SIGTERM (status " << status << ")";
    }
    if (stdout_ >= 0) close(stdout_);
    if (stdin_ >= 0) close(stdin_);
    if (!errPath_.empty()) {
      std::ifstream f(errPath_, std::ios::binary);
      const std::string err((std::istreambuf_iterator<char>(f)), {});
      for (const char* sign : {"Sanitizer", "runtime error:"})
        EXPECT_EQ(err.find(sign), std::string::npos) << "quarn-sim's stderr:\n" << err;
      std::remove(errPath_.c_str());
    }
  }

  void command(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  std::string readLine(int timeoutMs) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(stdout_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  void openSlave(speed_t speed) {
    fd_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd_, 0) << slavePath_;
    setSpeed(speed);
  }

  void setSpeed(speed_t speed) {
    termios t{};
    ASSERT_EQ(tcgetattr(fd_, &t), 0);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD | CSTOPB;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ASSERT_EQ(tcsetattr(fd_, TCSANOW, &t), 0);
    usleep(50 * 1000);  // the simulator looks at the line settings every 10 ms
    tcflush(fd_, TCIOFLUSH);
  }

  // Writes the bytes and collects what comes back within `ms`.
  std::string exchange(const std::string& bytes, int ms) {
    EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      if (!got.empty() && got.back() == '\r') break;
    }
    return got;
  }

  pid_t pid_ = -1;
  std::string errPath_;
  int stdout_ = -1;
  int stdin_ = -1;
  int fd_ = -1;
  std::string slavePath_;
};

TEST_F(SimProgram, AnswersAHandMadeIdentificationRequest) {
  ASSERT_NO_FATAL_FAILURE(start({"--model", "quarn", "--seed", "3"}));
  ASSERT_NO_FATAL_FAILURE(openSlave(B9600));
  // 0xFF ":1;0;" and the decimal CRC-16 of "1;0;", then CR; the answer "!1;105;" carries the CRC of
  // "1;105;" (36793).
  const auto t0 = std::chrono::steady_clock::now();
  const std::string answer = exchange("\xFF:1;0;50730\r", 1500);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(answer, "!1;105;36793\r");
  EXPECT_GE(ms, 20);  // not before the turnaround
}

// --log: each frame on its own line with the time, the line and who sent it; bytes that are not
// printable (the request's 0xFF, the CR) written so that the line stays one line of text.
TEST_F(SimProgram, TheLogHoldsEachFrameOfBothSides) {
  char logPath[] = "/tmp/quarn_sim_log_XXXXXX";
  const int logFd = mkstemp(logPath);
  ASSERT_GE(logFd, 0);
  close(logFd);
  ASSERT_NO_FATAL_FAILURE(start({"--model", "quarn", "--seed", "3", "--log", logPath}));
  ASSERT_NO_FATAL_FAILURE(openSlave(B9600));
  ASSERT_EQ(exchange("\xFF:1;0;50730\r", 1500), "!1;105;36793\r");
  ASSERT_EQ(exchange("\xFF:1;0;", 300), "");  // a frame cut short: no CR, no answer
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  std::ifstream f(logPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  std::remove(logPath);
  ASSERT_EQ(lines.size(), 3u);
  const char* const expected[] = {"calibrator host: \\xFF:1;0;50730\\r", "calibrator sim:  !1;105;36793\\r",
                                  "calibrator host: \\xFF:1;0;"};
  double lastTime = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const size_t space = lines[i].find_first_not_of(' ');
    const double t = std::stod(lines[i].substr(space));
    EXPECT_GE(t, lastTime);
    lastTime = t;
    EXPECT_EQ(lines[i].substr(lines[i].find(' ', space) + 1), expected[i]);
  }
}

TEST_F(SimProgram, BrenkModelAndTheHartSpeed) {
  ASSERT_NO_FATAL_FAILURE(start({"--model", "brenk"}));
  ASSERT_NO_FATAL_FAILURE(openSlave(B1200));
  EXPECT_EQ(exchange("\xFF:1;0;50730\r", 600), "");  // at the HART speed a UAIL request reaches no one
  ASSERT_NO_FATAL_FAILURE(setSpeed(B9600));
  EXPECT_EQ(exchange("\xFF:1;0;50730\r", 1500), "!1;84;16002\r");  // 16002: CRC-16 of "1;84;"
}

TEST_F(SimProgram, OperatorCommandsOnStdinMoveThePressure) {
  ASSERT_NO_FATAL_FAILURE(
      start({"--model", "quarn", "--stdin-control", "--set", "input_tau_s=0.05", "--set", "noise_kpa=0"}));
  ASSERT_NO_FATAL_FAILURE(openSlave(B9600));
  ASSERT_NO_FATAL_FAILURE(command("target 123.5"));
  ASSERT_NO_FATAL_FAILURE(command("no such command"));  // reported on stderr, ignored
  // The pressure settles with a time constant of 50 ms: ask until it is there, for five seconds at most.
  const std::vector<uint8_t> rq = simtest::request("1;1;");
  std::optional<simtest::Answer> a;
  double pressure = NAN;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  do {
    a = simtest::parseAnswer(exchange(std::string(rq.begin(), rq.end()), 1500));
    ASSERT_TRUE(a);
    ASSERT_EQ(a->fields.size(), 5u);
    pressure = simtest::hexFloat(a->fields[0]);
  } while (std::fabs(pressure - 123.5) > 0.01 && std::chrono::steady_clock::now() < deadline);
  EXPECT_NEAR(pressure, 123.5, 0.01);
  EXPECT_EQ(std::stoi(a->fields[4]) & 4, 4);  // the operator opened the input valve
}

}  // namespace
