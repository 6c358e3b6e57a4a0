// Message boxes: the headless fall-back answers at once with the default and
// prints the text; a hook answers instead of the user.
#include <gtest/gtest.h>

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

}  // namespace
