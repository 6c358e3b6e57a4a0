// A sound manager in manual-render mode over an in-memory file system, with WAV files made by the
// tests, sound shaders parsed from body text, and rendering helpers that measure what came out.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/interface/declsystem.h"
#include "platform/audio.h"
#include "sound/sndmanager.h"
#include "system/convarmanager.h"
#include "tests/sound/support/soundtestio.h"
#include "tests/support/capturecmdsystem.h"

// A RIFF/WAVE file of 16-bit PCM from a generator of (frame, channel) -> sample; 100 bytes of
// padding behind the data, since the last 100 bytes of a WAV are never played.
inline std::string makeWav(int rate, int channels, int frames, const std::function<int16_t(int, int)>& sample) {
  std::string pcm;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const int16_t v = sample(i, c);
      pcm.push_back(char(v & 0xff));
      pcm.push_back(char((v >> 8) & 0xff));
    }
  pcm.append(100, '\0');
  std::string s = "RIFF";
  auto put = [&s](uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      s.push_back(char((v >> (8 * i)) & 0xff));
  };
  put(uint32_t(36 + pcm.size()), 4);
  s += "WAVEfmt ";
  put(16, 4);
  put(1, 2);
  put(uint32_t(channels), 2);
  put(uint32_t(rate), 4);
  put(uint32_t(rate * channels * 2), 4);
  put(uint32_t(channels * 2), 2);
  put(16, 2);
  s += "data";
  put(uint32_t(pcm.size()), 4);
  return s + pcm;
}

class SoundManagerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    getConVarManager();
    SndManager::useManualOutput(true);
    ASSERT_TRUE(getSndManager(true));
    ASSERT_TRUE(audioIsManual());
    manager_ = g_sndManager;
    now_ = 1000;
    manager_->updateAt(now_);
  }
  void TearDown() override {
    shaders_.clear();
    destroySndManager();
    SndManager::useManualOutput(false);
    destroyConVarManager();
    EXPECT_EQ(audioVoiceCount(), 0);
  }

  // A shader from its body text (the part inside the braces).
  SoundShader* shader(const std::string& body) {
    shaders_.push_back(std::make_unique<SoundShader>());
    const std::string text = body;
    EXPECT_TRUE(shaders_.back()->parse(text.c_str(), int(text.size())));
    return shaders_.back().get();
  }

  // Renders ms milliseconds in steps of step ms, running the mixer step before each.
  std::vector<int16_t> play(int ms, int step = 10) {
    std::vector<int16_t> out;
    for (int t = 0; t < ms; t += step) {
      manager_->updateAt(now_);
      std::vector<int16_t> piece(size_t(kAudioOutputRate * step / 1000) * 2);
      audioRender(piece.data(), int(piece.size() / 2));
      out.insert(out.end(), piece.begin(), piece.end());
      now_ += step;
    }
    return out;
  }

  static double rms(const std::vector<int16_t>& stereo, int channel, size_t from = 0) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from * 2 + size_t(channel); i < stereo.size(); i += 2, ++n)
      sum += double(stereo[i]) * stereo[i];
    return n ? std::sqrt(sum / double(n)) : 0.0;
  }

  CaptureCmdSystem cmd_;
  SoundTestIO io_;
  SndManager* manager_ = nullptr;
  int now_ = 0;
  std::vector<std::unique_ptr<SoundShader>> shaders_;
};
