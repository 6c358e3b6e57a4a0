// The model list and ".cm" files: loading a map's models, finding models by name, the reader's
// checks on untrusted text, writing models back and reading them again, and truncated files.
#include <gtest/gtest.h>

#include <string>

#include "cmtest.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/memoryiosystem.h"

namespace {

using cmtest::v;

class ModelFiles : public ::testing::Test {
 protected:
  ModelFiles() { io.gamePrefix = "os/game/"; }
  void addFile(const std::string& name, const std::string& text) { io.addFile("os/game/" + name, text); }
  std::string written(const std::string& name) {
    auto it = io.files.find("os/game/" + name);
    return it == io.files.end() ? std::string() : it->second;
  }
  CaptureCmdSystem cmd;
  MemoryIOSystem io;
  cmtest::FakeMaterials materials;
  CollisionManager cm;
};

const char* kTwoModels =
    "!CM\n"
    "collisionModel \"worldMap\" {\n"
    "nodes { 2\n"
    "  /* node 0 */ 0 0 1 64 -1 1\n"
    "  /* node 1 */ 1 0 0 0 -2 -3\n"
    "}\n"
    "polygons { 2\n"
    "  3 -10 -10 0 10 -10 0 0 10 0 \"floor\"\n"
    "  4 20 -10 0 20 10 0 20 10 30 20 -10 30 \"wall\"\n"
    "}\n"
    "}\n"
    "collisionModel \"crate\" {\n"
    "nodes { 1 0 0 1 8 -1 -2 }\n"
    "brushes { 1 6 1 0 0 8 -1 0 0 8 0 1 0 8 0 -1 0 8 0 0 1 8 0 0 -1 8 \"crate\" }\n"
    "}\n";

TEST_F(ModelFiles, LoadMapWithAndWithoutItsFile) {
  addFile("maps/test.cm", kTwoModels);
  cm.loadMap("maps/test.map", false);
  ASSERT_EQ(cm.numModels(), 2);
  EXPECT_STREQ(cm.modelName(0), "worldMap");
  EXPECT_STREQ(cm.modelName(1), "empty");
  EXPECT_STREQ(cm.mapFileName().c_str(), "maps/test.cm");
  const cmModel_t* world = cm.model(0);
  EXPECT_EQ(world->polygons.num(), 2);
  EXPECT_EQ(world->leafs.num(), 3);
  // The floor lies below node 0 and left of node 1's plane at x = 0 as well as right of it.
  EXPECT_EQ(world->leafs[1].shapes.num() + world->leafs[2].shapes.num(), 3);
  EXPECT_EQ(world->leafs[1].shapes.num(), 2);  // the wall (x = 20) and the floor's right part
  Bounds b;
  ASSERT_TRUE(cm.modelBounds(0, b));
  EXPECT_EQ(b, Bounds(v(-10, -10, 0), v(20, 10, 30)));
  EXPECT_TRUE(cm.model(1)->bounds.isCleared());

  cm.loadMap("maps/other.map", false);
  ASSERT_EQ(cm.numModels(), 1);
  EXPECT_STREQ(cm.modelName(0), "empty");
}

TEST_F(ModelFiles, FindOrLoadModel) {
  addFile("maps/test.cm", kTwoModels);
  addFile(
      "models/props.cm",
      "!CM collisionModel \"barrel\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" } }");
  addFile(
      "maps/loose.cm",
      "!CM COLLISIONMODEL \"Loose\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" } }");
  cm.loadMap("maps/test.map", false);
  // From the map's own file, then found again by name without regard to case.
  const int crate = cm.findOrLoadModel("crate");
  EXPECT_EQ(crate, 2);
  EXPECT_EQ(cm.findOrLoadModel("CRATE"), crate);
  EXPECT_EQ(cm.numModels(), 3);
  // A path with an extension: the ".cm" of that path, the model named by the bare base name,
  // listed under the full name asked for.
  const int barrel = cm.findOrLoadModel("models/props/barrel.ase");
  EXPECT_EQ(barrel, 0);  // models/props/barrel.cm does not exist
  addFile(
      "models/props/barrel.cm",
      "!CM collisionModel \"barrel\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" } }");
  const int found = cm.findOrLoadModel("models/props/barrel.ase");
  EXPECT_EQ(found, 3);
  EXPECT_STREQ(cm.modelName(found), "models/props/barrel.ase");
  // A bare name is looked for as "<name>.cm", then under "maps/".
  const int loose = cm.findOrLoadModel("loose");
  EXPECT_EQ(loose, 4);
  EXPECT_EQ(cm.findOrLoadModel("nothing"), 0);
}

TEST_F(ModelFiles, BadIndicesAndFreeing) {
  Bounds b(v(1, 1, 1), v(2, 2, 2));
  EXPECT_FALSE(cm.modelBounds(-1, b));
  EXPECT_EQ(b.mins, v(1e30f, 1e30f, 1e30f));
  EXPECT_EQ(b.maxs, v(-1e30f, -1e30f, -1e30f));
  int contents = 77;
  EXPECT_FALSE(cm.modelContents(0, contents));
  EXPECT_EQ(contents, 77);
  EXPECT_EQ(cm.modelName(0), nullptr);
  EXPECT_EQ(cm.modelByIndex(0), nullptr);
  addFile("maps/test.cm", kTwoModels);
  cm.loadMap("maps/test.map", false);
  ASSERT_TRUE(cm.modelContents(0, contents));
  EXPECT_EQ(contents, kContentsSolid);
  ASSERT_NE(cm.modelByIndex(0), nullptr);
  EXPECT_EQ(cm.modelByIndex(0)->numPolygons(), 2);
  EXPECT_EQ(cm.modelByIndex(0)->polygonWinding(1)->numPoints, 4);
  cm.freeModels();
  cm.freeModels();
  EXPECT_EQ(cm.numModels(), 0);
  EXPECT_EQ(cm.modelName(0), nullptr);
}

TEST_F(ModelFiles, ReaderRules) {
  // Seventy points: the first 64 are kept and the next record still reads.
  std::string many = "!CM collisionModel \"many\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 2 70 ";
  for (int i = 0; i < 70; i++)
    many +=
        std::to_string(std::cos(i * 0.0897f) * 10) + " " + std::to_string(std::sin(i * 0.0897f) * 10) + " 0 ";
  many += "\"a\" 3 0 0 5 1 0 5 0 1 5 \"b\" } }";
  ASSERT_GT(cmtest::loadText(cm, many.c_str(), "many"), -1);
  ASSERT_EQ(cm.numModels(), 1);
  EXPECT_EQ(cm.model(0)->polygons[0]->winding.numPoints, 64);
  EXPECT_EQ(cm.model(0)->polygons[1]->winding[0], v(0, 0, 5));
  // Leaves numbered by the children: -1 and -3 make three, leaf 1 empty.
  TokenParser p;
  p.pushText("nodes { 1 0 0 1 8 -1 -3 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }");
  p.setPunctuation("{}");
  cmModel_t m;
  EXPECT_TRUE(cm.parseModelBody(m, "leaves", p));
  EXPECT_EQ(m.leafs.num(), 3);
  EXPECT_EQ(m.leafs[1].shapes.num(), 0);
  // A body without primitives parses but answers false.
  TokenParser e;
  e.pushText("nodes { 0 } polygons { 0 }");
  cmModel_t empty;
  EXPECT_FALSE(cm.parseModelBody(empty, "empty", e));
  EXPECT_TRUE(empty.bounds.isCleared());
}

TEST_F(ModelFiles, BadModelsFailAndTheRestLoad) {
  const char* good =
      "collisionModel \"good\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" } }";
  struct {
    const char* what;
    const char* body;
    const char* message;  // expected in the output ("" for a syntax error's report)
  } cases[] = {
      {"huge node count", "nodes { 2000000000 0 0 1 8 -1 -2 }", "ParseError"},
      {"negative node count", "nodes { -4 }", "ParseError"},
      {"child cycle", "nodes { 2 0 0 1 8 1 -1 1 0 0 0 1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }",
       "ParseError"},
      {"child pointing back",
       "nodes { 3 0 0 1 8 1 -1 1 0 0 0 2 -2 1 0 0 0 1 -3 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }",
       "ParseError"},
      {"shared child",
       "nodes { 3 0 0 1 8 1 2 1 0 0 0 2 -1 1 0 0 0 -2 -3 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }",
       "ParseError"},
      {"child out of range", "nodes { 1 0 0 1 8 5 -1 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }",
       "ParseError"},
      {"leaf number far beyond the nodes", "nodes { 1 0 0 1 8 -1 -2000000000 }", "ParseError"},
      {"node without a parent",
       "nodes { 2 0 0 1 8 -1 -2 1 0 0 0 -3 -4 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }", "ParseError"},
      {"polygons without nodes", "nodes { 0 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }", "ParseError"},
      {"brushes without nodes",
       "nodes { 0 } brushes { 1 6 1 0 0 8 -1 0 0 8 0 1 0 8 0 -1 0 8 0 0 1 8 0 0 -1 8 \"x\" }", "ParseError"},
      {"two-point polygon", "nodes { 1 0 0 1 8 -1 -2 } polygons { 1 2 0 0 0 1 0 0 \"x\" }", "ParseError"},
      {"unbounded brush",
       "nodes { 1 0 0 1 8 -1 -2 } brushes { 1 5 1 0 0 8 -1 0 0 8 0 1 0 8 0 -1 0 8 0 0 1 8 \"x\" }",
       "ParseError"},
      {"brush plane without normal",
       "nodes { 1 0 0 1 8 -1 -2 } brushes { 1 6 0 0 0 8 -1 0 0 8 0 1 0 8 0 -1 0 8 0 0 1 8 0 0 -1 8 \"x\" }",
       "ParseError"},
      {"infinite number", "nodes { 1 0 0 1 inf -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }",
       "ParseError: collision model: bad number 'inf' in 'bad.cm' line 1"},
      {"not a number", "nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 zero \"x\" }",
       "ParseError: collision model: bad number 'zero'"},
      {"nan", "nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 nan \"x\" }",
       "ParseError: collision model: bad number 'nan'"},
      {"number beyond a float", "nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 1e39 \"x\" }",
       "ParseError: collision model: bad number '1e39'"},
      {"-inf", "nodes { 1 0 0 1 -inf -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }", "ParseError"},
      {"integer beyond an int", "nodes { 99999999999 0 0 1 8 -1 -2 }",
       "ParseError: collision model: bad integer '99999999999'"},
      {"quote in a material name", "nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 a\"b }",
       "ParseError"},
      {"missing word", "{ 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" }", "Syntax Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cmd.text.clear();
    cm.freeModels();
    const std::string text = std::string("!CM collisionModel \"bad\" { ") + c.body + " }\n" + good;
    addFile("bad.cm", text);
    EXPECT_EQ(cm.loadModelFile("bad", "bad.cm"), 0);
    EXPECT_EQ(cm.numModels(), 0);
    EXPECT_NE(cmd.output.find(c.message), std::string::npos) << cmd.output;
    EXPECT_EQ(cm.loadModelFile("good", "bad.cm"), 0);  // index 0: the first model in the list
    EXPECT_EQ(cm.numModels(), 1);
    EXPECT_STREQ(cm.modelName(0), "good");
  }
}

TEST_F(ModelFiles, WriteAllThenReadGivesTheSameModels) {
  addFile("maps/test.cm", kTwoModels);
  cm.loadMap("maps/test.map", false);
  ASSERT_EQ(cm.findOrLoadModel("crate"), 2);
  // A model built from surfaces, with a brush whose planes are not axial.
  CollisionSurface slab;
  slab.kind = 3;
  slab.material = materials.find("slab");
  Vec3 n(1, 1, 0);
  n.normalize();
  const Plane planes[6] = {Plane(n, 10),
                           Plane(-n, 10),
                           Plane(v(0, 0, 1), 4),
                           Plane(v(0, 0, -1), 4),
                           Plane(v(-n.y, n.x, 0), 3),
                           Plane(v(n.y, -n.x, 0), 3)};
  for (const Plane& p : planes)
    slab.planes.append(p);
  List<CollisionSurface*> list;
  list.append(&slab);
  ASSERT_EQ(cm.createModel("slab", list), 3);
  // Named "empty" but not at index 1, and "Empty": only the exact name is skipped.
  cmtest::loadText(
      cm,
      "!CM collisionModel \"Empty\" { nodes { 1 0 0 1 8 -1 -2 } polygons { 1 3 0 0 0 1 0 0 0 1 0 \"x\" } }",
      "Empty");
  ASSERT_EQ(cm.numModels(), 5);

  cm.writeAllModels("maps/out.cm");
  const std::string text = written("maps/out.cm");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.rfind("!CM\n\ncollisionModel \"Empty\" {", 0), 0u);
  EXPECT_LT(text.find("\"slab\""), text.find("\"crate\""));
  EXPECT_LT(text.find("\"crate\""), text.find("\"worldMap\""));
  EXPECT_EQ(text.find("\"empty\""), std::string::npos);

  CollisionManager back;
  addFile("maps/out.cm", text);
  for (int i : {0, 2, 3, 4}) {
    const cmModel_t& a = *cm.model(i);
    const int j = back.loadModelFile(a.name.c_str(), "maps/out.cm");
    const cmModel_t* b = back.model(j);
    ASSERT_NE(b, nullptr) << a.name.c_str();
    SCOPED_TRACE(a.name.c_str());
    ASSERT_EQ(b->nodes.num(), a.nodes.num());
    for (int k = 0; k < a.nodes.num(); k++) {
      EXPECT_TRUE(b->nodes[k].normal.compare(a.nodes[k].normal, 1e-5f));
      EXPECT_NEAR(b->nodes[k].dist, a.nodes[k].dist, 1e-4f);
      EXPECT_EQ(b->nodes[k].children[0], a.nodes[k].children[0]);
      EXPECT_EQ(b->nodes[k].children[1], a.nodes[k].children[1]);
    }
    ASSERT_EQ(b->polygons.num(), a.polygons.num());
    for (int k = 0; k < a.polygons.num(); k++) {
      ASSERT_EQ(b->polygons[k]->winding.numPoints, a.polygons[k]->winding.numPoints);
      for (int p = 0; p < a.polygons[k]->winding.numPoints; p++)
        EXPECT_TRUE(b->polygons[k]->winding[p].compare(a.polygons[k]->winding[p], 1e-5f));
      EXPECT_STREQ(materials.name(b->polygons[k]->material), materials.name(a.polygons[k]->material));
    }
    ASSERT_EQ(b->brushes.num(), a.brushes.num());
    for (int k = 0; k < a.brushes.num(); k++) {
      ASSERT_EQ(b->brushes[k]->trm.numPolys, a.brushes[k]->trm.numPolys);
      for (int f = 0; f < a.brushes[k]->trm.numPolys; f++) {
        EXPECT_TRUE(
            b->brushes[k]->trm.polys[f].plane.compare(a.brushes[k]->trm.polys[f].plane, 1e-4f, 1e-3f));
      }
      EXPECT_TRUE(b->bounds.mins.compare(a.bounds.mins, 1e-3f));
      EXPECT_TRUE(b->bounds.maxs.compare(a.bounds.maxs, 1e-3f));
    }
    EXPECT_EQ(b->contents, a.contents);
  }
}

TEST_F(ModelFiles, WriteOneModelUnderTheFileName) {
  addFile("maps/test.cm", kTwoModels);
  cm.loadMap("maps/test.map", false);
  cm.writeModelFile("models/solo.cm", 0);
  const std::string text = written("models/solo.cm");
  // Numbers with five decimals; only the zeros that end a whole list are cut.
  EXPECT_EQ(text.rfind("!CM\ncollisionModel \"solo\" {\n\nnodes { /* numNodes = */ 2\n"
                       "/* node 0 */ 0.00000 0.00000 1.00000 64. -1 1\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("   /* polygon 0 */ 3 -10.00000 -10.00000 0. 10.00000 -10.00000 0. 0.00000 10.00000 0. "
                      "\"floor\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.substr(text.size() - 4), "}\n}\n");
  cm.writeModelFile("models/none.cm", 9);
  EXPECT_TRUE(written("models/none.cm").empty());
  cm.writeModelFile("../escape.cm", 0);
  EXPECT_NE(cmd.output.find("WARNING"), std::string::npos);
}

// A map whose collision file is damaged loads without world collision, and the output names the file
// (and the line where the fault stands) and says that the world has no collision.
TEST_F(ModelFiles, DamagedMapFileSaysSoAndLoadsWithoutWorldCollision) {
  const std::string whole = kTwoModels;
  std::string huge = whole, nan = whole, inf = whole;
  huge.replace(huge.find("64 -1 1"), 2, "1e39");
  nan.replace(nan.find("-10 -10 0"), 3, "nan");
  inf.replace(inf.find("20 -10 30"), 2, "inf");
  struct {
    const char* what;
    std::string text;
    const char* message;  // expected besides the warning
  } cases[] = {
      {"empty", "", "Syntax Error"},
      {"truncated in the nodes", whole.substr(0, whole.find("/* node 1 */") + 16), "unexpected end of file"},
      {"truncated in the polygons", whole.substr(0, whole.find("\"floor\"") - 3), "unexpected end of file"},
      {"zero-filled", std::string(300, '\0'), "Syntax Error"},
      {"huge number", huge, "ParseError: collision model: bad number '1e39' in 'maps/test.cm' line 4"},
      {"nan", nan, "ParseError: collision model: bad number 'nan' in 'maps/test.cm' line 8"},
      {"inf", inf, "ParseError: collision model: bad number 'inf' in 'maps/test.cm' line 9"},
      {"no world model", "!CM collisionModel \"other\" { nodes { 0 } }", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    cmd.output.clear();
    addFile("maps/test.cm", c.text);
    cm.loadMap("maps/test.map", false);
    ASSERT_EQ(cm.numModels(), 1);
    EXPECT_STREQ(cm.modelName(0), "empty");
    EXPECT_NE(cmd.output.find(c.message), std::string::npos) << cmd.output;
    EXPECT_NE(cmd.output.find(
                  "WARNING: 'maps/test.cm' holds no readable world model: the map has no world collision"),
              std::string::npos)
        << cmd.output;
  }
  // A whole file and a missing one stay quiet.
  cmd.output.clear();
  addFile("maps/test.cm", whole);
  cm.loadMap("maps/test.map", false);
  EXPECT_EQ(cm.numModels(), 2);
  cm.loadMap("maps/other.map", false);
  EXPECT_EQ(cm.numModels(), 1);
  EXPECT_EQ(cmd.output, "");
}

TEST_F(ModelFiles, EveryTruncationIsSafe) {
  addFile("maps/test.cm", kTwoModels);
  cm.loadMap("maps/test.map", false);
  cm.findOrLoadModel("crate");
  cm.writeAllModels("maps/full.cm");
  const std::string text = written("maps/full.cm");
  ASSERT_GT(text.size(), 200u);
  int loaded = 0;
  for (size_t len = 0; len <= text.size(); len++) {
    CollisionManager fresh;
    const std::string cut = text.substr(0, len);
    const int a = cmtest::loadText(fresh, cut.c_str(), "crate");
    const int b = cmtest::loadText(fresh, cut.c_str(), "worldMap");
    // A model is either read whole or not at all.
    for (int i = 0; i < fresh.numModels(); i++) {
      const cmModel_t* m = fresh.model(i);
      if (m->name.icmp("crate") == 0)
        EXPECT_EQ(m->brushes.num(), 1) << len;
      else
        EXPECT_EQ(m->polygons.num(), 2) << len;
    }
    loaded += (a >= 0 && fresh.numModels() > 0);
    (void)b;
  }
  EXPECT_GT(loaded, 0);
  // The whole text gives both.
  CollisionManager whole;
  cmtest::loadText(whole, text.c_str(), "crate");
  cmtest::loadText(whole, text.c_str(), "worldMap");
  EXPECT_EQ(whole.numModels(), 2);
}

}  // namespace
