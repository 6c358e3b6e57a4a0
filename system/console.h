// The drop-down console: a fixed store of 512 text lines fed by everything printed through the
// command manager, fading notify lines while closed, and an input line with history, editing,
// clipboard paste and Tab completion, drawn over the 640 x 480 virtual screen. Main thread only.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "lib/interface/consolesystem.h"

class DeclResource;

class Console final : public ConsoleSystem {
 public:
  static constexpr int kMaxLines = 512;
  static constexpr int kLineSize = 128;
  static constexpr int kHistory = 512;
  static constexpr int kDropLines = 52;

  enum Key {
    kKeyTab = 9,
    kKeyEnter = 13,
    kKeyEscape = 27,
    kKeyBackspace = 127,
    kKeyUp = 132,
    kKeyDown = 133,
    kKeyLeft = 134,
    kKeyRight = 135,
    kKeyCtrl = 137,
    kKeyDelete = 140,
    kKeyPageDown = 141,
    kKeyPageUp = 142,
    kKeyHome = 143,
    kKeyEnd = 144,
    kKeyWheelDown = 183,
    kKeyWheelUp = 184,
  };

  using ClockFunction = uint32_t (*)();

  // Created (and published as g_consoleSystem, receiving the command manager's output) when
  // `create` is set; null otherwise until then.
  static Console* getInstance(bool create);
  static void destroyConsole();
  // Appends to the console of the process; nothing when there is none.
  static void printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

  void vprintf(const char* format, va_list args);
  // Appends text that was already formatted (and echoed) elsewhere.
  void appendText(const char* text);

  void update() override;
  void draw() override;
  void initFont() override;
  void keyEvent(int key) override;
  void charEvent(int character) override;
  void setSliding(bool sliding) override { sliding_ = sliding; }
  bool isOpen() const { return open_; }
  bool isVisible() const override { return open_; }
  void clear();

  // Tests drive time through this; the engine's milliseconds otherwise.
  void setClock(ClockFunction clock) { clock_ = clock; }

  // Read access for tests and tools.
  int lineCount() const { return lineCount_; }
  int scroll() const { return scroll_; }
  int cursor() const { return cursor_; }
  float cursorX() const { return cursorX_; }
  float height() const { return height_; }
  bool sliding() const { return sliding_; }
  int charsPerLine() const { return charsPerLine_; }
  const char* input() const { return input_; }
  // Lines 1 to 512; "" outside.
  const char* line(int number) const;
  int32_t lineTime(int number) const;
  const char* history(int index) const { return index >= 0 && index < kHistory ? history_[index] : ""; }

 private:
  Console();
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  uint32_t now() const { return clock_(); }
  void completeLine();
  void dropOldLines();
  void computeSizes();
  void setCursor(int position);
  void executeInput();
  // A text line in the text colour with `alpha`, clipping off.
  void drawLine(const char* text, float x, float y, float alpha);
  void drawColored(const char* text, float x, float y, float r, float g, float b);

  float width_ = 640.0f;
  float openHeight_ = 120.0f;
  float height_ = 0.0f;
  float cursorX_ = 0.0f;
  float charWidth_ = 8.0f;
  int lineCount_ = 0;
  int scroll_ = 0;
  float lineHeight_ = 10.0f;
  int font_ = -1;
  DeclResource* background_ = nullptr;
  bool backgroundLooked_ = false;
  int charsPerLine_ = 79;
  int cursor_ = 0;
  int historyIndex_ = 0;
  bool sliding_ = false;
  bool open_ = false;
  char history_[kHistory][kLineSize] = {};
  char input_[kLineSize] = {};
  char lines_[kMaxLines + 1][kLineSize] = {};  // numbered 1 to 512
  int32_t lineTimes_[kMaxLines + 1] = {};
  int writing_ = 1;  // the line being written
  float previousTime_ = 0.0f;
  float currentTime_ = 0.0f;
  bool started_ = false;
  char separator_[kMaxLines + 1] = {};
  float color_[3] = {1.0f, 1.0f, 1.0f};
  ClockFunction clock_;
};
