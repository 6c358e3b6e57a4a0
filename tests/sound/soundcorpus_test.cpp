// The stream readers against files made by other tools: tests/sound/corpus/make_corpus.sh writes
// WAVs of every depth, channel count and chunk layout, Ogg Vorbis (".oga", chained, sniffed), Ogg
// Opus and FLAC, MP3s (CBR, VBR, mono, ID3v2, a rate change) and AVI/WMV audio, each with ffmpeg's
// decode beside it. WAVs must match it sample for sample, lossy codecs to 90 dB with the same
// length, and what cannot be read is refused with a warning naming the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sound/soundstream.h"
#include "tests/sound/support/soundtestio.h"
#include "tests/support/capturecmdsystem.h"

namespace {

enum class Check {
  kExact,       // WAV of one or two channels: the reference's bytes, less the last 100 file bytes
  kFold,        // WAV of more channels: the reference folded to stereo, less the last 100 bytes
  kBytes,       // every decoded byte equals the reference (lossless containers)
  kLossy,       // same frame count, >= 90 dB against ffmpeg's float decode
  kRateChange,  // the second part keeps its pitch and the length its duration
  kRefused,     // no stream, and a warning naming the file with the reason
};

struct Case {
  const char* file;
  Check check;
  int channels;     // in the file
  int sourceBlock;  // WAV: bytes per frame in the file
  const char* reason = "";
  // Lossy: the source's length in frames, when ffmpeg's decode is not the length to compare with
  // (its Ogg reading drops frames at the start that vorbisfile and the granule positions keep).
  int frames = 0;
};

const Case kCases[] = {
    {"w_u8_mono_11k.wav", Check::kExact, 1, 1},
    {"w_u8_stereo_8k.wav", Check::kExact, 2, 2},
    {"w_s16_mono_22k.wav", Check::kExact, 1, 2},
    {"w_s16_stereo_96k.wav", Check::kExact, 2, 4},
    {"w_s24_stereo_48k.wav", Check::kExact, 2, 6},
    {"w_s32_mono_44k.wav", Check::kExact, 1, 4},
    {"w_f32_stereo_44k.wav", Check::kExact, 2, 8},
    {"w_f64_mono_16k.wav", Check::kExact, 1, 8},
    {"w_s16_3ch_32k.wav", Check::kFold, 3, 6},
    {"w_s16_4ch_22k.wav", Check::kFold, 4, 8},
    {"w_s24_5ch_48k.wav", Check::kFold, 5, 15},
    {"w_s16_6ch_44k.wav", Check::kFold, 6, 12},
    {"w_u8_6ch_8k.wav", Check::kFold, 6, 6},
    {"w_ffmpeg_default.wav", Check::kExact, 2, 4},
    {"w_ffmpeg_6ch_s24.wav", Check::kFold, 6, 18},
    {"w_ffmpeg_f32.wav", Check::kExact, 1, 4},
    {"w_ffmpeg_pipe.wav", Check::kExact, 1, 2},
    {"w_plain.wav", Check::kExact, 2, 4},
    {"w_list_with_data_text.wav", Check::kExact, 2, 4},
    {"w_odd_chunk_before_fmt.wav", Check::kExact, 2, 4},
    {"w_odd_chunks_around_data.wav", Check::kExact, 2, 4},
    {"w_data_before_fmt.wav", Check::kExact, 2, 4},
    {"o_vorbis_stereo.ogg", Check::kLossy, 2, 0, "", 44100},
    {"o_vorbis_mono.ogg", Check::kLossy, 1, 0, "", 22050},
    {"o_theme.oga", Check::kLossy, 2, 0, "", 44100},
    {"o_sniffed.snd", Check::kLossy, 1, 0, "", 22050},
    {"o_chained_same.ogg", Check::kLossy, 2, 0, "", 88200},
    {"o_chained_formats.ogg", Check::kRefused, 0, 0, "links of different channels or rates"},
    {"o_opus.ogg", Check::kRefused, 0, 0, "Ogg, not Vorbis (Opus)"},
    {"o_flac.ogg", Check::kRefused, 0, 0, "Ogg, not Vorbis (FLAC)"},
    {"m_cbr.mp3", Check::kLossy, 2, 0, "", 44100},
    {"m_vbr.mp3", Check::kLossy, 2, 0, "", 44100},
    {"m_mono.mp3", Check::kLossy, 1, 0, "", 22050},
    {"m_id3v2.mp3", Check::kLossy, 2, 0, "", 32000},
    {"m_rate_change.mp3", Check::kRateChange, 2, 0},
    {"a_pcm.avi", Check::kBytes, 2, 0},
    {"a_adpcm.avi", Check::kBytes, 2, 0},
    {"a_mp3.avi", Check::kLossy, 2, 0},
    {"a_wma.wmv", Check::kLossy, 2, 0},
    {"a_wma_cut.wmv", Check::kLossy, 2, 0},
    {"a_wma_header_only.wmv", Check::kRefused, 0, 0, "no decodable audio"},
};

std::vector<uint8_t> readAll(SoundStream* stream) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(3001);  // odd pieces, so no reader relies on whole frames per call
  for (int guard = 0; guard < 100000; ++guard) {
    const int n = stream->read(buf.data(), int(buf.size()));
    if (n <= 0)
      break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

std::vector<int16_t> asS16(const std::string& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

std::vector<int16_t> asS16(const std::vector<uint8_t>& bytes) {
  return asS16(std::string(bytes.begin(), bytes.end()));
}

std::vector<float> asF32(const std::string& bytes) {
  std::vector<float> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

bool haveTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Zero crossings of one channel per second over a span of frames.
double crossingsPerSecond(const std::vector<int16_t>& pcm, int channels, size_t from, size_t to, int rate) {
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i)
    if ((pcm[(i - 1) * channels] < 0) != (pcm[i * channels] < 0))
      ++crossings;
  return crossings * double(rate) / double(to - from);
}

class SoundCorpusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Without sox or ffmpeg nothing can be made; without oggenc or lame only their cases go.
    for (const char* tool : {"sox", "ffmpeg"}) {
      if (!haveTool(tool)) {
        missing_ = tool;
        return;
      }
    }
    dir_ = (std::filesystem::temp_directory_path() / ("quill_sound_corpus_" + std::to_string(::getpid())))
               .string();
    const std::string script = soundFixtureDir() + "/../corpus/make_corpus.sh";
    made_ = std::system(("bash '" + script + "' '" + dir_ + "' >/dev/null 2>&1").c_str()) == 0;
  }
  static void TearDownTestSuite() {
    if (!dir_.empty())
      std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    if (!missing_.empty()) {
      if (std::getenv("CI"))
        FAIL() << missing_ << " is missing; the corpus cannot be made";
      GTEST_SKIP() << missing_ << " is not installed";
    }
    ASSERT_TRUE(made_) << "make_corpus.sh failed";
  }
  static std::string dir_;
  static std::string missing_;
  static bool made_;
  CaptureCmdSystem cmd_;
  SoundTestIO io_;
};

std::string SoundCorpusTest::dir_;
std::string SoundCorpusTest::missing_;
bool SoundCorpusTest::made_ = false;

TEST_F(SoundCorpusTest, EveryFileDecodesAsTheReferenceOrIsRefused) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    const std::string name = std::string("sound/") + c.file;
    if (!std::filesystem::exists(dir_ + "/" + c.file)) {
      // Its tool (oggenc, lame) is not installed: a skipped case outside CI only.
      EXPECT_FALSE(std::getenv("CI")) << "not made";
      continue;
    }
    ASSERT_TRUE(io_.addFromDisk(name, dir_ + "/" + c.file));
    cmd_.text.clear();
    std::unique_ptr<SoundStream> s(openSoundStream(name.c_str()));
    if (c.check == Check::kRefused) {
      EXPECT_FALSE(s);
      EXPECT_NE(cmd_.text.find("WARNING: "), std::string::npos) << cmd_.text;
      EXPECT_NE(cmd_.text.find(name), std::string::npos) << cmd_.text;
      EXPECT_NE(cmd_.text.find(c.reason), std::string::npos) << cmd_.text;
      continue;
    }
    ASSERT_TRUE(s) << cmd_.text;
    const SoundFormat& f = s->getFormat();
    const std::vector<uint8_t> got = readAll(s.get());
    EXPECT_EQ(int64_t(got.size()), s->getLength()) << "the length is what decodes";
    ASSERT_TRUE(s->rewind()) << "rewinding gives a working stream";
    const std::vector<uint8_t> again = readAll(s.get());
    EXPECT_EQ(again.size(), got.size());
    EXPECT_TRUE(again == got) << "a rewound stream delivers the same PCM";
    const std::string ref = readDiskFile(dir_ + "/" + c.file + ".ref");
    switch (c.check) {
      case Check::kExact:
      case Check::kFold: {
        // The file's frames less the last 100 bytes of its "data" chunk.
        const int refChannels = c.channels;
        const int refSample = c.check == Check::kExact && f.bitsPerSample == 8 ? 1 : 2;
        const size_t frames = ref.size() / size_t(refChannels * refSample);
        const size_t played = (frames * size_t(c.sourceBlock) - 100) / size_t(c.sourceBlock);
        ASSERT_EQ(f.channels, c.channels > 2 ? 2 : c.channels);
        ASSERT_EQ(got.size(), played * f.blockAlign);
        if (c.check == Check::kExact) {
          EXPECT_EQ(0, std::memcmp(got.data(), ref.data(), got.size())) << "sample-exact";
          break;
        }
        const std::vector<int16_t> in = asS16(ref), out = asS16(got);
        const uint32_t mask = soundDefaultChannelMask(c.channels);
        size_t wrong = 0;
        for (size_t i = 0; i < played; ++i) {
          for (int side = 0; side < 2; ++side) {
            int64_t sum = 0, weights = 0;
            for (int ch = 0; ch < c.channels; ++ch) {
              const int w = soundFoldWeight(mask, ch, side);
              sum += w * in[i * size_t(c.channels) + size_t(ch)];
              weights += w;
            }
            if (out[i * 2 + size_t(side)] != int16_t(sum / weights))
              ++wrong;
          }
        }
        EXPECT_EQ(wrong, 0u) << "folded sample-exactly";
        break;
      }
      case Check::kBytes:
        EXPECT_EQ(got.size(), ref.size());
        EXPECT_EQ(0, std::memcmp(got.data(), ref.data(), std::min(got.size(), ref.size())));
        break;
      case Check::kLossy: {
        const std::vector<float> want = asF32(ref);
        const std::vector<int16_t> out = asS16(got);
        const size_t refFrames = want.size() / size_t(c.channels);
        const size_t outFrames = out.size() / f.channels;
        ASSERT_GE(f.channels, c.channels);
        EXPECT_EQ(outFrames, c.frames ? size_t(c.frames) : refFrames) << "gapless, with the exact length";
        // ffmpeg's decode may lack frames at the start or at the end: the better alignment counts.
        const size_t extra = outFrames > refFrames ? outFrames - refFrames : 0;
        ASSERT_LE(extra, 4096u);
        double signal = 0, noise = 0;
        for (const size_t shift : {size_t(0), extra}) {
          double s = 0, n = 0;
          const size_t frames = std::min(refFrames, outFrames - shift);
          for (size_t i = 0; i < frames; ++i) {
            for (int ch = 0; ch < f.channels; ++ch) {
              const double x = double(want[i * size_t(c.channels) + size_t(ch % c.channels)]) * 32768.0;
              const double y = out[(i + shift) * f.channels + size_t(ch)];
              s += x * x;
              n += (x - y) * (x - y);
            }
          }
          if (shift == 0 || n * signal < noise * s)
            signal = s, noise = n;
        }
        ASSERT_GT(signal, 0.0);
        const double snr = noise > 0 ? 10.0 * std::log10(signal / noise) : 200.0;
        EXPECT_GE(snr, 90.0) << "dB against ffmpeg's decode";
        break;
      }
      case Check::kRateChange: {
        // One second at 44.1 kHz, then one at 32 kHz played at the first part's rate; with no
        // encoder tags each part keeps its encoder delay and padding (under 2 frames of 1152).
        ASSERT_EQ(f.samplesPerSec, 44100u);
        const std::vector<int16_t> out = asS16(got);
        const size_t frames = out.size() / 2;
        EXPECT_GE(frames, 88200u) << "both seconds, neither sped up";
        EXPECT_LE(frames, 88200u + 2 * 2 * 1152 * 441 / 320) << "both seconds, neither slowed down";
        // The left channel is a 300 Hz tone: 600 crossings a second in both parts.
        EXPECT_NEAR(crossingsPerSecond(out, 2, 5000, 40000, 44100), 600.0, 15.0);
        EXPECT_NEAR(crossingsPerSecond(out, 2, 50000, 85000, 44100), 600.0, 15.0);
        break;
      }
      case Check::kRefused:
        break;
    }
  }
}

// A clone of every readable corpus file reads what its original reads, and a looping read past
// the end continues from the start (a looping MP3 does not go silent).
TEST_F(SoundCorpusTest, LoopingReadsWrapIntoTheStart) {
  for (const char* file :
       {"m_cbr.mp3", "m_rate_change.mp3", "o_chained_same.ogg", "a_wma.wmv", "w_s24_stereo_48k.wav"}) {
    SCOPED_TRACE(file);
    const std::string name = std::string("sound/") + file;
    if (!std::filesystem::exists(dir_ + "/" + file)) {
      EXPECT_FALSE(std::getenv("CI")) << "not made";
      continue;
    }
    ASSERT_TRUE(io_.addFromDisk(name, dir_ + "/" + file));
    std::unique_ptr<SoundStream> s(openSoundStream(name.c_str()));
    ASSERT_TRUE(s);
    const int64_t length = s->getLength();
    ASSERT_GT(length, 4096);
    std::vector<uint8_t> first(4096);
    ASSERT_TRUE(s->readFully(first.data(), int(first.size()), false));
    ASSERT_TRUE(s->skip(length - 4096, false));
    std::vector<uint8_t> wrapped(8192);
    int got = 0;
    EXPECT_TRUE(s->readFully(wrapped.data(), int(wrapped.size()), true, &got));
    EXPECT_EQ(got, 8192);
    EXPECT_EQ(0, std::memcmp(wrapped.data(), first.data(), first.size()))
        << "the loop starts again at the start";
  }
}

}  // namespace
