// The skinned mesh: the ".dmesh" text format, bind poses and inverse bind matrices, joint matrices
// of an entity and processor skinning with up to four weights per vertex.
//
// Sections: life and queries, the ".dmesh" format, skinning.
#include "render/model/dynamicmodel.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/renderentity.h"
#include "lib/tokenparser.h"
#include "render/model/modelmaterial.h"

namespace {

ConVar r_skipJointTransform("r_skipJointTransform", "0", 0x2001, "");

}  // namespace

// ---------------------------------------------------------------------------------------------
// Life and queries

DynamicModel::DynamicModel() : influences_(16), joints_(16), bindPoses_(16), inverseBindMatrices_(16), parents_(16) {
  mode_ = kModelDynamic;
}

DynamicModel::~DynamicModel() { releaseJointData(); }

void DynamicModel::releaseJointData() {
  for (VertexInfluence* influence : influences_)
    delete[] influence;
  influences_.clear();
  joints_.clear();
  bindPoses_.clear();
  inverseBindMatrices_.clear();
  parents_.clear();
}

void DynamicModel::init(const char* name) {
  BaseModel::init(name);
  releaseJointData();
}

void DynamicModel::purge() { BaseModel::purge(); }

int DynamicModel::memoryUsed() const {
  int bytes = BaseModel::memoryUsed() + 4 * influences_.size();
  for (int s = 0; s < influences_.num() && s < surfaces_.num(); s++) {
    const SurfaceGeometry* g = surfaces_[s].geometry;
    bytes += g ? 20 * g->numVerts : 0;
  }
  return bytes + 64 * inverseBindMatrices_.size() + 28 * bindPoses_.size() + 36 * joints_.size();
}

int DynamicModel::findJoint(const char* name) const {
  if (!name)
    return -1;
  for (int j = 0; j < joints_.num(); j++) {
    if (String::icmp(joints_[j].name.c_str(), name) == 0)
      return j;
  }
  return -1;
}

const char* DynamicModel::getJointName(int index) const {
  if (index < 0 || index >= joints_.num())
    return nullptr;
  return joints_[index].name.c_str();
}

int DynamicModel::dominantInfluence(int surface, int vertex) const {
  if (surface < 0 || surface >= influences_.num() || !influences_[surface] || surface >= surfaces_.num())
    return -1;
  const SurfaceGeometry* g = surfaces_[surface].geometry;
  if (!g || vertex < 0 || vertex >= g->numVerts)
    return -1;
  const VertexInfluence& in = influences_[surface][vertex];
  int best = 0;
  for (int k = 1; k < 4 && in.weights[k] != 0.0f; k++) {
    if (in.weights[k] > in.weights[best])
      best = k;
  }
  return in.weights[best] == 0.0f ? -1 : best;
}

void compactInfluence(VertexInfluence& in) {
  int pos = 0;
  while (pos < 4 && in.joints[pos] != 0) {
    if (in.weights[pos] > 1e-6f) {
      pos++;
      continue;
    }
    for (int k = pos; k < 3; k++) {
      in.joints[k] = in.joints[k + 1];
      in.weights[k] = in.weights[k + 1];
    }
    in.joints[3] = 0;
    in.weights[3] = 0.0f;
  }
}

// ---------------------------------------------------------------------------------------------
// The ".dmesh" format

namespace {

class DmeshReader {
 public:
  DmeshReader(TokenParser& parser, const char* name) : parser_(parser), name_(name) {}

  void refuse(const char* why) {
    cmdPrintf("WARNING: skinned mesh \"%s\" line %d: %s: using the default model\n", name_, parser_.lineNumber(),
              why);
  }

  // The next token, crossing lines; the parentheses around number groups are skipped wherever
  // they stand. The end of the text refuses the file.
  const char* token() {
    const char* t = parser_.nextToken(true);
    while (t && (t[0] == '(' || t[0] == ')') && t[1] == '\0' && !parser_.tokenWasQuoted())
      t = parser_.nextToken(true);
    if (!t)
      refuse("the file ends too early");
    return t;
  }

  // A keyword: a mismatch is a syntax error and parsing goes on with the next token.
  bool keyword(const char* expected) {
    const char* t = token();
    if (!t)
      return false;
    if (String::icmp(t, expected) != 0) {
      if (g_cmdSystem)
        g_cmdSystem->error(0, "Syntax Error: parsed '%s' while expecting '%s'\n", t, expected);
      parser_.printErrorReport(name_, parser_.lineNumber());
    }
    return true;
  }

  // A finite number, parentheses around groups skipped.
  bool number(double* out) {
    const char* t = token();
    if (!t)
      return false;
    const char* end = nullptr;
    const double v = textToDouble(t, &end);
    if (!end || *end != '\0' || end == t || !std::isfinite(v) || std::fabs(v) > 3.0e38) {
      cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, "a number");
      refuse("a number was expected");
      return false;
    }
    *out = v;
    return true;
  }

  // A whole number in lo..hi.
  bool integer(int lo, int hi, const char* what, int* out) {
    double v = 0.0;
    if (!number(&v))
      return false;
    if (v != std::floor(v) || v < double(lo) || v > double(hi)) {
      cmdPrintf("WARNING: skinned mesh \"%s\": %s %g is outside %d..%d\n", name_, what, v, lo, hi);
      refuse("a value is out of range");
      return false;
    }
    *out = int(v);
    return true;
  }

  bool numbers(float* out, int count) {
    for (int k = 0; k < count; k++) {
      double v = 0.0;
      if (!number(&v))
        return false;
      out[k] = float(v);
    }
    return true;
  }

  // The text of a braced block whose "{" was just read, without its outer braces; false when the
  // file ends inside it.
  bool bracedText(std::string* out) {
    const char* start = parser_.textPosition();
    int depth = 1;
    const char* before = start;
    while (depth > 0) {
      before = parser_.textPosition();
      const char* t = parser_.nextToken(true);
      if (!t) {
        refuse("the file ends inside a material body");
        return false;
      }
      if (!parser_.tokenWasQuoted()) {
        if (std::strcmp(t, "{") == 0)
          depth++;
        else if (std::strcmp(t, "}") == 0)
          depth--;
      }
    }
    // `before` is where the scan for the closing brace began: the body ends there.
    out->assign(start ? start : "", start && before >= start ? size_t(before - start) : 0);
    return true;
  }

 private:
  TokenParser& parser_;
  const char* name_;
};

}  // namespace

bool DynamicModel::parseDmesh(TokenParser& parser) {
  DmeshReader reader(parser, name_.c_str());
  int version = 0;
  int numJoints = 0;
  int numMeshes = 0;
  if (!reader.keyword("meshVersion") || !reader.integer(-0x7fffffff, 0x7fffffff, "meshVersion", &version))
    return false;
  if (!reader.keyword("numJoints") || !reader.integer(0, kDmeshMaxJoints, "numJoints", &numJoints))
    return false;
  if (!reader.keyword("numMeshes") || !reader.integer(0, kMeshMaxMeshes, "numMeshes", &numMeshes))
    return false;

  // Joints: every parent must come before its child, so that one pass in file order concatenates.
  if (!reader.keyword("joints") || !reader.keyword("{"))
    return false;
  joints_.setNum(numJoints);
  bindPoses_.setNum(numJoints);
  parents_.setNum(numJoints);
  for (int j = 0; j < numJoints; j++) {
    const char* name = reader.token();
    if (!name)
      return false;
    joints_[j].name = name;
    joints_[j].parent = nullptr;
    int parent = 0;
    if (!reader.integer(-0x7fffffff, 0x7fffffff, "parent", &parent))
      return false;
    if (parent >= j) {
      cmdPrintf("WARNING: skinned mesh \"%s\": joint %d names parent %d, which does not come before it\n",
                name_.c_str(), j, parent);
      reader.refuse("a joint's parent must come before it");
      return false;
    }
    parents_[j] = parent < 0 ? -1 : parent;
    float p[3];
    float q[3];
    if (!reader.numbers(p, 3) || !reader.numbers(q, 3))
      return false;
    JointPose& pose = bindPoses_[j];
    pose.position = Vec3(p[0], p[1], p[2]);
    pose.orientation = Quat(q[0], q[1], q[2], 0.0f);
    pose.orientation.w = pose.orientation.calcW();
  }
  for (int j = 0; j < numJoints; j++)
    joints_[j].parent = parents_[j] >= 0 ? &joints_[parents_[j]] : nullptr;
  if (!reader.keyword("}"))
    return false;

  // Model-space bind matrices, then inverted: the same for every mesh, so made once.
  inverseBindMatrices_.setNum(numJoints);
  for (int j = 0; j < numJoints; j++) {
    inverseBindMatrices_[j] = Mat4::fromMat3(bindPoses_[j].orientation.toMat3(), bindPoses_[j].position);
    if (parents_[j] >= 0)
      inverseBindMatrices_[j] = Mat4::multiply(inverseBindMatrices_[j], inverseBindMatrices_[parents_[j]]);
  }
  for (int j = 0; j < numJoints; j++)
    inverseBindMatrices_[j].inverseRigid();

  std::vector<DrawVertex> verts;
  std::vector<VertexInfluence> weights;
  std::vector<int> indexes;
  for (int m = 0; m < numMeshes; m++) {
    if (!reader.keyword("mesh") || !reader.keyword("{") || !reader.keyword("shader"))
      return false;
    const char* materialToken = reader.token();
    if (!materialToken)
      return false;
    const std::string materialName = materialToken;
    Material* material = nullptr;
    const char* next = reader.token();
    if (!next)
      return false;
    if (std::strcmp(next, "{") == 0 && !parser.tokenWasQuoted()) {
      std::string body;
      if (!reader.bracedText(&body))
        return false;
      const std::string text = materialName + "\n{\n" + body + "\n}";
      material = g_declSystem ? modelMaterialFromDecl(g_declSystem->createMaterialFromText(text.c_str())) : nullptr;
    } else {
      parser.unreadToken();
      material = findModelMaterial(materialName.c_str());
    }

    int numVerts = 0;
    if (!reader.keyword("numverts") || !reader.integer(0, kMeshMaxVerts, "numverts", &numVerts))
      return false;
    verts.clear();
    weights.clear();
    // Grown as lines arrive: a huge count with little text behind it costs nothing.
    verts.reserve(size_t(numVerts < 256 ? numVerts : 256));
    for (int v = 0; v < numVerts; v++) {
      if (!reader.keyword("vert"))
        return false;
      DrawVertex dv = {};
      float joints[4];
      VertexInfluence in = {};
      if (!reader.numbers(dv.xyz, 3) || !reader.numbers(dv.st, 2) || !reader.numbers(joints, 4) ||
          !reader.numbers(in.weights, 4))
        return false;
      for (int k = 0; k < 4; k++) {
        if (joints[k] != std::floor(joints[k]) || joints[k] < 0.0f || joints[k] >= float(numJoints)) {
          cmdPrintf("WARNING: skinned mesh \"%s\": vertex %d names joint %g of %d\n", name_.c_str(), v,
                    double(joints[k]), numJoints);
          reader.refuse("a vertex names a joint outside the joint list");
          return false;
        }
        in.joints[k] = uint8_t(int(joints[k]) & 0xff);
      }
      compactInfluence(in);
      std::memset(dv.color, 255, sizeof(dv.color));
      verts.push_back(dv);
      weights.push_back(in);
    }

    int numTris = 0;
    if (!reader.keyword("numtris") || !reader.integer(0, kMeshMaxTris, "numtris", &numTris))
      return false;
    indexes.clear();
    indexes.reserve(size_t(numTris < 256 ? numTris : 256) * 3);
    for (int t = 0; t < numTris; t++) {
      if (!reader.keyword("tri"))
        return false;
      for (int k = 0; k < 3; k++) {
        int index = 0;
        if (!reader.integer(0, numVerts - 1, "a triangle's vertex", &index))
          return false;
        indexes.push_back(index);
      }
    }
    if (!reader.keyword("}"))
      return false;

    SurfaceGeometry* g = geometryOf(verts, indexes);
    if (!g) {
      reader.refuse("no geometry for the mesh");
      return false;
    }
    VertexInfluence* influence = new VertexInfluence[size_t(numVerts > 0 ? numVerts : 1)];
    if (numVerts > 0)
      std::memcpy(influence, weights.data(), weights.size() * sizeof(VertexInfluence));
    influences_.append(influence);
    deriveNormalsAndTangents(g->verts, numVerts, g->indexes, numTris * 3, g->planes, false);
    g->facetsValid = 1;
    // Skinned vertices move: the box must hold any rotation of the mesh about its centre.
    g->bounds.toSphereBox();
    addSurface({material, g, 0});
  }
  (void)version;
  return true;
}

void DynamicModel::loadFile(const char* fileName) {
  if (isDefaultModel())
    return;
  purge();
  TokenParser parser;
  if (!fileName || !*fileName || (!parser.loadFile(fileName, false) && !parser.loadFile(fileName, true))) {
    if (g_cmdSystem)
      g_cmdSystem->error(0, "file not found \"%s\"\n", name_.c_str());
    makeDefault();
    return;
  }
  loadParsedDmesh(parser);
}

void DynamicModel::loadFromDmeshText(const char* text) {
  purge();
  TokenParser parser;
  if (!text || !parser.pushText(text)) {
    makeDefault();
    return;
  }
  loadParsedDmesh(parser);
}

void DynamicModel::loadParsedDmesh(TokenParser& parser) {
  parser.setPunctuation("()");
  if (!parseDmesh(parser)) {
    makeDefault();
    return;
  }
  addBackSides();
}

// ---------------------------------------------------------------------------------------------
// Skinning

void DynamicModel::computeJointMatrices(Mat4* out, const RenderEntity* entity) const {
  if (!out)
    return;
  if (!entity || entity->numJoints <= 0 || !entity->joints) {
    BaseModel::computeJointMatrices(out, entity);
    return;
  }
  const Mat4 placement = Mat4::fromMat3(entity->axis, entity->origin);
  const int n = entity->numJoints < inverseBindMatrices_.num() ? entity->numJoints : inverseBindMatrices_.num();
  for (int i = 0; i < n; i++)
    out[i] = Mat4::multiply(Mat4::multiply(inverseBindMatrices_[i], entity->joints[i]), placement);
}

namespace {

inline void skinVertex(const DrawVertex& src, DrawVertex& dst, const float* m) {
  const float x = src.xyz[0], y = src.xyz[1], z = src.xyz[2];
  dst.xyz[0] = m[0] * x + m[4] * y + m[8] * z + m[12];
  dst.xyz[1] = m[1] * x + m[5] * y + m[9] * z + m[13];
  dst.xyz[2] = m[2] * x + m[6] * y + m[10] * z + m[14];
  const float* in[3] = {src.tangents[0], src.tangents[1], src.normal};
  float* outv[3] = {dst.tangents[0], dst.tangents[1], dst.normal};
  for (int k = 0; k < 3; k++) {
    const float a = in[k][0], b = in[k][1], c = in[k][2];
    outv[k][0] = m[0] * a + m[4] * b + m[8] * c;
    outv[k][1] = m[1] * a + m[5] * b + m[9] * c;
    outv[k][2] = m[2] * a + m[6] * b + m[10] * c;
  }
}

}  // namespace

void DynamicModel::transformSurfaceVertices(DrawVertex* out, const Mat4* matrices, int numJoints, int surface) const {
  if (!out || !matrices || surface < 0 || surface >= surfaces_.num())
    return;
  const VertexInfluence* influence = surface < influences_.num() ? influences_[surface] : nullptr;
  if (!influence || numJoints <= 0 || r_skipJointTransform.getInt() != 0) {
    BaseModel::transformSurfaceVertices(out, matrices, 1, surface);
    return;
  }
  const SurfaceGeometry* g = surfaces_[surface].geometry;
  if (!g || !g->verts)
    return;
  // Joints beyond the caller's matrices fall back to matrix 0 rather than reading past them.
  auto matrixOf = [&](int joint) -> const float* { return matrices[joint < numJoints ? joint : 0].m; };
  for (int v = 0; v < g->numVerts; v++) {
    const VertexInfluence& in = influence[v];
    if (in.joints[1] == 0) {
      skinVertex(g->verts[v], out[v], matrixOf(in.joints[0]));
      continue;
    }
    float blend[16];
    const float* m0 = matrixOf(in.joints[0]);
    const float* m1 = matrixOf(in.joints[1]);
    if (in.joints[2] == 0) {
      // Two joints: a linear blend where only the first weight counts.
      const float w0 = in.weights[0];
      for (int e = 0; e < 16; e++)
        blend[e] = m1[e] + w0 * (m0[e] - m1[e]);
    } else {
      const float w0 = in.weights[0];
      for (int e = 0; e < 16; e++)
        blend[e] = w0 * m0[e];
      for (int k = 1; k < 4 && in.joints[k] != 0; k++) {
        const float* mk = matrixOf(in.joints[k]);
        const float wk = in.weights[k];
        for (int e = 0; e < 16; e++)
          blend[e] += wk * mk[e];
      }
    }
    skinVertex(g->verts[v], out[v], blend);
  }
}
