// DynamicModel: the skinned mesh. A BaseModel that also holds a joint hierarchy with bind poses,
// the inverse bind matrices and, per surface, up to four weighted joints per vertex. Loads the
// ".dmesh" text format and skins vertices on the processor into instance models. Created only by
// the render-model manager (names containing ".dmesh"). Main thread only.
#pragma once

#include <cstdint>

#include "lib/list.h"
#include "lib/matrix.h"
#include "lib/str.h"
#include "render/model/basemodel.h"

// Joint indexes are stored as bytes, so a file may name at most 256 joints.
constexpr int kDmeshMaxJoints = 256;

struct ModelJoint {
  String name;
  ModelJoint* parent = nullptr;  // null for a root
};

struct JointPose {
  Quat orientation;
  Vec3 position;
};

// Position 0 is always used; a joint index of 0 in positions 1-3 ends the list.
struct VertexInfluence {
  uint8_t joints[4];
  float weights[4];
};

class DynamicModel : public BaseModel {
 public:
  DynamicModel();
  ~DynamicModel() override;

  void init(const char* name) override;
  void loadFile(const char* fileName) override;
  void reload() override { loadFile(name_.c_str()); }
  int memoryUsed() const override;
  int numJointPoses() const override { return bindPoses_.num(); }
  const ModelJoint* getJoints() const override { return joints_.num() ? &joints_[0] : nullptr; }
  int findJoint(const char* name) const override;
  const char* getJointName(int index) const override;
  const JointPose* getBindPoses() const override { return bindPoses_.num() ? &bindPoses_[0] : nullptr; }
  void purge() override;
  // Skins one surface: `matrices` holds `numJoints` matrices (from computeJointMatrices); influences
  // naming a joint at or above that count use matrix 0. Without influences, joints or with
  // "r_skipJointTransform" set, the surface moves rigidly with matrix 0.
  void transformSurfaceVertices(DrawVertex* out, const Mat4* matrices, int numJoints, int surface) const override;
  // One matrix per joint of the entity (at most the model's joint count): inverse bind, then the
  // entity's joint matrix, then the entity's placement.
  void computeJointMatrices(Mat4* out, const RenderEntity* entity) const override;

  // Loads the ".dmesh" format from a text in memory (as loadFile does after reading the file).
  void loadFromDmeshText(const char* text);
  // The position (0-3) of the largest weight of a vertex; -1 for indexes outside the model or a
  // zero weight.
  int dominantInfluence(int surface, int vertex) const;
  // Inspection (tests, the benchmark).
  const VertexInfluence* influences(int surface) const {
    return surface >= 0 && surface < influences_.num() ? influences_[surface] : nullptr;
  }
  const Mat4* inverseBindMatrices() const { return inverseBindMatrices_.num() ? &inverseBindMatrices_[0] : nullptr; }
  int parentOf(int joint) const { return joint >= 0 && joint < parents_.num() ? parents_[joint] : -1; }

 private:
  void releaseJointData();
  bool parseDmesh(TokenParser& parser);
  // Parses a pushed ".dmesh" text, then adds back sides; the default box on failure.
  void loadParsedDmesh(TokenParser& parser);

  List<VertexInfluence*> influences_;
  List<ModelJoint> joints_;
  List<JointPose> bindPoses_;
  List<Mat4> inverseBindMatrices_;
  List<int> parents_;  // parent index per joint, -1 for roots (the joints' parent pointers as indexes)
};

// Drops the zero weights of one vertex (see the format's rules); exposed for the tests.
void compactInfluence(VertexInfluence& influence);
