// Windows of an interface: a named rectangle of the 640 x 480 virtual screen with text variables
// (and their parsed values), event handlers that call Lua methods, a Lua shell and children drawn
// over it. Also the variable helpers, transitions and the table of window kinds.
#pragma once

#include <string>
#include <vector>

#include "lib/keydict.h"
#include "lib/str.h"
#include "ui/uievent.h"

struct lua_State;
class Material;
class TokenParser;
class UIProgram;
class UIShell;
class UserInterfaceLocal;

// Variable types.
enum UIVarType : int {
  kUIVarBool = 1,
  kUIVarInt = 2,
  kUIVarFloat = 3,
  kUIVarText = 4,
  kUIVarVec2 = 5,
  kUIVarVec3 = 6,
  kUIVarVec4 = 7,
  kUIVarNone = 10,  // ends a table; a created variable takes its type from its first text
};

enum UIVarFlags : int {
  kUIVarMaterial = 0x100,  // the text names a material (its index in x)
  kUIVarFont = 0x200,      // the text names a font (its index in x)
  kUIVarDeclared = 7,      // variables declared in a ".gui" file
};

// The parsed twin of a variable's text.
struct UIVarValue {
  float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
  int flags = 0;
  int rateFunc = 0;  // running transition, 0 for none
  int type = 0;
  // Stops its transition and zeroes the record.
  void clear();
};

struct UIVarDef {
  int type;
  const char* name;
  const char* defaultText;
  int flags;
};

// The 24 built-in variables every window gets, ended by a row of type kUIVarNone.
extern const UIVarDef g_uiBuiltinVars[];

// One variable: name, text and parsed value.
struct UIVar {
  std::string name;
  std::string text;
  UIVarValue value;
};

// True when the variable holds the row's default: numbers compared exactly, texts without case,
// vectors within 0.001 per component.
bool uiVarMatchesDefault(const UIVarDef& row, const UIVar& var);

// Text classification: 4 (text) for any character other than blanks, "-", "." or digits, else 3
// (float) with a ".", else 2 (int).
int uiClassifyText(const char* text);
// Up to four numbers separated by blanks or commas (only commas, tabs and newlines for texts);
// returns how many were read, the others are 0.
int uiParseVec(const char* text, float out[4]);
// "%.3f" per component joined by blanks, for 1 to 4 components; "" otherwise.
std::string uiFormatValue(const float value[4], int count);
// Quotes stripped once at each end, "\n" pairs made line breaks.
std::string uiUnescapeText(const char* text);
// The reverse, for writing a text value out as ".gui" text: each line break pair becomes "\n".
std::string uiEscapeText(const char* text);

// The window id counter and the edit-mode flag of the interface layer.
extern int g_uiNextWindowId;
extern bool g_uiEditMode;

// Deepest window nesting a ".gui" file may use.
constexpr int kUIMaxWindowDepth = 128;

class UIWindow;

// A window's variables as a dictionary of names and texts, kept in step by the window. Writes
// through it (an interface's state dictionary is its desktop's) go to the window, which sets or
// removes the variable of that name and parses it like any other.
class UIVarDict : public KeyDict {
 public:
  explicit UIVarDict(UIWindow* window) : window_(window) {}
  UIVarDict(const UIVarDict&) = delete;
  UIVarDict& operator=(const UIVarDict&) = delete;

  void clear() override;
  void setValueAt(int index, const char* value) override;
  void set(const char* key, const char* value) override;
  void removeAt(int index) override;
  void remove(const char* key) override;

 private:
  friend class UIWindow;
  // The window's own bookkeeping, which must not come back to it.
  void store(const char* key, const char* value) { KeyDict::set(key, value); }
  void drop(const char* key);
  void dropAll() { KeyDict::clear(); }

  UIWindow* window_;
};

// What a path names where a variable is expected: the window reached, the variable's pair and
// index there, and its parsed value; without such a variable the pair is null, the index -1 and
// the value reads the path as a number (so "0.5" written in place of a variable means 0.5).
struct UIVarRef {
  UIWindow* window = nullptr;
  const KeyValue* pair = nullptr;
  int index = -1;
  float value[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

class UIBaseObject {
 public:
  UIBaseObject() : id_(g_uiNextWindowId++) {}
  virtual ~UIBaseObject() = default;
  int getId() const { return id_; }

 protected:
  int id_;
};

// Picks the constructor that makes a window without variables: the kind creators copy a
// template's variables over it at once, so the built-in set would be made only to be dropped.
struct UIBareWindow {};

class UIWindow : public UIBaseObject {
 public:
  explicit UIWindow(UserInterfaceLocal* gui);
  UIWindow(UserInterfaceLocal* gui, UIBareWindow);
  // Deletes its shell and stops its transitions; children are not deleted (destroyTree).
  ~UIWindow() override;
  UIWindow(const UIWindow&) = delete;
  UIWindow& operator=(const UIWindow&) = delete;

  // --- Tree and names ---
  const char* getName() const { return name_.c_str(); }
  void setName(const char* name);
  const char* getKind() const { return kind_.c_str(); }
  void setKind(const char* word) { kind_ = word ? word : ""; }
  UIWindow* getParent() const { return parent_; }
  UserInterfaceLocal* getGui() const { return gui_; }
  int getDepth() const { return depth_; }
  UIShell* getShell() const { return shell_; }
  int numChildren() const { return int(children_.size()); }
  UIWindow* childAt(int index) const;
  void addChild(UIWindow* child);
  void setParent(UIWindow* parent);
  // Names from the root down joined by `separator` (at most 128 levels).
  std::string getPath(char separator = '.') const;
  // A child of that name, else a window of its sibling list, else itself or an ancestor.
  UIWindow* findChild(const char* name);
  // Splits at ":" and "."; "gui" first starts at the manager's root window. The last element is
  // a variable name (or, when no variable has it but a window does, that window with "").
  UIWindow* resolvePath(const char* path, std::string* varName);
  UIWindow* findByPath(const char* path);
  UIWindow* findById(int id);
  // Pushes the window's Lua table onto its program's stack; false (stack unchanged) otherwise. A
  // value of another type where a window's table belongs is refused, with a warning unless quiet.
  bool pushTable(bool quiet = false);
  static void destroyTree(UIWindow* window);
  // A copy of the subtree; with newId the top copy gets a fresh id. Running transitions go over
  // to the copies.
  static UIWindow* clone(UIWindow* window, bool newId);
  bool createShell(UIProgram* program);

  // --- Variables ---
  void setVarText(const char* path, const char* text);
  void applyVarText(int index);
  // Scripts and kinds: "cmd" queues a command; unresolved paths go up to the parent.
  virtual void setVar(const char* path, const char* text);
  void setVarInt(const char* path, int value);
  void setVarFloat(const char* path, float value);
  void setVarByIndex(int index, const char* text);
  void declareVar(int type, const char* name, const char* text, int flags);
  void deleteVar(const char* name);
  void clearVars();
  // True when the variable exists where the path leads; copies its value and text.
  bool getVarText(const char* path, UIVarValue* value, std::string* text);
  bool getBoolVar(const char* path, bool defaultValue);
  // The window's own variables only.
  const char* getStringVar(const char* name, const char* defaultText) const;
  float getFloatVar(const char* name, float defaultValue) const;
  void getVec4Var(const char* name, float out[4], const float* defaultValue) const;
  void getVec3Var(const char* name, float out[3], const float* defaultValue) const;
  int findVarIndex(const char* name) const;
  const UIVar* getVar(int index) const;
  UIVar* getVar(int index);
  int numVars() const { return int(vars_.size()); }
  UIVarRef findVar(const char* path);
  // The window's own variable's dictionary pair, or null.
  const KeyValue* findVarPair(const char* name) const { return dict_.findKey(name); }
  // The parsed value of the variable at an index, or null.
  UIVarValue* getVarValue(int index);
  // The index of the variable that a transition's rate function animates, or -1.
  int findTransitionVar(int rateFunc) const;
  // The variables' names and texts.
  KeyDict* getVars() { return &dict_; }
  virtual bool isVarDefault(int index) const;
  // One value for Lua: boolean, number, string, table {x, y, z, w} or nil.
  virtual int pushVar(lua_State* state, const char* path);
  void setVarType(const char* name, int type, int flags);

  // --- Transitions ---
  virtual void transition(const char* var, const char* from, const char* to, const char* ms);
  virtual void stopTransitions(const char* path);

  // --- Drawing ---
  bool isHidden() const;
  virtual void draw(const float origin[2]);
  virtual void drawSelf(const float rect[4]);
  virtual void drawChildren(const float origin[2]);
  void drawFullScreen();
  virtual void update() {}
  // A quad of white vertices in the renderer's current 2D colour, clipped to the screen.
  static void drawRect(Material* material, float x, float y, float w, float h, float s0, float t0, float s1,
                       float t1);

  // --- Mouse and keys ---
  UIWindow* hitTest(const float point[2]);
  static UIWindow* hitTestTree(UIWindow* window, float x, float y, const float origin[2]);
  virtual bool onKey(int key);
  virtual bool onActionRelease(int key);
  virtual bool onAction(int key);
  virtual bool isCapturingKeys() const { return false; }

  // --- Events ---
  bool callEventText(const UIEvent& handler, const char* text);
  bool callEventInt(const UIEvent& handler, int n);
  static bool runEvents(UIWindow* window, const char* name, const char* argument, bool* handled);
  void runEventsTree(const char* name, const char* argument, bool* handled);
  static void runNamedEvent(UIWindow* window, const char* name);
  virtual void postNamedEvent(const char* name);
  void setActive(bool active);
  void triggerTree();
  static void updateTree(UIWindow* window, bool flag);
  void updateTime(int now);
  virtual void resetTime(const char* path, const char* time);
  void addEventHandler(const UIEvent& handler);
  void appendEventHandler(const UIEvent& handler) { handlers_.push_back(handler); }
  void sortEvents();
  int numEvents() const { return int(handlers_.size()); }
  const UIEvent& eventAt(int index) const { return handlers_[size_t(index)]; }
  int numQueuedEvents() const { return int(queued_.size()); }

  // --- Reading ".gui" text ---
  // Reads a window body: its name, "{", items, "}"; depth 0 for a desktop.
  bool parse(UIProgram* program, TokenParser& parser, int depth);
  bool parseVarDecl(TokenParser& parser, const char* first);
  // A braced block read as the window's script text, run in its shell outside edit mode.
  bool runScriptDef(TokenParser& parser);
  // Reads a ".gui" file into this window without a Lua program (editing tools).
  bool loadFile(const char* name);
  const char* getScriptText() const { return script_.c_str(); }

  // --- Editor support ---
  bool getScreenRect(float out[4]);
  int editHandleAt(const float point[2]);
  // The screen rectangle outlined, with small squares at its corners and edge midpoints.
  void drawEditFrame();
  void toggleShowLayer();
  void toggleCollapsed();
  bool isCollapsed();
  // The window and every ancestor shown.
  bool isShownInTree() const;

 protected:
  friend class UIWindowFactory;
  friend class UIVarDict;

  UserInterfaceLocal* gui_;
  String name_;
  String kind_;
  int depth_ = 0;
  UIShell* shell_ = nullptr;
  std::vector<UIEvent> handlers_;
  std::vector<UIVar> vars_;  // sorted by name without case
  UIVarDict dict_{this};     // the same names and texts as a dictionary
  std::vector<UIEvent> queued_;
  std::string script_;
  int timeStart_ = 0;
  int lastFired_ = -1;
  int editHandle_ = 0;
  std::vector<UIWindow*> children_;
  UIWindow* parent_ = nullptr;

  // The last element of a path, read in the window the rest of it reached.
  static UIWindow* resolveLast(UIWindow* current, const char* last, std::string* varName);
  // The insertion point of a name and whether it is there.
  bool findVarSlot(const char* name, int* index) const;
  // Duplicates another window's state (not its children, shell or id).
  void copyFrom(UIWindow& other);
  // Replaces the variables by the built-in ones with their defaults.
  void setBuiltinVars();
  // Replaces the variables by a sorted, parsed default set; `kind` names the set (its table).
  void setDefaultVars(const std::vector<UIVar>& vars, const void* kind);
  // Sets or creates the window's own variable of exactly that name (no path).
  void setOwnVarText(const char* name, const char* text);
};

// The window kinds by their ".gui" words.
class UIWindowFactory {
 public:
  // A new window of that kind owned by the gui, or null for an unknown word.
  static UIWindow* createByKind(UserInterfaceLocal* gui, const char* word);
  // A window of that kind made as a copy of the template, or null for an unknown word.
  static UIWindow* create(UIWindow* templateWindow, const char* word);
  static bool isKindWord(const char* word);

 private:
  // With builtins the copy gets the built-in variables rather than the template's.
  static UIWindow* make(UIWindow* templateWindow, const char* word, bool builtins);
};
