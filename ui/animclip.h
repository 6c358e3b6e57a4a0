// AnimClip: a skeletal animation read from a text animation file (hierarchy, per-frame bounds, a
// base frame and the animated components of every frame), and the joints it gives at a time.
#pragma once

#include <string>
#include <vector>

#include "lib/matrix.h"
#include "lib/vector.h"

struct AnimJointInfo {
  int nameIndex = 0;
  int parent = -1;  // -1 for the root
  // Which components the frames animate: 1, 2, 4 position x, y, z; 8, 16, 32 rotation x, y, z.
  int flags = 0;
  int firstComponent = 0;  // index of the joint's first animated component within a frame
};

// Two frames and the fraction between them.
struct AnimFrameBlend {
  int cycleCount = 0;
  int frame1 = 0;
  int frame2 = 0;
  float backlerp = 1.0f;
  float frontlerp = 0.0f;
};

class AnimClip {
 public:
  static constexpr int kVersion = 4;

  AnimClip() { reset(); }

  // Reads a file of the virtual file system. A file that cannot be loaded or read gives false;
  // a value out of range is a fatal error (the engine is asked to quit) and gives false too.
  bool parse(const char* fileName);
  // The same from text in memory (the file name is only for messages).
  bool parseText(const char* text, const char* fileName);
  void reset();
  // Index of the name in the joint-name list (without case), appended when missing.
  int jointNameIndex(const char* name);
  // cycles 0 (or less) loops endlessly; otherwise the clip rests on its last frame after that
  // many passes.
  AnimFrameBlend frameAtTime(int ms, int cycles) const;
  // The joints at a blend: `joints` holds `count` entries, and the list names `count` joint
  // indexes to animate. Only the joints both the caller and the clip have are written.
  void blendFrames(const AnimFrameBlend& blend, JointQuat* joints, const int* jointList, int count) const;

  int numFrames() const { return numFrames_; }
  int frameRate() const { return frameRate_; }
  int animLength() const { return animLength_; }
  int numJoints() const { return numJoints_; }
  int numAnimatedComponents() const { return numAnimatedComponents_; }
  const Vec3& totalDelta() const { return totalDelta_; }
  const std::string& fileName() const { return fileName_; }
  const std::vector<AnimJointInfo>& joints() const { return joints_; }
  const std::vector<JointQuat>& baseFrame() const { return baseFrame_; }
  const std::vector<Bounds>& bounds() const { return bounds_; }
  const std::vector<float>& components() const { return components_; }
  const std::string& jointName(int joint) const;

 private:
  int numFrames_ = 0;
  int frameRate_ = 24;
  int animLength_ = 0;
  int numJoints_ = 0;
  int numAnimatedComponents_ = 0;
  std::vector<Bounds> bounds_;
  std::vector<AnimJointInfo> joints_;
  std::vector<JointQuat> baseFrame_;
  std::vector<float> components_;  // numFrames x numAnimatedComponents
  std::vector<std::string> jointNames_;
  std::string fileName_;
  Vec3 totalDelta_;
};
