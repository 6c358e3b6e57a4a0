// Bind, combo and dialog windows.
//
// Sections: shared property handling; bind windows; combo windows; dialog windows.
#include "ui/uikinds.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "lib/interface/convarsystem.h"
#include "lib/interface/keybindsystem.h"
#include "lib/interface/rendersystem.h"
#include "lib/tokenparser.h"
#include "render/material/material.h"
#include "ui/userinterfacelocal.h"
#include "ui/userinterfacemanager.h"

namespace {

const UIVarDef kBindProperties[] = {
    {kUIVarText, "bind", "", 0},
    {kUIVarNone, nullptr, nullptr, 0},
};

const UIVarDef kComboProperties[] = {
    {kUIVarText, "choices", "", 0},
    {kUIVarText, "values", "", 0},
    {kUIVarText, "cvar", "", 0},
    {kUIVarNone, nullptr, nullptr, 0},
};

const UIVarDef kDialogProperties[] = {
    {kUIVarText, "dlgfile", "", 0},   {kUIVarFloat, "autoscroll", "10.0", 0}, {kUIVarFloat, "huge", "2.0", 0},
    {kUIVarFloat, "big", "1.5", 0},   {kUIVarFloat, "default", "1.0", 0},     {kUIVarFloat, "small", "0.5", 0},
    {kUIVarFloat, "tiny", "0.25", 0}, {kUIVarNone, nullptr, nullptr, 0},
};

int nowTime() {
  return g_userInterfaceManager ? g_userInterfaceManager->currentTime() : 0;
}

// Pieces of a ";"-separated list, empty ones dropped, at most `limit` of them.
std::vector<std::string> splitList(const std::string& text, size_t limit) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size() && pieces.size() < limit) {
    size_t end = text.find(';', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace

// --- Shared property handling ---

bool UIKindWindow::isVarDefault(int index) const {
  if (UIWindow::isVarDefault(index))
    return true;
  const UIVar* var = getVar(index);
  if (!var)
    return false;
  for (const UIVarDef* row = properties_; row->type != kUIVarNone; ++row)
    if (String::icmp(row->name, var->name.c_str()) == 0)
      return uiVarMatchesDefault(*row, *var);
  return false;
}

void UIKindWindow::declareProperties() {
  // The names are plain words the window lacks: set here, not looked up as paths.
  for (const UIVarDef* row = properties_; row->type != kUIVarNone; ++row) {
    if (findVarIndex(row->name) < 0) {
      setOwnVarText(row->name, row->defaultText);
      setVarType(row->name, row->type, row->flags);
    }
  }
}

void UIKindWindow::setKindDefaults() {
  static std::vector<std::pair<const UIVarDef*, std::vector<UIVar>>> s_defaults;
  for (const auto& entry : s_defaults) {
    if (entry.first == properties_) {
      setDefaultVars(entry.second, properties_);
      return;
    }
  }
  // The properties' defaults name no material or font, so the set holds wherever it is made.
  setBuiltinVars();
  UIKindWindow::declareProperties();
  s_defaults.emplace_back(properties_, vars_);
}

// --- Bind windows ---

UIBindDef::UIBindDef(UserInterfaceLocal* gui) : UIKindWindow(gui, kBindProperties) {
  declareProperties();
}

UIBindDef::UIBindDef(UserInterfaceLocal* gui, UIBareWindow) : UIKindWindow(gui, kBindProperties, UIBareWindow()) {}

void UIBindDef::update() {
  if (capturing_)
    return;
  const char* command = getStringVar("bind", "");
  if (!command[0])
    return;
  char keys[256] = "";
  if (g_keyBindSystem)
    g_keyBindSystem->keysForCommand(command, keys);
  setVarText("text", keys[0] ? keys : "<empty>");
}

bool UIBindDef::onAction(int key) {
  if (!capturing_) {
    if (key != kUIKeyMouse1)
      return false;
    capturing_ = true;
    setVarText("text", "Press Any Key...");
    return true;
  }
  UIWindow::onAction(key);
  return onKey(key);
}

void UIBindDef::unbindCommand(const char* command) {
  if (!command[0])
    return;
  // The key bindings name the command's keys one or two at a time; clear them until none is left.
  for (int guard = 0; guard < 256; ++guard) {
    char keys[256] = "";
    g_keyBindSystem->keysForCommand(command, keys);
    if (!keys[0])
      return;
    char* split = std::strstr(keys, " or ");
    if (split)
      *split = '\0';
    const int key = g_keyBindSystem->keyFromName(keys);
    if (key < 0)
      return;
    g_keyBindSystem->setBinding(key, "");
  }
}

bool UIBindDef::onKey(int key) {
  const bool handled = UIWindow::onKey(key);
  if (!capturing_)
    return handled;
  capturing_ = false;
  // Escape gives up without touching the bindings. Any other key replaces the keys the command
  // had: a rebinding that only added would leave the old key doing it too.
  if (key != 27 && g_keyBindSystem) {
    const std::string command = getStringVar("bind", "");
    unbindCommand(command.c_str());
    g_keyBindSystem->setBinding(key, command.c_str());
  }
  update();
  return true;
}

// --- Combo windows ---

UIComboDef::UIComboDef(UserInterfaceLocal* gui) : UIKindWindow(gui, kComboProperties) {
  declareProperties();
}

UIComboDef::UIComboDef(UserInterfaceLocal* gui, UIBareWindow) : UIKindWindow(gui, kComboProperties, UIBareWindow()) {}

void UIComboDef::declareProperties() {
  UIKindWindow::declareProperties();
  setVarText("update", "1");
}

int UIComboDef::currentIndex(int usable, std::vector<std::string>* values) {
  const char* name = getStringVar("cvar", "");
  if (!name[0])
    return -1;
  ConVar* variable = g_conVarSystem ? g_conVarSystem->find(name) : nullptr;
  if (!variable) {
    setVarText("text", "invalid 'cvar'");
    return -1;
  }
  std::vector<std::string> pieces = splitList(std::string(getStringVar("values", "")).substr(0, 2048), kMaxPieces);
  if (usable >= 0 && int(pieces.size()) > usable)
    pieces.resize(size_t(usable));
  int index = 0;
  const double current = variable->getFloat();
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (std::fabs(textToDouble(pieces[i].c_str()) - current) < 1e-6) {
      index = int(i);
      break;
    }
  }
  if (values)
    *values = std::move(pieces);
  return index;
}

void UIComboDef::refresh() {
  std::vector<std::string> values;
  const int index = currentIndex(9999, &values);
  if (index < 0)
    return;
  std::string list = getStringVar("choices", "");
  ConVar* named = g_conVarSystem && !list.empty() ? g_conVarSystem->find(list.c_str()) : nullptr;
  if (named && named->getString()[0])
    list = named->getString();
  const std::vector<std::string> choices = splitList(list.substr(0, 2047), kMaxPieces);
  choices_ = int(values.size() < choices.size() ? values.size() : choices.size());
  setVarText("text", choices_ > 0 ? choices[size_t(index % choices_)].c_str() : "");
}

void UIComboDef::update() {
  if (!getBoolVar("update", false))
    return;
  setVarText("update", "0");
  refresh();
}

bool UIComboDef::onAction(int key) {
  std::vector<std::string> values;
  int index = currentIndex(choices_, &values);
  // With no usable values there is nothing to step through (and nothing to divide by).
  const int count = int(values.size());
  if (index >= 0 && count > 0) {
    if (key == kUIKeyMouse1)
      index = (index + 1) % count;
    else if (key == kUIKeyMouse1 + 1)
      index = (index + count - 1) % count;
    if (ConVar* variable = g_conVarSystem->find(getStringVar("cvar", "")))
      variable->setString(values[size_t(index)].c_str());
    refresh();
  }
  return UIWindow::onAction(key);
}

// --- Dialog windows ---

UIDialogDef::UIDialogDef(UserInterfaceLocal* gui) : UIKindWindow(gui, kDialogProperties) {
  declareProperties();
}

UIDialogDef::UIDialogDef(UserInterfaceLocal* gui, UIBareWindow) : UIKindWindow(gui, kDialogProperties, UIBareWindow()) {}

void UIDialogDef::declareProperties() {
  UIKindWindow::declareProperties();
  setVarText("update", "1");
}

void UIDialogDef::update() {
  if (!getBoolVar("update", false))
    return;
  setVarText("update", "0");
  loadFile();
}

void UIDialogDef::loadFile() {
  startTime_ = nowTime();
  lines_.clear();
  totalHeight_ = 0.0f;
  const std::string file = getStringVar("dlgfile", "");
  TokenParser parser;
  if (file.empty() || (!parser.loadFile(file.c_str()) && !parser.loadFile(file.c_str(), true)))
    return;
  // Line ends are tokens of their own: a line of nothing but its end is an empty text line.
  parser.setWhitespace(" \r");
  parser.setPunctuation("\n");

  int font = int(getFloatVar("font", 0.0f));
  if (font < 0)
    font = 0;
  float lineHeight = g_renderSystem ? float(g_renderSystem->getFontHeight(font)) : 0.0f;
  const float windowScale = getFloatVar("textscale", 1.0f);
  float scale = windowScale;
  int align = int(getFloatVar("textalign", 0.0f));
  align = align > 0 ? (align > 3 ? 3 : align) : 0;

  auto isLineEnd = [&](const char* token) {
    return token && token[0] == '\n' && !token[1] && !parser.tokenWasQuoted();
  };
  // The next word of this line, or "" at its end (the end stays to be read).
  auto word = [&]() -> std::string {
    const char* t = parser.nextToken(true);
    if (!t)
      return "";
    if (isLineEnd(t)) {
      parser.unreadToken();
      return "";
    }
    return t;
  };
  auto append = [&](std::unique_ptr<DialogLine> line) {
    line->font = font;
    line->align = align;
    totalHeight_ += line->height;
    lines_.push_back(std::move(line));
  };

  for (;;) {
    const char* first = parser.nextToken(true);
    if (!first)
      break;
    const bool quoted = parser.tokenWasQuoted();
    const std::string token = first;
    bool lineEnded = false;
    if (!quoted && String::icmp(token.c_str(), "$font") == 0) {
      const std::string name = word();
      // A font that cannot be registered (-1) leaves the current one.
      const int registered = g_renderSystem && !name.empty() ? g_renderSystem->registerFont(name.c_str()) : -1;
      if (registered >= 0) {
        font = registered;
        lineHeight = float(g_renderSystem->getFontHeight(font));
      }
    } else if (!quoted && String::icmp(token.c_str(), "$textscale") == 0) {
      // A property of the dialog ("big") or a number.
      const std::string v = word();
      scale = findVar(v.c_str()).value[0] * windowScale;
    } else if (!quoted && String::icmp(token.c_str(), "$textalign") == 0) {
      const std::string a = word();
      if (String::icmp(a.c_str(), "left") == 0) {
        align = 0;
      } else if (String::icmp(a.c_str(), "right") == 0) {
        align = 1;
      } else if (String::icmp(a.c_str(), "center") == 0) {
        align = 2;
      } else {
        const int n = textToInt(a.c_str());
        align = n < 0 ? 0 : (n > 3 ? 3 : n);
      }
    } else if (!quoted && String::icmp(token.c_str(), "$material") == 0) {
      const float w = float(textToDouble(word().c_str()));
      const float h = float(textToDouble(word().c_str()));
      const std::string name = word();
      auto line = std::make_unique<DialogLine>();
      line->picture = true;
      line->material = name.empty() ? nullptr : findMaterial(name.c_str(), true);
      line->width = w;
      line->height = h;
      append(std::move(line));
    } else {
      auto line = std::make_unique<DialogLine>();
      line->text = token;
      line->width = scale;
      line->height = scale * lineHeight;
      append(std::move(line));
      lineEnded = isLineEnd(first);
    }
    if (lineEnded)
      continue;
    // The rest of the line is not read.
    for (const char* t = parser.nextToken(true); t && !isLineEnd(t); t = parser.nextToken(true)) {
    }
  }
}

void UIDialogDef::scrollPosition(int now, int* firstLine, float* above) const {
  *firstLine = 0;
  *above = 0.0f;
  const int n = numLines();
  // A height of 0 or less does not scroll: the lines stand from line 0.
  if (n == 0 || !(totalHeight_ > 0.0f))
    return;
  const double elapsed = double(int64_t(now) - int64_t(startTime_));
  double offset = std::fmod(double(getFloatVar("autoscroll", 10.0f)) * elapsed * 0.001, double(totalHeight_));
  if (!(offset > 0.0))
    return;
  // At most one pass: the offset is below the total height.
  int index = 0;
  for (int step = 0; step < n; ++step) {
    const double h = lines_[size_t(index)]->height;
    if (offset < h)
      break;
    offset -= h;
    index = (index + 1) % n;
  }
  *firstLine = index;
  *above = float(offset);
}

void UIDialogDef::draw(const float origin[2]) {
  const UIVar* rectVar = getVar(findVarIndex("rect"));
  if (isHidden() || !rectVar)
    return;
  const float rect[4] = {origin[0] + rectVar->value.x, origin[1] + rectVar->value.y, rectVar->value.z,
                         rectVar->value.w};
  update();
  drawSelf(rect);
  static const float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float matColor[4];
  float foreColor[4];
  getVec4Var("matcolor", matColor, kWhite);
  getVec4Var("forecolor", foreColor, kWhite);
  const int n = numLines();
  if (n > 0 && g_renderSystem) {
    int index = 0;
    float above = 0.0f;
    scrollPosition(nowTime(), &index, &above);
    const float dx = getFloatVar("textalignx", 0.0f);
    const float dy = getFloatVar("textaligny", 0.0f);
    const float bottom = rect[1] + rect[3];
    g_renderSystem->setTextClipRect(rect[0], rect[1], rect[2], rect[3]);
    // Lines that add up to no height at all would never reach the bottom: one pass then. Tiny
    // heights are bounded the same way.
    const int limit = totalHeight_ > 0.0f ? n + 4096 : n;
    float top = rect[1] - above;
    for (int drawn = 0; top < bottom && drawn < limit; ++drawn) {
      const DialogLine& line = *lines_[size_t(index)];
      float x = rect[0] + dx;
      const float y = top + dy;
      if (line.picture) {
        if (matColor[3] > 0.0f && line.material) {
          if (line.align == 1)
            x += rect[2] - line.width;
          else if (line.align == 2)
            x += (rect[2] - line.width) * 0.5f;
          // The picture is cut to the window as the text is.
          float x0 = x, y0 = y, x1 = x + line.width, y1 = y + line.height;
          float s0 = 0.0f, t0 = 0.0f, s1 = 1.0f, t1 = 1.0f;
          if (line.width > 0.0f && line.height > 0.0f) {
            if (x0 < rect[0]) {
              s0 = (rect[0] - x) / line.width;
              x0 = rect[0];
            }
            if (x1 > rect[0] + rect[2]) {
              s1 = (rect[0] + rect[2] - x) / line.width;
              x1 = rect[0] + rect[2];
            }
            if (y0 < rect[1]) {
              t0 = (rect[1] - y) / line.height;
              y0 = rect[1];
            }
            if (y1 > bottom) {
              t1 = (bottom - y) / line.height;
              y1 = bottom;
            }
            g_renderSystem->setColorV(matColor);
            drawRect(line.material, x0, y0, x1 - x0, y1 - y0, s0, t0, s1, t1);
          }
        }
      } else if (foreColor[3] > 0.0f) {
        if (line.align == 1)
          x += rect[2];
        else if (line.align == 2)
          x += rect[2] * 0.5f;
        g_renderSystem->setColorV(foreColor);
        g_renderSystem->setTextAlignment(line.align);
        g_renderSystem->drawText640(line.font, x, y, line.width, line.text.c_str(), int(line.text.size()));
      }
      top += line.height;
      index = (index + 1) % n;
    }
  }
  if (g_renderSystem) {
    g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
    g_renderSystem->setTextAlignment(0);
    g_renderSystem->setTextClipRect(0.0f, 0.0f, 640.0f, 480.0f);
  }
  drawChildren(rect);
}
