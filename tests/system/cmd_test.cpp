// The command manager: registry, the command buffer with statements and "wait", the fall-back to
// console variables, the owned commands and Tab completion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/cmdmanager.h"
#include "system/convarmanager.h"

namespace {

std::string g_output;
std::vector<std::vector<std::string>> g_calls;
uint32_t g_now = 1000;

void capture(void*, const char* text) {
  g_output += text;
}
uint32_t fakeClock() {
  return g_now;
}

void recordCall(const CmdArgs& args) {
  std::vector<std::string> words;
  for (int i = 0; i < args.argc(); ++i)
    words.push_back(args.argv(i));
  g_calls.push_back(words);
}

class CmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    g_calls.clear();
    g_now = 1000;
    cmd = getCmdManager();
    cmd->setOutput(capture, nullptr);
    cmd->setClock(fakeClock);
    getConVarManager();
  }
  void TearDown() override {
    destroyConVarManager();
    destroyCmdManager();
  }
  // The first word of every recorded call, in order.
  std::string callNames() const {
    std::string names;
    for (const auto& call : g_calls)
      names += (names.empty() ? "" : " ") + call[0];
    return names;
  }
  CmdManager* cmd = nullptr;
};

}  // namespace

TEST(CmdArgsTest, SplitsWordsQuotesAndStatements) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
    const char* rest;  // what follows the statement and its separator
  };
  const Case cases[] = {
      {"bind  x\t\"say hi; there\" ; next", {"bind", "x", "say hi; there"}, " next"},
      {"set a \"\"", {"set", "a", ""}, ""},
      {"one\ntwo", {"one"}, "two"},
      {"  \r\n", {}, ""},
      {"\"unterminated word", {"unterminated word"}, ""},
      {"a\"b\" c", {"a", "b", "c"}, ""},
      {"", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CmdArgs args;
    EXPECT_STREQ(c.text + args.tokenize(c.text), c.rest);
    ASSERT_EQ(args.argc(), static_cast<int>(c.words.size()));
    for (int i = 0; i < args.argc(); ++i)
      EXPECT_EQ(args.argv(i), c.words[static_cast<size_t>(i)]);
    EXPECT_STREQ(args.argv(args.argc()), "");
    EXPECT_STREQ(args.argv(-1), "");
  }
}

TEST(CmdArgsTest, KeepsAtMost64WordsAndTheBuffer) {
  std::string text;
  for (int i = 0; i < 70; ++i)
    text += "w" + std::to_string(i) + " ";
  text += ";rest";
  CmdArgs args;
  EXPECT_EQ(args.tokenize(text.c_str()), text.size() - 4);
  EXPECT_EQ(args.argc(), CmdArgs::kMaxArgs);
  EXPECT_STREQ(args.argv(63), "w63");

  std::string huge = "cmd " + std::string(3000, 'x') + " tail";
  EXPECT_EQ(args.tokenize(huge.c_str()), huge.size());
  EXPECT_EQ(args.argc(), 1);  // the word too long for the buffer and those after it are dropped
  CmdArgs copy(args);
  EXPECT_STREQ(copy.argv(0), "cmd");
  char joined[8];
  args.tokenize("a bb ccc");
  EXPECT_STREQ(args.join(1, joined, sizeof(joined)), "bb ccc");
  EXPECT_STREQ(args.join(0, joined, 5), "a bb");
}

TEST_F(CmdTest, RegistrationKeepsTheFirstAndRemovesByMask) {
  cmd->addCommand("test_cmd", recordCall, 0x2, "first");
  cmd->addCommand("TEST_CMD", nullptr, 0x2, "second");
  cmd->addCommand(nullptr, recordCall, 0x2, "none");
  cmd->addCommand("test_video", recordCall, 0x6, "video");
  const CmdRecord* record = cmd->findCommand("Test_Cmd");
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record->description, "first");
  EXPECT_EQ(record->function, recordCall);
  cmd->removeCommands(0x4);
  EXPECT_EQ(cmd->findCommand("test_video"), nullptr);
  EXPECT_NE(cmd->findCommand("test_cmd"), nullptr);
  cmd->addCommand("test_video", recordCall, 0x6, "again");  // the tail stays usable after removal
  EXPECT_NE(cmd->findCommand("test_video"), nullptr);
  EXPECT_EQ(cmd->findCommand(nullptr), nullptr);
}

TEST_F(CmdTest, DescriptionIsCopied) {
  char description[32] = "module text";
  cmd->addCommand("test_module_cmd", recordCall, 0x2, description);
  description[0] = 'X';  // the registrant's text goes away (a freed module)
  EXPECT_STREQ(cmd->findCommand("test_module_cmd")->description, "module text");
  std::string longName(200, 'n');
  cmd->addCommand(longName.c_str(), recordCall, 0x2, nullptr);
  EXPECT_NE(cmd->findCommand(longName.substr(0, 127).c_str()), nullptr);
}

TEST_F(CmdTest, BufferHoldsUpTo1022Characters) {
  cmd->setClock(fakeClock);
  cmd->executeText("wait");  // hold execution so the buffer keeps what is appended
  std::string fits(1022, 'a');
  cmd->appendText(fits.c_str());
  EXPECT_EQ(std::string(cmd->bufferedText()), ";" + fits);
  EXPECT_EQ(g_output, "");

  g_now += 1000;
  cmd->executeText("");  // runs the statement ("not found") and empties the buffer
  EXPECT_STREQ(cmd->bufferedText(), "");
  cmd->executeText("wait");
  std::string overflow(1023, 'b');
  cmd->appendText(overflow.c_str());
  EXPECT_STREQ(cmd->bufferedText(), "");
  EXPECT_EQ(g_output.substr(g_output.find("WARNING")),
            "WARNING: command buffer overflow: 1023 characters dropped (0 of 1023 in use), beginning \"" +
                std::string(32, 'b') + "\"\n");
  cmd->appendText("x");
  g_output.clear();
  cmd->appendText(std::string(1021, 'c').c_str());  // ";x" is buffered: 1021 no longer fits
  EXPECT_NE(g_output.find("1021 characters dropped (2 of 1023 in use)"), std::string::npos) << g_output;
  EXPECT_STREQ(cmd->bufferedText(), ";x");
}

TEST_F(CmdTest, StatementsRunInOrderAndQuotesProtectSeparators) {
  cmd->addCommand("test_a", recordCall, 0x2, "");
  cmd->addCommand("test_b", recordCall, 0x2, "");
  cmd->executeText("test_a \"x;y\" z; test_b\ntest_a last");
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0], (std::vector<std::string>{"test_a", "x;y", "z"}));
  EXPECT_EQ(g_calls[1], (std::vector<std::string>{"test_b"}));
  EXPECT_EQ(g_calls[2], (std::vector<std::string>{"test_a", "last"}));
  EXPECT_STREQ(cmd->bufferedText(), "");
}

TEST_F(CmdTest, WaitDefersTheRest) {
  cmd->addCommand("test_a", recordCall, 0x2, "");
  cmd->addCommand("test_b", recordCall, 0x2, "");

  cmd->executeText("test_a; wait; test_b");  // no number: 500 ms
  EXPECT_EQ(callNames(), "test_a");
  g_now += 499;
  cmd->executeText("");
  EXPECT_EQ(callNames(), "test_a");
  g_now += 1;
  cmd->executeText("");
  EXPECT_EQ(callNames(), "test_a test_b");

  g_calls.clear();
  cmd->executeText("WAIT 0; test_a");  // 0: the rest runs on the next call
  EXPECT_EQ(callNames(), "");
  cmd->executeText("");
  EXPECT_EQ(callNames(), "test_a");

  g_calls.clear();
  cmd->executeText("wait 30; test_b");
  g_now += 29;
  cmd->executeText("test_a");  // appended behind the waiting text
  EXPECT_EQ(callNames(), "");
  g_now += 1;
  cmd->executeText("");
  EXPECT_EQ(callNames(), "test_b test_a");
}

TEST_F(CmdTest, WaitSurvivesTheClockWrapping) {
  cmd->addCommand("test_a", recordCall, 0x2, "");
  g_now = 0xffffff00u;
  cmd->executeText("wait 0x; wait 512; test_a");  // "0x" reads as 0
  cmd->executeText("");
  g_now += 300;  // wrapped past zero, still before the end of the wait
  cmd->executeText("");
  EXPECT_EQ(callNames(), "");
  g_now += 212;
  cmd->executeText("");
  EXPECT_EQ(callNames(), "test_a");
}

TEST_F(CmdTest, SignPrefixesAndVariableFallBack) {
  cmd->addCommand("test_attack", recordCall, 0x2, "");
  ConVar plain("test_plain", "1", kConVarString, "a plain variable");
  ConVar signedVar("-test_signed", "4", kConVarInt, "a name with a sign");

  cmd->executeText("+test_attack 7; -TEST_ATTACK");
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0], (std::vector<std::string>{"+test_attack", "7"}));  // the handler sees the sign
  EXPECT_EQ(g_calls[1][0], "-TEST_ATTACK");

  g_output.clear();
  cmd->executeText("test_plain hello");
  EXPECT_STREQ(plain.getString(), "hello");
  cmd->executeText("TEST_PLAIN");
  cmd->executeText("test_plain \"\"");
  cmd->executeText("-test_signed 9");  // no command "test_signed": the variable with its sign
  EXPECT_EQ(signedVar.getInt(), 9);
  cmd->executeText("+test_plain 3; nosuchthing 1");
  EXPECT_STREQ(plain.getString(), "hello");
  EXPECT_EQ(g_output,
            "test_plain \"hello\" (a plain variable)\n"
            "test_plain \"hello\" (a plain variable)\n"
            "Command: \"+test_plain\" ^9not found.\n"
            "Command: \"nosuchthing\" ^9not found.\n");
}

TEST_F(CmdTest, ToggleCases) {
  ConVar var("test_toggle", "0", kConVarFloat, "toggled");
  struct Case {
    const char* before;
    const char* command;
    const char* after;
  };
  const Case cases[] = {
      {"0", "toggle test_toggle", "1"},
      {"5", "toggle test_toggle", "0"},
      {"0", "toggle test_toggle 0 1 2", "1"},
      {"1", "toggle test_toggle 0 1 2", "2"},
      {"2", "toggle test_toggle 0 1 2", "0"},       // last wraps to the first
      {"1.5", "toggle test_toggle 0 1 2", "0"},     // between two values: the first
      {"1.0005", "toggle test_toggle 0 1 2", "2"},  // within 0.001 of a listed value
      {"0.25", "toggle TEST_TOGGLE 0.25 0.5", "0.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + std::string(" from ") + c.before);
    var.setString(c.before);
    cmd->executeText(c.command);
    EXPECT_STREQ(var.getString(), c.after);
  }
  g_output.clear();
  cmd->executeText("toggle");
  cmd->executeText("toggle test_nothing 1 2");
  cmd->executeText("toggle test_toggle 0 1");
  EXPECT_EQ(g_output, "usage: toggle <cvar name>\ntest_toggle \"0\" (toggled)\n");
}

TEST_F(CmdTest, ListCommandsHidesUnderscoreNames) {
  cmd->removeCommands(0xffffffffu);
  cmd->addCommand("test_one", recordCall, 0x2, "first one");
  cmd->addCommand("_test_hidden", recordCall, 0x2, "hidden");
  cmd->addCommand("other", recordCall, 0x2, "other one");
  cmd->addCommand(
      "listCommands", [](const CmdArgs& args) { g_cmdSystem->list(args); }, 0x2, "list");
  g_output.clear();
  cmd->executeText("listCommands");
  cmd->executeText("listCommands test");
  EXPECT_EQ(g_output,
            "Commands:\n"
            "test_one       (first one)\n"
            "other          (other one)\n"
            "listCommands   (list)\n"
            "\n4 Commands\n"
            "Commands:\n"
            "test_one       (first one)\n"
            "\n4 Commands\n");
}

TEST_F(CmdTest, CompletionOnASmallRegistry) {
  cmd->removeCommands(0xffffffffu);
  destroyConVarManager();
  getConVarManager();
  cmd->addCommand("tq", recordCall, 0x2, "load a map");
  cmd->addCommand("tqList", recordCall, 0x2, "list maps");
  cmd->addCommand("tqlisting", recordCall, 0x2, "more maps");
  ConVar mapName("tz_name", "e1", 0);
  ConVar mapNames("tz_names", "e1 e2", 0);

  struct Case {
    const char* typed;
    const char* completed;
    const char* printed;
  };
  const Case cases[] = {
      {"TQ", "tq", "CMD: tq (load a map)\nCMD: tqList (list maps)\nCMD: tqlisting (more maps)\n\n"},
      {"tql", "tqlist", "CMD: tqList (list maps)\nCMD: tqlisting (more maps)\n\n"},
      {"-tqlistin", "tqlisting", "CMD: tqlisting (more maps)\n\n"},
      {"tz", "tz_name", "VAR: tz_name = e1\nVAR: tz_names = e1 e2\n\n"},
      {"tz_names", "tz_names", "VAR: tz_names = e1 e2\n\n"},
      {"qqq", "qqq", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    char text[128];
    std::snprintf(text, sizeof(text), "%s", c.typed);
    g_output.clear();
    cmd->completeCommand(text, sizeof(text));
    EXPECT_STREQ(text, c.completed);
    EXPECT_EQ(g_output, c.printed);
  }
  EXPECT_EQ(cmd->countMatches("TQ"), 3);
}

TEST_F(CmdTest, NonFatalErrorPrintsAndFatalErrorShowsBoxThenQuits) {
  static std::string boxed;
  cmd->setErrorBox([](const char* text, const char* caption) { boxed = std::string(caption) + ": " + text; });
  cmd->addCommand("quit", recordCall, 0x2, "");
  cmd->error(0, "WARNING: %s %d\n", "careful", 3);
  EXPECT_EQ(g_output, "WARNING: careful 3\n");
  EXPECT_TRUE(g_calls.empty());
  cmd->error(1, "broken %d", 7);
  EXPECT_EQ(boxed, "assert: broken 7");
  EXPECT_EQ(callNames(), "quit");
}

TEST_F(CmdTest, CrashAsksThePrompt) {
  static int prompts = 0;
  cmd->setAssertPrompt([](const char* message, const char*, int) {
    EXPECT_STREQ(message, "test crash");
    ++prompts;
    return false;  // ignore: no breakpoint
  });
  cmd->executeText("crash");
  EXPECT_EQ(prompts, 1);
  g_output.clear();
  cmd->executeText("listMemory");
  EXPECT_EQ(g_output, "");
}

// Standard output echoes the console only while "con_devconsole" is on; what was printed before
// comes first when it is turned on (start-up messages precede any command line), and warnings and
// errors reach standard error while nothing echoes and no console takes the text.
TEST_F(CmdTest, PrintReachesStdoutOnlyWithDevConsole) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  cmd->printf("quiet %d\n", 1);
  cmd->printf("WARNING: early %d\n", 2);
  cmd->setOutput(nullptr, nullptr);
  cmd->printf("ERROR: nobody sees %d\n", 3);
  cmd->setOutput(capture, nullptr);
  const std::string early = testing::internal::GetCapturedStderr();
  g_conVarSystem->setInt("con_devconsole", 1);
  testing::internal::CaptureStderr();
  cmd->printf("loud %d\n", 3);
  cmd->printf("ERROR: echoed\n");
  g_conVarSystem->setInt("con_devconsole", 0);
  cmd->printf("quiet again\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "quiet 1\nWARNING: early 2\nERROR: nobody sees 3\nloud 3\nERROR: echoed\n");
  EXPECT_EQ(early, "ERROR: nobody sees 3\n") << "the console hook takes warnings while it is installed";
  EXPECT_EQ(g_output, "quiet 1\nWARNING: early 2\nloud 3\nERROR: echoed\nquiet again\n");

  // flushEcho prints the held text as soon as the echo is on, without waiting for a new line.
  testing::internal::CaptureStdout();
  g_conVarSystem->setInt("con_devconsole", 1);
  cmd->flushEcho();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "quiet again\n");
}

// The terminal shows text, not the fonts' colour escapes.
TEST_F(CmdTest, TheEchoDropsColourEscapes) {
  g_conVarSystem->setInt("con_devconsole", 1);
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"^1red ^7white", "red white"},
      {"a^^b", "a^"},  // the second "^" is read again: an escape of "b"
      {"a^^^2b", "a^^b"},
      {"end^", "end"},
      {"x^ y", "x y"},
      {"plain", "plain"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    cmd->printf("%s\n", c.text);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(c.shown) + "\n") << c.text;
  }
  testing::internal::CaptureStdout();
  cmd->executeText("nosuchcommand");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Command: \"nosuchcommand\" not found.\n");
  EXPECT_NE(g_output.find("Command: \"nosuchcommand\" ^9not found.\n"), std::string::npos)
      << "the console itself keeps the escape";
  g_conVarSystem->setInt("con_devconsole", 0);
}
