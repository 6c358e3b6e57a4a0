// Warning boxes through the platform dialog; tests answer them through the
// dialog's own hook.
#include "system/messagebox.h"

#include "platform/dialog.h"

int showMessageBox(const char* text, const char* caption, bool yesNoCancel) {
  if (!yesNoCancel) {
    platformMessageBox(text, caption, PLATFORM_DIALOG_OK, PLATFORM_DIALOG_WARNING, PLATFORM_ANSWER_OK);
    return 0;
  }
  int answer = platformMessageBox(text, caption, PLATFORM_DIALOG_YES_NO_CANCEL, PLATFORM_DIALOG_WARNING,
                                  PLATFORM_ANSWER_NO);
  switch (answer) {
    case PLATFORM_ANSWER_YES:
      return 0;
    case PLATFORM_ANSWER_NO:
      return 1;
    case PLATFORM_ANSWER_CANCEL:
      return 2;
    default:
      return -1;
  }
}
