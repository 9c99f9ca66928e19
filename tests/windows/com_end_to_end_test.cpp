// quarn.dll under Wine through a COM port: the Windows test host (quarn-winhost.exe) against
// quarn-sim, whose pseudo-terminal the Wine prefix links as a COM port (dosdevices/comN), and the
// failures of a bad port beside quarn-cli's on Linux; and the COM-port table itself, driven step by
// step through quarn-comdriver.exe while this program plays the device on the other side of the
// terminal. This program runs on Linux; the cross build's ctest starts it with the paths in its
// environment: QUARN_WINE_RUN (scripts/wine-run.sh), QUARN_WINEPREFIX, QUARN_WINHOST
// (quarn-winhost.exe), QUARN_COMDRIVER (quarn-comdriver.exe), QUARN_SIM (quarn-sim), QUARN_CLI
// (quarn-cli).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string readWhole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

std::string tempPath(const char* stem) {
  std::string tmpl = std::string("/tmp/") + stem + "_XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd >= 0) close(fd);
  return tmpl;
}

// A child process: stdout read line by line through a pipe, stderr into a file, stdin a pipe.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) : errFile_(tempPath("quarn_win_err")) {
    // Close-on-exec: another child started meanwhile must not keep these ends open.
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      const int err = open(errFile_.c_str(), O_WRONLY | O_TRUNC);
      dup2(err, STDERR_FILENO);
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      close(err);
      setpgid(0, 0);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }
  ~Child() {
    if (pid_ > 0 && status_ < -1) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (in_ >= 0) close(in_);
    unlink(errFile_.c_str());
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of stdout within the time; false at its end or when none came.
  bool readLine(std::string& line, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t nl = buffered_.find('\n');
      if (nl != std::string::npos) {
        line = buffered_.substr(0, nl);
        buffered_.erase(0, nl + 1);
        return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || out_ < 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) {
        close(out_);
        out_ = -1;
        if (buffered_.empty()) return false;
        buffered_ += '\n';
        continue;
      }
      buffered_.append(buf, static_cast<size_t>(n));
    }
  }
  void send(const std::string& text) {
    if (in_ >= 0 && write(in_, text.data(), text.size()) < 0) ADD_FAILURE() << "stdin of the child";
  }
  void terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  // Exit status (-1 killed or not ended within the time); every line left on stdout into `rest`.
  int wait(int timeoutMs, std::vector<std::string>* rest = nullptr) {
    std::string line;
    while (readLine(line, timeoutMs))
      if (rest) rest->push_back(line);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (status_ < -1) {
      int st = 0;
      const pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      usleep(10000);
    }
    return status_;
  }
  std::string err() const { return readWhole(errFile_); }

 private:
  std::string errFile_;
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  int status_ = -2;
  std::string buffered_;
};

// The line after "program: " on stderr (the reason a host gives for its exit).
std::string reason(const std::string& err, const std::string& program) {
  const std::string mark = program + ": ";
  const size_t at = err.rfind(mark);
  if (at == std::string::npos) return "";
  const size_t end = err.find('\n', at);
  std::string text =
      err.substr(at + mark.size(), end == std::string::npos ? std::string::npos : end - at - mark.size());
  if (!text.empty() && text.back() == '\r') text.pop_back();  // a Windows program's text-mode line end
  return text;
}

// Without the capability that lets root open a terminal another program holds exclusively, as any
// user's program runs (CI runs as root).
const std::vector<std::string> kAsUser = {"setpriv", "--inh-caps=-sys_admin", "--bounding-set=-sys_admin"};

class WindowsCom : public ::testing::Test {
 public:
  void SetUp() override {
    for (const char* name :
         {"QUARN_WINE_RUN", "QUARN_WINEPREFIX", "QUARN_WINHOST", "QUARN_COMDRIVER", "QUARN_SIM", "QUARN_CLI"})
      ASSERT_FALSE(env(name).empty()) << name << " is not set (the cross build's ctest sets it)";
    prefix_ = env("QUARN_WINEPREFIX");
  }

  // quarn-winhost.exe under Wine; `asUser`: the Wine server too runs without root's capability
  // (a server still running with it is ended first).
  std::vector<std::string> winhost(const std::vector<std::string>& args, bool asUser = false) {
    std::vector<std::string> cmd;
    if (asUser) {
      endWineServer();
      cmd = kAsUser;
    }
    cmd.insert(cmd.end(), {env("QUARN_WINE_RUN"), prefix_, env("QUARN_WINHOST")});
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
  }
  std::vector<std::string> comDriver() { return {env("QUARN_WINE_RUN"), prefix_, env("QUARN_COMDRIVER")}; }
  std::vector<std::string> cli(const std::vector<std::string>& args, bool asUser = false) {
    std::vector<std::string> cmd = asUser ? kAsUser : std::vector<std::string>{};
    cmd.push_back(env("QUARN_CLI"));
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
  }
  void endWineServer() {
    const std::string cmd = "WINEPREFIX='" + prefix_ + "' wineserver -k >/dev/null 2>&1; WINEPREFIX='" +
                            prefix_ + "' wineserver -w >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == -1) ADD_FAILURE() << cmd;
  }
  // COM port n of the prefix.
  std::string comLink(int n) const { return prefix_ + "/dosdevices/com" + std::to_string(n); }
  // Where a simulator's terminal is linked: COM port n for Wine, a link of its own for Linux.
  std::string simLink(int n, bool onWindows) const {
    return onWindows ? comLink(n)
                     : "/tmp/quarn_win_linux_" + std::to_string(n) + "_" + std::to_string(getpid());
  }

  // quarn-sim serving the calibrator on a terminal linked at `link`; its terminal's path.
  std::string startSim(Child*& sim, const std::string& link, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> cmd{env("QUARN_SIM"), "--link", link};
    cmd.insert(cmd.end(), extra.begin(), extra.end());
    sim = new Child(cmd);
    std::string line;
    if (!sim->readLine(line, 5000) || line.rfind("calibrator ", 0) != 0) {
      ADD_FAILURE() << "quarn-sim did not start: " << line << sim->err();
      return "";
    }
    return line.substr(std::strlen("calibrator "));
  }

 private:
  std::string prefix_;
};

std::vector<nlohmann::json> objects(const std::vector<std::string>& lines) {
  std::vector<nlohmann::json> out;
  for (const auto& l : lines)
    if (!l.empty()) out.push_back(nlohmann::json::parse(l, nullptr, false));
  return out;
}

// The pressures the simulator served: field 0 of each answer to a measuring request (":1;1;"),
// eight hexadecimal digits of the float, least significant byte first.
std::vector<float> servedPressures(const std::string& log) {
  std::vector<float> out;
  std::istringstream lines(log);
  bool measuring = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" host: ") != std::string::npos) {
      measuring = line.find("\\xFF:1;1;") != std::string::npos;
      continue;
    }
    const size_t at = line.find(" sim:  !1;");
    if (!measuring || at == std::string::npos) continue;
    measuring = false;
    const std::string hex = line.substr(at + std::strlen(" sim:  !1;"), 8);
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
      bits = (bits << 8) | static_cast<uint32_t>(std::stoul(hex.substr(i * 2, 2), nullptr, 16));
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    out.push_back(v);
  }
  return out;
}

TEST_F(WindowsCom, TheHostIdentifiesTheCalibratorAndReadsFiveCyclesTheSimulatorServed) {
  const int kPort = 7;
  const std::string log = tempPath("quarn_win_sim_log");
  Child* simChild = nullptr;
  const std::string tty = startSim(simChild, comLink(kPort), {"--log", log});
  std::unique_ptr<Child> sim(simChild);
  ASSERT_FALSE(tty.empty());

  Child probe(winhost({"--port", "COM7", "--timeout", "20", "probe"}));
  std::vector<std::string> probeLines;
  ASSERT_EQ(probe.wait(60000, &probeLines), 0) << probe.err();
  const auto probed = objects(probeLines);
  ASSERT_EQ(probed.size(), 1u);
  EXPECT_EQ(probed[0]["linked"], 1);
  EXPECT_EQ(probed[0]["devTypeId"], 105);
  EXPECT_EQ(probed[0]["portNo"], kPort);
  EXPECT_FALSE(probed[0]["calInfo"]["serial"].get<std::string>().empty());

  Child measure(winhost({"--port", "7", "--timeout", "20", "measure", "--cycles", "5"}));
  std::string first;
  ASSERT_TRUE(measure.readLine(first, 60000)) << measure.err();
  // The line as the DLL set it through the COM port: what Wine made of its device control block.
  {
    const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB) << "two stop bits";
    EXPECT_FALSE(t.c_cflag & CRTSCTS) << "no hardware flow control";
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF)) << "no software flow control";
  }
  std::vector<std::string> lines{first};
  ASSERT_EQ(measure.wait(60000, &lines), 0) << measure.err();
  const auto cycles = objects(lines);
  ASSERT_EQ(cycles.size(), 5u);

  sim->terminate();
  EXPECT_EQ(sim->wait(5000), 0) << sim->err();
  for (const char* sign : {"Sanitizer", "runtime error:"})
    EXPECT_EQ(sim->err().find(sign), std::string::npos) << "quarn-sim's stderr:\n" << sim->err();
  const std::string exchange = readWhole(log);
  unlink(log.c_str());
  EXPECT_NE(exchange.find("calibrator host: \\xFF:1;0;"), std::string::npos) << "identification request";
  EXPECT_NE(exchange.find("calibrator sim:  !1;105;"), std::string::npos) << "identification answer";
  // Every cycle shows a pressure the simulator served, in the order served.
  const std::vector<float> served = servedPressures(exchange);
  size_t at = 0;
  for (const auto& c : cycles) {
    ASSERT_TRUE(c["pRef"].is_number()) << c;
    const float shown = c["pRef"].get<float>();
    while (at < served.size() && served[at] != shown) ++at;
    EXPECT_LT(at, served.size()) << "pRef " << shown << " was not served (in this order)";
    std::cout << "cycle pRef " << c["pRef"] << " kPa: served as measuring answer " << at + 1 << " of "
              << served.size() << "\n";
  }
  // For the record: the identification and every measuring request with its answer.
  std::cout << "The exchange the simulator logged (identification, measuring requests and answers):\n";
  std::istringstream text(exchange);
  bool answerNext = false;
  int index = 0;
  for (std::string line; std::getline(text, line); ++index) {
    const bool measuring = line.find("host: \\xFF:1;1;") != std::string::npos;
    if (index < 2 || measuring || answerNext) std::cout << line << "\n";
    answerNext = measuring;
  }
}

// A COM port that does not exist, one another program holds, one whose device goes away during the
// measuring cycles: quarn-winhost under Wine ends with the status and the text quarn-cli gives on
// Linux for the same port. COM12 and COM19 are opened by their device-namespace names ("\\.\COM12").
TEST_F(WindowsCom, ABadPortEndsAsOnLinux) {
  struct Outcome {
    int status = -1;
    std::string reason;
  };
  struct Case {
    const char* what;
    int status;
    const char* text;  // the reason, up to where both hosts say the same (the cycle counts may differ)
    // Runs one host at the port (COM number under Wine, the terminal's path on Linux).
    std::function<Outcome(WindowsCom&, bool onWindows)> run;
  };
  auto runHost = [](WindowsCom& t, bool onWindows, const std::vector<std::string>& args, bool asUser) {
    Child host(onWindows ? t.winhost(args, asUser) : t.cli(args, asUser));
    Outcome o;
    o.status = host.wait(60000);
    o.reason = reason(host.err(), onWindows ? "quarn-winhost" : "quarn-cli");
    return o;
  };
  const Case cases[] = {
      {"no such port", 2, "no calibrator found within 2 s",
       [&](WindowsCom& t, bool onWindows) {
         return runHost(t, onWindows, {"--port", "250", "--timeout", "2", "probe"}, false);
       }},
      {"the port is held by another program", 2, "no calibrator found within 2 s",
       [&](WindowsCom& t, bool onWindows) {
         Child* simChild = nullptr;
         const std::string tty = t.startSim(simChild, t.simLink(12, onWindows));
         std::unique_ptr<Child> sim(simChild);
         // The other program: it holds the terminal open, exclusively.
         const int held = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
         EXPECT_GE(held, 0);
         EXPECT_EQ(ioctl(held, TIOCEXCL), 0);
         const Outcome o =
             runHost(t, onWindows, {"--port", onWindows ? "12" : tty, "--timeout", "2", "probe"}, true);
         close(held);
         return o;
       }},
      {"the device goes away during the cycles", 2,
       "the link to the calibrator was lost: no measuring cycle within 5 s (after ",
       [&](WindowsCom& t, bool onWindows) {
         Child* simChild = nullptr;
         const std::string tty = t.startSim(simChild, t.simLink(19, onWindows), {"--stdin-control"});
         std::unique_ptr<Child> sim(simChild);
         const std::vector<std::string> args{
             "--port", onWindows ? "19" : tty, "--timeout", "5", "measure", "--cycles", "1000"};
         Child host(onWindows ? t.winhost(args) : t.cli(args));
         std::string line;
         for (int i = 0; i < 2; ++i) EXPECT_TRUE(host.readLine(line, 60000)) << host.err();
         sim->send("disconnect\n");  // the terminal closes: the cable is pulled out
         Outcome o;
         o.status = host.wait(60000);
         o.reason = reason(host.err(), onWindows ? "quarn-winhost" : "quarn-cli");
         return o;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Side by side: each host has a simulator and a port of its own.
    auto onLinux = std::async(std::launch::async, [&] { return c.run(*this, false); });
    const Outcome windows = c.run(*this, true);
    const Outcome linux = onLinux.get();
    EXPECT_EQ(linux.status, c.status) << linux.reason;
    EXPECT_EQ(windows.status, c.status) << windows.reason;
    EXPECT_EQ(linux.reason.substr(0, std::strlen(c.text)), c.text);
    EXPECT_EQ(windows.reason.substr(0, std::strlen(c.text)), c.text);
    std::cout << c.what << ": Linux " << linux.status << " \"" << linux.reason << "\", Windows "
              << windows.status << " \"" << windows.reason << "\"\n";
  }
  // Later programs of the build get a Wine server with root's capabilities again.
  endWineServer();
}

// ---- The COM-port table under Wine, step by step ---------------------------------------------------

// A pseudo-terminal linked as COM7 of the prefix: this test is the device on its master side, and
// quarn-comdriver.exe runs the library's port operations one command at a time.
class WindowsComPort : public WindowsCom {
 public:
  static constexpr int kPort = 7;

  void SetUp() override {
    WindowsCom::SetUp();
    char name[128] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Only this test holds the master: closing it must hang the terminal up, which a copy in a child
    // (Wine's processes) would prevent.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    unlink(comLink(kPort).c_str());
    ASSERT_EQ(symlink(name, comLink(kPort).c_str()), 0);
    driver_ = std::make_unique<Child>(comDriver());
  }
  void TearDown() override {
    if (driver_) {
      driver_->send("quit\n");
      driver_->wait(20000);
    }
    closeMaster();
    if (slave_ >= 0) close(slave_);
    unlink(comLink(kPort).c_str());
  }

  // One command; its answer line.
  std::string ask(const std::string& command) {
    driver_->send(command + "\n");
    std::string line;
    EXPECT_TRUE(driver_->readLine(line, 30000)) << command << ": no answer\n" << driver_->err();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  // The value after `key` in an answer of "key value" pairs.
  static std::string value(const std::string& answer, const std::string& key) {
    std::istringstream in(answer);
    for (std::string k, v; in >> k >> v;)
      if (k == key) return v;
    return "?";
  }
  // Asks `command` until `key` reads `expected` (bytes reach the other side a moment later).
  bool eventually(const std::string& command, const std::string& key, const std::string& expected) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end)
      if (value(ask(command), key) == expected) return true;
    return false;
  }

  void sendToHost(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else
        usleep(1000);
    }
  }
  std::string takeFromHost() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(master_, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  termios lineSettings() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  void closeMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::unique_ptr<Child> driver_;
};

TEST_F(WindowsComPort, OpenAndEveryModeSwitchGiveTheLibrarysLineSettings) {
  ASSERT_EQ(value(ask("open 7 9600 0"), "valid"), "1");
  const auto expectLine = [&](speed_t speed, const char* baud, const char* parity, const char* when) {
    SCOPED_TRACE(when);
    const termios t = lineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB) << "two stop bits";
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    // The terminal does not keep the parity: the device control block the library applied tells it.
    const std::string dcb = ask("dcb");
    EXPECT_EQ(value(dcb, "baud"), baud) << dcb;
    EXPECT_EQ(value(dcb, "parity"), parity) << dcb;  // 0 none, 1 odd
  };
  expectLine(B9600, "9600", "0", "after open");
  // The rest of the line state as opened: 8 data bits, two stop bits (2), binary, parity checking on
  // without parity, no flow control of any kind, DTR and RTS off (0), nothing replaced or aborted.
  const std::string dcb = ask("dcb");
  for (const auto& [key, expected] : std::vector<std::pair<std::string, std::string>>{{"bytesize", "8"},
                                                                                      {"stopbits", "2"},
                                                                                      {"binary", "1"},
                                                                                      {"fparity", "1"},
                                                                                      {"ctsflow", "0"},
                                                                                      {"dsrflow", "0"},
                                                                                      {"dtr", "0"},
                                                                                      {"dsrsense", "0"},
                                                                                      {"outx", "0"},
                                                                                      {"inx", "0"},
                                                                                      {"errorchar", "0"},
                                                                                      {"null", "0"},
                                                                                      {"rts", "0"},
                                                                                      {"abort", "0"}})
    EXPECT_EQ(value(dcb, key), expected) << key << " in " << dcb;

  EXPECT_EQ(ask("mode 1"), "result 0 mode 1");  // the record's mode 0 -> 1
  sendToHost("kept");
  ASSERT_TRUE(eventually("avail", "avail", "4"));
  EXPECT_EQ(ask("mode 1"), "result 0 mode 1");  // unchanged: nothing discarded
  EXPECT_EQ(ask("read"), "count 4 text kept");

  sendToHost("lost");
  ASSERT_TRUE(eventually("avail", "avail", "4"));
  EXPECT_EQ(ask("mode 2"), "result 0 mode 2");
  EXPECT_EQ(ask("read"), "count 0 text -") << "a switch discards what waited";
  expectLine(B1200, "1200", "1", "mode 2");
  EXPECT_EQ(ask("mode 1"), "result 0 mode 1");
  expectLine(B9600, "9600", "0", "mode 1 again");
}

TEST_F(WindowsComPort, ReadsTakeAtMost1022AndAFullQueueLosesNothing) {
  ASSERT_EQ(value(ask("open 7 9600 0"), "valid"), "1");
  std::string sent(1500, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('A' + i % 26);
  sendToHost(sent);
  ASSERT_TRUE(eventually("avail", "avail", "1500"));
  EXPECT_EQ(ask("read"), "count 1022 text " + sent.substr(0, 1022));
  EXPECT_EQ(ask("read"), "count 478 text " + sent.substr(1022));
  EXPECT_EQ(ask("read"), "count 0 text -");
  sendToHost("0123456789");
  ASSERT_TRUE(eventually("avail", "avail", "10"));
  EXPECT_EQ(ask("readsmall"), "count 4 text 0123") << "a caller's buffer of 6: 4 bytes and the terminator";

  // Numbered blocks, far more than the terminal buffers while the device does not read: the write in
  // flight holds the port, the table keeps the rest in order.
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    char block[128];
    std::snprintf(block, sizeof block, "<%05d:%0100d>", i, i);
    expected += block;
  }
  EXPECT_EQ(ask("blocks 300"), "refused 0 backlog 1");
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (got.size() < expected.size() && std::chrono::steady_clock::now() < end) {
    got += takeFromHost();
    ask("pump 20");
  }
  got += takeFromHost();
  EXPECT_EQ(got, expected);
  EXPECT_EQ(value(ask("pump 1000"), "pending"), "0");
  EXPECT_EQ(value(ask("state"), "open"), "1") << "a full queue is no failure";
}

TEST_F(WindowsComPort, AVanishedDeviceMarksThePortLost) {
  ASSERT_EQ(value(ask("open 7 9600 0"), "valid"), "1");
  closeMaster();  // the cable is pulled out
  EXPECT_EQ(value(ask("read"), "count"), "-1");
  EXPECT_EQ(ask("state"), "hcom 4294967295 hport 4294967295 open 0") << "marked lost and released";
  EXPECT_EQ(ask("write again"), "result 0");
  EXPECT_EQ(ask("mode 2"), "result -1 mode 0");
}

TEST_F(WindowsComPort, OpenRefusesWhatItCannotUseAndClosedHandlesStayDead) {
  EXPECT_EQ(ask("open 0 9600 0"), "handle 0 valid 0");
  EXPECT_EQ(ask("open 250 9600 0"), "handle 4294967295 valid 0") << "no such COM port";
  EXPECT_EQ(ask("register 31 NUL"), "result 0");
  EXPECT_EQ(ask("open 31 9600 0"), "handle 4294967295 valid 0") << "not a COM port";
  EXPECT_EQ(ask("open 7 12345 0"), "handle 4294967295 valid 0") << "no such speed";
  EXPECT_EQ(ask("open 7 9600 7"), "handle 4294967295 valid 0") << "no such parity";
  EXPECT_EQ(value(ask("state"), "open"), "0");

  const std::string first = value(ask("open 7 9600 0"), "handle");
  EXPECT_EQ(ask("open 7 9600 0"), "handle 4294967295 valid 0") << "not shared";
  EXPECT_EQ(ask("close"), "closed");
  const std::string second = value(ask("open 7 9600 0"), "handle");
  EXPECT_NE(second, first);
  EXPECT_EQ(ask("stale"), "write 0 read -1") << "the closed port's handle reaches nothing";
  EXPECT_EQ(ask("write fresh"), "result 1");
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < 5 && std::chrono::steady_clock::now() < end) {
    got += takeFromHost();
    usleep(1000);
  }
  EXPECT_EQ(got, "fresh");
}

}  // namespace
