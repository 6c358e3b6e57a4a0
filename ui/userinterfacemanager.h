// The user-interface manager: the list of loaded interfaces, the root window "gui" where absolute
// window paths start, the cursor and white materials, the rate functions of the transitions, and
// the per-frame update that runs time events and then the commands the interfaces queued.
#pragma once

#include <map>
#include <vector>

#include "lib/interface/userinterfacesystem.h"
#include "lib/keydict.h"
#include "ui/ratefunclist.h"
#include "ui/uiprogram.h"
#include "ui/userinterfacelocal.h"

class Material;
class UIWindow;


class UserInterfaceManager : public UserInterfaceSystem {
 public:
  UserInterfaceManager();
  ~UserInterfaceManager() override;
  UserInterfaceManager(const UserInterfaceManager&) = delete;
  UserInterfaceManager& operator=(const UserInterfaceManager&) = delete;

  void reloadGuis(bool all) override;
  bool guiFileExists(const char* name) override;
  UIWindow* getRootWindow() override { return root_; }
  UserInterfaceLocal* allocGui() override;
  void freeGui(UserInterface* gui) override;
  UserInterfaceLocal* findGui(const char* name, bool create, bool forceNew) override;
  void frame(int time) override;
  UIWindow* findWindowById(int id, UIWindow* root = nullptr);
  UIWindow* findWindow(const char* path, UIWindow* root = nullptr);

  RateFuncList& getRateFuncs() { return rateFuncs_; }
  // The time transitions start from: that of the last frame.
  int currentTime() const { return rateFuncs_.lastUpdateTime(); }
  void setRootVar(const char* name, const char* text);
  void keyToActiveGuis(int key);
  void actionReleaseToActiveGuis(int key);
  void actionToActiveGuis(int key);
  Material* getCursorMaterial() const { return cursor_; }
  Material* getWhiteMaterial() const { return white_; }
  int numGuis() const { return int(guis_.size()); }
  UserInterfaceLocal* guiAt(int index) const { return guis_[size_t(index)]; }
  // A default set of window variables (the built-in ones, or those of a kind) as names and texts,
  // filled by the first window made with it.
  KeyDict& defaultVarDict(const void* kind) { return defaultVars_[kind]; }
  void setSpare(int value) { spare_ = value; }
  int getSpare() const { return spare_; }

 private:
  Material* cursor_ = nullptr;
  Material* white_ = nullptr;
  UIWindow* root_ = nullptr;
  int spare_ = 0;
  RateFuncList rateFuncs_;
  std::map<const void*, KeyDict> defaultVars_;
  std::vector<UserInterfaceLocal*> guis_;
  // Command lists of the frames running now (a command can load a map, whose loading screen runs
  // frames of its own); freeing a gui drops its commands from them.
  std::vector<std::vector<UICommand>*> running_;
};

// Creates the manager on first call and publishes it (g_userInterfaceManager, g_uiSystem).
UserInterfaceManager* getUserInterfaceManager();
void destroyUserInterfaceManager();
inline UserInterfaceManager* g_userInterfaceManager = nullptr;

// Plays an interface sound record {kind, unused, name} when kind is 2 and the name not empty.
struct UISoundRecord {
  int kind;
  int unused;
  const char* sound;
};
void playUiSound(const UISoundRecord* record);
