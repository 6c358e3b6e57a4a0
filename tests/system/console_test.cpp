// The drop-down console: its text store fed through the command manager, wrapping and dropping of
// old lines, notify lines, the open/close slide, and the input line driven by key events.
#include "system/console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/convarsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/rendersystem.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "tests/support/nullkeybinds.h"
#include "tests/support/nullrender.h"

namespace {

uint32_t g_now = 5000;
uint32_t fakeClock() { return g_now; }

std::vector<std::string> g_calls;
void recordCommand(const CmdArgs& args) {
  std::string line;
  for (int i = 0; i < args.argc(); i++)
    line += (i ? " " : "") + std::string(args.argv(i));
  g_calls.push_back(line);
}

// Text drawn through drawText640 with the colour set at the time; glyphs are 8 wide, 16 high.
class TextRender : public NullRenderSystem {
 public:
  struct Text {
    std::string text;
    float x, y, alpha, r, g, b;
  };
  std::vector<Text> texts;
  float color[4] = {1, 1, 1, 1};
  int registered = 0;

  int registerFont(const char* name) override {
    registered++;
    return std::strcmp(name, "fonts/console") == 0 ? 0 : -1;
  }
  int getFontHeight(int font) override { return font == 0 ? 16 : 0; }
  int getTextWidth(int font, const char* text, int length) override {
    return font == 0 && text ? 8 * length : 0;
  }
  void setColor(float r, float g, float b, float a) override {
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = a;
  }
  void drawText640(int, float x, float y, float, const char* text, int length) override {
    texts.push_back({std::string(text, static_cast<size_t>(length)), x, y, color[3], color[0], color[1], color[2]});
  }
  const Text* find(const std::string& text) const {
    for (const Text& t : texts)
      if (t.text == text)
        return &t;
    return nullptr;
  }
};

class FakeKeyBinds : public NullKeyBinds {
 public:
  int mode = 4;
  bool ctrl = false;
  int getMode() override { return mode; }
  int setMode(int m) override { return mode = m; }
  bool isDown(int key) override { return key == Console::kKeyCtrl && ctrl; }
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 5000;
    g_calls.clear();
    cmd = getCmdManager();
    getConVarManager();
    cmd->addCommand("echoargs", recordCommand, kCmdFlagEngine, "records its words");
    g_renderSystem = &render;
    g_keyBindSystem = &keys;
    console = Console::getInstance(true);
    console->setClock(fakeClock);
    console->initFont();
  }
  void TearDown() override {
    Console::destroyConsole();
    g_renderSystem = nullptr;
    g_keyBindSystem = nullptr;
    destroyConVarManager();
    destroyCmdManager();
  }
  void open() {
    console->setSliding(true);
    console->update();
    g_now += 1000;
    console->update();
    ASSERT_TRUE(console->isOpen());
  }
  void type(const char* text) {
    for (const char* p = text; *p; p++)
      console->charEvent(static_cast<unsigned char>(*p));
  }
  CmdManager* cmd = nullptr;
  Console* console = nullptr;
  TextRender render;
  FakeKeyBinds keys;
};

TEST_F(ConsoleTest, FontSizesComeFromTheFontAndScale) {
  EXPECT_EQ(render.registered, 1);
  EXPECT_EQ(g_consoleSystem, console);
  EXPECT_EQ(Console::getInstance(false), console);
  // Space 8 x 0.625 = 5 units: 640 / 5 - 1 = 127 characters a line.
  EXPECT_EQ(console->charsPerLine(), 127);
  EXPECT_FLOAT_EQ(console->cursorX(), 5.0f);
}

TEST_F(ConsoleTest, EverythingPrintedThroughTheCommandManagerLandsInTheTextLines) {
  cmd->printf("first line\nsecond ");
  cmd->printf("half\r");
  Console::printf("%s %d\n", "third", 3);
  EXPECT_EQ(console->lineCount(), 3);
  EXPECT_STREQ(console->line(1), "first line");
  EXPECT_STREQ(console->line(2), "second half");
  EXPECT_STREQ(console->line(3), "third 3");
  EXPECT_EQ(console->lineTime(1), 5000);
  // "clear" and "cls" empty the store and the input.
  open();
  type("abc");
  cmd->executeText("cls");
  EXPECT_EQ(console->lineCount(), 0);
  EXPECT_STREQ(console->line(1), "");
  EXPECT_STREQ(console->input(), "");
  cmd->printf("again\n");
  EXPECT_STREQ(console->line(1), "again");
  // Printed while open: no time stamp, so never a notify line.
  EXPECT_EQ(console->lineTime(1), -1);
}

TEST_F(ConsoleTest, LongLinesWrapAtTheLineWidth) {
  std::string text(300, 'x');
  cmd->printf("%s\n", text.c_str());
  EXPECT_EQ(console->lineCount(), 3);
  EXPECT_EQ(std::strlen(console->line(1)), 126u);
  EXPECT_EQ(std::strlen(console->line(2)), 126u);
  EXPECT_EQ(std::strlen(console->line(3)), 48u);
}

TEST_F(ConsoleTest, The512thLineDropsTheOldest52AndAScrolledViewKeepsItsPlace) {
  for (int i = 1; i <= 400; i++)
    cmd->printf("line %d\n", i);
  console->setSliding(true);
  console->update();
  g_now += 1000;
  console->update();
  for (int i = 0; i < 100; i++)
    console->keyEvent(Console::kKeyWheelUp);
  EXPECT_EQ(console->scroll(), 100);
  for (int i = 401; i <= 511; i++)
    cmd->printf("line %d\n", i);
  EXPECT_EQ(console->lineCount(), 511);
  EXPECT_EQ(console->scroll(), 211);
  cmd->printf("partial");
  EXPECT_EQ(console->lineCount(), 459);
  EXPECT_EQ(console->scroll(), 159);
  EXPECT_STREQ(console->line(1), "line 53");
  EXPECT_STREQ(console->line(459), "line 511");
  cmd->printf(" end\n");
  EXPECT_STREQ(console->line(460), "partial end");
  EXPECT_STREQ(console->line(461), "");
  // Thousands of lines keep the store bounded.
  for (int i = 0; i < 3000; i++)
    cmd->printf("more %d\n", i);
  EXPECT_LT(console->lineCount(), 512);
  EXPECT_STREQ(console->line(console->lineCount()), "more 2999");
}

TEST_F(ConsoleTest, SlidingOpensAndClosesAndHandsTheInputOver) {
  console->setSliding(true);
  console->update();  // the first update only starts the clock
  EXPECT_EQ(keys.mode & kKeyModeConsole, kKeyModeConsole);
  g_now += 100;  // 85 units at 850 a second
  console->update();
  EXPECT_FALSE(console->isOpen());
  EXPECT_NEAR(console->height(), 85.0f, 0.01f);
  g_now += 100;
  console->update();
  EXPECT_TRUE(console->isOpen());
  EXPECT_FLOAT_EQ(console->height(), 120.0f);
  EXPECT_FALSE(console->sliding());
  console->keyEvent(Console::kKeyEscape);
  EXPECT_TRUE(console->sliding());
  g_now += 100;
  console->update();
  EXPECT_EQ(keys.mode & kKeyModeConsole, 0);
  EXPECT_TRUE(console->isOpen());
  g_now += 100;
  console->update();
  EXPECT_FALSE(console->isOpen());
  EXPECT_FLOAT_EQ(console->height(), 0.0f);
  EXPECT_EQ(keys.mode, 4);
}

TEST_F(ConsoleTest, KeysAndCharactersEditTheInputLine) {
  open();
  struct Step {
    int key;  // 0: type `chars`
    const char* chars;
    const char* input;
    int cursor;
  };
  const Step steps[] = {
      {0, "helo", "helo", 4},
      {Console::kKeyLeft, "", "helo", 3},
      {0, "l", "hello", 4},
      {Console::kKeyHome, "", "hello", 0},
      {Console::kKeyLeft, "", "hello", 0},
      {Console::kKeyBackspace, "", "hello", 0},
      {Console::kKeyDelete, "", "ello", 0},
      {Console::kKeyEnd, "", "ello", 4},
      {Console::kKeyDelete, "", "ello", 4},
      {Console::kKeyRight, "", "ello", 4},
      {Console::kKeyBackspace, "", "ell", 3},
      {0, "\x01\x1f", "ell", 3},  // control characters are ignored
      {150, "", "ell", 3},        // keys 145-156 are ignored
      {0, "\x03", "", 0},         // control-C clears
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.key ? std::to_string(s.key) : std::string(s.chars));
    if (s.key)
      console->keyEvent(s.key);
    else
      type(s.chars);
    EXPECT_STREQ(console->input(), s.input);
    EXPECT_EQ(console->cursor(), s.cursor);
    EXPECT_FLOAT_EQ(console->cursorX(), (static_cast<float>(s.cursor) + 1) * 5.0f);
  }
  // Typing past the line width cuts the input there.
  std::string longText(200, 'y');
  type(longText.c_str());
  EXPECT_EQ(std::strlen(console->input()), 126u);
  EXPECT_EQ(console->cursor(), 126);
}

TEST_F(ConsoleTest, ClosedConsoleIgnoresKeysAndCharacters) {
  type("abc");
  console->keyEvent(Console::kKeyWheelUp);
  EXPECT_STREQ(console->input(), "");
  EXPECT_EQ(console->scroll(), 0);
}

TEST_F(ConsoleTest, EnterRunsTheLineEchoesItAndKeepsHistory) {
  open();
  console->keyEvent(Console::kKeyUp);  // empty history: nothing changes
  EXPECT_STREQ(console->input(), "");
  console->keyEvent(Console::kKeyEnter);  // empty input: nothing runs
  EXPECT_EQ(console->lineCount(), 0);
  type("echoargs one two");
  console->keyEvent(Console::kKeyEnter);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], "echoargs one two");
  EXPECT_STREQ(console->line(1), "]echoargs one two");
  EXPECT_STREQ(console->input(), "");
  EXPECT_EQ(console->cursor(), 0);
  type("echoargs three");
  console->keyEvent(Console::kKeyEnter);
  EXPECT_STREQ(console->history(0), "echoargs three");
  EXPECT_STREQ(console->history(1), "echoargs one two");
  struct Step {
    int key;
    const char* input;
  };
  const Step steps[] = {
      {Console::kKeyUp, "echoargs three"},   {Console::kKeyUp, "echoargs one two"},
      {Console::kKeyUp, "echoargs one two"}, {Console::kKeyDown, "echoargs three"},
      {Console::kKeyDown, ""},               {Console::kKeyDown, ""},
      {Console::kKeyUp, "echoargs three"},
  };
  for (const Step& s : steps) {
    console->keyEvent(s.key);
    EXPECT_STREQ(console->input(), s.input);
    EXPECT_EQ(console->cursor(), static_cast<int>(std::strlen(s.input)));
  }
}

TEST_F(ConsoleTest, TabCompletesCommandsAndVariables) {
  open();
  type("echoa");
  console->keyEvent(Console::kKeyTab);
  EXPECT_EQ(std::string(console->input()).rfind("echoargs", 0), 0u) << console->input();
  EXPECT_EQ(console->cursor(), static_cast<int>(std::strlen(console->input())));
  console->charEvent(3);
  type("con_notify");
  console->keyEvent(Console::kKeyTab);
  EXPECT_EQ(std::string(console->input()).rfind("con_notifytime", 0), 0u) << console->input();
}

TEST_F(ConsoleTest, ScrollKeysStayWithinTheText) {
  for (int i = 0; i < 10; i++)
    cmd->printf("l%d\n", i);
  open();
  struct Step {
    int key;
    bool ctrl;
    int scroll;
  };
  const Step steps[] = {
      {Console::kKeyPageUp, false, 4},    {Console::kKeyPageUp, false, 8},   {Console::kKeyPageUp, false, 8},
      {Console::kKeyWheelUp, false, 9},   {Console::kKeyWheelUp, false, 9},  {Console::kKeyPageDown, false, 5},
      {Console::kKeyPageDown, false, 1},  {Console::kKeyPageDown, false, 0}, {Console::kKeyWheelDown, false, 0},
      {Console::kKeyHome, true, 9},       {Console::kKeyEnd, true, 0},       {Console::kKeyHome, false, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.key);
    keys.ctrl = s.ctrl;
    console->keyEvent(s.key);
    EXPECT_EQ(console->scroll(), s.scroll);
  }
}

TEST_F(ConsoleTest, OpenConsoleDrawsInputVersionAndNewestLinesAboveTheInput) {
  for (int i = 1; i <= 30; i++)
    cmd->printf("text %d\n", i);
  open();
  type("map x");
  render.texts.clear();
  console->draw();
  const TextRender::Text* input = render.find("map x");
  ASSERT_NE(input, nullptr);
  EXPECT_FLOAT_EQ(input->y, 95);  // height 120 - 25
  EXPECT_FLOAT_EQ(input->x, 5);
  // The prompt and the blinking cursor take the text colour (black vanishes on the dark
  // background); the cursor goes down before the input so the letter under it stays on top.
  ASSERT_NE(render.find("]"), nullptr);
  EXPECT_FLOAT_EQ(render.find("]")->r, 1);
  EXPECT_FLOAT_EQ(render.find("]")->g, 1);
  EXPECT_FLOAT_EQ(render.find("]")->b, 1);
  const uint32_t drawnAt = g_now;
  g_now = (g_now | 511) + 1;  // bit 8 clear: the cursor's half of the blink
  render.texts.clear();
  console->draw();
  g_now = drawnAt;
  const TextRender::Text* cursor = render.find("_");
  ASSERT_NE(cursor, nullptr) << "the cursor shows while bit 8 of the time is clear";
  EXPECT_FLOAT_EQ(cursor->r + cursor->g + cursor->b, 3);
  EXPECT_LT(cursor, render.find("map x")) << "the cursor is drawn before the input text";
  ASSERT_NE(render.find("Ver 0.5 "), nullptr);
  EXPECT_EQ(render.find("-"), nullptr);
  const TextRender::Text* newest = render.find("text 30");
  ASSERT_NE(newest, nullptr);
  EXPECT_FLOAT_EQ(newest->y, 95 - 2 * 10);  // line height 16 x 0.625
  EXPECT_FLOAT_EQ(render.find("text 29")->y, 65);
  // Lines above the top are not drawn.
  EXPECT_EQ(render.find("text 15"), nullptr);
  // Scrolled back: the separator shows and the view moves up the store.
  console->keyEvent(Console::kKeyWheelUp);
  render.texts.clear();
  console->draw();
  EXPECT_EQ(render.find("text 30"), nullptr);
  ASSERT_NE(render.find("text 29"), nullptr);
  EXPECT_FLOAT_EQ(render.find("text 29")->y, 75);
  bool separator = false;
  for (const auto& t : render.texts)
    separator |= t.text.size() == 127 && t.text.find_first_not_of('-') == std::string::npos && t.r == 1 && t.g == 0;
  EXPECT_TRUE(separator);
}

TEST_F(ConsoleTest, NotifyLinesFadeWhileClosed) {
  g_conVarSystem->setInt("con_notifytime", 3);
  cmd->printf("a\nb\nc\nd\n");
  struct Step {
    uint32_t after;  // ms since printing
    float alpha;     // < 0: not drawn
  };
  const Step steps[] = {{0, 1.0f}, {1000, 1.0f}, {3500, 0.5f}, {4000, -1}, {9000, -1}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.after);
    g_now = 5000 + s.after;
    render.texts.clear();
    console->draw();
    // The newest three lines, in order from the top.
    if (s.alpha < 0) {
      EXPECT_TRUE(render.texts.empty());
      continue;
    }
    ASSERT_EQ(render.texts.size(), 3u);
    EXPECT_EQ(render.texts[0].text, "b");
    EXPECT_EQ(render.texts[2].text, "d");
    EXPECT_FLOAT_EQ(render.texts[1].y, 10);
    EXPECT_NEAR(render.texts[0].alpha, s.alpha, 1e-3);
  }
  g_conVarSystem->setInt("con_notifytime", 0);
  g_now = 5000;
  render.texts.clear();
  console->draw();
  EXPECT_TRUE(render.texts.empty());
}

TEST_F(ConsoleTest, DestroyedConsoleNoLongerReceivesOutput) {
  Console::destroyConsole();
  EXPECT_EQ(g_consoleSystem, nullptr);
  cmd->printf("after\n");  // must not write into the freed console
  Console::printf("after\n");
  console = Console::getInstance(true);
  console->setClock(fakeClock);
  EXPECT_EQ(console->lineCount(), 0);
}

}  // namespace
