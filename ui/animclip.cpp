// The text animation format and the joints of a clip at a time.
#include "ui/animclip.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"

namespace {

// A value the format forbids: the clip is refused and the engine asked to stop.
void fatal(const char* text) {
  if (g_cmdSystem)
    g_cmdSystem->error(1, "%s", text);
  else
    cmdPrintf("%s\n", text);
}

std::string formatInt(const char* format, int value) __attribute__((format(printf, 1, 0)));
std::string formatInt(const char* format, int value) {
  char text[256];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

class ClipReader {
 public:
  ClipReader(TokenParser& parser, const char* name) : parser_(parser), name_(name) {}

  bool ok() const { return ok_; }

  // A keyword or brace (after the parenthesis closing the last group): a mismatch prints the
  // syntax error and reading goes on.
  void expect(const char* word) {
    const char* t = token();
    if (!t || String::icmp(t, word) == 0)
      return;
    cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, word);
    parser_.printErrorReport(name_, parser_.lineNumber());
  }

  // The next token that is not a group's parenthesis.
  const char* token() {
    if (!ok_)
      return nullptr;
    const char* t = parser_.nextToken(true);
    while (t && !parser_.tokenWasQuoted() && (std::strcmp(t, "(") == 0 || std::strcmp(t, ")") == 0))
      t = parser_.nextToken(true);
    if (!t)
      end();
    return t;
  }

  bool number(double* out) {
    const char* t = token();
    if (!t)
      return false;
    const char* stop = nullptr;
    const double v = textToDouble(t, &stop);
    if (!stop || stop == t || *stop != '\0' || !std::isfinite(v) || std::fabs(v) > 3.0e38) {
      cmdPrintf("Syntax Error: parsed '%s' while expecting '%s'\n", t, "a number");
      parser_.printErrorReport(name_, parser_.lineNumber());
      ok_ = false;
      return false;
    }
    *out = v;
    return true;
  }

  bool integer(int* out) {
    double v = 0.0;
    if (!number(&v))
      return false;
    if (v != std::floor(v) || v < -2147483648.0 || v > 2147483647.0) {
      cmdPrintf("Syntax Error: parsed '%g' while expecting '%s'\n", v, "a whole number");
      parser_.printErrorReport(name_, parser_.lineNumber());
      ok_ = false;
      return false;
    }
    *out = int(v);
    return true;
  }

  bool floats(float* out, int count) {
    for (int i = 0; i < count; ++i) {
      double v = 0.0;
      if (!number(&v))
        return false;
      out[i] = float(v);
    }
    return true;
  }

 private:
  void end() {
    if (ok_)
      cmdPrintf("WARNING: animation \"%s\" ends too early\n", name_);
    ok_ = false;
  }

  TokenParser& parser_;
  const char* name_;
  bool ok_ = true;
};

int bitCount(int flags) {
  int n = 0;
  for (int bit = 1; bit < 64; bit <<= 1)
    n += (flags & bit) ? 1 : 0;
  return n;
}

}  // namespace

void AnimClip::reset() {
  numFrames_ = 0;
  frameRate_ = 24;
  numJoints_ = 0;
  animLength_ = 0;
  numAnimatedComponents_ = 0;
  bounds_.clear();
  joints_.clear();
  baseFrame_.clear();
  components_.clear();
  jointNames_.clear();
  fileName_.clear();
  totalDelta_ = Vec3(0.0f, 0.0f, 0.0f);
}

const std::string& AnimClip::jointName(int joint) const {
  static const std::string kNone;
  if (joint < 0 || joint >= int(joints_.size()))
    return kNone;
  const int index = joints_[size_t(joint)].nameIndex;
  return index >= 0 && index < int(jointNames_.size()) ? jointNames_[size_t(index)] : kNone;
}

int AnimClip::jointNameIndex(const char* name) {
  const char* text = name ? name : "";
  for (size_t i = 0; i < jointNames_.size(); ++i)
    if (String::icmp(jointNames_[i].c_str(), text) == 0)
      return int(i);
  jointNames_.push_back(text);
  return int(jointNames_.size()) - 1;
}

bool AnimClip::parse(const char* fileName) {
  reset();
  TokenParser parser;
  if (!fileName || !fileName[0] || !parser.loadFile(fileName))
    return false;
  return parseText(parser.textStart(), fileName);
}

bool AnimClip::parseText(const char* text, const char* fileName) {
  reset();
  TokenParser parser;
  if (!text || !parser.pushText(text))
    return false;
  parser.setPunctuation("(){}");
  const char* name = fileName ? fileName : "";
  ClipReader in(parser, name);
  auto refuse = [&]() {
    reset();
    return false;
  };
  auto refuseFatal = [&](const std::string& message) {
    fatal(message.c_str());
    reset();
    return false;
  };

  int version = 0;
  in.expect("meshVersion");
  if (!in.integer(&version))
    return refuse();
  if (version != kVersion) {
    char text[96];
    std::snprintf(text, sizeof(text), "Invalid version %d.  Should be version %d\n", version, kVersion);
    return refuseFatal(text);
  }
  in.expect("numFrames");
  if (!in.integer(&numFrames_))
    return refuse();
  if (numFrames_ < 1)
    return refuseFatal(formatInt("Invalid number of frames: %d", numFrames_));
  in.expect("numJoints");
  if (!in.integer(&numJoints_))
    return refuse();
  if (numJoints_ < 1)
    return refuseFatal(formatInt("Invalid number of joints: %d", numJoints_));
  in.expect("frameRate");
  if (!in.integer(&frameRate_))
    return refuse();
  if (frameRate_ < 1)
    return refuseFatal(formatInt("Invalid frame rate: %d", frameRate_));
  in.expect("numAnimatedComponents");
  if (!in.integer(&numAnimatedComponents_))
    return refuse();
  if (numAnimatedComponents_ < 0 || int64_t(numAnimatedComponents_) > int64_t(numJoints_) * 6)
    return refuseFatal(formatInt("Invalid number of animated components: %d", numAnimatedComponents_));

  // The lists grow as the text delivers them: a large count with little behind it costs nothing.
  in.expect("hierarchy");
  in.expect("{");
  for (int j = 0; j < numJoints_; ++j) {
    const char* jointName = in.token();
    if (!jointName)
      return refuse();
    AnimJointInfo info;
    info.nameIndex = jointNameIndex(jointName);
    if (!in.integer(&info.parent) || !in.integer(&info.flags) || !in.integer(&info.firstComponent))
      return refuse();
    if (info.parent >= j)
      return refuseFatal(formatInt("Invalid parent num: %d", info.parent));
    if (info.parent < 0 && j != 0)
      return refuseFatal("Animations may have only one root joint");
    if (info.parent < 0)
      info.parent = -1;
    if (info.flags < 0 || info.flags > 63)
      return refuseFatal(formatInt("Invalid anim bits: %d", info.flags));
    if (numAnimatedComponents_ > 0) {
      // Every component the joint animates must lie inside a frame, not just its first one.
      if (info.firstComponent < 0 || info.firstComponent >= numAnimatedComponents_ ||
          int64_t(info.firstComponent) + bitCount(info.flags) > int64_t(numAnimatedComponents_))
        return refuseFatal(formatInt("Invalid first component: %d", info.firstComponent));
    }
    joints_.push_back(info);
  }
  in.expect("}");

  in.expect("bounds");
  in.expect("{");
  for (int f = 0; f < numFrames_; ++f) {
    float b[6];
    if (!in.floats(b, 6))
      return refuse();
    bounds_.push_back(Bounds(Vec3(b[0], b[1], b[2]), Vec3(b[3], b[4], b[5])));
  }
  in.expect("}");

  in.expect("baseframe");
  in.expect("{");
  for (int j = 0; j < numJoints_; ++j) {
    float v[6];
    if (!in.floats(v, 6))
      return refuse();
    JointQuat joint;
    joint.t = Vec3(v[0], v[1], v[2]);
    joint.q = Quat(v[3], v[4], v[5], 0.0f);
    joint.q.w = joint.q.calcW();
    baseFrame_.push_back(joint);
  }
  in.expect("}");

  for (int f = 0; f < numFrames_; ++f) {
    in.expect("frame");
    int number = 0;
    if (!in.integer(&number))
      return refuse();
    if (number != f)
      return refuseFatal(formatInt("Expected frame number %d", f));
    in.expect("{");
    for (int c = 0; c < numAnimatedComponents_; ++c) {
      double v = 0.0;
      if (!in.number(&v))
        return refuse();
      components_.push_back(float(v));
    }
    in.expect("}");
  }
  if (!in.ok())
    return refuse();

  // The root's animated position becomes a movement from the base: one pass moves it by the
  // last frame's offset, and the base stands at the origin.
  if (numAnimatedComponents_ > 0) {
    const AnimJointInfo& root = joints_[0];
    int component = root.firstComponent;
    for (int axis = 0; axis < 3; ++axis) {
      if (!(root.flags & (1 << axis)))
        continue;
      for (int f = 0; f < numFrames_; ++f)
        components_[size_t(f) * size_t(numAnimatedComponents_) + size_t(component)] -= baseFrame_[0].t[axis];
      totalDelta_[axis] =
          components_[size_t(numFrames_ - 1) * size_t(numAnimatedComponents_) + size_t(component)];
      ++component;
    }
    baseFrame_[0].t = Vec3(0.0f, 0.0f, 0.0f);
  }
  // The time of the last frame, rounded up to a whole millisecond.
  animLength_ = int((int64_t(numFrames_) * 1000 + frameRate_ - 1001) / frameRate_);
  fileName_ = name;
  return true;
}

AnimFrameBlend AnimClip::frameAtTime(int ms, int cycles) const {
  AnimFrameBlend blend;
  if (numFrames_ <= 1)
    return blend;
  if (ms <= 0) {
    blend.frame2 = 1;
    return blend;
  }
  // Milliseconds times frames per second leaves 32 bits after about 25 days at 1,000 frames per
  // second; in 64 bits it never does.
  const int64_t t = int64_t(ms) * int64_t(frameRate_);
  const int64_t frame = t / 1000;
  const int64_t cycleCount = frame / (numFrames_ - 1);
  blend.cycleCount = cycleCount > 0x7fffffff ? 0x7fffffff : int(cycleCount);
  if (cycles <= 0 || cycleCount < cycles) {
    blend.frame1 = int(frame % (numFrames_ - 1));
    blend.frame2 = blend.frame1 + 1 >= numFrames_ ? 0 : blend.frame1 + 1;
    blend.frontlerp = float(t % 1000) * 0.001f;
    blend.backlerp = 1.0f - blend.frontlerp;
  } else {
    blend.cycleCount = cycles - 1;
    blend.frame1 = blend.frame2 = numFrames_ - 1;
  }
  return blend;
}

void AnimClip::blendFrames(const AnimFrameBlend& blend, JointQuat* joints, const int* jointList, int count) const {
  if (!joints || count <= 0)
    return;
  // Only the joints both sides have: a model with fewer joints than the clip (or more) is safe.
  const int n = count < numJoints_ ? count : numJoints_;
  for (int j = 0; j < n; ++j)
    joints[j] = baseFrame_[size_t(j)];
  if (numAnimatedComponents_ <= 0 || !jointList || blend.frame1 < 0 || blend.frame1 >= numFrames_ ||
      blend.frame2 < 0 || blend.frame2 >= numFrames_)
    return;
  const float* frame1 = &components_[size_t(blend.frame1) * size_t(numAnimatedComponents_)];
  const float* frame2 = &components_[size_t(blend.frame2) * size_t(numAnimatedComponents_)];
  std::vector<JointQuat> second(joints, joints + n);
  std::vector<int> animated;
  animated.reserve(size_t(n));
  for (int i = 0; i < count; ++i) {
    const int j = jointList[i];
    if (j < 0 || j >= n)
      continue;
    const AnimJointInfo& info = joints_[size_t(j)];
    if (info.flags == 0)
      continue;
    JointQuat* copies[2] = {&joints[j], &second[size_t(j)]};
    const float* frames[2] = {frame1, frame2};
    for (int k = 0; k < 2; ++k) {
      const float* c = frames[k] + info.firstComponent;
      JointQuat& joint = *copies[k];
      if (info.flags & 1)
        joint.t.x = *c++;
      if (info.flags & 2)
        joint.t.y = *c++;
      if (info.flags & 4)
        joint.t.z = *c++;
      if (info.flags & 8)
        joint.q.x = *c++;
      if (info.flags & 16)
        joint.q.y = *c++;
      if (info.flags & 32)
        joint.q.z = *c++;
      joint.q.w = joint.q.calcW();
    }
    animated.push_back(j);
  }
  if (!animated.empty())
    blendJoints(joints, second.data(), blend.frontlerp, animated.data(), int(animated.size()));
  if (n > 0)
    joints[0].t += totalDelta_ * float(blend.cycleCount);
}
