// Message boxes: the headless fall-back answers at once with the default and
// prints the text; a hook answers instead of the user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/dialog.h"

namespace {

TEST(PlatformDialog, HeadlessPrintsAndAnswersTheDefault) {
  setenv("QUILLMERE_NO_DIALOGS", "1", 1);
  EXPECT_FALSE(platformDialogsAvailable());
  const struct {
    PlatformDialogButtons buttons;
    PlatformDialogAnswer answer;
    const char* name;
  } cases[] = {
      {PLATFORM_DIALOG_OK, PLATFORM_ANSWER_OK, "OK"},
      {PLATFORM_DIALOG_YES_NO, PLATFORM_ANSWER_NO, "No"},
      {PLATFORM_DIALOG_YES_NO_CANCEL, PLATFORM_ANSWER_CANCEL, "Cancel"},
      {PLATFORM_DIALOG_OK_CANCEL, PLATFORM_ANSWER_OK, "OK"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(platformMessageBox("body text", "the caption", c.buttons, PLATFORM_DIALOG_ERROR, c.answer),
              c.answer);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, std::string("[the caption]\nbody text\n(no dialog shown; answered ") + c.name + ")\n");
  }
}

TEST(PlatformDialog, OffscreenDriverCountsAsNoDisplay) {
  setenv("QUILLMERE_NO_DIALOGS", "0", 1);
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  EXPECT_FALSE(platformDialogsAvailable());
  testing::internal::CaptureStderr();
  EXPECT_EQ(
      platformMessageBox(nullptr, nullptr, PLATFORM_DIALOG_OK, PLATFORM_DIALOG_INFO, PLATFORM_ANSWER_OK),
      PLATFORM_ANSWER_OK);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("answered OK"), std::string::npos);
  setenv("QUILLMERE_NO_DIALOGS", "1", 1);
}

struct Seen {
  std::string text;
  std::string caption;
  int calls = 0;
};

int answerNo(void* user, const char* text, const char* caption, PlatformDialogButtons, PlatformDialogAnswer) {
  Seen* seen = static_cast<Seen*>(user);
  seen->text = text;
  seen->caption = caption;
  ++seen->calls;
  return PLATFORM_ANSWER_NO;
}

TEST(PlatformDialog, HookAnswersInsteadOfTheUser) {
  Seen seen;
  platformSetDialogHook(answerNo, &seen);
  testing::internal::CaptureStderr();
  EXPECT_EQ(platformMessageBox("question", "cap", PLATFORM_DIALOG_YES_NO, PLATFORM_DIALOG_WARNING,
                               PLATFORM_ANSWER_YES),
            PLATFORM_ANSWER_NO);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a hooked box prints nothing";
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.text, "question");
  EXPECT_EQ(seen.caption, "cap");
  platformSetDialogHook(nullptr, nullptr);
}

// A box nobody answers (the hook stands in for a user who never clicks) must not outlive Ctrl+C
// or a kill, even where a handler of the main loop would only queue a quit; once the box is
// answered that handler is back.
int waitForever(void*, const char*, const char*, PlatformDialogButtons, PlatformDialogAnswer) {
  for (;;)
    pause();
}
int answerAtOnce(void* user, const char*, const char*, PlatformDialogButtons, PlatformDialogAnswer answer) {
  struct sigaction now;
  sigaction(SIGTERM, nullptr, &now);
  *static_cast<bool*>(user) = now.sa_handler == SIG_DFL;
  return answer;
}
void queueQuit(int) {}

TEST(PlatformDialog, TerminationSignalsEndTheProcessWhileABoxIsUp) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGINT, queueQuit);
      signal(SIGTERM, queueQuit);
      platformSetDialogHook(waitForever, nullptr);
      platformMessageBox("never answered", "Load Error", PLATFORM_DIALOG_OK, PLATFORM_DIALOG_ERROR,
                         PLATFORM_ANSWER_OK);
      _exit(0);
    }
    usleep(200000);
    kill(child, sig);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 500 && done == 0; i++) {
      done = waitpid(child, &status, WNOHANG);
      usleep(10000);
    }
    if (done == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "the box blocked the signal";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
  }
  bool defaultInside = false;
  void (*previous)(int) = signal(SIGTERM, queueQuit);
  platformSetDialogHook(answerAtOnce, &defaultInside);
  EXPECT_EQ(platformMessageBox("x", "y", PLATFORM_DIALOG_OK, PLATFORM_DIALOG_INFO, PLATFORM_ANSWER_OK),
            PLATFORM_ANSWER_OK);
  platformSetDialogHook(nullptr, nullptr);
  EXPECT_TRUE(defaultInside);
  struct sigaction after;
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, queueQuit) << "the loop's handler is back";
  signal(SIGTERM, previous);
}

}  // namespace

