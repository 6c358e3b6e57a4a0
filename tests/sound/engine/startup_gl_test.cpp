// The engine's own start-up with the sample content and "map demo" on the command line, headless,
// with the mixer in its manual-render mode: the map's looping speaker hum, started before the
// intro video, still plays after it; and the key clicks of several keys pressed in one frame do
// not stack into clipping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lib/interface/commonsystem.h"
#include "lib/interface/gameinterface.h"
#include "lib/interface/soundsystem.h"
#include "lib/interface/spatialsystem.h"
#include "platform/audio.h"
#include "sound/sndmanager.h"
#include "tests/support/engineinprocess.h"

namespace {

struct Heard {
  double rms = 0;
  int peak = 0;
  int clipped = 0;
  double hum = 0;  // amplitude of the hum's 110 Hz partial (the map's other sounds are noises)
};

// The amplitude of one frequency in the left channel (Goertzel).
double toneAmplitude(const std::vector<int16_t>& stereo, double hz) {
  const double w = 2.0 * M_PI * hz / kAudioOutputRate, c = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  const size_t n = stereo.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    const double s0 = stereo[2 * i] + c * s1 - s2;
    s2 = s1, s1 = s0;
  }
  return 2.0 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / double(n);
}

class SoundStartupTest : public enginetest::InProcessEngineTest {
 protected:
  void SetUp() override {
    SndManager::useManualOutput(true);
    startEngine(kCommandLine);
  }
  void TearDown() override {
    InProcessEngineTest::TearDown();
    SndManager::useManualOutput(false);
  }

  // One pass of the main loop as the engine runs it.
  void frame() {
    app_->pumpMessages();
    if (g_commonSystem)
      g_commonSystem->processEvents();
    if (g_soundSystem)
      g_soundSystem->update();
    ASSERT_TRUE(app_->frame());
  }
  // Frames with 10 ms of mixed output after each, for ms milliseconds of sound.
  Heard listen(int ms, bool runFrames = true) {
    Heard h;
    double sum = 0;
    size_t n = 0;
    std::vector<int16_t> all;
    for (int t = 0; t < ms; t += 10) {
      if (runFrames)
        frame();
      else if (g_soundSystem)
        g_soundSystem->update();
      std::vector<int16_t> piece(size_t(kAudioOutputRate / 100) * 2);
      audioRender(piece.data(), int(piece.size() / 2));
      all.insert(all.end(), piece.begin(), piece.end());
      for (int16_t v : piece) {
        sum += double(v) * v, ++n;
        h.peak = std::max(h.peak, std::abs(int(v)));
        h.clipped += v == 32767 || v == -32768;
      }
    }
    h.rms = std::sqrt(sum / double(n));
    h.hum = toneAmplitude(all, 110.0);
    return h;
  }

  static constexpr const char* kCommandLine = "map demo";
};

TEST_F(SoundStartupTest, TheMapsLoopingHumOutlivesTheIntroAndKeyClicksDoNotStack) {
  ASSERT_TRUE(g_soundSystem);
  ASSERT_TRUE(audioIsManual());
  ASSERT_TRUE(g_spatialSystem) << "the command line loaded the map before the intro";
  // The speaker stands within its distances of the start: its hum is heard.
  const Heard before = listen(300);
  ASSERT_GT(before.hum, 100.0) << "the map's hum plays at the start";

  // The intro, as the start-up plays it after the command line.
  ASSERT_TRUE(g_commonSystem->playVideo("video/quillmere.ovid", "video/quillmere.ogg", true));
  const Heard after = listen(300);
  EXPECT_GT(after.hum, before.hum * 0.5) << "the looping hum keeps playing after the intro";

  // The key click alone (the game plays it on every key press) ...
  ASSERT_TRUE(g_gameInterface);
  listen(100);
  auto clicksPlaying = [] {
    int n = 0;
    for (int c = 0; c < SoundEmitter::kChannels; ++c)
      n += g_sndManager->localEmitter()->isPlaying(c);
    return n;
  };
  g_gameInterface->keyEvent('a', true);
  EXPECT_EQ(clicksPlaying(), 1) << "a key press clicks";
  const Heard one = listen(50, false);
  listen(100, false);
  // ... and four keys pressed in one frame (the console's combination) sound like one click.
  for (int key : {'a', 'b', 'c', 'd'})
    g_gameInterface->keyEvent(key, true);
  EXPECT_EQ(clicksPlaying(), 1) << "one local channel plays the click";
  const Heard four = listen(50, false);
  EXPECT_EQ(four.clipped, 0);
  EXPECT_LT(four.peak, 32767);
  // The other sounds under the click vary: at most one click over their own peak.
  EXPECT_LE(four.peak, one.peak + after.peak) << "the same click started four times in one frame plays once";
}

}  // namespace
