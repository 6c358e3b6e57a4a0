// Stream analysis: a pure tone peaks in its band on both channels of a mono stream, a click track
// raises the beat flag only on clicks and only after 42 steps, and bad inputs are handled.
#include <cstring>

#include "tests/sound/support/soundharness.h"

namespace {

constexpr int kRate = 22050;

class SoundAnalysisTest : public SoundManagerFixture {};

TEST_F(SoundAnalysisTest, PureTonePeaksInItsBand) {
  // Magnitude i is FFT bin i + 1 of 512; band 10 holds magnitude 10 alone, bin 11.
  const double hz = 11.0 * kRate / 512.0;
  io_.addBytes("music/tone.wav", makeWav(kRate, 1, kRate, [hz](int i, int) {
                 return int16_t(std::lrint(12000.0 * std::sin(2.0 * M_PI * hz * i / kRate)));
               }));
  SoundVisState state;
  SoundStream* stream = manager_->openAnalysisStream("music/tone.wav", &state);
  ASSERT_TRUE(stream);
  EXPECT_EQ(state.dataLength, int64_t(kRate) * 2);
  EXPECT_EQ(manager_->streamBytesPerSecond(stream), kRate * 2);
  EXPECT_EQ(manager_->streamBytesPerFrame(stream), 2);
  ASSERT_TRUE(manager_->analyzeStream(stream, &state, 1024));
  int best = 0;
  for (int b = 0; b < 75; ++b)
    if (state.levels[0][b] > state.levels[0][best])
      best = b;
  EXPECT_EQ(best, 10);
  EXPECT_GE(state.levels[0][10], 10.0f);
  EXPECT_EQ(state.peaks[0][10], state.levels[0][10]);
  EXPECT_EQ(state.levels[0][40], 0.0f) << "far bands stay dark";
  EXPECT_EQ(0, std::memcmp(state.levels[0], state.levels[1], sizeof(state.levels[0])))
      << "a mono stream shows the same levels on both channels";
  // Going backwards fails but still updates; levels then fall.
  const float before = state.levels[0][10];
  EXPECT_FALSE(manager_->analyzeStream(stream, &state, 0));
  EXPECT_LE(state.levels[0][10], before);
  manager_->closeStream(stream);
  EXPECT_FALSE(manager_->analyzeStream(nullptr, &state, 10));
  EXPECT_EQ(manager_->streamBytesPerFrame(nullptr), 0);
  EXPECT_EQ(manager_->openAnalysisStream("music/missing.wav", &state), nullptr);
}

TEST_F(SoundAnalysisTest, ClickTrackRaisesTheBeatFlagOnClicks) {
  // A loud low thump of 20 ms every 0.75 s over faint noise, on both channels or on the right
  // one only: the beat bands read the latest transform, which for stereo is channel 1's.
  const int period = kRate * 3 / 4;
  for (const bool rightOnly : {false, true}) {
    SCOPED_TRACE(rightOnly ? "clicks on the right channel only" : "clicks on both channels");
    const char* name = rightOnly ? "music/clicks_right.wav" : "music/clicks.wav";
    io_.addBytes(name, makeWav(kRate, 2, kRate * 8, [period, rightOnly](int i, int c) {
                   const int at = i % period;
                   if (at < kRate / 50 && (c == 1 || !rightOnly))
                     return int16_t(std::lrint(30000.0 * std::sin(2.0 * M_PI * 60.0 * at / kRate)));
                   return int16_t((uint32_t(i) * 1103515245u + 12345u) >> 24 & 0x3f);
                 }));
    SoundVisState state;
    SoundStream* stream = manager_->openAnalysisStream(name, &state);
    ASSERT_TRUE(stream);
    int beats = 0;
    const int step = 512 * 4;  // 512 stereo 16-bit frames
    for (int64_t position = step, n = 1; position < state.dataLength; position += step, ++n) {
      ASSERT_TRUE(manager_->analyzeStream(stream, &state, position));
      if (state.beat) {
        ++beats;
        EXPECT_GT(n, 42) << "no beat before 43 steps";
        const int64_t frameAtEnd = position / 4;
        EXPECT_LT((frameAtEnd - 1) % period, 512 + kRate / 50) << "a beat falls on a click, step " << n;
      }
    }
    EXPECT_GE(beats, 3);
    manager_->closeStream(stream);
  }
}

TEST_F(SoundAnalysisTest, EightBitStreamsAreCentredAndJumpsAreBounded) {
  io_.addBytes("music/silent8.wav", [] {
    std::string wav = makeWav(kRate, 1, 40000, [](int, int) { return int16_t(0); });
    // Rewrite as 8-bit unsigned silence (128) by hand: a header of 8 bits and block align 1.
    wav[32] = 1;
    wav[34] = 8;
    wav[28] = char(kRate & 0xff), wav[29] = char(kRate >> 8), wav[30] = 0, wav[31] = 0;
    for (size_t i = 44; i < wav.size(); ++i)
      wav[i] = char(0x80);
    return wav;
  }());
  SoundVisState state;
  SoundStream* stream = manager_->openAnalysisStream("music/silent8.wav", &state);
  ASSERT_TRUE(stream);
  ASSERT_EQ(stream->getFormat().bitsPerSample, 8);
  // A jump of far more than 512 frames reads only the last 512.
  EXPECT_TRUE(manager_->analyzeStream(stream, &state, 30000));
  for (int b = 0; b < 75; ++b)
    ASSERT_EQ(state.levels[0][b], 0.0f) << "centred 8-bit silence shows no level, band " << b;
  manager_->closeStream(stream);
}

}  // namespace
