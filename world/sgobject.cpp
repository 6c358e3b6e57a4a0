// The scene-graph class registry and the root object class.
#include "world/sgobject.h"

#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/str.h"

namespace {

// Plain pointers and counters only: records register from static constructors in any order, so
// nothing here may need a constructor of its own to run first.
constinit SGTypeInfo* s_registry = nullptr;
constinit SGTypeInfo::TreeNode s_root;
constinit SGTypeInfo** s_byName = nullptr;
constinit SGTypeInfo** s_byNum = nullptr;
constinit int s_numClasses = 0;
constinit int s_typeNumBits = 0;
constinit bool s_initialised = false;
constinit int32_t s_serialCounter = 0;

SGTypeInfo* findInList(const char* name) {
  for (SGTypeInfo* info = s_registry; info; info = info->next) {
    if (String::cmp(info->name, name) == 0)
      return info;
  }
  return nullptr;
}

void appendChild(SGTypeInfo::TreeNode& parent, SGTypeInfo::TreeNode& child) {
  child.parent = &parent;
  child.nextSibling = nullptr;
  SGTypeInfo::TreeNode** link = &parent.firstChild;
  while (*link)
    link = &(*link)->nextSibling;
  *link = &child;
}

bool isRoot(const SGTypeInfo* info) {
  return String::cmp(info->superName, "NULL") == 0;
}

// Two classes naming each other as super class would loop the ancestor walks for ever.
bool inCycle(const SGTypeInfo* info) {
  int limit = 0;
  for (const SGTypeInfo* each = s_registry; each; each = each->next)
    limit++;
  for (const SGTypeInfo* up = info->super; up; up = up->super) {
    if (up == info || --limit < 0)
      return true;
  }
  return false;
}

void leaveOut(SGTypeInfo* info) {
  info->typeNum = -1;
  info->lastChild = -2;
}

// Links a record (its super first). A record whose super class is not registered is left out:
// filing it under the root would make it look like a class of its own hierarchy.
bool linkClass(SGTypeInfo* info) {
  if (info->linked)
    return true;
  if (!info->super && !isRoot(info)) {
    cmdPrintf("WARNING: scene graph class '%s' names an unknown super class '%s'\n", info->name,
              info->superName);
    leaveOut(info);
    return false;
  }
  if (inCycle(info)) {
    cmdPrintf("WARNING: scene graph class '%s' is its own super class\n", info->name);
    leaveOut(info);
    return false;
  }
  if (info->super && !linkClass(info->super)) {
    leaveOut(info);
    return false;
  }
  info->linked = true;
  appendChild(info->super ? info->super->node : s_root, info->node);
  for (SGTypeInfo* up = info->super; up; up = up->super)
    up->lastChild++;
  return true;
}

// Depth first, a class before its subclasses; returns the next free number.
int numberTree(SGTypeInfo::TreeNode& node, int next) {
  for (SGTypeInfo::TreeNode* child = node.firstChild; child; child = child->nextSibling) {
    SGTypeInfo* info = child->owner;
    info->typeNum = next;
    int below = numberTree(*child, next + 1);
    info->lastChild = below - 1;
    next = below;
  }
  return next;
}

void initRegistry() {
  SGObject::initClasses();
}

void shutdownRegistry() {
  SGObject::shutdownClasses();
}

const RegisterSceneGraphHooks s_hooks(initRegistry, shutdownRegistry);

}  // namespace

SGTypeInfo::SGTypeInfo(const char* name, const char* superName, SGFactory factory)
    : name(name), superName(superName), factory(factory) {
  node.owner = this;
  super = findInList(superName);
  for (SGTypeInfo* info = s_registry; info; info = info->next) {
    if (!info->super && String::cmp(info->superName, name) == 0 &&
        String::cmp(info->name, "SGObject") != 0)
      info->super = this;
  }
  SGTypeInfo** link = &s_registry;
  while (*link && String::cmp((*link)->name, name) <= 0)
    link = &(*link)->next;
  next = *link;
  *link = this;
}

SGTypeInfo* SGTypeInfo::findByName(const char* name) {
  if (!s_initialised)
    return findInList(name);
  int lo = 0;
  int hi = s_numClasses - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int order = String::cmp(s_byName[mid]->name, name);
    if (order == 0)
      return s_byName[mid];
    if (order < 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  return nullptr;
}

SGTypeInfo* SGTypeInfo::findByNum(int num) {
  if (s_initialised)
    return num >= 0 && num < s_numClasses ? s_byNum[num] : nullptr;
  for (SGTypeInfo* info = s_registry; info; info = info->next) {
    if (info->typeNum == num)
      return info;
  }
  return nullptr;
}

int SGTypeInfo::numClasses() {
  return s_numClasses;
}

int SGTypeInfo::typeNumBits() {
  return s_typeNumBits;
}

SGTypeInfo SGObject::typeInfo("SGObject", "NULL", []() -> SGObject* { return new SGObject; });

SGObject::SGObject() : serialNumber(++s_serialCounter) {}

SGObject::~SGObject() {
  delete[] name;
}

const SGTypeInfo* SGObject::getType() const {
  return &typeInfo;
}

void SGObject::setName(const char* text) {
  if (text == name)
    return;
  delete[] name;
  name = nullptr;
  if (!text || !text[0])
    return;
  size_t length = std::strlen(text);
  name = new char[length + 1];
  std::memcpy(name, text, length + 1);
}

void SGObject::initClasses() {
  cmdPrintf("Initializing scene graph class hierarchy\n");
  if (s_initialised) {
    cmdPrintf("...already initialized\n");
    return;
  }
  for (SGTypeInfo* info = s_registry; info; info = info->next)
    linkClass(info);
  s_numClasses = numberTree(s_root, 0);
  int exponent = 0;
  std::frexp(static_cast<float>(s_numClasses), &exponent);
  // floor(log2(n)) + 1 for n >= 1.
  s_typeNumBits = exponent;

  s_byName = new SGTypeInfo*[s_numClasses > 0 ? s_numClasses : 1];
  s_byNum = new SGTypeInfo*[s_numClasses > 0 ? s_numClasses : 1];
  int count = 0;
  for (SGTypeInfo* info = s_registry; info; info = info->next) {
    if (!info->linked)
      continue;
    s_byName[count++] = info;
    s_byNum[info->typeNum] = info;
  }
  s_initialised = true;
  cmdPrintf("...%i classes\n", s_numClasses);
}

void SGObject::shutdownClasses() {
  delete[] s_byName;
  delete[] s_byNum;
  s_byName = nullptr;
  s_byNum = nullptr;
  s_numClasses = 0;
  s_initialised = false;
}
