// Assertion prompt with injected answers, the ignore table, warnings and the
// call-stack text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "lib/assert.h"
#include "lib/interface/commonsystem.h"
#include "lib/str.h"
#include "platform/dialog.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/nullcommon.h"

namespace {

class AssertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    assertClearIgnored();
    platformSetDialogHook(&AssertTest::answer, this);
  }
  void TearDown() override {
    platformSetDialogHook(nullptr, nullptr);
    assertClearIgnored();
  }

  static int answer(void* user, const char* text, const char* caption, PlatformDialogButtons buttons,
                    PlatformDialogAnswer defaultAnswer) {
    AssertTest* self = static_cast<AssertTest*>(user);
    ++self->prompts;
    self->lastText = text;
    self->lastCaption = caption;
    self->lastButtons = buttons;
    if (self->answers.empty()) {
      return defaultAnswer;
    }
    int a = self->answers.front();
    self->answers.pop_front();
    return a;
  }

  std::deque<int> answers;
  int prompts = 0;
  std::string lastText;
  std::string lastCaption;
  int lastButtons = -1;
};

TEST_F(AssertTest, YesIsRememberedByFileAndLineWithoutCase) {
  answers = {PLATFORM_ANSWER_YES};
  EXPECT_FALSE(assertPrompt("x != 0", "render/Draw.cpp", 42));
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(lastCaption, "ASSERT");
  EXPECT_EQ(lastButtons, PLATFORM_DIALOG_YES_NO_CANCEL);
  EXPECT_EQ(lastText.rfind("x != 0\nFILE: render/Draw.cpp\nLINE: 42\n\nIgnore this assert?", 0), 0u)
      << lastText;

  EXPECT_FALSE(assertPrompt("x != 0", "RENDER/draw.CPP", 42));
  EXPECT_FALSE(assertPrompt("other text", "render/draw.cpp", 42));
  EXPECT_EQ(prompts, 1) << "an ignored file and line never prompts again";
  EXPECT_TRUE(assertIsIgnored("Render/Draw.cpp", 42));
  EXPECT_FALSE(assertIsIgnored("render/draw.cpp", 43));
  EXPECT_FALSE(assertIsIgnored("render/draw.c", 42));
}

TEST_F(AssertTest, NoBreaksAndCancelContinuesButBothAskAgain) {
  answers = {PLATFORM_ANSWER_NO, PLATFORM_ANSWER_CANCEL, PLATFORM_ANSWER_CANCEL, PLATFORM_ANSWER_NONE};
  EXPECT_TRUE(assertPrompt("a", "f.cpp", 1));
  EXPECT_FALSE(assertPrompt("a", "f.cpp", 1));
  EXPECT_FALSE(assertPrompt("a", "f.cpp", 1));
  EXPECT_FALSE(assertPrompt("a", "f.cpp", 1)) << "any other answer continues";
  EXPECT_EQ(prompts, 4);
  EXPECT_EQ(assertIgnoredCount(), 0);
}

TEST_F(AssertTest, FullTableStopsRemembering) {
  for (int line = 0; line < ASSERT_MAX_IGNORED; ++line) {
    answers.push_back(PLATFORM_ANSWER_YES);
    assertPrompt("fill", "fill.cpp", line);
  }
  EXPECT_EQ(assertIgnoredCount(), ASSERT_MAX_IGNORED);
  prompts = 0;
  answers = {PLATFORM_ANSWER_YES, PLATFORM_ANSWER_YES};
  EXPECT_FALSE(assertPrompt("late", "late.cpp", 7));
  EXPECT_FALSE(assertPrompt("late", "late.cpp", 7));
  EXPECT_EQ(prompts, 2) << "a full table cannot remember the answer";
  EXPECT_EQ(assertIgnoredCount(), ASSERT_MAX_IGNORED);
  EXPECT_FALSE(assertPrompt("fill", "FILL.cpp", 1000));
  EXPECT_EQ(prompts, 2);
}

TEST_F(AssertTest, TheBoxCarriesTheCallStack) {
  assertPrompt("with stack", "s.cpp", 3);
  EXPECT_NE(lastText.find("Ignore this assert?\n0x"), std::string::npos) << lastText;
}

// Records the assertion boxes the common manager is asked for.
class BoxCommon : public NullCommon {
 public:
  int assertBox(const char* text, const char* caption) override {
    texts.push_back(std::string(caption) + ": " + text);
    int a = answers.empty() ? 2 : answers.front();
    if (!answers.empty())
      answers.pop_front();
    return a;
  }

  std::deque<int> answers;
  std::vector<std::string> texts;
};

TEST_F(AssertTest, WithACommonManagerThePromptGoesThroughItsBox) {
  BoxCommon common;
  g_commonSystem = &common;
  common.answers = {1, 2, 0};  // no, cancel, yes
  EXPECT_TRUE(assertPrompt("n > 0", "c.cpp", 5)) << "no breaks";
  EXPECT_FALSE(assertPrompt("n > 0", "c.cpp", 5)) << "cancel continues";
  EXPECT_FALSE(assertPrompt("n > 0", "c.cpp", 5)) << "yes ignores";
  EXPECT_FALSE(assertPrompt("n > 0", "c.cpp", 5));
  g_commonSystem = nullptr;
  EXPECT_EQ(prompts, 0) << "the platform box is not used while a common manager exists";
  ASSERT_EQ(common.texts.size(), 3u) << "an ignored assertion asks no more";
  EXPECT_EQ(common.texts[0], "ASSERT: n > 0\nFILE: c.cpp\nLINE: 5\n\nIgnore this assert?");
  EXPECT_TRUE(assertIsIgnored("c.cpp", 5));
  assertPrompt("before", "b.cpp", 1);
  EXPECT_EQ(prompts, 1) << "without one the platform box asks";
}

TEST(AssertHeadless, WithoutADisplayTheBoxPrintsAndNeverBlocks) {
  setenv("QUILLMERE_NO_DIALOGS", "1", 1);
  assertClearIgnored();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(assertPrompt("headless check", "h.cpp", 9));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[ASSERT]"), std::string::npos) << err;
  EXPECT_NE(err.find("headless check\nFILE: h.cpp\nLINE: 9\n"), std::string::npos) << err;
  EXPECT_NE(err.find("answered Yes"), std::string::npos) << err;
  EXPECT_TRUE(assertIsIgnored("h.cpp", 9))
      << "the default answer is Yes, so the run sees each assertion once";
  assertClearIgnored();
  EXPECT_FALSE(platformDialogsAvailable());
}

TEST(Warning, PrintsThroughTheCommandManagerOnly) {
  CmdSystem* saved = g_cmdSystem;
  g_cmdSystem = nullptr;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  printWarning("early", "w.cpp", 1);  // no command manager yet: nothing, no crash
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  {
    CaptureCmdSystem console;
    printWarning("bad value", "sys/x.cpp", 77);
    EXPECT_EQ(console.errors, "WARNING: bad value\nFILE: sys/x.cpp\nLINE: 77\n");
    EXPECT_EQ(console.errorCount, 1);
    EXPECT_EQ(console.fatalCount, 0);
  }
  g_cmdSystem = saved;
}

TEST(CallStack, HasNamedFramesWithFullAddresses) {
  String text;
  ASSERT_TRUE(getCallStackText(text));
  std::string stack = text.c_str();
  ASSERT_FALSE(stack.empty());
  // Frames 0 and 1 (the walker and the printer) are skipped; functions in
  // anonymous namespaces are not exported and stay "Unknown...".
  EXPECT_EQ(stack.rfind("0x", 0), 0u);
  EXPECT_NE(stack.find(" | getCallStackText(String&)\n"), std::string::npos) << stack;
  EXPECT_EQ(stack.find("printCallStack"), std::string::npos) << stack;
  EXPECT_NE(stack.find(" | main\n"), std::string::npos) << stack;
  size_t start = 0;
  while (start < stack.size()) {
    size_t end = stack.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    std::string line = stack.substr(start, end - start);
    ASSERT_GE(line.size(), 21u) << line;
    EXPECT_EQ(line.substr(0, 2), "0x");
    for (size_t i = 2; i < 18; ++i) {
      EXPECT_TRUE(std::strchr("0123456789ABCDEF", line[i]) != nullptr) << line;
    }
    EXPECT_EQ(line.substr(18, 3), " | ") << line;
    start = end + 1;
  }
}

TEST(CallStack, WalkStoresFramesAndRefusesBadArguments) {
  CallStackFrame frames[8];
  int count = walkCallStack(nullptr, frames, 8);
  ASSERT_GT(count, 0);
  EXPECT_LE(count, 8);
  EXPECT_STREQ(frames[0].name, "walkCallStack(void const*, CallStackFrame*, int)");
  EXPECT_EQ(walkCallStack(nullptr, frames, 0), -1);
  EXPECT_EQ(walkCallStack(nullptr, nullptr, 8), -1);
}

TEST(CallStack, SmallBufferStopsBeforeFullAndStaysTerminated) {
  for (size_t size : {size_t(1), size_t(10), size_t(30), size_t(60), size_t(200)}) {
    char buffer[256];
    std::memset(buffer, 'Z', sizeof(buffer));
    EXPECT_TRUE(printCallStack(buffer, size));
    size_t length = std::strlen(buffer);
    EXPECT_LT(length, size);
    EXPECT_EQ(buffer[size], 'Z') << "wrote past the given size";
    if (length > 0) {
      EXPECT_EQ(buffer[length - 1], '\n') << "only whole lines";
    }
  }
  EXPECT_FALSE(printCallStack(nullptr, 10));
}

}  // namespace
