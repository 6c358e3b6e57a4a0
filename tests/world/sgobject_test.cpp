// The scene-graph class registry: records registered in any order form one tree, numbered so
// that kind-of is a range test; lookups by name and number before and after initialisation; the
// common manager builds and releases the registry.
#include <gtest/gtest.h>

#include <string>

#include "lib/interface/managerfactory.h"
#include "system/commonmanager.h"
#include "tests/support/capturecmdsystem.h"
#include "world/sgobject.h"

namespace {

// Registered before its super class on purpose: it must still end up below it.
class SGTestB : public SGObject {
  SG_DECLARE_CLASS
};
class SGTestA : public SGObject {
  SG_DECLARE_CLASS
};
class SGTestC : public SGTestA {
  SG_DECLARE_CLASS
};
class SGTestD : public SGTestB {
  SG_DECLARE_CLASS
};
class SGTestOrphan : public SGObject {
  SG_DECLARE_CLASS
};

SG_DEFINE_CLASS(SGTestB, "SGTestA")
SG_DEFINE_CLASS(SGTestA, "SGObject")
SG_DEFINE_CLASS(SGTestC, "SGTestA")
SG_DEFINE_CLASS(SGTestD, "SGTestB")
SG_DEFINE_CLASS(SGTestOrphan, "SGTestMissing")

class SGRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { SGObject::initClasses(); }
  void TearDown() override { SGObject::shutdownClasses(); }
  CaptureCmdSystem capture;
};

TEST_F(SGRegistryTest, NumbersTheTreeDepthFirstInLinkOrder) {
  // Linked in name order: A under SGObject, B and C under A, D under B.
  struct Case {
    const SGTypeInfo* info;
    int typeNum;
    int lastChild;
    const SGTypeInfo* super;
  } cases[] = {
      {&SGObject::typeInfo, 0, 4, nullptr},       {&SGTestA::typeInfo, 1, 4, &SGObject::typeInfo},
      {&SGTestB::typeInfo, 2, 3, &SGTestA::typeInfo}, {&SGTestD::typeInfo, 3, 3, &SGTestB::typeInfo},
      {&SGTestC::typeInfo, 4, 4, &SGTestA::typeInfo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.info->name);
    EXPECT_EQ(c.info->typeNum, c.typeNum);
    EXPECT_EQ(c.info->lastChild, c.lastChild);
    EXPECT_EQ(c.info->super, c.super);
    EXPECT_EQ(SGTypeInfo::findByNum(c.typeNum), c.info);
    EXPECT_EQ(SGTypeInfo::findByName(c.info->name), c.info);
  }
  EXPECT_EQ(SGTypeInfo::numClasses(), 5);
  EXPECT_EQ(SGTypeInfo::typeNumBits(), 3) << "floor(log2(5)) + 1";
  EXPECT_NE(capture.text.find("Initializing scene graph class hierarchy\n"), std::string::npos);
  EXPECT_NE(capture.text.find("...5 classes\n"), std::string::npos);
}

TEST_F(SGRegistryTest, KindOfIsARangeTest) {
  struct Case {
    const SGTypeInfo* cls;
    const SGTypeInfo* of;
    bool kind;
  } cases[] = {
      {&SGTestD::typeInfo, &SGTestB::typeInfo, true},  {&SGTestD::typeInfo, &SGTestA::typeInfo, true},
      {&SGTestD::typeInfo, &SGObject::typeInfo, true}, {&SGTestD::typeInfo, &SGTestC::typeInfo, false},
      {&SGTestC::typeInfo, &SGTestB::typeInfo, false}, {&SGTestA::typeInfo, &SGTestD::typeInfo, false},
      {&SGTestB::typeInfo, &SGTestB::typeInfo, true},  {&SGObject::typeInfo, &SGTestA::typeInfo, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cls->name) + " of " + c.of->name);
    EXPECT_EQ(c.cls->isType(*c.of), c.kind);
    SGObject* object = c.cls->factory();
    EXPECT_EQ(object->getType(), c.cls) << "the factory makes an object of its own class";
    EXPECT_EQ(object->isKindOf(*c.of), c.kind);
    delete object;
  }
}

TEST_F(SGRegistryTest, AClassWithAnUnknownSuperClassIsLeftOutWithAWarning) {
  EXPECT_NE(capture.text.find("WARNING: scene graph class 'SGTestOrphan' names an unknown super class "
                              "'SGTestMissing'"),
            std::string::npos);
  EXPECT_EQ(SGTypeInfo::findByName("SGTestOrphan"), nullptr);
  EXPECT_FALSE(SGTestOrphan::typeInfo.isType(SGObject::typeInfo));
  EXPECT_FALSE(SGTestOrphan::typeInfo.isType(SGTestOrphan::typeInfo));
}

TEST_F(SGRegistryTest, LookupsOutsideTheTablesFindNothing) {
  EXPECT_EQ(SGTypeInfo::findByNum(-1), nullptr);
  EXPECT_EQ(SGTypeInfo::findByNum(SGTypeInfo::numClasses()), nullptr);
  EXPECT_EQ(SGTypeInfo::findByName("sgobject"), nullptr) << "names are case-sensitive";
  EXPECT_EQ(SGTypeInfo::findByName("SGTest"), nullptr);
  EXPECT_EQ(SGTypeInfo::findByName("SGTestZ"), nullptr);
  EXPECT_EQ(SGTypeInfo::findByName(""), nullptr);
}

TEST_F(SGRegistryTest, ASecondInitChangesNothingAndShutdownReturnsToListSearch) {
  capture.text.clear();
  SGObject::initClasses();
  EXPECT_EQ(capture.text, "Initializing scene graph class hierarchy\n...already initialized\n");
  EXPECT_EQ(SGTypeInfo::numClasses(), 5);

  SGObject::shutdownClasses();
  EXPECT_EQ(SGTypeInfo::numClasses(), 0);
  EXPECT_EQ(SGTypeInfo::findByName("SGTestC"), &SGTestC::typeInfo) << "list search";
  EXPECT_EQ(SGTypeInfo::findByNum(3), &SGTestD::typeInfo) << "list search keeps the numbers";
  EXPECT_EQ(SGTypeInfo::findByName("SGTestOrphan"), &SGTestOrphan::typeInfo);

  SGObject::initClasses();
  EXPECT_EQ(SGTypeInfo::numClasses(), 5) << "a linked tree is numbered again, not linked twice";
  EXPECT_EQ(SGTestC::typeInfo.typeNum, 4);
  EXPECT_EQ(SGObject::typeInfo.lastChild, 4);
}

TEST(SGObjectTest, SerialNumbersAndNames) {
  SGObject first;
  SGObject second;
  EXPECT_EQ(second.getSerialNumber(), first.getSerialNumber() + 1);

  EXPECT_EQ(first.getName(), nullptr);
  first.setName("crate");
  ASSERT_NE(first.getName(), nullptr);
  EXPECT_STREQ(first.getName(), "crate");
  const char* stored = first.getName();
  first.setName(stored);
  EXPECT_EQ(first.getName(), stored) << "setting the stored pointer keeps it";
  first.setName("");
  EXPECT_EQ(first.getName(), nullptr);
  first.setName("pillar");
  first.setName(nullptr);
  EXPECT_EQ(first.getName(), nullptr);
}

TEST(SGRegistryEngineTest, TheCommonManagerBuildsAndReleasesTheRegistry) {
  ASSERT_NE(g_initSceneGraphClasses, nullptr) << "the world library installs its hooks";
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, kInitCommands));
  EXPECT_EQ(SGTypeInfo::numClasses(), 5);
  EXPECT_EQ(SGTypeInfo::findByNum(1), &SGTestA::typeInfo);
  common->shutdown();
  EXPECT_EQ(SGTypeInfo::numClasses(), 0);
  destroyCommonManager();
}

}  // namespace
