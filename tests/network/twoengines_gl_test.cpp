// Engine processes on this machine: one started as a networked server on the sample map
// ("dedicated demo"), the others connecting to it over 127.0.0.1. Both consoles must show the
// handshake and the client must receive the gamestate; two clients enter the map, walk and see
// each other. Every wait is bounded; the server's port is read from its own console, so a port
// taken by another process only moves it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

// A screenshot32 file (uncompressed 32-bit TGA) as rows of RGB, top row first.
struct Shot {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  bool load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 18 || d[2] != 2 || (d[16] != 32 && d[16] != 24))
      return false;
    width = d[12] | (d[13] << 8);
    height = d[14] | (d[15] << 8);
    const size_t bytes = d[16] / 8;
    const size_t start = 18 + d[0];
    if (d.size() < start + size_t(width) * size_t(height) * bytes)
      return false;
    const bool topFirst = (d[17] & 0x20) != 0;
    rgb.resize(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
      const int row = topFirst ? y : height - 1 - y;
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = &d[start + (size_t(row) * size_t(width) + size_t(x)) * bytes];
        uint8_t* out = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      }
    }
    return true;
  }
  // The share of a rectangle (fractions of the screen) whose pixels pass the test.
  template <typename Test>
  double share(double x0, double y0, double x1, double y1, Test test) const {
    int count = 0;
    int hits = 0;
    for (int y = int(y0 * height); y < int(y1 * height); y += 3)
      for (int x = int(x0 * width); x < int(x1 * width); x += 3) {
        const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
        ++count;
        hits += test(p[0], p[1], p[2]) ? 1 : 0;
      }
    return count ? double(hits) / count : 0.0;
  }
  // The main menu: its blue "Start" and "Credits" buttons, the first and last of its panel (the
  // panel itself is translucent, so what stands behind it shows through; the sample map's own
  // interface panel has buttons of the same blue, but none as low as "Credits").
  double menuPanel() const {
    const auto blue = [](int r, int, int b) { return b >= r + 40 && b >= 70; };
    return std::min(share(0.36, 0.43, 0.64, 0.50, blue), share(0.36, 0.84, 0.64, 0.91, blue));
  }
  double blackBand() const {
    return share(0.0, 0.25, 1.0, 0.33, [](int r, int g, int b) { return std::max({r, g, b}) < 16; });
  }
};

// Every "Wrote <file>" of a console, in order.
std::vector<std::string> screenshots(const std::string& text) {
  std::vector<std::string> files;
  const std::regex wrote("Wrote (\\S+\\.tga)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), wrote); it != std::sregex_iterator(); ++it)
    files.push_back((*it)[1].str());
  return files;
}

// Every x of "<prefix> <x> <y> <z>" reports, in order.
std::vector<double> reportedX(const std::string& text, const std::string& prefix) {
  std::vector<double> xs;
  const std::regex report(prefix + " ([-0-9.]+) ([-0-9.]+) ([-0-9.]+)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), report); it != std::sregex_iterator(); ++it)
    xs.push_back(std::stod((*it)[1].str()));
  return xs;
}

// A command line that reports "demo_status" every three seconds, `times` times, then quits.
std::vector<std::string> reporting(std::vector<std::string> args, int times) {
  for (int i = 0; i < times; ++i)
    args.insert(args.end(), {";", "wait", "3000", ";", "demo_status"});
  args.insert(args.end(), {";", "quit"});
  return args;
}

// What two people see playing on one dedicated server: each client enters the server's map (its
// screen shows the map, not the menu), the first walks (its view follows it, the server's game
// moves it, the second client sees its pillar move), and "disconnect" brings the first back to the
// main menu over the sample scene. Every step has a generous wall-clock allowance: the engines
// are driven by their command lines, so "wait" paces them.
TEST(TwoEnginesTest, TwoClientsEnterTheServersMapAndSeeEachOtherMove) {
  const std::string serverLog = tempPath("server2");
  const std::string aliceLog = tempPath("alice");
  const std::string bobLog = tempPath("bob");
  EngineProcess server(serverLog, reporting({"con_devconsole", "1", ";", "vid_maxfps", "20", ";", "dedicated", "demo"}, 40));
  std::string port;
  ASSERT_TRUE(server.waitFor(std::regex("socket allocated on port ([0-9]+)"), kStartLimit, &port))
      << server.output();
  const std::string address = "127.0.0.1:" + port;
  EngineProcess alice(aliceLog, {"con_devconsole", "1", ";", "vid_maxfps", "20", ";", "ui_name", "Alice", ";",
                                 "connect", address, ";", "wait", "35000", ";", "demo_status", ";", "screenshot32",
                                 ";", "+_forward", ";", "wait", "4000", ";", "-_forward", ";", "wait", "500", ";",
                                 "demo_status", ";", "wait", "8000", ";", "disconnect", ";", "wait", "4000", ";",
                                 "screenshot32", ";", "demo_status", ";", "wait", "500", ";", "quit"});
  EngineProcess bob(bobLog, reporting({"con_devconsole", "1", ";", "vid_maxfps", "20", ";", "ui_name", "Bob", ";",
                                       "connect", address},
                                      30));

  std::string number;
  ASSERT_TRUE(alice.waitFor(std::regex("sample game: playing as client ([0-9]+)"), kStartLimit, &number))
      << alice.output();
  EXPECT_TRUE(bob.waitFor(std::regex("sample game: playing as client [0-9]+"), kStartLimit)) << bob.output();
  EXPECT_TRUE(server.waitFor(std::regex("Alice joined the game"), kHandshakeLimit)) << server.output();
  EXPECT_TRUE(server.waitFor(std::regex("Bob joined the game"), kHandshakeLimit)) << server.output();
  // Alice's run ends by itself once she has walked, disconnected and looked at the menu.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  while (alice.running() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(alice.running()) << "the client did not reach its quit\n" << alice.output();
  const std::string aliceText = alice.output();
  EXPECT_NE(aliceText.find("sample game: joined the server's game on 'demo'"), std::string::npos) << aliceText;

  // Her screen in the game shows the map; after "disconnect" the menu over the sample scene.
  const std::vector<std::string> shots = screenshots(aliceText);
  ASSERT_EQ(shots.size(), 2u) << aliceText;
  Shot inGame;
  Shot menu;
  ASSERT_TRUE(inGame.load(shots[0])) << shots[0];
  ASSERT_TRUE(menu.load(shots[1])) << shots[1];
  EXPECT_LT(inGame.menuPanel(), 0.2) << "the client still shows the menu in the game";
  EXPECT_LT(inGame.blackBand(), 0.5) << "the client draws no map";
  EXPECT_GT(menu.menuPanel(), 0.6) << "\"disconnect\" did not bring the main menu back";
  for (const std::string& file : shots)
    std::remove(file.c_str());

  // Her view follows her player: at the start, then further along x after walking forward.
  const std::vector<double> aliceView = reportedX(aliceText, "sample game: camera at");
  ASSERT_EQ(aliceView.size(), 2u) << "two reports in the map, none after disconnect\n" << aliceText;
  EXPECT_NEAR(aliceView[0], 64.0, 0.01) << aliceText;
  EXPECT_GT(aliceView[1], 70.0) << "the client's view did not follow its walk\n" << aliceText;
  EXPECT_EQ(aliceText.find("no entity"), std::string::npos) << "the sample scene was updated through stale handles";

  // The server's game moved her, and Bob saw her pillar move.
  const std::string who = "sample game: client " + number + " at";
  const std::vector<double> onServer = reportedX(server.output(), who);
  ASSERT_FALSE(onServer.empty()) << server.output();
  EXPECT_NEAR(onServer.front(), 64.0, 0.01);
  EXPECT_GT(*std::max_element(onServer.begin(), onServer.end()), 70.0) << server.output();
  const std::vector<double> seenByBob = reportedX(bob.output(), who);
  ASSERT_FALSE(seenByBob.empty()) << bob.output();
  EXPECT_NEAR(seenByBob.front(), 64.0, 0.01);
  EXPECT_GT(*std::max_element(seenByBob.begin(), seenByBob.end()), 70.0) << bob.output();

  EXPECT_TRUE(server.running()) << server.output();
  bob.stop();
  server.stop();
  if (!HasFailure()) {
    std::remove(serverLog.c_str());
    std::remove(aliceLog.c_str());
    std::remove(bobLog.c_str());
  }
}

#else

TEST(TwoEnginesTest, ClientConnectsToADedicatedServerOverLoopback) {
  GTEST_SKIP() << "built without the engine executable";
}

#endif

}  // namespace
