// The interface object: loading a ".gui" file, the state dictionary, input, drawing.
#include "ui/userinterfacelocal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/rendersystem.h"
#include "lib/interface/texmanager.h"
#include "lib/timer.h"
#include "lib/tokenparser.h"
#include "lib/vector.h"
#include "render/backend/renderbackend.h"
#include "render/material/material.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacemanager.h"

namespace {

void loadError(const char* format, const char* arg) __attribute__((format(printf, 1, 0)));
void loadError(const char* format, const char* arg) {
  if (g_cmdSystem)
    g_cmdSystem->error(0, format, arg);
}

UIWindow* newDesktop(UserInterfaceLocal* gui) {
  UIWindow* desktop = new UIWindow(gui);
  desktop->setName("desktop");
  desktop->setKind("windowDef");
  desktop->setVarText("rect", "0,0,640,480");
  return desktop;
}

}  // namespace

UserInterfaceLocal::UserInterfaceLocal() {
  desktop_ = newDesktop(this);
  if (!g_uiEditMode && g_userInterfaceManager)
    cursor_ = g_userInterfaceManager->getCursorMaterial();
}

UserInterfaceLocal::~UserInterfaceLocal() {
  clear();
}

void UserInterfaceLocal::clear() {
  UIWindow::destroyTree(desktop_);
  desktop_ = nullptr;
  focus_ = nullptr;
  program_.close();
}

bool UserInterfaceLocal::load(const char* name, bool) {
  clear();
  name_ = name ? name : "";
  program_.setFile("script/ui/ui_common.lua");
  Timer timer;
  timer.init();
  TokenParser parser;
  if (!parser.loadFile(name_.c_str()) && !parser.loadFile(name_.c_str(), true)) {
    loadError("File Not Found: %s\n", name_.c_str());
    return false;
  }
  char token[512];
  bool result = false;
  if (!parser.readToken(token, sizeof(token)))
    token[0] = '\0';
  // A file without a "windowDef" (an empty one too) is refused: a gui never lacks its desktop
  // after a successful load.
  if (String::icmp(token, "windowDef") != 0) {
    loadError("Unknown token: '%s'.  Expected 'windowDef desktop'.\n", token);
  } else {
    desktop_ = new UIWindow(this);
    desktop_->setKind(token);
    parser.setPunctuation("{}();");
    result = desktop_->parse(&program_, parser, 0);
  }
  cmdPrintf("load time: %d\n", int(timer.elapsed()));
  if (!result)
    cmdPrintf("WARNING: interface '%s' was not loaded: the file is empty or damaged\n", name_.c_str());
  return result;
}

bool UserInterfaceLocal::reload() {
  clear();
  const std::string name = name_;
  return load(name.c_str(), true);
}

bool UserInterfaceLocal::runScript(const char* text) {
  return program_.runText("raw script", text);
}

// --- State ---

KeyDict* UserInterfaceLocal::getStateDict() {
  return desktop_ ? desktop_->getVars() : nullptr;
}

void UserInterfaceLocal::deleteStateVar(const char* name) {
  if (desktop_)
    desktop_->deleteVar(name);
}

void UserInterfaceLocal::setStateString(const char* name, const char* text) {
  if (desktop_)
    desktop_->setVarText(name, text);
}

void UserInterfaceLocal::setStateBool(const char* name, bool value) {
  setStateInt(name, value ? 1 : 0);
}

void UserInterfaceLocal::setStateInt(const char* name, int value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%d", value);
  setStateString(name, text);
}

void UserInterfaceLocal::setStateFloat(const char* name, float value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%f", double(value));
  setStateString(name, text);
}

void UserInterfaceLocal::setStateVec4(const char* name, const float* value) {
  if (!value)
    return;
  setStateString(name, String::floatArrayToString(value, 4, 5));
}

const char* UserInterfaceLocal::getStateString(const char* name) {
  stateText_.clear();
  if (desktop_)
    desktop_->getVarText(name, nullptr, &stateText_);
  return stateText_.c_str();
}

bool UserInterfaceLocal::getStateBool(const char* name) {
  return getStateInt(name) != 0;
}

int UserInterfaceLocal::getStateInt(const char* name) {
  return std::atoi(getStateString(name));
}

float UserInterfaceLocal::getStateFloat(const char* name) {
  return float(std::strtod(getStateString(name), nullptr));
}

Vec4* UserInterfaceLocal::getStateVec4(Vec4* out, const char* name) {
  if (!out)
    return out;
  float v[4];
  const char* text = getStateString(name);
  uiParseVec(text[0] ? text : "0 0 0 0", v);
  out->x = v[0];
  out->y = v[1];
  out->z = v[2];
  out->w = v[3];
  return out;
}

// --- Events ---

void UserInterfaceLocal::namedEvent(const char* name) {
  if (desktop_)
    UIWindow::runNamedEvent(desktop_, name);
}

void UserInterfaceLocal::activate(bool active, int) {
  if (!desktop_)
    return;
  const int index = desktop_->findVarIndex("active");
  if (index < 0 || (std::atoi(desktop_->getVar(index)->text.c_str()) != 0) != active)
    desktop_->setActive(active);
}

void UserInterfaceLocal::trigger() {
  if (!desktop_)
    return;
  bool handled = false;
  UIWindow::runEvents(desktop_, "onTrigger", "", &handled);
  const int index = desktop_->findVarIndex("updateVisuals");
  const bool value = index >= 0 ? std::atoi(desktop_->getVar(index)->text.c_str()) != 0 : handled;
  desktop_->setVarText("updateVisuals", value ? "1" : "0");
}

void UserInterfaceLocal::refreshWindows(int, bool flag) {
  if (desktop_)
    UIWindow::updateTree(desktop_, flag);
}

// --- Input ---

const char* UserInterfaceLocal::handleEvent(const UIInputEvent* event, int, bool* handled) {
  bool result = false;
  // Keys and clicks go to the window under the cursor now, which may have appeared (or gone)
  // since the mouse last moved.
  if (event && desktop_ && (event->type == 1 || event->type == 2))
    refreshFocus();
  if (event && desktop_) {
    switch (event->type) {
      case 1:
        if (focus_) {
          if (event->value >= kUIKeyMouse1 && event->value <= kUIKeyMouseLast) {
            if (event->value2)
              focus_->onAction(event->value);
            else
              focus_->onActionRelease(event->value);
            result = true;
          } else if (event->value2) {
            result = focus_->onKey(event->value);
          }
        }
        break;
      case 2:
        if (event->value2 && focus_)
          result = focus_->onKey(event->value);
        break;
      case 3:
        // The first movement starts from the middle of the screen: the cursor never shows until
        // the mouse moves, and then not from a corner it was never taken to.
        if (mouseX_ == kNoMouse || mouseY_ == kNoMouse)
          mouseMove(320.0f + float(event->value), 240.0f + float(event->value2));
        else
          mouseMove(mouseX_ + float(event->value), mouseY_ + float(event->value2));
        result = true;
        break;
      default:
        break;
    }
  }
  if (handled)
    *handled = result;
  return "";
}

bool UserInterfaceLocal::mouseMove(float x, float y) {
  mouseX_ = x < 0.0f ? 0.0f : (x > 640.0f ? 640.0f : x);
  mouseY_ = y < 0.0f ? 0.0f : (y > 480.0f ? 480.0f : y);
  if (!(mouseX_ == mouseX_))
    mouseX_ = 0.0f;
  if (!(mouseY_ == mouseY_))
    mouseY_ = 0.0f;
  if (focus_ && focus_->isCapturingKeys())
    return true;
  if (!desktop_)
    return false;
  refreshFocus();
  return true;
}

void UserInterfaceLocal::refreshFocus() {
  // Before the mouse first moves there is no cursor to be under.
  if (!desktop_ || mouseX_ == kNoMouse || mouseY_ == kNoMouse)
    return;
  if (focus_ && focus_->isCapturingKeys())
    return;
  const float point[2] = {mouseX_, mouseY_};
  UIWindow* found = desktop_->hitTest(point);
  if (found != focus_) {
    UIWindow* previous = focus_;
    bool handled = false;
    if (previous && previous->getBoolVar("visible", true))
      UIWindow::runEvents(previous, "onMouseExit", "", &handled);
    if (found)
      UIWindow::runEvents(found, "onMouseEnter", "", &handled);
  }
  focus_ = found;
}

// --- Drawing ---

void UserInterfaceLocal::begin2D() {
  // Without a device (tools, tests) there is no back end state to set.
  if (!g_renderInterface)
    return;
  g_renderBackEnd.setOrtho2D(640.0f, 480.0f);
  g_renderBackEnd.setClipPlane0(nullptr);
  flags_ |= 3;
  g_renderBackEnd.setPassMode(kPassMode2D);
}

void UserInterfaceLocal::end2D() {
  if (g_renderInterface && flags_) {
    g_renderBackEnd.popMatrices((flags_ & 1) != 0, (flags_ & 2) != 0);
    g_renderBackEnd.setDepthAndCull(1, 1);
  }
  flags_ = 0;
  if (g_renderInterface)
    g_renderBackEnd.setPassMode(kPassModeNone);
}

void UserInterfaceLocal::setSurfaceProjection(const Mat4& matrix, float width, float height) {
  if (!g_renderInterface)
    return;
  // x grows along the surface's u axis, y (down the screen) against its v axis.
  Mat4 scale;
  scale.m[0] = width / 640.0f;
  scale.m[5] = -height / 480.0f;
  g_renderBackEnd.drawWithMatrix(Mat4::multiply(scale, matrix));
  flags_ |= 1;
}

void UserInterfaceLocal::redraw(int) {
  if (!desktop_)
    return;
  begin2D();
  desktop_->drawFullScreen();
  drawCursor();
  end2D();
}

void UserInterfaceLocal::drawOnSurface(int, const Mat4& matrix, float width, float height) {
  if (!desktop_)
    return;
  setSurfaceProjection(matrix, width, height);
  // In 2D mode the renderer's flat drawing keeps the matrices it finds.
  if (g_renderInterface)
    g_renderBackEnd.setPassMode(kPassMode2D);
  desktop_->drawFullScreen();
  end2D();
}

void UserInterfaceLocal::drawCursor() {
  if (g_uiEditMode || !cursor_)
    return;
  UIWindow* window = desktop_ ? desktop_ : focus_;
  if (window && window->getBoolVar("nocursor", false))
    return;
  if (mouseX_ == kNoMouse || mouseY_ == kNoMouse) {
    // Not shown until the mouse moves; its images are read with the first drawing of the
    // interface all the same, so a damaged one says so now and not at some later mouse move.
    if (g_renderInterface && g_renderInterface->isReady())
      for (int i = 0; ImageInterface* image = cursor_->getStageImage(0, i); ++i)
        image->load();
    return;
  }
  if (g_renderSystem)
    g_renderSystem->setColor(1.0f, 1.0f, 1.0f, 1.0f);
  UIWindow::drawRect(cursor_, mouseX_, mouseY_, 20.0f, 20.0f, 0.0f, 0.0f, 1.0f, 1.0f);
}
