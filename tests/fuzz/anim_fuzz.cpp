// Fuzzes the text animation format: the input is read into a clip; a clip that is kept must hold
// what its counts promise (joints, parents before children, components inside a frame), and its
// frames are looked up at ordinary and extreme times and blended into joint arrays smaller than,
// equal to and larger than the clip's.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "ui/animclip.h"

namespace {

fuzz::QuietCmdSystem g_quiet;

void check(bool ok) {
  if (!ok)
    std::abort();
}

int bits(int flags) {
  int n = 0;
  for (int b = 0; b < 6; ++b)
    n += (flags >> b) & 1;
  return n;
}

void exercise(const std::string& text) {
  AnimClip clip;
  if (!clip.parseText(text.c_str(), "fuzz.danim")) {
    check(clip.numFrames() == 0 && clip.numJoints() == 0 && clip.components().empty());
    return;
  }
  const int frames = clip.numFrames();
  const int joints = clip.numJoints();
  const int components = clip.numAnimatedComponents();
  check(frames >= 1 && joints >= 1 && clip.frameRate() >= 1);
  check(components >= 0 && components <= 6 * joints);
  check(int(clip.joints().size()) == joints && int(clip.baseFrame().size()) == joints);
  check(int(clip.bounds().size()) == frames);
  check(clip.components().size() == size_t(frames) * size_t(components));
  for (int j = 0; j < joints; ++j) {
    const AnimJointInfo& info = clip.joints()[size_t(j)];
    check(info.parent < j && (info.parent >= 0 || j == 0) && info.parent >= -1);
    check(info.flags >= 0 && info.flags <= 63);
    if (components > 0)
      check(info.firstComponent >= 0 && info.firstComponent + bits(info.flags) <= components);
  }
  check(clip.animLength() >= 0);
  static const int kTimes[] = {-1, 0, 33, 1000, 123456, 2147483647};
  std::vector<int> list(size_t(joints) + 3);
  for (size_t i = 0; i < list.size(); ++i)
    list[i] = int(i);
  std::vector<JointQuat> out(list.size());
  for (int ms : kTimes) {
    for (int cycles : {0, 2}) {
      const AnimFrameBlend b = clip.frameAtTime(ms, cycles);
      check(b.frame1 >= 0 && b.frame1 < frames && b.frame2 >= 0 && b.frame2 < frames);
      check(b.cycleCount >= 0);
      check(b.frontlerp >= 0.0f && b.frontlerp < 1.0f);
      // Fewer joints than the clip, as many, and more: each array exactly as long as its count.
      for (int count : {1, joints, joints + 3}) {
        std::vector<JointQuat> sized(out.begin(), out.begin() + count);
        clip.blendFrames(b, sized.data(), list.data(), count);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cmdSystem = &g_quiet;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024)
    return 0;
  exercise(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
