// The sound manager, emitters, channels and samples through the manual-render mode: pan and
// distance laws on the rendered output, Doppler, class fades, looping, the streamed ring against
// the whole file, duplicates, no_dups, channel numbers, and the console commands.
#include <cstdlib>
#include <cstring>

#include "tests/sound/support/soundharness.h"

namespace {

constexpr int kRate = kAudioOutputRate;

int16_t sine(int i, double hz, double amplitude) {
  return int16_t(std::lrint(amplitude * std::sin(2.0 * M_PI * hz * i / kRate)));
}

class SndManagerTest : public SoundManagerFixture {
 protected:
  void SetUp() override {
    SoundManagerFixture::SetUp();
    // One second of a 441 Hz sine, mono, at the output rate.
    io_.addBytes("sound/tone.wav", makeWav(kRate, 1, kRate, [](int i, int) { return sine(i, 441, 16000); }));
    io_.addBytes("sound/short.wav", makeWav(kRate, 1, kRate / 10, [](int i, int) { return sine(i, 441, 16000); }));
  }
  SoundEmitterLocal* emitter() { return static_cast<SoundEmitterLocal*>(manager_->allocSoundEmitter()); }
};

TEST_F(SndManagerTest, PanFollowsTheListenersLeft) {
  SoundShader* s = shader("minDistance 20 maxDistance 40 looping sound/tone.wav");
  struct Case {
    const char* what;
    Vec3 origin;
    double leftOverRight;
  };
  // The listener's axis is the identity: row 1 (+y) is its left. pan = -(d . left) * 100 gives
  // -100, which the buffer takes as -2000 hundredths: the right side 20 dB down.
  const Case cases[] = {
      {"ahead", {200, 0, 0}, 1.0},
      {"left", {0, 200, 0}, 10.0},
      {"right", {0, -200, 0}, 0.1},
      {"close by, left", {0, 20, 0}, 1.0},  // within 32 units: no pan
  };
  for (const Case& c : cases) {
    SoundEmitterLocal* e = emitter();
    e->updateEmitter(c.origin, Vec3(), nullptr);
    ASSERT_GT(e->startSound(s, 1, 0, 0), 0) << c.what;
    std::vector<int16_t> out = play(100);
    const double l = rms(out, 0, 441), r = rms(out, 1, 441);
    ASSERT_GT(l + r, 1000.0) << c.what;
    EXPECT_NEAR(l / r, c.leftOverRight, c.leftOverRight * 0.02) << c.what;
    delete e;
  }
}

TEST_F(SndManagerTest, DistanceAttenuatesBetweenMinAndMaxDistance) {
  SoundShader* s = shader("minDistance 2 maxDistance 10 looping sound/tone.wav");
  SoundEmitterLocal* e = emitter();
  // Volume 0 gives a gain of 0.5; 75 % effects volume at 100 % main volume: e = 0.375.
  auto expected = [](double units) {
    double x = (units - 2.0) / 8.0;
    x = x < 0 ? 0 : x > 1 ? 1 : x;
    return -10000.0 / std::pow(1.0 + (1.0 - x) * 0.375, 10);
  };
  double last = 1e9;
  for (double units : {1.0, 2.0, 4.0, 6.0, 9.0, 10.0, 14.0}) {
    e->updateEmitter(Vec3(float(units * 32), 0, 0), Vec3(), nullptr);
    if (!e->isPlaying(2))
      e->startSound(s, 2, 0, 0);
    std::vector<int16_t> out = play(50);
    const int level = e->channel(2).getSample()->voice()->volume();
    EXPECT_NEAR(level, expected(units), 1.0) << units << " units";
    const double energy = rms(out, 0, 441);
    EXPECT_LE(energy, last + 1.0) << "farther is never louder";
    last = energy;
  }
  EXPECT_LT(last, 1.0) << "silent at and past the maximum distance";
  delete e;
}

TEST_F(SndManagerTest, DopplerRaisesTheFrequencyByTheSquaredSpeed) {
  SoundShader* s = shader("looping sound/tone.wav");
  SoundEmitterLocal* e = emitter();
  e->updateEmitter(Vec3(96, 0, 0), Vec3(100, 0, 0), nullptr);
  ASSERT_GT(e->startSound(s, 0, 0, 0), 0);
  play(20);
  // trunc(rate * (100^2 / 65536) / (96 - 32))
  const int offset = int(kRate * (10000.0 / 65536.0) / 64.0);
  EXPECT_EQ(e->channel(0).getSample()->voice()->frequency(), kRate + offset);
  // Moving away raises it as well: only the squared speed counts.
  e->updateEmitter(Vec3(96, 0, 0), Vec3(-100, 0, 0), nullptr);
  play(20);
  EXPECT_EQ(e->channel(0).getSample()->voice()->frequency(), kRate + offset);
  // A huge speed clamps in floating point before reaching the integer offset.
  e->updateEmitter(Vec3(96, 0, 0), Vec3(3e18f, 0, 0), nullptr);
  play(20);
  EXPECT_EQ(e->channel(0).getSample()->voice()->frequency(), kAudioMaxFrequency);
  // Under water the frequency drops by 30 %.
  e->updateEmitter(Vec3(96, 0, 0), Vec3(), nullptr);
  manager_->setListener(Vec3(), Mat3::identity(), Vec3(), true);
  play(20);
  EXPECT_EQ(e->channel(0).getSample()->voice()->frequency(), kRate - int(kRate * (1.0 - 0.7)));
  delete e;
}

TEST_F(SndManagerTest, ClassFadesAddToTheVolume) {
  SoundShader* music = shader("soundClass 2 volume 15 looping global sound/tone.wav");
  SoundShader* effect = shader("soundClass 1 volume 15 looping global sound/tone.wav");
  SoundEmitterLocal* e = emitter();
  e->startSound(music, 0, 0, 0);
  e->startSound(effect, 1, 0, 0);
  play(20);
  const int full = e->channel(0).getSample()->voice()->volume();
  manager_->updateAt(now_);
  manager_->fadeSoundClass(2, -15, 1.0f);
  EXPECT_FLOAT_EQ(manager_->currentFadeLevel(2), 0.0f);
  now_ += 500;
  manager_->updateAt(now_);
  EXPECT_NEAR(manager_->currentFadeLevel(2), -7.5f, 0.01f) << "half way after half the time";
  now_ += 600;
  play(20);
  EXPECT_FLOAT_EQ(manager_->currentFadeLevel(2), -15.0f);
  EXPECT_FLOAT_EQ(manager_->currentFadeLevel(1), 0.0f) << "other classes keep their level";
  EXPECT_LT(e->channel(0).getSample()->voice()->volume(), full - 300);
  EXPECT_EQ(e->channel(1).getSample()->voice()->volume(), full);
  // A second fade starts from the first one's end level; class -1 counts for every class.
  manager_->updateAt(now_);
  manager_->fadeSoundClass(2, 0, 2.0f);
  manager_->fadeSoundClass(-1, -5, 0.0f);
  manager_->updateAt(now_ + 1);
  EXPECT_NEAR(manager_->currentFadeLevel(2), -20.0f, 0.01f);
  EXPECT_FLOAT_EQ(manager_->currentFadeLevel(7), -5.0f);
  manager_->setMuted(true);
  EXPECT_FLOAT_EQ(manager_->currentFadeLevel(7), -100.0f);
  manager_->setMuted(false);
  manager_->stopAllEmitters();
  EXPECT_EQ(manager_->fadeCount(), 2) << "stopping emitters keeps the fades";
  manager_->stopAllSounds();
  EXPECT_EQ(manager_->fadeCount(), 0);
  EXPECT_FALSE(e->isPlaying(-1));
  delete e;
}

TEST_F(SndManagerTest, LoopingPlaysOnAndOneShotsEnd) {
  SoundShader* loop = shader("global sound/short.wav");
  SoundEmitterLocal* e = emitter();
  EXPECT_EQ(e->startSound(loop, 0, 0, kSoundLooping), 100);
  EXPECT_EQ(e->startSound(loop, 1, 0, 0), 100);
  std::vector<int16_t> out = play(300);
  EXPECT_TRUE(e->isPlaying(0));
  EXPECT_FALSE(e->isPlaying(1));
  EXPECT_EQ(e->channel(1).getSample(), nullptr) << "a finished channel gives its sample back";
  // Only the looping channel sounds in the last 100 ms: half the energy of both together.
  const double late = rms(out, 0, size_t(kRate / 5));
  EXPECT_GT(late, 1000.0);
  e->stopSound(0);
  EXPECT_FALSE(e->isPlaying(-1));
  out = play(50);
  EXPECT_EQ(rms(out, 0), 0.0);
  delete e;
}

TEST_F(SndManagerTest, FadeSoundToSilenceStopsTheChannel) {
  SoundShader* s = shader("looping global sound/tone.wav");
  SoundEmitterLocal* e = emitter();
  e->startSound(s, 3, 0, 0);
  play(20);
  e->fadeSound(33, -12, 1.0f);
  play(500);
  EXPECT_TRUE(e->isPlaying(3)) << "spatial volumes do not interrupt the fade";
  play(600);
  EXPECT_FALSE(e->isPlaying(3));
  delete e;
}

TEST_F(SndManagerTest, ChannelsShareSamplesThroughDuplicates) {
  SoundShader* s = shader("looping global sound/tone.wav");
  EXPECT_EQ(manager_->sampleCount(), 1);
  SoundEmitterLocal* e = emitter();
  e->startSound(s, 0, 0, 0);
  e->startSound(s, 1, 0, 0);
  EXPECT_EQ(manager_->sampleCount(), 2) << "the second channel gets a duplicate";
  EXPECT_EQ(audioPcmCount(), 1) << "which shares the decoded PCM";
  EXPECT_NE(e->channel(0).getSample(), e->channel(1).getSample());
  e->stopSound(0);
  e->startSound(s, 2, 0, 0);
  EXPECT_EQ(manager_->sampleCount(), 2) << "an idle copy is reused";
  delete e;
}

TEST_F(SndManagerTest, NoDupsPlaysByIndexInRotation) {
  io_.addBytes("sound/a.wav", makeWav(kRate, 1, 4410, [](int, int) { return int16_t(100); }));
  io_.addBytes("sound/b.wav", makeWav(kRate, 1, 4410, [](int, int) { return int16_t(200); }));
  io_.addBytes("sound/c.wav", makeWav(kRate, 1, 4410, [](int, int) { return int16_t(300); }));
  SoundShader* s = shader("no_dups sound/a.wav sound/b.wav sound/c.wav");
  SoundEmitterLocal* e = emitter();
  std::srand(7);
  std::string previous;
  for (int i = 0; i < 12; ++i) {
    e->startSound(s, 4, 0.0f, 0);
    SoundChannel& c = e->channel(4);
    ASSERT_TRUE(c.getSample());
    EXPECT_STREQ(c.getSample()->getName(), s->sampleName(c.noDupsIndex())) << "the sample of the index";
    // Indices run start+1, start+2, then reshuffle at the third start of each round.
    if (i % 3 != 2) {
      EXPECT_NE(previous, c.getSample()->getName()) << "within a rotation no sample repeats";
    }
    previous = c.getSample()->getName();
  }
  delete e;
}

TEST_F(SndManagerTest, ChannelNumbersOutsideTheRangeMeanAnyOrNothing) {
  SoundShader* s = shader("looping global sound/tone.wav");
  SoundEmitterLocal* e = emitter();
  for (int channel : {40, -5, 33, -1}) {
    EXPECT_GT(e->startSound(s, channel, 0, 0), 0) << channel;
  }
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(e->isPlaying(i)) << "channels 0..3 were free, in order";
  e->stopSound(40);
  e->stopSound(-7);
  EXPECT_TRUE(e->isPlaying(0)) << "stopping an unknown channel does nothing";
  EXPECT_FALSE(e->isPlaying(40));
  e->fadeSound(99, -12, 0.0f);
  play(20);
  EXPECT_TRUE(e->isPlaying(-1));
  // All 32 looping: a start on "any" replaces channel 0.
  for (int i = 4; i < 32; ++i)
    e->startSound(s, i, 0, 0);
  EXPECT_EQ(e->findFreeChannel(), 0);
  // The local emitter: channels outside 0..31 pick a free one.
  SoundShader* once = shader("sound/short.wav");
  EXPECT_EQ(manager_->playLocalShader(once, 40, 0), 100);
  EXPECT_TRUE(manager_->localEmitter()->isPlaying(0));
  EXPECT_EQ(manager_->playLocalShader(nullptr, 0, 0), 0);
  delete e;
}

// Every way a channel can loop gives it the end time -2, so a full emitter replaces the one-shot
// that ends soonest rather than a looping sound, whichever way the loop was asked for.
TEST_F(SndManagerTest, LoopingChannelsAreReplacedAfterEveryOneShot) {
  struct Case {
    const char* what;
    const char* body;
    int playFlags;
    int overrideFlags;
    bool loops;
  };
  const Case cases[] = {
      {"the shader's own flag", "looping global sound/tone.wav", 0, 0, true},
      {"the play flags", "global sound/tone.wav", kSoundLooping, 0, true},
      {"the emitter's overrides", "global sound/tone.wav", 0, kSoundLooping, true},
      {"no loop at all", "global sound/tone.wav", 0, 0, false},
  };
  io_.addBytes("sound/three.wav",
               makeWav(kRate, 1, kRate * 3, [](int i, int) { return sine(i, 441, 16000); }));
  SoundShader* once = shader("global sound/three.wav");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SoundShader* s = shader(c.body);
    SoundEmitterLocal* e = emitter();
    // Channel 9 holds a three-second one-shot, which ends after every one-second one.
    ASSERT_EQ(e->startSound(once, 9, 0, 0), 3000);
    for (int i = 0; i < SoundEmitter::kChannels; ++i) {
      if (i != 9) {
        ASSERT_GT(e->startSound(s, i, 0, c.playFlags), 0);
      }
    }
    if (c.overrideFlags) {
      // Overrides reach the playing channels at the emitter's next update (the one-shot's too).
      SoundShaderParms overrides;
      overrides.flags = c.overrideFlags;
      e->updateEmitter(Vec3(0, 0, 0), Vec3(0, 0, 0), &overrides);
      e->channel(9).setFlags(0);
      SoundShaderParms none;
      e->channel(9).setParms(none);
    }
    EXPECT_EQ(e->channel(3).endTime() == -2, c.loops);
    EXPECT_EQ(e->findFreeChannel(), c.loops ? 9 : 0)
        << (c.loops ? "the one-shot goes before any looping channel" : "the one-shot that ends first");
    // A looping channel keeps sounding past its sample's length; a one-shot stops.
    play(1200);
    EXPECT_EQ(e->isPlaying(3), c.loops);
    delete e;
  }
}

// A one-shot asked for on "any" local channel twice in one mixer step plays once (key clicks of
// one frame would otherwise stack in phase); the next step, other shaders and named channels
// start as asked.
TEST_F(SndManagerTest, OneShotsOfOneStepDoNotStack) {
  SoundShader* click = shader("global sound/short.wav");
  SoundShader* other = shader("global sound/tone.wav");
  SoundEmitterLocal* local = manager_->localEmitter();
  auto playing = [local] {
    int n = 0;
    for (int c = 0; c < SoundEmitter::kChannels; ++c)
      n += local->isPlaying(c);
    return n;
  };
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(manager_->playLocalShader(click, -1, 0), 100) << "the length is still reported";
  EXPECT_EQ(playing(), 1);
  const std::vector<int16_t> once = play(10);
  manager_->playLocalShader(other, -1, 0);
  EXPECT_EQ(playing(), 2) << "another shader starts";
  manager_->playLocalShader(click, 5, 0);
  manager_->playLocalShader(click, 6, 0);
  EXPECT_EQ(playing(), 4) << "named channels start as asked";
  manager_->stopLocalSound(33);
  play(10);
  manager_->playLocalShader(click, -1, 0);
  EXPECT_EQ(playing(), 1) << "a new step starts it again";
  manager_->playLocalShader(click, -1, 0);
  EXPECT_EQ(playing(), 1);
  int peak = 0;
  for (int16_t v : once)
    peak = std::max(peak, std::abs(int(v)));
  EXPECT_GT(peak, 1000);
  EXPECT_LT(peak, 32767) << "one click, not four in phase";
}

// A shader names its samples by the file that exists, which may carry another extension.
TEST_F(SndManagerTest, ShaderSampleNamesAreTheResolvedFiles) {
  SoundShader* s = shader("global sound/tone.ogg sound/short");
  ASSERT_EQ(s->numSamples(), 2);
  EXPECT_STREQ(s->sampleName(0), "sound/tone.wav");
  EXPECT_STREQ(s->sampleName(1), "sound/short.wav");
  EXPECT_STREQ(s->sampleName(0), s->sample(0)->getName());
}

TEST_F(SndManagerTest, StreamedSampleRingPlaysTheWholeFileWithoutGapsOrRepeats) {
  // Five seconds of a pattern that never repeats within the file, longer than the two-second ring.
  const int frames = kRate * 5;
  auto pattern = [](int i, int) { return int16_t((i * 7919) % 30011 - 15005); };
  io_.addBytes("sound/long.wav", makeWav(kRate, 1, frames, pattern));
  ConVar* maxLength = g_conVarSystem->find("s_maxSampleLength");
  ASSERT_TRUE(maxLength);
  maxLength->setInt(2);
  SoundShader* s = shader("volume 15 global sound/long.wav");
  ASSERT_TRUE(s->sample(0));
  EXPECT_TRUE(s->sample(0)->getFlags() & kSampleStreamed);
  SoundEmitterLocal* e = emitter();
  ASSERT_EQ(e->startSound(s, 0, 0, 0), 5000);
  const double gain = audioGainOfLevel(e->channel(0).getSample()->voice()->volume());
  std::vector<int16_t> out = play(5600, 20);
  int mismatches = 0;
  for (int i = 0; i < frames; ++i) {
    const double want = pattern(i, 0) * gain;
    if (std::fabs(out[size_t(2 * i)] - want) > 1.5 && mismatches++ < 5)
      ADD_FAILURE() << "frame " << i << ": " << out[size_t(2 * i)] << " instead of " << want;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_FALSE(e->isPlaying(0)) << "a one-shot stream stops after its real data";
  for (size_t i = size_t(frames) * 2 + 2 * 4410; i < out.size(); ++i)
    ASSERT_EQ(out[i], 0) << "silence after the end";
  delete e;
}

TEST_F(SndManagerTest, LoopingStreamWrapsToItsStartWithoutAGap) {
  const int frames = kRate * 3;
  auto pattern = [](int i, int) { return int16_t((i * 7919) % 30011 - 15005); };
  io_.addBytes("sound/loop.wav", makeWav(kRate, 1, frames, pattern));
  g_conVarSystem->find("s_maxSampleLength")->setInt(2);
  SoundShader* s = shader("volume 15 global looping sound/loop.wav");
  SoundEmitterLocal* e = emitter();
  ASSERT_GT(e->startSound(s, 0, 0, 0), 0);
  const double gain = audioGainOfLevel(e->channel(0).getSample()->voice()->volume());
  std::vector<int16_t> out = play(7000, 20);
  int mismatches = 0;
  for (int i = 0; i < kRate * 7; ++i) {
    const double want = pattern(i % frames, 0) * gain;
    if (std::fabs(out[size_t(2 * i)] - want) > 1.5 && mismatches++ < 5)
      ADD_FAILURE() << "frame " << i << ": " << out[size_t(2 * i)] << " instead of " << want;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_TRUE(e->isPlaying(0));
  delete e;
}

TEST_F(SndManagerTest, ConsoleCommandsListAndReload) {
  cmd_.text.clear();
  cmd_.run("listSounds");
  EXPECT_NE(cmd_.text.find("0.00 Kbytes used in 0 sounds."), std::string::npos) << cmd_.text;
  SoundShader* s = shader("global sound/short.wav");
  SoundEmitterLocal* e = emitter();
  e->startSound(s, 0, 0, kSoundLooping);
  cmd_.text.clear();
  cmd_.run("listSounds");
  EXPECT_NE(cmd_.text.find("inmem[yes] : sound/short.wav"), std::string::npos) << cmd_.text;
  cmd_.text.clear();
  manager_->setMuted(true);
  cmd_.run("reloadSounds");
  EXPECT_NE(cmd_.text.find("Reloading sound/short.wav..."), std::string::npos) << cmd_.text;
  EXPECT_NE(cmd_.text.find("Reloaded 1 / 1 samples."), std::string::npos) << cmd_.text;
  EXPECT_FALSE(manager_->isMuted());
  EXPECT_TRUE(e->isPlaying(0)) << "a playing sample plays on after the reload";
  delete e;
}

TEST_F(SndManagerTest, IdleSamplesArePurgedTenSecondsAfterTheirLastUpdate) {
  SoundShader* s = shader("global sound/short.wav");
  SoundEmitterLocal* e = emitter();
  e->startSound(s, 0, 0, 0);
  e->startSound(s, 1, 0, 0);
  play(200);
  EXPECT_EQ(manager_->sampleCount(), 2);
  now_ += 10001;
  manager_->updateAt(now_);
  EXPECT_EQ(manager_->sampleCount(), 1) << "the duplicate went; the shader's sample stays";
  delete e;
}

}  // namespace

namespace {

class SndManagerEdgeTest : public SoundManagerFixture {};

TEST_F(SndManagerEdgeTest, TimescaleLowersEveryFrequencyAndClamps) {
  io_.addBytes("sound/tone.wav", makeWav(kRate, 1, kRate, [](int i, int) { return sine(i, 441, 16000); }));
  SoundShader* s = shader("looping global sound/tone.wav");
  SoundEmitterLocal* e = static_cast<SoundEmitterLocal*>(manager_->allocSoundEmitter());
  e->startSound(s, 0, 0, 0);
  struct Case {
    const char* timescale;
    int frequency;
  } cases[] = {{"1", kRate}, {"0.5", kRate - kRate / 2}, {"0.001", 100}, {"3", 100000}};
  for (const Case& c : cases) {
    g_conVarSystem->setString("timescale", c.timescale);
    play(20);
    EXPECT_EQ(e->channel(0).getSample()->voice()->frequency(), c.frequency) << c.timescale;
  }
  g_conVarSystem->setString("timescale", "1");
  delete e;
}

TEST_F(SndManagerEdgeTest, SamplesLongerThanTheLimitAreStreamed) {
  g_conVarSystem->find("s_maxSampleLength")->setInt(2);
  struct Case {
    const char* name;
    int frames;
    bool streamed;
  } cases[] = {{"sound/two.wav", 2 * 8000, false}, {"sound/over.wav", 2 * 8000 + 1, true}, {"sound/three.wav", 3 * 8000, true}};
  for (const Case& c : cases) {
    io_.addBytes(c.name, makeWav(8000, 1, c.frames, [](int, int) { return int16_t(5); }));
    SoundSample* sample = manager_->findSound(c.name);
    ASSERT_TRUE(sample) << c.name;
    EXPECT_EQ((sample->getFlags() & kSampleStreamed) != 0, c.streamed) << c.name;
    manager_->releaseSound(sample);
  }
}

TEST_F(SndManagerEdgeTest, EmptyAndMissingSoundsPlayNothing) {
  // 60 bytes of data: less than the 100 bytes that are never played.
  io_.addBytes("sound/empty.wav", makeWav(8000, 1, 30, [](int, int) { return int16_t(1); }).substr(0, 44 + 60));
  SoundShader* s = shader("sound/empty.wav sound/missing.wav");
  EXPECT_EQ(s->numSamples(), 1) << "a missing file is no sample";
  SoundSample* sample = s->sample(0);
  ASSERT_TRUE(sample);
  EXPECT_FALSE(sample->load()) << "no buffer for an empty sound";
  EXPECT_EQ(sample->lengthMs(), 0) << "an unloaded sample has no length, not a division by zero";
  SoundEmitterLocal* e = static_cast<SoundEmitterLocal*>(manager_->allocSoundEmitter());
  EXPECT_EQ(e->startSound(s, 0, 0, 0), 0);
  EXPECT_FALSE(e->isPlaying(0));
  EXPECT_EQ(manager_->playLocalSound("sound/nothing_here", 0, 0), 0);
  delete e;
}

}  // namespace
