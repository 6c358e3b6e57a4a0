// Modal message boxes. Without a display, or with QUILLMERE_NO_DIALOGS set,
// the text goes to standard error and the box's default answer is returned at
// once, so a headless run never blocks on a box.
#pragma once

enum PlatformDialogButtons {
  PLATFORM_DIALOG_OK = 0,
  PLATFORM_DIALOG_OK_CANCEL = 1,
  PLATFORM_DIALOG_YES_NO = 2,
  PLATFORM_DIALOG_YES_NO_CANCEL = 3,
};

enum PlatformDialogIcon {
  PLATFORM_DIALOG_INFO = 0,
  PLATFORM_DIALOG_WARNING = 1,
  PLATFORM_DIALOG_ERROR = 2,
};

enum PlatformDialogAnswer {
  PLATFORM_ANSWER_NONE = -1,  // the box could not be shown and had no default
  PLATFORM_ANSWER_OK = 0,
  PLATFORM_ANSWER_CANCEL = 1,
  PLATFORM_ANSWER_YES = 2,
  PLATFORM_ANSWER_NO = 3,
};

// Shows the box and returns the answer. defaultAnswer is the highlighted
// button and what a headless run answers.
int platformMessageBox(const char* text, const char* caption, PlatformDialogButtons buttons,
                       PlatformDialogIcon icon, PlatformDialogAnswer defaultAnswer);

// False when boxes would not be shown (no display or QUILLMERE_NO_DIALOGS).
bool platformDialogsAvailable();

// Tests answer boxes through a hook; it sees every box and its answer is
// returned as the user's. Null removes it. Main thread only.
using PlatformDialogHook = int (*)(void* user, const char* text, const char* caption,
                                   PlatformDialogButtons buttons, PlatformDialogAnswer defaultAnswer);
void platformSetDialogHook(PlatformDialogHook hook, void* user);
