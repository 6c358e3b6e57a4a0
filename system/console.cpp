// The drop-down console: text store, notify lines, input editing and its drawing.
#include "system/console.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/systeminterface.h"
#include "platform/window.h"

// clang-format off
static ConVar con_speed("con_speed", "850", 0x2, "console scroll speed");
static ConVar con_fontscale("con_fontscale", "0.625", 0x4, "console font size");
static ConVar con_notifytime("con_notifytime", "0", 0x4, "display time for console text");
// clang-format on

namespace {

Console* s_console = nullptr;

void consoleOutput(void* user, const char* text) { static_cast<Console*>(user)->appendText(text); }

void clearCommand(const CmdArgs&) {
  if (s_console)
    s_console->clear();
}

bool createConsole() { return Console::getInstance(true) != nullptr; }

RegisterManagerFactory s_registerConsole(kManagerConsole, createConsole, nullptr, Console::destroyConsole);

}  // namespace

Console* Console::getInstance(bool create) {
  if (!s_console && create) {
    s_console = new (std::nothrow) Console;
    if (s_console)
      g_consoleSystem = s_console;
  }
  return s_console;
}

void Console::destroyConsole() {
  delete s_console;
  s_console = nullptr;
}

void Console::printf(const char* format, ...) {
  if (!s_console)
    return;
  va_list args;
  va_start(args, format);
  s_console->vprintf(format, args);
  va_end(args);
}

Console::Console() : clock_(getMilliseconds) {
  if (g_cmdSystem) {
    g_cmdSystem->setOutput(consoleOutput, this);
    g_cmdSystem->addCommand("clear", clearCommand, kCmdFlagEngine, "clears the the console window");
    g_cmdSystem->addCommand("cls", clearCommand, kCmdFlagEngine, "clears the the console window");
  }
  for (int i = 0; i <= kMaxLines; i++)
    lineTimes_[i] = -1;
  computeSizes();
  setCursor(0);
}

Console::~Console() {
  if (g_consoleSystem == this)
    g_consoleSystem = nullptr;
  // The command manager may outlive the console; it must not write into freed memory.
  if (g_cmdSystem)
    g_cmdSystem->setOutput(nullptr, nullptr);
}

const char* Console::line(int number) const {
  return number >= 1 && number <= kMaxLines ? lines_[number] : "";
}

int32_t Console::lineTime(int number) const { return number >= 1 && number <= kMaxLines ? lineTimes_[number] : -1; }

void Console::clear() {
  input_[0] = '\0';
  for (int i = 0; i <= kMaxLines; i++) {
    lines_[i][0] = '\0';
    lineTimes_[i] = -1;
  }
  lineCount_ = 0;
  scroll_ = 0;
  writing_ = 1;
  setCursor(0);
}

void Console::computeSizes() {
  float scale = con_fontscale.getFloat();
  if (g_renderSystem && font_ >= 0) {
    int space = g_renderSystem->getTextWidth(font_, " ", 1);
    int height = g_renderSystem->getFontHeight(font_);
    if (space > 0)
      charWidth_ = static_cast<float>(space) * scale;
    if (height > 0)
      lineHeight_ = static_cast<float>(height) * scale;
  }
  // A zero scale would divide by zero; the store holds at most 127 characters a line.
  if (charWidth_ <= 0.0f)
    charWidth_ = 1.0f;
  int cpl = static_cast<int>(width_ / charWidth_ - 1.0f);
  charsPerLine_ = cpl < 2 ? 2 : (cpl > kLineSize ? kLineSize : cpl);
}

void Console::initFont() {
  font_ = g_renderSystem ? g_renderSystem->registerFont("fonts/console") : -1;
  background_ = nullptr;
  backgroundLooked_ = false;
  computeSizes();
  int n = charsPerLine_ < kMaxLines ? charsPerLine_ : kMaxLines;
  std::memset(separator_, '-', static_cast<size_t>(n));
  separator_[n] = '\0';
  setCursor(cursor_);
}

void Console::vprintf(const char* format, va_list args) {
  if (!format)
    return;
  char text[16384];
  std::vsnprintf(text, sizeof(text), format, args);
  if (conVarInt("con_devconsole", 0)) {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
  appendText(text);
}

void Console::completeLine() {
  lineCount_++;
  if (scroll_ != 0)
    scroll_++;
  writing_++;
}

void Console::dropOldLines() {
  std::memmove(lines_[1], lines_[1 + kDropLines], sizeof(lines_[0]) * (kMaxLines - kDropLines));
  std::memmove(&lineTimes_[1], &lineTimes_[1 + kDropLines], sizeof(lineTimes_[0]) * (kMaxLines - kDropLines));
  for (int i = kMaxLines - kDropLines + 1; i <= kMaxLines; i++) {
    lines_[i][0] = '\0';
    lineTimes_[i] = -1;
  }
  lineCount_ -= kDropLines;
  if (lineCount_ < 0)
    lineCount_ = 0;
  if (scroll_ != 0)
    scroll_ = scroll_ - kDropLines < 1 ? 1 : scroll_ - kDropLines;
  // The line being written moves with the others and keeps what it holds so far.
  writing_ -= kDropLines;
}

void Console::appendText(const char* text) {
  if (!text)
    return;
  if (lineCount_ == 0)
    writing_ = 1;
  const int32_t stamp = open_ ? -1 : static_cast<int32_t>(now() & 0x7fffffff);
  for (const char* p = text; *p; p++) {
    if (writing_ >= kMaxLines)
      dropOldLines();
    char* line = lines_[writing_];
    if (*p == '\n' || *p == '\r') {
      completeLine();
      continue;
    }
    size_t len = std::strlen(line);
    if (static_cast<int>(len) >= charsPerLine_ - 1) {
      completeLine();
      if (writing_ >= kMaxLines)
        dropOldLines();
      line = lines_[writing_];
      len = std::strlen(line);
    }
    line[len] = *p;
    line[len + 1] = '\0';
    lineTimes_[writing_] = stamp;
  }
}

void Console::update() {
  float t = static_cast<float>(now()) / 1000.0f;
  // The first update has no previous one: the slide starts from there.
  float step = started_ ? con_speed.getFloat() * (t - currentTime_) : 0.0f;
  started_ = true;
  if (sliding_) {
    if (!open_) {
      if (conVarInt("r_fullscreen", 1) == 0)
        platformShowCursor(true);
      height_ += step;
      if (height_ > openHeight_) {
        open_ = true;
        height_ = openHeight_;
        sliding_ = false;
      }
      if (g_keyBindSystem)
        g_keyBindSystem->setMode(g_keyBindSystem->getMode() | kKeyModeConsole);
    } else {
      platformShowCursor(false);
      height_ -= step;
      if (height_ < 0.0f) {
        open_ = false;
        height_ = 0.0f;
        sliding_ = false;
      }
      if (g_keyBindSystem)
        g_keyBindSystem->setMode(g_keyBindSystem->getMode() & ~kKeyModeConsole);
    }
  }
  previousTime_ = currentTime_;
  currentTime_ = t;
}

void Console::setCursor(int position) {
  int len = static_cast<int>(std::strlen(input_));
  cursor_ = position < 0 ? 0 : (position > len ? len : position);
  cursorX_ = static_cast<float>(cursor_ + 1) * charWidth_;
}

void Console::executeInput() {
  if (input_[0]) {
    std::memmove(history_[1], history_[0], sizeof(history_[0]) * (kHistory - 1));
    std::memcpy(history_[0], input_, sizeof(input_));
    char command[kLineSize];
    std::memcpy(command, input_, sizeof(command));
    input_[0] = '\0';
    if (g_cmdSystem) {
      g_cmdSystem->printf("]%s\n", command);
      g_cmdSystem->executeText(command);
    } else {
      printf("]%s\n", command);
    }
  }
  historyIndex_ = 0;
  setCursor(0);
}

void Console::keyEvent(int key) {
  if (!open_ || (key >= 145 && key <= 156))
    return;
  const int len = static_cast<int>(std::strlen(input_));
  const bool ctrl = g_keyBindSystem && g_keyBindSystem->isDown(kKeyCtrl);
  switch (key) {
    case kKeyWheelUp:
      if (scroll_ < lineCount_ - 1)
        scroll_++;
      break;
    case kKeyWheelDown:
      if (scroll_ > 0)
        scroll_--;
      break;
    case kKeyPageUp:
      if (scroll_ < lineCount_ - 4)
        scroll_ += 4;
      break;
    case kKeyPageDown:
      scroll_ = scroll_ - 4 < 0 ? 0 : scroll_ - 4;
      break;
    case kKeyTab:
      if (g_cmdSystem)
        g_cmdSystem->completeCommand(input_, sizeof(input_));
      input_[kLineSize - 1] = '\0';
      setCursor(static_cast<int>(std::strlen(input_)));
      break;
    case kKeyEnter:
      executeInput();
      break;
    case kKeyEscape:
      setSliding(true);
      break;
    case kKeyBackspace:
      if (cursor_ > 0) {
        std::memmove(input_ + cursor_ - 1, input_ + cursor_, static_cast<size_t>(len - cursor_ + 1));
        setCursor(cursor_ - 1);
      } else {
        setCursor(0);
      }
      break;
    case kKeyDelete:
      if (cursor_ < len)
        std::memmove(input_ + cursor_, input_ + cursor_ + 1, static_cast<size_t>(len - cursor_));
      break;
    case kKeyLeft:
      setCursor(cursor_ - 1);
      break;
    case kKeyRight:
      setCursor(cursor_ + 1);
      break;
    case kKeyUp:
      // An empty entry (an empty history) leaves the input as it is.
      if (history_[historyIndex_][0]) {
        std::memcpy(input_, history_[historyIndex_], sizeof(input_));
        if (historyIndex_ + 1 < kHistory && history_[historyIndex_ + 1][0])
          historyIndex_++;
        setCursor(kLineSize);
      }
      break;
    case kKeyDown:
      historyIndex_--;
      if (historyIndex_ < 0) {
        input_[0] = '\0';
        historyIndex_ = 0;
      } else {
        std::memcpy(input_, history_[historyIndex_], sizeof(input_));
      }
      setCursor(kLineSize);
      break;
    case kKeyHome:
      if (ctrl)
        scroll_ = lineCount_ > 0 ? lineCount_ - 1 : 0;
      else
        setCursor(0);
      break;
    case kKeyEnd:
      if (ctrl)
        scroll_ = 0;
      else
        setCursor(len);
      break;
    default:
      break;
  }
}

void Console::charEvent(int character) {
  if (!open_)
    return;
  int len = static_cast<int>(std::strlen(input_));
  if (character == 22) {
    char clip[kLineSize];
    if (!platformClipboardText(clip, sizeof(clip)))
      clip[0] = '\0';
    // Line breaks and other control bytes of a pasted text would split or garble the command.
    for (char* p = clip; *p; p++)
      if (static_cast<unsigned char>(*p) < 32)
        *p = ' ';
    std::strncat(input_, clip, sizeof(input_) - 1 - static_cast<size_t>(len));
    setCursor(kLineSize);
  } else if (character == 3) {
    input_[0] = '\0';
    setCursor(0);
  } else if (character < 32 || character > 255) {
    return;
  } else {
    if (len >= kLineSize - 1)
      return;
    std::memmove(input_ + cursor_ + 1, input_ + cursor_, static_cast<size_t>(len - cursor_ + 1));
    input_[cursor_] = static_cast<char>(character);
    setCursor(cursor_ + 1);
  }
  if (cursor_ > charsPerLine_ - 1) {
    input_[charsPerLine_ - 1] = '\0';
    setCursor(charsPerLine_ - 1);
  }
}

void Console::drawColored(const char* text, float x, float y, float r, float g, float b) {
  g_renderSystem->setColor(r, g, b, 1.0f);
  g_renderSystem->drawText640(font_, x, y, con_fontscale.getFloat(), text,
                              static_cast<int>(std::strlen(text)));
  g_renderSystem->setColor(1, 1, 1, 1);
}

void Console::drawLine(const char* text, float x, float y, float alpha) {
  g_renderSystem->enableTextClip(false);
  g_renderSystem->setColor(color_[0], color_[1], color_[2], alpha);
  g_renderSystem->drawText640(font_, x, y, con_fontscale.getFloat(), text,
                              static_cast<int>(std::strlen(text)));
  g_renderSystem->setColor(1, 1, 1, 1);
  g_renderSystem->enableTextClip(true);
}

void Console::draw() {
  if (!g_renderSystem)
    return;
  g_renderSystem->setTextAlignment(0);
  computeSizes();
  const uint32_t ms = now();
  if (open_ || sliding_) {
    if (!backgroundLooked_) {
      backgroundLooked_ = true;
      background_ = g_declSystem ? g_declSystem->findMaterial("consoleBG", false) : nullptr;
    }
    // Materials derive from DeclResource alone (single inheritance, first base): same address.
    if (background_)
      g_renderSystem->drawStretchPic(reinterpret_cast<Material*>(background_), 0, 0, width_, height_, 0, 0, 1, 1);
    g_renderSystem->setColor(0, 1, 1, 1);
    g_renderSystem->drawRectOutline(0, 0, width_, height_, 1);
    g_renderSystem->setColor(1, 1, 1, 1);

    float y = static_cast<float>(static_cast<int>(height_) - 25);
    // Prompt and cursor in the text colour: black ones vanish on the dark background. The cursor
    // goes down first so the letter under it is drawn over it and stays readable.
    drawColored("]", 0, y, color_[0], color_[1], color_[2]);
    if ((ms & 256) == 0)
      drawColored("_", cursorX_, y, color_[0], color_[1], color_[2]);
    drawLine(input_, charWidth_, y, 1.0f);
    if (!sliding_)
      drawColored("Ver 0.5 ", width_ - 8 * charWidth_, height_ - 15, 1, 1, 0);
    if (scroll_ > 0)
      drawColored(separator_, 0, height_ - 35, 1, 0, 0);
    const float lh = static_cast<float>(static_cast<int>(lineHeight_));
    y -= 2 * lh;
    for (int n = lineCount_; n > 0 && y >= -lineHeight_;) {
      n--;
      int number = n - scroll_ + 1;
      if (number >= 1)
        drawLine(lines_[number], 0, y, 1.0f);
      y -= lh;
    }
    return;
  }
  const float notify = con_notifytime.getFloat();
  if (notify <= 0.0f)
    return;
  float y = 0;
  int first = lineCount_ - 2 < 1 ? 1 : lineCount_ - 2;
  for (int n = first; n <= lineCount_; n++) {
    if (lineTimes_[n] < 1)
      continue;
    float alpha = notify + 1.0f - static_cast<float>(ms - static_cast<uint32_t>(lineTimes_[n])) / 1000.0f;
    if (alpha <= 0.0f)
      continue;
    drawLine(lines_[n], 0, y, alpha > 1.0f ? 1.0f : alpha);
    y += lineHeight_;
  }
}
