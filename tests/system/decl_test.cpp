// The declaration manager: the order in which files are searched, blocks with and without a type
// keyword, defaulting, purge and reload, the commands, and the lazy name index that must give
// the same answers as the plain search.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "system/decl_test_fakes.h"

namespace {

using decltest::DeclFixture;

// A kind that records what the manager does to it; a body "fail" does not parse.
struct Counts {
  int parses = 0;
  int frees = 0;
  int defaults = 0;
  std::string lastText;
};
Counts s_counts;

class CountingKind : public DeclResource {
 public:
  void makeDefault() override {
    ++s_counts.defaults;
    DeclResource::makeDefault();
  }
  bool parse(const char* text, int length) override {
    ++s_counts.parses;
    s_counts.lastText.assign(text, size_t(length));
    return s_counts.lastText != "fail";
  }
  void freeData() override { ++s_counts.frees; }
};
DeclResource* allocCounting() {
  return new CountingKind;
}

class DeclManagerTest : public DeclFixture {
 protected:
  void SetUp() override {
    DeclFixture::SetUp();
    s_counts = Counts();
    // Materials and effects come with their own libraries; counting kinds stand in.
    ASSERT_TRUE(decls_->registerDeclType("material", kDeclMaterial, allocCounting));
    ASSERT_TRUE(decls_->registerDeclType("effect", kDeclEffect, allocCounting));
  }
  std::string text(DeclResource* resource) {
    char out[256];
    resource->decl->getText(out, sizeof(out));
    return out;
  }
};

TEST_F(DeclManagerTest, StartsWithSevenTypesAndRefusesIdsOutsideTheSlots) {
  EXPECT_EQ(decls_->numDeclTypes(), 7);
  const char* const names[] = {"table", "material", "skin", "sound", "entityDef", "", "effect", "mapDef"};
  for (int id = 0; id < 8; ++id)
    EXPECT_STREQ(decls_->declTypeName(id), names[id]) << id;
  EXPECT_EQ(decls_->declTypeByName("SOUND"), kDeclSound);
  EXPECT_EQ(decls_->declTypeByName("nothing"), kDeclTypeCount);
  EXPECT_EQ(decls_->declTypeByName(""), kDeclTypeCount) << "id 5 has no type";

  EXPECT_FALSE(decls_->registerDeclType("game", 32, allocCounting));
  EXPECT_FALSE(decls_->registerDeclType("game", -1, allocCounting));
  EXPECT_FALSE(decls_->registerDeclType("a_name_much_longer_than_31_chars", 9, allocCounting));
  EXPECT_EQ(decls_->findType(32, "x", true), nullptr);
  EXPECT_EQ(decls_->declByIndex(-1, 0, false), nullptr);
  EXPECT_EQ(decls_->numDeclTypes(), 7);
  EXPECT_NE(takeOutput().find("WARNING: declaration type 'game' refused"), std::string::npos);
  EXPECT_TRUE(decls_->registerDeclType("game", 31, allocCounting));
  EXPECT_EQ(decls_->numDeclTypes(), 8);
}

TEST_F(DeclManagerTest, SearchesTheFileNamedAfterTheDeclarationThenTheFoldersInOrder) {
  files_.add("materials/b.mtx", "material other { x }\nmaterial textures/a { one }\n");
  files_.add("materials/c.mtx", "textures/a { two }\n");
  decls_->setNameIndexing(false);  // the order as searched file by file
  DeclResource* material = decls_->findMaterial("textures/a", false);
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(s_counts.lastText, "one");
  EXPECT_EQ(material->getState(), kDeclParsed);
  EXPECT_EQ(files_.reads, (std::vector<std::string>{"textures/a.mtx", "materials/b.mtx"}));
  decls_->setNameIndexing(true);

  files_.reads.clear();
  EXPECT_EQ(decls_->findMaterial("Textures/A", false), material) << "names compare without case";
  EXPECT_TRUE(files_.reads.empty()) << "a found declaration is a list search";

  // A skin is looked for in the file of its own extension first, then in its own folder, and
  // only then in the other folders (each once, in registration order).
  files_.reads.clear();
  EXPECT_EQ(decls_->findSkin("textures/a", false), nullptr);
  ASSERT_GE(files_.reads.size(), 2u);
  EXPECT_EQ(files_.reads[0], "textures/a.skin");
  EXPECT_EQ(files_.reads[1], "textures/a.def") << "the second round starts with the def folder";

  // The skin search scanned every material file into the index; a later hit reads only its file.
  ASSERT_NE(decls_->findMaterial("other", false), nullptr);
  EXPECT_EQ(std::count(files_.reads.begin(), files_.reads.end(), "materials/c.mtx"), 1)
      << "c was scanned by the skin search, never again";
  EXPECT_EQ(files_.reads.back(), "materials/b.mtx");

  // Files added later are seen after "reloadDecls"; the listing order still rules.
  files_.files.insert(files_.files.begin(),
                      {"materials/a.mtx", "material late { early }\nmaterial other2 { a }"});
  files_.add("materials/d.mtx", "material other2 { d }\n");
  EXPECT_EQ(decls_->findMaterial("late", false), nullptr);
  g_cmdSystem->executeText("reloadDecls\n");
  ASSERT_NE(decls_->findMaterial("late", false), nullptr);
  EXPECT_EQ(s_counts.lastText, "early");
  ASSERT_NE(decls_->findMaterial("other2", false), nullptr);
  EXPECT_EQ(s_counts.lastText, "a");
}

int s_targetRecreations = 0;
int s_freesAtRecreation = -1;

TEST_F(DeclManagerTest, ReloadDeclsFirstLetsTheRendererRecreateItsTargets) {
  files_.add("materials/m.mtx", "material wall { old }\n");
  ASSERT_NE(decls_->findMaterial("wall", false), nullptr);
  const auto saved = g_renderContextHooks.recreateRenderTargets;
  g_renderContextHooks.recreateRenderTargets = [] {
    ++s_targetRecreations;
    s_freesAtRecreation = s_counts.frees;
  };
  const int frees = s_counts.frees;
  g_cmdSystem->executeText("reloadDecls\n");
  EXPECT_EQ(s_targetRecreations, 1);
  EXPECT_EQ(s_freesAtRecreation, frees) << "the targets go before any declaration is reloaded";
  EXPECT_GT(s_counts.frees, frees);
  g_cmdSystem->executeText("reloadDecls wall\n");
  EXPECT_EQ(s_targetRecreations, 2);
  g_renderContextHooks.recreateRenderTargets = saved;
}

TEST_F(DeclManagerTest, TheFileNamedAfterTheDeclarationWinsOverTheFolder) {
  files_.add("textures/a.mtx", "textures/a { near }\n");
  files_.add("materials/b.mtx", "material textures/a { far }\n");
  ASSERT_NE(decls_->findMaterial("textures/a", false), nullptr);
  EXPECT_EQ(s_counts.lastText, "near");
  EXPECT_EQ(files_.reads, (std::vector<std::string>{"textures/a.mtx"}));
}

TEST_F(DeclManagerTest, BlocksAreTypedByKeywordOrByTheFileExtension) {
  files_.add("materials/m.mtx",
             "material kw { a }\n"
             "bare { b }\n"
             "table ramp { 0 1 }\n"
             "unknownword skipped { c }\n"
             "after { d }\n");
  struct Case {
    int type;
    const char* name;
    const char* body;  // null: not defined
  } cases[] = {
      {kDeclMaterial, "kw", "a"},          {kDeclMaterial, "bare", "b"},
      {kDeclMaterial, "ramp", nullptr},  // a table, not a material
      {kDeclMaterial, "skipped", nullptr}, {kDeclMaterial, "unknownword", nullptr},
      {kDeclMaterial, "after", "d"},  // the skipped block does not end the file
  };
  for (const Case& c : cases) {
    s_counts.lastText = "<none>";
    DeclResource* found = decls_->findType(c.type, c.name, false);
    if (c.body) {
      ASSERT_NE(found, nullptr) << c.name;
      EXPECT_EQ(s_counts.lastText, c.body) << c.name;
    } else {
      EXPECT_EQ(found, nullptr) << c.name;
    }
  }
  DeclTable* ramp = decls_->findTable("ramp", false);
  ASSERT_NE(ramp, nullptr);
  EXPECT_EQ(ramp->values.num(), 2);
}

TEST_F(DeclManagerTest, ANameGluedToItsBraceIsNoDeclaration) {
  files_.add("materials/glued.mtx", "glued{ a }\n");
  files_.add("materials/spaced.mtx", "spaced { b }\n");
  EXPECT_EQ(decls_->findMaterial("glued", false), nullptr);
  EXPECT_EQ(decls_->findMaterial("glued{", false), nullptr);
  EXPECT_NE(decls_->findMaterial("spaced", false), nullptr) << "a bad file does not hide the next";
}

TEST_F(DeclManagerTest, TheDefaultComesFirstAndMissingNamesDefaultOnlyWhenAsked) {
  DeclTable* fallback = decls_->findTable("anything", true);
  ASSERT_NE(fallback, nullptr);
  EXPECT_EQ(decls_->numDecls(kDeclTable), 2);
  EXPECT_STREQ(decls_->tableByIndex(0, false)->getName(), "_default");
  EXPECT_EQ(decls_->tableByIndex(0, false)->getState(), kDeclDefaulted);
  EXPECT_EQ(decls_->findTable("", true), decls_->tableByIndex(0, false));
  EXPECT_EQ(decls_->findTable(nullptr, false), nullptr);
  EXPECT_EQ(decls_->tableByIndex(2, false), nullptr);

  EXPECT_EQ(decls_->findSkin("none", false), nullptr);
  EXPECT_EQ(decls_->numDecls(kDeclSkin), 1) << "only the default";
  DeclSkin* none = decls_->findSkin("none", true);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->getState(), kDeclDefaulted);
  EXPECT_EQ(none->getIndex(), 1);
  files_.reads.clear();
  EXPECT_EQ(decls_->findSkin("NONE", false), none) << "later requests find the defaulted one";
  EXPECT_TRUE(files_.reads.empty());
  EXPECT_EQ(decls_->indexOfDecl(none, kDeclSkin), 1);
  EXPECT_EQ(decls_->indexOfDecl(none, kDeclTable), -1);

  takeOutput();
  decls_->listDecls();
  EXPECT_NE(takeOutput().find("none                                              |skin      |DEFAULTED |"),
            std::string::npos);
}

TEST_F(DeclManagerTest, AFailedParseLeavesTheDeclarationUnparsedAndIsRetried) {
  files_.add("materials/m.mtx", "material broken { fail }\n");
  DeclResource* broken = decls_->findMaterial("broken", false);
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->getState(), kDeclUnparsed);
  int parses = s_counts.parses;
  EXPECT_EQ(decls_->findMaterial("broken", false), broken);
  EXPECT_EQ(s_counts.parses, parses + 1);
  EXPECT_EQ(decls_->materialByIndex(broken->getIndex(), true), broken);
  EXPECT_EQ(s_counts.parses, parses + 2) << "a forced index lookup parses again";
}

TEST_F(DeclManagerTest, PurgeKeepsTheSimpleTypesInPlaceAndDropsTheOthers) {
  files_.add("materials/m.mtx", "material wall { w }\n");
  files_.add("effects/e.fx", "effect spark { s }\n");
  DeclResource* wall = decls_->findMaterial("wall", false);
  ASSERT_NE(wall, nullptr);
  ASSERT_NE(decls_->findEffect("spark", false), nullptr);
  const int wallIndex = wall->getIndex();
  const int frees = s_counts.frees;

  decls_->purge();
  EXPECT_EQ(s_counts.frees, frees + 1 + 2) << "the wall, and the effect list with its default";
  EXPECT_EQ(wall->getState(), kDeclUnparsed);
  EXPECT_EQ(decls_->numDecls(kDeclEffect), 0);
  EXPECT_EQ(decls_->materialByIndex(0, false)->getState(), kDeclDefaulted) << "index 0 is untouched";

  const int parses = s_counts.parses;
  EXPECT_EQ(decls_->findMaterial("wall", false), wall);
  EXPECT_EQ(wall->getIndex(), wallIndex);
  EXPECT_EQ(wall->getState(), kDeclParsed);
  EXPECT_EQ(s_counts.parses, parses + 1);

  DeclResource* spark = decls_->findEffect("spark", false);
  ASSERT_NE(spark, nullptr);
  EXPECT_EQ(spark->getIndex(), 1) << "created anew behind a new default";
}

TEST_F(DeclManagerTest, ReloadDeclsReadsTheFilesAgain) {
  files_.add("materials/m.mtx", "material wall { old }\n");
  DeclResource* wall = decls_->findMaterial("wall", false);
  ASSERT_NE(wall, nullptr);
  files_.add("materials/m.mtx", "material wall { new }\n");

  g_cmdSystem->executeText("reloadDecls wall\n");
  EXPECT_EQ(text(wall), "new");
  EXPECT_EQ(s_counts.lastText, "new");
  EXPECT_EQ(wall->getState(), kDeclParsed);

  takeOutput();
  g_cmdSystem->executeText("reloadDecls nosuchthing\n");
  EXPECT_EQ(takeOutput(), "failed to find resource 'nosuchthing'\n");

  files_.add("materials/m.mtx", "material wall { newest }\n");
  const int frees = s_counts.frees;
  g_cmdSystem->executeText("reloadDecls\n");
  EXPECT_EQ(text(wall), "newest");
  EXPECT_GE(s_counts.frees, frees + 2) << "every declaration, the defaults too";
  EXPECT_EQ(decls_->materialByIndex(0, false)->getState(), kDeclDefaulted)
      << "a default has no text: it is made again, not parsed empty";

  // A declaration whose text is gone keeps its old one and is parsed again.
  files_.files.clear();
  g_cmdSystem->executeText("reloadDecls wall\n");
  EXPECT_EQ(text(wall), "newest");
}

TEST_F(DeclManagerTest, ListDeclsPrintsEveryDeclarationInTypeOrder) {
  files_.add("materials/m.mtx", "material wall { w }\n");
  decls_->findMaterial("wall", false);
  decls_->findTable("missing", false);
  takeOutput();
  g_cmdSystem->executeText("listDecls\n");
  const std::string dashes(81, '-');
  char line[256];
  std::string expected = dashes + "\n";
  std::snprintf(line, sizeof(line), "%-50s|%-10s|%-10s|%s\n", "NAME", "TYPE", "STATE", "BYTES");
  expected += line + dashes + "\n";
  const int tableBytes = decls_->tableByIndex(0, false)->memoryUsed();
  std::snprintf(line, sizeof(line), "%-50s|%-10s|%-10s|%d\n", "_default", "table", "DEFAULTED", tableBytes);
  expected += line;
  std::snprintf(line, sizeof(line), "%-50s|%-10s|%-10s|%d\n", "_default", "material", "DEFAULTED", 148);
  expected += line;
  std::snprintf(line, sizeof(line), "%-50s|%-10s|%-10s|%d\n", "wall", "material", "PARSED", 148);
  expected += line;
  expected += dashes + "\n\n";
  EXPECT_EQ(takeOutput(), expected);
}

TEST_F(DeclManagerTest, CreateMaterialFromTextMakesOrReplacesTheMaterial) {
  EXPECT_EQ(decls_->createMaterialFromText("made { }"), nullptr) << "an empty body";
  EXPECT_EQ(decls_->createMaterialFromText("made"), nullptr);
  EXPECT_EQ(decls_->createMaterialFromText("\"\" { first }"), nullptr) << "an empty name cannot be found again";
  DeclResource* made = decls_->createMaterialFromText("made { first }");
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->getName(), "made");
  EXPECT_EQ(made->getState(), kDeclParsed);
  const int frees = s_counts.frees;
  EXPECT_EQ(decls_->createMaterialFromText("MADE { second }"), made);
  EXPECT_EQ(s_counts.lastText, "second");
  EXPECT_EQ(s_counts.frees, frees + 1);
}

TEST_F(DeclManagerTest, LoadDeclsOfTypeCollectsOnlyKeywordBlocksOfThatType) {
  files_.add("materials/m.mtx", "material one { a }\nbare { b }\ntable t { 1 }\n");
  files_.add("def/d.def", "material two { c }\n");
  decls_->loadDeclsOfType(kDeclMaterial);
  EXPECT_NE(decls_->findMaterial("one", false), nullptr);
  EXPECT_EQ(decls_->numDecls(kDeclMaterial), 3) << "default, then in folder order: two, one";
  EXPECT_STREQ(decls_->materialByIndex(1, false)->getName(), "two");
  EXPECT_STREQ(decls_->materialByIndex(2, false)->getName(), "one");
}

TEST_F(DeclManagerTest, TheNameIndexGivesTheSameAnswersAsThePlainSearch) {
  files_.add("materials/a.mtx", "material first { from_a }\ntable first { 1 }\n");
  files_.add("materials/b.mtx", "material first { from_b }\nmaterial second { from_b }\n");
  files_.add("materials/c.mtx", "material empty { }\n");
  files_.add("materials/d.mtx", "material empty { from_d }\n");
  files_.add("def/x.def", "material third { from_def }\n");
  struct Case {
    const char* name;
    const char* body;
  } cases[] = {{"first", "from_a"},
               {"second", "from_b"},
               {"empty", "from_d"},
               {"third", "from_def"},
               {"absent", nullptr}};
  for (bool indexing : {false, true}) {
    decls_->setNameIndexing(indexing);
    for (const Case& c : cases) {
      String body;
      EXPECT_EQ(decls_->findDeclText(body, c.name, kDeclMaterial), c.body != nullptr) << c.name;
      if (c.body) {
        EXPECT_STREQ(body.c_str(), c.body) << c.name << (indexing ? " indexed" : " plain");
      }
    }
    String body;
    EXPECT_TRUE(decls_->findDeclText(body, "first", kDeclTypeCount));
    EXPECT_STREQ(body.c_str(), "from_a") << "any type: the first block of that name";
  }
}

TEST_F(DeclManagerTest, AMissAfterTheFirstScanReadsNoFile) {
  for (int i = 0; i < 20; ++i)
    files_.add("materials/m" + std::to_string(i) + ".mtx", "material d" + std::to_string(i) + " { x }\n");
  EXPECT_EQ(decls_->findMaterial("nothing1", false), nullptr);
  files_.reads.clear();
  EXPECT_EQ(decls_->findMaterial("nothing2", false), nullptr);
  for (const std::string& read : files_.reads)
    EXPECT_EQ(read.rfind("nothing2.", 0), 0u) << "only the files named after it are tried: " << read;
  files_.reads.clear();
  ASSERT_NE(decls_->findMaterial("d17", false), nullptr);
  EXPECT_EQ(files_.reads, (std::vector<std::string>{"d17.mtx", "materials/m17.mtx"}));
}

TEST_F(DeclManagerTest, ARepeatedMissListsNoFolderButStillTriesItsOwnFile) {
  files_.add("materials/m.mtx", "material present { x }\ntable t { 1 }\n");
  EXPECT_EQ(decls_->findTable("absent", false), nullptr);
  const int listings = files_.listings;
  files_.reads.clear();
  EXPECT_EQ(decls_->findTable("ABSENT", false), nullptr);
  EXPECT_EQ(files_.listings, listings) << "the folders were listed once";
  for (const std::string& read : files_.reads)
    EXPECT_EQ(read.rfind("ABSENT.", 0), 0u) << read;

  // The file named after a declaration is tried on every search: one added later is found.
  files_.add("absent.mtx", "table absent { 2 }\n");
  EXPECT_NE(decls_->findTable("absent", false), nullptr);
}

TEST_F(DeclManagerTest, ATypeRegisteredAfterAnIndexedSearchFindsItsBlocks) {
  files_.add("def/x.def", "game first { a }\nentityDef e { b }\n");
  EXPECT_EQ(decls_->findType(kDeclEntityDef, "nothing", false), nullptr);  // indexes def/x.def
  ASSERT_TRUE(decls_->registerDeclType("game", 31, allocCounting));
  EXPECT_NE(decls_->findType(31, "first", false), nullptr) << "the keyword counts from now on";
}

TEST_F(DeclManagerTest, LargeFoldersAreListedWhole) {
  // Far more names than an 8,192-byte listing holds; the declaration sits in the last file.
  const std::string longName(120, 'n');
  for (int i = 0; i < 100; ++i)
    files_.add("def/" + longName + std::to_string(1000 + i) + ".def",
               "entityDef e" + std::to_string(i) + " { }\n");
  files_.add("def/zzz.def", "entityDef last { \"a\" \"1\" }\n");
  for (bool indexing : {false, true}) {
    decls_->setNameIndexing(indexing);
    String body;
    EXPECT_TRUE(decls_->findDeclText(body, "last", kDeclEntityDef)) << indexing;
  }
  takeOutput();
}

}  // namespace

namespace {

bool implicitText(const char* name, String& text) {
  if (String::icmp(name, "textures/img") != 0)
    return false;
  text = "implicit";
  return true;
}

TEST_F(DeclManagerTest, AMaterialWithoutTextComesFromItsImageWhenOneExists) {
  g_declImplicitMaterial = implicitText;
  DeclResource* fromImage = decls_->findMaterial("textures/img", false);
  DeclResource* none = decls_->findMaterial("textures/noimg", false);
  DeclResource* notMaterial = decls_->findSkin("textures/img", false);
  g_declImplicitMaterial = nullptr;
  ASSERT_NE(fromImage, nullptr);
  EXPECT_EQ(fromImage->getState(), kDeclParsed);
  EXPECT_EQ(s_counts.lastText, "implicit");
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(notMaterial, nullptr) << "only materials come from images";
}

}  // namespace

// A damaged declaration file never loses its declarations silently: the first scan of each file
// names it (and the line) when it is empty, holds text that is no declaration, or is cut inside
// a block; a sound file says nothing.
TEST_F(DeclManagerTest, DamagedDeclarationFilesAreNamedOnce) {
  struct Case {
    const char* file;
    const char* text;
    const char* said;
  } cases[] = {
      {"materials/empty.mtx", "",
       "WARNING: declaration file 'materials/empty.mtx' is empty: it declares nothing\n"},
      {"materials/zero.mtx", "// only a comment\n",
       "WARNING: declaration file 'materials/zero.mtx' is empty"},
      {"materials/cut.mtx", "material a { x }\nmaterial b {\n  y {\n",
       "WARNING: materials/cut.mtx line 2: this block is never closed"},
      {"materials/junk.mtx", "material a { x }\n\x7f\x01q w e r t\n", "WARNING: materials/junk.mtx line 2: "},
      {"materials/close.mtx", "material a { x } }\n",
       "WARNING: materials/close.mtx line 1: '}' without its '{'"},
  };
  for (const Case& c : cases)
    files_.add(c.file, c.text);
  files_.add("materials/good.mtx", "material fine { stage }\n");
  takeOutput();
  decls_->findType(kDeclMaterial, "nothing_here", false);
  const std::string said = takeOutput();
  for (const Case& c : cases)
    EXPECT_NE(said.find(c.said), std::string::npos) << c.file << ":\n" << said;
  EXPECT_EQ(said.find("good.mtx"), std::string::npos) << said;
  decls_->findType(kDeclMaterial, "still_nothing", false);
  EXPECT_EQ(takeOutput().find("WARNING: materials/"), std::string::npos) << "each file is checked once";
}
