// The mixer layer through its manual-render mode: what voices refuse, the volume and pan laws in
// hundredths of a decibel, shared PCM of duplicates, locking in two regions, looping, frequency;
// and the device mode with the dummy driver while another thread drives voices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/clock.h"

namespace {

AudioFormat pcm(int channels, int bits, int rate) {
  AudioFormat f;
  f.formatTag = 1;
  f.channels = uint16_t(channels);
  f.bitsPerSample = uint16_t(bits);
  f.samplesPerSec = uint32_t(rate);
  f.blockAlign = uint16_t(channels * bits / 8);
  f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
  return f;
}

// Fills a 16-bit voice with a constant value in every channel.
void fillConstant(AudioVoice* v, int16_t value) {
  void *p1, *p2;
  int n1, n2;
  ASSERT_TRUE(v->lock(0, 0, &p1, &n1, &p2, &n2));
  int16_t* s = static_cast<int16_t*>(p1);
  for (int i = 0; i < n1 / 2; ++i)
    s[i] = value;
  ASSERT_TRUE(v->unlock(p1, n1, p2, n2));
}

struct Rendered {
  std::vector<int16_t> frames;
  double left(int i) const { return frames[size_t(2 * i)]; }
  double right(int i) const { return frames[size_t(2 * i + 1)]; }
};

Rendered render(int frames) {
  Rendered r;
  r.frames.resize(size_t(frames) * 2);
  audioRender(r.frames.data(), frames);
  return r;
}

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(audioOpen(AudioOutput::kManual, nullptr)); }
  void TearDown() override {
    audioClose();
    EXPECT_EQ(audioPcmCount(), 0) << "closing frees every PCM block";
  }
};

TEST_F(AudioTest, RefusesWhatTheOldInterfaceRefused) {
  struct Case {
    const char* what;
    AudioFormat format;
    int bytes;
    bool ok;
  };
  AudioFormat badAlign = pcm(2, 16, 22050);
  badAlign.blockAlign = 2;
  AudioFormat badAverage = pcm(1, 16, 22050);
  badAverage.avgBytesPerSec = 1;
  AudioFormat notPcm = pcm(1, 16, 22050);
  notPcm.formatTag = 2;
  const Case cases[] = {
      {"mono 16", pcm(1, 16, 22050), 1000, true},
      {"stereo 8", pcm(2, 8, 44100), 1000, true},
      {"lowest rate", pcm(1, 8, 100), 4, true},
      {"highest rate", pcm(1, 8, 100000), 4, true},
      {"three channels", pcm(3, 16, 22050), 1200, false},
      {"no channels", pcm(0, 16, 22050), 1000, false},
      {"24 bits", pcm(1, 24, 22050), 999, false},
      {"rate 99", pcm(1, 16, 99), 1000, false},
      {"rate 100001", pcm(1, 16, 100001), 1000, false},
      {"block align", badAlign, 1000, false},
      {"average rate", badAverage, 1000, false},
      {"not PCM", notPcm, 1000, false},
      {"3 bytes", pcm(1, 8, 22050), 3, false},
      {"0 bytes", pcm(1, 8, 22050), 0, false},
      {"negative", pcm(1, 8, 22050), -4, false},
      {"oversized", pcm(1, 8, 22050), kAudioMaxBytes + 1, false},
  };
  for (const Case& c : cases) {
    const char* error = nullptr;
    AudioVoice* v = audioCreateVoice(c.format, c.bytes, &error);
    EXPECT_EQ(v != nullptr, c.ok) << c.what;
    if (v) {
      v->release();
    } else {
      EXPECT_STRNE(error, "") << c.what << ": a refusal names its reason";
    }
  }
}

TEST_F(AudioTest, VolumeAndPanFollowTheHundredthsOfDecibelLaws) {
  AudioVoice* v = audioCreateVoice(pcm(1, 16, kAudioOutputRate), 44100 * 2, nullptr);
  ASSERT_TRUE(v);
  fillConstant(v, 16384);
  ASSERT_TRUE(v->play(true));
  struct Case {
    int volume, pan;
    double left, right;  // expected gains
  };
  const Case cases[] = {
      {0, 0, 1.0, 1.0},
      {-600, 0, 0.501187, 0.501187},          // -6 dB
      {-2000, 0, 0.1, 0.1},                   // -20 dB
      {-10000, 0, 0.0, 0.0},                  // silence
      {0, -2000, 1.0, 0.1},                   // a left pan attenuates the right side only
      {0, 600, 0.501187, 1.0},                // and a right pan the left side
      {-600, 10000, 0.0, 0.501187},           // full right
      {-600, -600, 0.501187, 0.251189},       // the two laws multiply
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(v->setVolume(c.volume));
    ASSERT_TRUE(v->setPan(c.pan));
    Rendered r = render(64);
    EXPECT_NEAR(r.left(10) / 16384.0, c.left, 0.002) << c.volume << " " << c.pan;
    EXPECT_NEAR(r.right(10) / 16384.0, c.right, 0.002) << c.volume << " " << c.pan;
  }
  EXPECT_FALSE(v->setVolume(1));
  EXPECT_FALSE(v->setVolume(-10001));
  EXPECT_FALSE(v->setPan(10001));
  EXPECT_FALSE(v->setFrequency(99));
  EXPECT_FALSE(v->setFrequency(100001));
  EXPECT_EQ(v->volume(), -600) << "a refused value leaves the old one";
  v->release();
}

TEST_F(AudioTest, DuplicatesShareThePcmAndPlayOnTheirOwn) {
  AudioVoice* a = audioCreateVoice(pcm(1, 16, kAudioOutputRate), 4000, nullptr);
  ASSERT_TRUE(a);
  ASSERT_TRUE(a->setVolume(-600));
  AudioVoice* b = a->duplicate();
  ASSERT_TRUE(b);
  EXPECT_EQ(audioVoiceCount(), 2);
  EXPECT_EQ(audioPcmCount(), 1) << "a duplicate costs no second copy";
  EXPECT_EQ(b->volume(), -600);
  fillConstant(a, 1000);
  ASSERT_TRUE(b->play(false));
  Rendered r = render(16);
  EXPECT_NEAR(r.left(3), 1000 * 0.501187, 1.0) << "what a writes, b plays";
  EXPECT_EQ(a->status(), 0u) << "a itself does not play";
  a->release();
  EXPECT_EQ(audioPcmCount(), 1) << "the PCM lives while a duplicate holds it";
  r = render(16);
  EXPECT_NEAR(r.left(3), 1000 * 0.501187, 1.0);
  b->release();
  EXPECT_EQ(audioPcmCount(), 0);
}

TEST_F(AudioTest, LockWrapsIntoTwoRegionsAndChecksRanges) {
  AudioVoice* v = audioCreateVoice(pcm(1, 8, 8000), 100, nullptr);
  ASSERT_TRUE(v);
  void *p1, *p2;
  int n1, n2;
  ASSERT_TRUE(v->lock(80, 40, &p1, &n1, &p2, &n2));
  EXPECT_EQ(n1, 20);
  EXPECT_EQ(n2, 20);
  void *q1, *q2;
  int m1, m2;
  EXPECT_FALSE(v->lock(0, 10, &q1, &m1, &q2, &m2)) << "one lock at a time";
  std::memset(p1, 1, size_t(n1));
  std::memset(p2, 2, size_t(n2));
  ASSERT_TRUE(v->unlock(p1, n1, p2, n2));
  EXPECT_FALSE(v->unlock(p1, n1, p2, n2)) << "no second unlock";
  ASSERT_TRUE(v->lock(0, 0, &p1, &n1, &p2, &n2));
  ASSERT_EQ(n1, 100);
  const uint8_t* bytes = static_cast<uint8_t*>(p1);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[19], 2);
  EXPECT_EQ(bytes[20], 0x80) << "8-bit silence elsewhere";
  EXPECT_EQ(bytes[80], 1);
  ASSERT_TRUE(v->unlock(p1, n1, p2, n2));
  EXPECT_FALSE(v->lock(100, 1, &p1, &n1, &p2, &n2));
  EXPECT_FALSE(v->lock(-1, 1, &p1, &n1, &p2, &n2));
  EXPECT_FALSE(v->lock(0, 101, &p1, &n1, &p2, &n2));
  EXPECT_FALSE(v->lock(90, 20, &p1, &n1, nullptr, nullptr)) << "a wrapping lock needs the second region";
  v->release();
}

TEST_F(AudioTest, OneShotStopsAtItsEndAndLoopingWraps) {
  // 100 frames at the output rate: one render of 150 frames passes the end.
  AudioVoice* once = audioCreateVoice(pcm(1, 16, kAudioOutputRate), 200, nullptr);
  AudioVoice* loop = once->duplicate();
  fillConstant(once, 8000);
  ASSERT_TRUE(once->play(false));
  Rendered r = render(150);
  EXPECT_NEAR(r.left(99), 8000, 1);
  EXPECT_EQ(r.left(100), 0) << "nothing after the last frame";
  EXPECT_EQ(once->status(), 0u);
  ASSERT_TRUE(loop->play(true));
  EXPECT_EQ(loop->status(), uint32_t(kAudioPlaying | kAudioLooping));
  r = render(150);
  EXPECT_NEAR(r.left(120), 8000, 1) << "a looping voice wraps";
  int play = -1, write = -1;
  ASSERT_TRUE(loop->getPosition(&play, &write));
  EXPECT_EQ(play, 100) << "150 frames into a 100-frame loop";
  EXPECT_GE(write, 0);
  EXPECT_LT(write, 200);
  ASSERT_TRUE(loop->setPosition(20));
  ASSERT_TRUE(loop->getPosition(&play, nullptr));
  EXPECT_EQ(play, 20);
  EXPECT_FALSE(loop->setPosition(200));
  loop->stop();
  EXPECT_EQ(loop->status(), 0u);
  once->release();
  loop->release();
}

TEST_F(AudioTest, FrequencySetsThePlaybackRate) {
  // A ramp at 22050 Hz played at 44100 Hz advances one source frame per output frame.
  AudioVoice* v = audioCreateVoice(pcm(1, 16, 22050), 2000, nullptr);
  void *p1, *p2;
  int n1, n2;
  ASSERT_TRUE(v->lock(0, 0, &p1, &n1, &p2, &n2));
  for (int i = 0; i < 1000; ++i)
    static_cast<int16_t*>(p1)[i] = int16_t(i * 10);
  ASSERT_TRUE(v->unlock(p1, n1, p2, n2));
  ASSERT_TRUE(v->play(false));
  Rendered r = render(100);
  EXPECT_NEAR(r.left(40) - r.left(20), 100, 1) << "half speed at its own rate";
  ASSERT_TRUE(v->setFrequency(44100));
  EXPECT_EQ(v->frequency(), 44100);
  r = render(100);
  EXPECT_NEAR(r.left(40) - r.left(20), 200, 1) << "its own rate doubled";
  ASSERT_TRUE(v->setFrequency(0));
  EXPECT_EQ(v->frequency(), 22050) << "0 restores the format's rate";
  v->release();
}

TEST_F(AudioTest, MixingSaturatesInsteadOfWrapping) {
  AudioVoice* a = audioCreateVoice(pcm(1, 16, kAudioOutputRate), 400, nullptr);
  AudioVoice* b = audioCreateVoice(pcm(1, 16, kAudioOutputRate), 400, nullptr);
  fillConstant(a, 30000);
  fillConstant(b, 30000);
  a->play(true);
  b->play(true);
  Rendered r = render(8);
  EXPECT_EQ(r.left(4), 32767);
  a->release();
  b->release();
}

// The mixer's output against a plain reference of the same laws (double-precision positions, one
// frame at a time, float interpolation, saturation): within one step of 16 bits for voices of
// every layout, rates below, at and above the output's, looping and one-shots that end inside a
// render, pans and volumes, alone and 24 together.
struct ReferenceVoice {
  std::vector<uint8_t> pcm;
  int channels, bits, rate;
  bool looping;
  int volume, pan, start;
  double position = 0;
  bool playing = true;
  float sample(int frame, int channel) const {
    if (bits == 16) {
      int16_t v;
      std::memcpy(&v, pcm.data() + (size_t(frame) * channels + channel) * 2, 2);
      return float(v);
    }
    return float(int(pcm[size_t(frame) * channels + channel]) - 128) * 256.0f;
  }
};

void referenceMix(std::vector<ReferenceVoice>& voices, std::vector<int16_t>& out, int frames) {
  std::vector<double> acc(size_t(frames) * 2, 0.0);
  for (ReferenceVoice& v : voices) {
    const int total = int(v.pcm.size()) / (v.channels * v.bits / 8);
    const double step = double(v.rate) / kAudioOutputRate;
    const float volume = audioGainOfLevel(v.volume) * (1.0f / 32768.0f);
    const float gl = volume * (v.pan > 0 ? audioGainOfLevel(-v.pan) : 1.0f);
    const float gr = volume * (v.pan < 0 ? audioGainOfLevel(v.pan) : 1.0f);
    for (int i = 0; i < frames && v.playing; ++i) {
      if (v.position >= total) {
        if (!v.looping) {
          v.playing = false;
          break;
        }
        v.position -= total * std::floor(v.position / total);
      }
      const int f0 = int(v.position);
      const int f1 = f0 + 1 < total ? f0 + 1 : v.looping ? 0 : f0;
      const float t = float(v.position - f0);
      for (int c = 0; c < 2; ++c) {
        const int ch = v.channels == 2 ? c : 0;
        const float a = v.sample(f0, ch), b = v.sample(f1, ch);
        acc[size_t(2 * i + c)] += double((a + (b - a) * t) * (c ? gr : gl));
      }
      v.position += step;
    }
  }
  out.resize(size_t(frames) * 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = int16_t(std::lrint(std::clamp(acc[i] * 32768.0, -32768.0, 32767.0)));
}

TEST_F(AudioTest, MixedOutputMatchesTheReferenceWithinOneStep) {
  struct Layout {
    int channels, bits;
  };
  const Layout layouts[] = {{1, 16}, {2, 16}, {1, 8}, {2, 8}};
  const int rates[] = {8000, 22050, 44100, 48000, 96000, 100000};
  std::srand(11);
  for (const int together : {1, 24}) {
    for (const Layout& layout : layouts) {
      for (const int rate : rates) {
        SCOPED_TRACE(testing::Message() << together << " voices of " << layout.channels << " channels, "
                                        << layout.bits << " bits, " << rate << " Hz");
        std::vector<ReferenceVoice> reference;
        std::vector<AudioVoice*> voices;
        for (int n = 0; n < together; ++n) {
          ReferenceVoice r;
          r.channels = layout.channels, r.bits = layout.bits, r.rate = rate;
          r.looping = n % 3 != 1;
          r.volume = -(std::rand() % 3000);
          r.pan = std::rand() % 20001 - 10000;
          const int frames = 50 + std::rand() % 3000;
          r.start = std::rand() % frames;
          const int bytes = frames * layout.channels * layout.bits / 8;
          r.pcm.resize(size_t(bytes));
          for (int i = 0; i < bytes; ++i)
            r.pcm[size_t(i)] = uint8_t(std::rand());
          AudioVoice* v = audioCreateVoice(pcm(layout.channels, layout.bits, rate), bytes, nullptr);
          ASSERT_TRUE(v);
          void *p1, *p2;
          int n1, n2;
          ASSERT_TRUE(v->lock(0, 0, &p1, &n1, &p2, &n2));
          std::memcpy(p1, r.pcm.data(), size_t(n1));
          ASSERT_TRUE(v->unlock(p1, n1, p2, n2));
          ASSERT_TRUE(v->setVolume(r.volume));
          ASSERT_TRUE(v->setPan(r.pan));
          ASSERT_TRUE(v->setPosition(r.start * layout.channels * layout.bits / 8));
          r.position = r.start;
          ASSERT_TRUE(v->play(r.looping));
          voices.push_back(v);
          reference.push_back(std::move(r));
        }
        // Renders of odd sizes, across ends and loops.
        int worst = 0;
        for (const int frames : {1, 7, 512, 333, 4096, 1023}) {
          std::vector<int16_t> want;
          referenceMix(reference, want, frames);
          const Rendered got = render(frames);
          for (size_t i = 0; i < want.size(); ++i)
            worst = std::max(worst, std::abs(int(got.frames[i]) - int(want[i])));
        }
        EXPECT_LE(worst, 1);
        for (size_t n = 0; n < voices.size(); ++n)
          EXPECT_EQ(voices[n]->status() != 0, reference[n].playing) << "voice " << n;
        for (AudioVoice* v : voices)
          v->release();
      }
    }
  }
}

// The device mode with the dummy driver: the callback mixes on SDL's thread while this thread
// creates, changes and releases voices (ThreadSanitizer checks the hand-over).
TEST(AudioDeviceTest, DeviceCallbackRunsBesideVoiceChanges) {
  const char* error = nullptr;
  if (!audioOpen(AudioOutput::kDevice, &error)) {
    if (std::getenv("CI"))
      FAIL() << "no audio device under CI: " << error;
    GTEST_SKIP() << "no audio device: " << error;
  }
  EXPECT_FALSE(audioIsManual());
  AudioFormat f = pcm(2, 16, 22050);
  for (int rounds = 0; rounds < 100; ++rounds) {
    AudioVoice* v = audioCreateVoice(f, 8192, nullptr);
    ASSERT_TRUE(v);
    fillConstant(v, int16_t(rounds));
    v->play(true);
    AudioVoice* d = v->duplicate();
    d->setVolume(-(rounds % 10000));
    d->setPan(rounds % 20000 - 10000);
    d->setFrequency(1000 + rounds % 50000);
    d->play(false);
    int play = 0;
    v->getPosition(&play, nullptr);
    EXPECT_GE(play, 0);
    v->release();
    if (rounds % 3)
      d->release();
    platformSleepMilliseconds(1);
  }
  // The device's callback advances a playing voice on its own.
  AudioVoice* v = audioCreateVoice(f, 88200, nullptr);
  v->play(true);
  int play = 0;
  const uint64_t until = platformNanoseconds() + 5000000000ull;
  while (play == 0 && platformNanoseconds() < until) {
    platformSleepMilliseconds(5);
    v->getPosition(&play, nullptr);
  }
  EXPECT_GT(play, 0) << "the callback mixes without being asked";
  audioClose();
  EXPECT_EQ(audioPcmCount(), 0);
  EXPECT_EQ(audioVoiceCount(), 0);
}

}  // namespace
