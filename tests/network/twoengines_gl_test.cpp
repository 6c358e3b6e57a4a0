// Two engine processes on this machine: one started as a networked server on the sample map
// ("dedicated demo"), the other connecting to it over 127.0.0.1. Both consoles must show the
// handshake and the client must receive the gamestate. Every wait is bounded; the server's port is
// read from its own console, so a port taken by another process only moves it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

#if defined(QUILL_ENGINE_EXE) && defined(QUILL_STAGE_DIR)

// One engine process with its console (con_devconsole echoes it, flushed) in a file.
class EngineProcess {
 public:
  EngineProcess(const std::string& log, const std::vector<std::string>& args) : log_(log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || chdir(QUILL_STAGE_DIR) != 0)
        _exit(127);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(QUILL_ENGINE_EXE));
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QUILL_ENGINE_EXE, argv.data());
      _exit(127);
    }
  }
  ~EngineProcess() { stop(); }

  std::string output() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool running() {
    if (pid_ <= 0)
      return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  // Waits (bounded) until the console matches, or the process ends; the first group, or "".
  bool waitFor(const std::regex& pattern, std::chrono::seconds limit, std::string* group = nullptr) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::smatch match;
      const std::string text = output();
      if (std::regex_search(text, match, pattern)) {
        if (group)
          *group = match.size() > 1 ? match[1].str() : "";
        return true;
      }
      if (!running() || std::chrono::steady_clock::now() > end)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  void stop() {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

std::string tempPath(const char* name) {
  const char* dir = std::getenv("QUILL_TEST_TMP");
  std::string base = dir && *dir ? dir : "/tmp";
  std::system(("mkdir -p '" + base + "'").c_str());
  return base + "/" + name + "." + std::to_string(getpid()) + ".log";
}

// Generous bounds: the first frames load the sample content, and under the sanitizers on a loaded
// machine that takes seconds.
constexpr std::chrono::seconds kStartLimit(90);
constexpr std::chrono::seconds kHandshakeLimit(60);

TEST(TwoEnginesTest, ClientConnectsToADedicatedServerOverLoopback) {
  const std::string serverLog = tempPath("server");
  const std::string clientLog = tempPath("client");
  // Each engine quits by itself after a while, should the test be stopped before it kills them.
  EngineProcess server(serverLog, {"con_devconsole", "1", ";", "dedicated", "demo", ";", "wait", "240000", ";", "quit"});
  std::string port;
  ASSERT_TRUE(server.waitFor(std::regex("socket allocated on port ([0-9]+)"), kStartLimit, &port))
      << server.output();

  EngineProcess client(clientLog, {"con_devconsole", "1", ";", "connect", "127.0.0.1:" + port, ";", "wait",
                                   "180000", ";", "quit"});
  // The handshake, each side as it sees it, then the gamestate on the client.
  EXPECT_TRUE(server.waitFor(std::regex("server packet 127\\.0\\.0\\.1:[0-9]+ : getchallenge"), kHandshakeLimit))
      << server.output();
  EXPECT_TRUE(client.waitFor(std::regex("client packet 127\\.0\\.0\\.1:" + port + ": challengeResponse"),
                             kHandshakeLimit))
      << client.output();
  EXPECT_TRUE(server.waitFor(std::regex("joined the game"), kHandshakeLimit)) << server.output();
  EXPECT_TRUE(client.waitFor(std::regex("client packet 127\\.0\\.0\\.1:" + port + ": connectResponse"),
                             kHandshakeLimit))
      << client.output();
  EXPECT_TRUE(server.waitFor(std::regex("serverSendClientGameState\\(\\) for"), kHandshakeLimit))
      << server.output();
  EXPECT_TRUE(client.waitFor(std::regex("gamestate received from 127\\.0\\.0\\.1:" + port), kHandshakeLimit))
      << client.output();
  EXPECT_TRUE(server.running()) << server.output();
  EXPECT_TRUE(client.running()) << client.output();
  client.stop();
  server.stop();
  if (!HasFailure()) {
    std::remove(serverLog.c_str());
    std::remove(clientLog.c_str());
  }
}

#else

TEST(TwoEnginesTest, ClientConnectsToADedicatedServerOverLoopback) {
  GTEST_SKIP() << "built without the engine executable";
}

#endif

}  // namespace
