// The scene-graph class registry: SGObject is the root of the scene-graph classes; each class has
// one SGTypeInfo record that registers itself during static initialisation. initClasses links the
// records into a tree and numbers it depth-first, so "is kind of" is a range test on numbers.
#pragma once

#include <cstdint>

class SGObject;
using SGFactory = SGObject* (*)();

class SGTypeInfo {
 public:
  // Registers the record; runs during static initialisation, in any order across files.
  SGTypeInfo(const char* name, const char* superName, SGFactory factory);
  SGTypeInfo(const SGTypeInfo&) = delete;
  SGTypeInfo& operator=(const SGTypeInfo&) = delete;

  // True when this class is other or derives from it.
  bool isType(const SGTypeInfo& other) const {
    return other.typeNum <= typeNum && typeNum <= other.lastChild;
  }

  // Case-sensitive; a list search before initClasses, a bisection after it.
  static SGTypeInfo* findByName(const char* name);
  // Null outside 0..numClasses-1 once initialised.
  static SGTypeInfo* findByNum(int num);
  static int numClasses();
  static int typeNumBits();

  // The class tree: parent, children in link order.
  struct TreeNode {
    TreeNode* parent = nullptr;
    TreeNode* firstChild = nullptr;
    TreeNode* nextSibling = nullptr;
    SGTypeInfo* owner = nullptr;
  };

  const char* name;
  const char* superName;
  SGFactory factory;
  SGTypeInfo* super = nullptr;
  SGTypeInfo* next = nullptr;
  // While linking: the number of classes below this one; once numbered: typeNum + that number.
  // A class left out of the tree (unknown super class) keeps typeNum -1 and lastChild -2, so it is
  // of no kind, not even its own.
  int32_t lastChild = 0;
  int32_t typeNum = 0;
  bool linked = false;
  TreeNode node;
};

class SGObject {
 public:
  SGObject();
  virtual const SGTypeInfo* getType() const;
  virtual ~SGObject();
  SGObject(const SGObject&) = delete;
  SGObject& operator=(const SGObject&) = delete;

  bool isKindOf(const SGTypeInfo& cls) const { return getType()->isType(cls); }

  // A heap copy; null or empty text clears the name.
  void setName(const char* text);
  const char* getName() const { return name; }
  int32_t getSerialNumber() const { return serialNumber; }

  static void initClasses();
  // Frees the lookup tables; the records stay registered and linked.
  static void shutdownClasses();

  static SGTypeInfo typeInfo;

 private:
  char* name = nullptr;
  int32_t serialNumber;
};

// Declares and defines a class record: SG_DECLARE_CLASS inside the class body, SG_DEFINE_CLASS
// in one source file.
#define SG_DECLARE_CLASS                                \
 public:                                                \
  static SGTypeInfo typeInfo;                           \
  const SGTypeInfo* getType() const override { return &typeInfo; }

#define SG_DEFINE_CLASS(cls, superName) \
  SGTypeInfo cls::typeInfo(#cls, superName, []() -> SGObject* { return new cls; });
