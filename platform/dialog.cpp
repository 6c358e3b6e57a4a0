// Message boxes through SDL2, with the headless fall-back to standard error.
#include "platform/dialog.h"

#include <SDL.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

PlatformDialogHook s_hook = nullptr;
void* s_hookUser = nullptr;

bool envSet(const char* name) {
  const char* value = std::getenv(name);
  return value && value[0] != '\0';
}

const char* answerName(int answer) {
  switch (answer) {
    case PLATFORM_ANSWER_OK:
      return "OK";
    case PLATFORM_ANSWER_CANCEL:
      return "Cancel";
    case PLATFORM_ANSWER_YES:
      return "Yes";
    case PLATFORM_ANSWER_NO:
      return "No";
    default:
      return "none";
  }
}

int printInstead(const char* text, const char* caption, PlatformDialogAnswer defaultAnswer) {
  std::fprintf(stderr, "[%s]\n%s\n(no dialog shown; answered %s)\n", caption ? caption : "", text ? text : "",
               answerName(defaultAnswer));
  std::fflush(stderr);
  return defaultAnswer;
}

// While a box is up the main loop, which turns SIGINT and SIGTERM into a quit (SDL's handlers
// queue an event), does not run: the signals take their default action instead and end the
// process, so Ctrl+C or a kill never waits on a box nobody answers.
class DefaultTerminationSignals {
 public:
  DefaultTerminationSignals() {
    struct sigaction plain;
    std::memset(&plain, 0, sizeof(plain));
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    sigaction(SIGINT, &plain, &savedInt_);
    sigaction(SIGTERM, &plain, &savedTerm_);
  }
  ~DefaultTerminationSignals() {
    sigaction(SIGINT, &savedInt_, nullptr);
    sigaction(SIGTERM, &savedTerm_, nullptr);
  }
  DefaultTerminationSignals(const DefaultTerminationSignals&) = delete;
  DefaultTerminationSignals& operator=(const DefaultTerminationSignals&) = delete;

 private:
  struct sigaction savedInt_;
  struct sigaction savedTerm_;
};

}  // namespace

bool platformDialogsAvailable() {
  const char* noDialogs = std::getenv("QUILLMERE_NO_DIALOGS");
  if (noDialogs && noDialogs[0] != '\0' && std::strcmp(noDialogs, "0") != 0) {
    return false;
  }
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    return false;
  }
  return envSet("DISPLAY") || envSet("WAYLAND_DISPLAY");
}

void platformSetDialogHook(PlatformDialogHook hook, void* user) {
  s_hook = hook;
  s_hookUser = user;
}

int platformMessageBox(const char* text, const char* caption, PlatformDialogButtons buttons,
                       PlatformDialogIcon icon, PlatformDialogAnswer defaultAnswer) {
  DefaultTerminationSignals signals;
  if (s_hook) {
    return s_hook(s_hookUser, text, caption, buttons, defaultAnswer);
  }
  if (!platformDialogsAvailable()) {
    return printInstead(text, caption, defaultAnswer);
  }

  SDL_MessageBoxButtonData data[3];
  int count = 0;
  auto add = [&](int answer, const char* label, bool escape) {
    data[count].flags = 0;
    if (answer == defaultAnswer) {
      data[count].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    }
    if (escape) {
      data[count].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    }
    data[count].buttonid = answer;
    data[count].text = label;
    ++count;
  };
  switch (buttons) {
    case PLATFORM_DIALOG_OK:
      add(PLATFORM_ANSWER_OK, "OK", true);
      break;
    case PLATFORM_DIALOG_OK_CANCEL:
      add(PLATFORM_ANSWER_OK, "OK", false);
      add(PLATFORM_ANSWER_CANCEL, "Cancel", true);
      break;
    case PLATFORM_DIALOG_YES_NO:
      add(PLATFORM_ANSWER_YES, "Yes", false);
      add(PLATFORM_ANSWER_NO, "No", true);
      break;
    case PLATFORM_DIALOG_YES_NO_CANCEL:
      add(PLATFORM_ANSWER_YES, "Yes", false);
      add(PLATFORM_ANSWER_NO, "No", false);
      add(PLATFORM_ANSWER_CANCEL, "Cancel", true);
      break;
  }
  SDL_MessageBoxData box;
  std::memset(&box, 0, sizeof(box));
  box.flags = icon == PLATFORM_DIALOG_ERROR     ? SDL_MESSAGEBOX_ERROR
              : icon == PLATFORM_DIALOG_WARNING ? SDL_MESSAGEBOX_WARNING
                                                : SDL_MESSAGEBOX_INFORMATION;
  box.title = caption ? caption : "";
  box.message = text ? text : "";
  box.numbuttons = count;
  box.buttons = data;
  int pressed = -1;
  if (SDL_ShowMessageBox(&box, &pressed) != 0) {
    return printInstead(text, caption, defaultAnswer);
  }
  // Closing the box without a button counts as its escape button.
  if (pressed < 0) {
    pressed = data[count - 1].buttonid;
  }
  return pressed;
}
