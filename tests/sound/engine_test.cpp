// The sound manager inside the engine: the common manager starts it under its mask bit beside the
// real file system, declarations and commands; the sample game's sound shaders (demo/media) play
// through the local emitter and the "play" command, and the manual-render mode hears them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/soundsystem.h"
#include "platform/audio.h"
#include "sound/sndmanager.h"
#include "system/commonmanager.h"

namespace fs = std::filesystem;

namespace {

double renderRms(int ms) {
  double sum = 0;
  size_t n = 0;
  for (int t = 0; t < ms; t += 10) {
    g_soundSystem->update();
    std::vector<int16_t> piece(size_t(kAudioOutputRate / 100) * 2);
    audioRender(piece.data(), int(piece.size() / 2));
    for (int16_t v : piece)
      sum += double(v) * v, ++n;
  }
  return std::sqrt(sum / double(n));
}

TEST(SoundEngineTest, TheSampleGamesSoundsPlayInTheRunningEngine) {
  const char* base = std::getenv("QUILL_TEST_TMP");
  const fs::path root = fs::path(base ? base : "/tmp") / "sound_engine";
  fs::remove_all(root);
  fs::create_directories(root / "media");
  fs::copy(fs::path(QUILL_DEMO_MEDIA) / "sound", root / "media" / "sound", fs::copy_options::recursive);
  // MP3s beside them: a clean one, and one whose Info header claims billions of frames.
  fs::create_directories(root / "media" / "sound" / "mp3test");
  for (const char* f : {"tone_stereo.mp3", "mp3_info_frames_huge.mp3"})
    fs::copy_file(fs::path(QUILL_SOUND_FIXTURES) / f, root / "media" / "sound" / "mp3test" / f);
  {
    std::ofstream shaders(root / "media" / "sound" / "mp3test.sndshd");
    shaders << "sound mp3test/tone { global omni_directional sound/mp3test/tone_stereo.mp3 }\n"
               "sound mp3test/damaged { global omni_directional sound/mp3test/mp3_info_frames_huge.mp3 }\n";
  }
  const fs::path oldCwd = fs::current_path();
  fs::current_path(root);

  SndManager::useManualOutput(true);
  CommonManager* common = getCommonManager();
  ASSERT_TRUE(common->init(nullptr, nullptr, kInitConVars | kInitCommands | kInitDecls | kInitFileSystem | kInitSound));
  ASSERT_TRUE(g_soundSystem) << "the sound bit starts the sound manager";
  ASSERT_TRUE(audioIsManual());
  EXPECT_EQ(renderRms(50), 0.0) << "silent before anything plays";

  EXPECT_GT(g_soundSystem->playLocalSound("demo/start", -1, 0), 400) << "the start chime is about half a second";
  EXPECT_GT(renderRms(200), 300.0) << "the chime is heard";
  renderRms(600);
  EXPECT_EQ(renderRms(100), 0.0) << "and ends";

  g_cmdSystem->executeText("play demo/key\n");
  EXPECT_GT(renderRms(30), 100.0) << "the \"play\" command plays a shader";

  // The tone is 0.5 s of 22,050 Hz stereo; the damaged file opens at once and plays what decodes.
  EXPECT_NEAR(g_soundSystem->playLocalSound("mp3test/tone", -1, 0), 500, 30) << "an MP3 plays for its length";
  EXPECT_GT(renderRms(200), 300.0) << "and is heard";
  renderRms(500);
  EXPECT_GT(g_soundSystem->playLocalSound("mp3test/damaged", -1, 0), 0) << "the damaged MP3 plays too";
  renderRms(200);

  destroyCommonManager();
  SndManager::useManualOutput(false);
  EXPECT_EQ(g_soundSystem, nullptr);
  EXPECT_EQ(audioVoiceCount(), 0);
  fs::current_path(oldCwd);
}

}  // namespace
