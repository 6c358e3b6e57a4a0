// The user-interface manager and its start-up registration.
#include "ui/userinterfacemanager.h"

#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/interface/soundsystem.h"
#include "lib/str.h"
#include "platform/clock.h"
#include "render/material/material.h"
#include "ui/uiwindow.h"
#include "ui/userinterfacelocal.h"

UserInterfaceManager::UserInterfaceManager() {
  cursor_ = findMaterial("guis/assets/guicursor_arrow", true);
  white_ = findMaterial("guiWhite", true);
  root_ = new UIWindow(nullptr);
  root_->clearVars();
  root_->setName("gui");
}

UserInterfaceManager::~UserInterfaceManager() {
  UIWindow::destroyTree(root_);
  root_ = nullptr;
  while (!guis_.empty())
    freeGui(guis_.back());
  rateFuncs_.reset();
}

void UserInterfaceManager::reloadGuis(bool all) {
  for (size_t i = 0; i < guis_.size(); ++i) {
    UserInterfaceLocal* gui = guis_[i];
    const bool active = gui->getStateBool("active");
    if (all || active) {
      gui->reload();
      gui->activate(active, 0);
    }
  }
}

bool UserInterfaceManager::guiFileExists(const char* name) {
  if (!g_ioSystem || !name)
    return false;
  IOFileHandle file = 0;
  const int length = g_ioSystem->openFileRead(name, &file);
  if (file)
    g_ioSystem->closeFile(file);
  if (length == 0)
    cmdPrintf("WARNING: interface '%s' is empty\n", name);
  return length > 0;
}

UserInterfaceLocal* UserInterfaceManager::allocGui() {
  UserInterfaceLocal* gui = new UserInterfaceLocal();
  guis_.push_back(gui);
  return gui;
}

void UserInterfaceManager::freeGui(UserInterface* gui) {
  if (!gui)
    return;
  gui->activate(false, 0);
  for (size_t i = 0; i < guis_.size(); ++i) {
    if (guis_[i] == gui) {
      guis_.erase(guis_.begin() + long(i));
      break;
    }
  }
  // Commands of this gui that a running frame still holds would reach the game with a deleted
  // gui: drop them.
  for (std::vector<UICommand>* list : running_) {
    for (UICommand& command : *list) {
      if (command.gui == gui) {
        command.gui = nullptr;
        command.text[0] = '\0';
      }
    }
  }
  if (g_activeGui == gui)
    g_activeGui = nullptr;
  delete gui;
}

UserInterfaceLocal* UserInterfaceManager::findGui(const char* name, bool create, bool forceNew) {
  if (!name)
    return nullptr;
  if (!forceNew) {
    for (UserInterfaceLocal* gui : guis_)
      if (String::icmp(gui->getName(), name) == 0)
        return gui;
  }
  if (!create || !guiFileExists(name))
    return nullptr;
  UserInterfaceLocal* gui = allocGui();
  if (!gui->load(name, true)) {
    freeGui(gui);
    return nullptr;
  }
  return gui;
}

UIWindow* UserInterfaceManager::findWindowById(int id, UIWindow* root) {
  UIWindow* start = root ? root : root_;
  return start ? start->findById(id) : nullptr;
}

UIWindow* UserInterfaceManager::findWindow(const char* path, UIWindow* root) {
  UIWindow* start = root ? root : root_;
  return start ? start->findByPath(path) : nullptr;
}

void UserInterfaceManager::setRootVar(const char* name, const char* text) {
  if (root_)
    root_->setVarText(name, text);
}

void UserInterfaceManager::frame(int time) {
  if (time < 0)
    time = int(platformMilliseconds());
  rateFuncs_.update(time);
  std::vector<UICommand> commands;
  commands.reserve(16);
  for (size_t i = 0; i < guis_.size(); ++i) {
    UserInterfaceLocal* gui = guis_[i];
    if (!gui->getDesktop())
      continue;
    gui->getDesktop()->updateTime(time);
    gui->refreshFocus();
    std::vector<UICommand>& queued = gui->getProgram()->getCommands();
    commands.insert(commands.end(), queued.begin(), queued.end());
    gui->getProgram()->clearCommands();
  }
  running_.push_back(&commands);
  for (size_t i = 0; i < commands.size(); ++i) {
    const UICommand command = commands[i];
    if (!command.text[0])
      continue;
    if (command.gui) {
      if (g_gameInterface)
        g_gameInterface->guiEvent(command.gui, command.text);
    } else if (g_cmdSystem) {
      g_cmdSystem->executeText(command.text);
    }
  }
  running_.pop_back();
  if (g_activeGui && !g_activeGui->getStateBool("active"))
    g_activeGui = nullptr;
}

void UserInterfaceManager::keyToActiveGuis(int key) {
  for (size_t i = 0; i < guis_.size(); ++i) {
    UserInterfaceLocal* gui = guis_[i];
    if (gui->getDesktop() && gui->getDesktop()->getBoolVar("active", false) && gui->getFocusWindow())
      gui->getFocusWindow()->onKey(key);
  }
}

void UserInterfaceManager::actionReleaseToActiveGuis(int key) {
  for (size_t i = 0; i < guis_.size(); ++i) {
    UserInterfaceLocal* gui = guis_[i];
    if (gui->getDesktop() && gui->getDesktop()->getBoolVar("active", false) && gui->getFocusWindow())
      gui->getFocusWindow()->onActionRelease(key);
  }
}

void UserInterfaceManager::actionToActiveGuis(int key) {
  for (size_t i = 0; i < guis_.size(); ++i) {
    UserInterfaceLocal* gui = guis_[i];
    if (gui->getDesktop() && gui->getDesktop()->getBoolVar("active", false) && gui->getFocusWindow())
      gui->getFocusWindow()->onAction(key);
  }
}

UserInterfaceManager* getUserInterfaceManager() {
  if (!g_userInterfaceManager) {
    g_uiEditMode = false;
    g_userInterfaceManager = new UserInterfaceManager();
    g_uiSystem = g_userInterfaceManager;
  }
  return g_userInterfaceManager;
}

void destroyUserInterfaceManager() {
  UserInterfaceManager* manager = g_userInterfaceManager;
  if (!manager)
    return;
  delete manager;
  g_userInterfaceManager = nullptr;
  g_uiSystem = nullptr;
}

void playUiSound(const UISoundRecord* record) {
  if (record && record->kind == 2 && record->sound && record->sound[0] && g_soundSystem)
    g_soundSystem->playLocalSound(record->sound, 0, 0);
}

namespace {

bool createManager() {
  return getUserInterfaceManager() != nullptr;
}

RegisterManagerFactory s_register(kManagerUserInterface, createManager, nullptr, destroyUserInterfaceManager);

}  // namespace
