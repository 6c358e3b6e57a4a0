// The sound-stream readers against fixtures made by tests/sound/fixtures/make_fixtures.sh: exact PCM
// for WAV and PCM AVI, close PCM for the lossy codecs, header faults, every truncation of every
// fixture, plug-ins, and name resolution.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "sound/soundstream.h"
#include "tests/sound/support/soundtestio.h"
#include "tests/support/capturecmdsystem.h"

namespace {

std::vector<uint8_t> readAll(SoundStream* stream, int piece = 4096) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(static_cast<size_t>(piece));
  for (int guard = 0; guard < 100000; ++guard) {
    const int n = stream->read(buf.data(), piece);
    if (n <= 0)
      break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

std::vector<int16_t> samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

// The fixture WAV's data chunk (sox writes a plain 44-byte header).
std::vector<int16_t> referencePcm() {
  const std::string wav = readDiskFile(soundFixtureDir() + "/tone_stereo.wav");
  std::vector<uint8_t> bytes(wav.begin() + 44, wav.end());
  return samples16(bytes);
}

// Best normalised correlation of a decoded channel with the reference over small shifts (codec
// delay), so a lossy decode that keeps the waveform scores near 1.
double bestCorrelation(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, int channels, int channel,
                       int maxShift) {
  double best = 0.0;
  const size_t frames = std::min(ref.size(), got.size()) / size_t(channels);
  for (int shift = 0; shift <= maxShift; ++shift) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 2000; i + size_t(shift) < frames && i < frames - 2000; ++i) {
      const double x = ref[i * channels + channel];
      const double y = got[(i + shift) * channels + channel];
      xy += x * y, xx += x * x, yy += y * y;
    }
    if (xx > 0 && yy > 0)
      best = std::max(best, xy / std::sqrt(xx * yy));
  }
  return best;
}

class SoundStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"tone_stereo.wav", "tone_mono8.wav", "tone_stereo.ogg", "tone_cue.ogg", "tone_stereo.mp3",
                          "tone_pcm.avi", "tone_adpcm.avi", "tone.wmv"})
      ASSERT_TRUE(io_.addFromDisk(std::string("sound/") + f, soundFixtureDir() + "/" + f)) << f;
  }
  CaptureCmdSystem cmd_;
  SoundTestIO io_;
};

TEST_F(SoundStreamTest, WavDecodesItsDataChunkLessTheLastHundredBytes) {
  std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_stereo.wav"));
  ASSERT_TRUE(s);
  const SoundFormat& f = s->getFormat();
  EXPECT_EQ(f.formatTag, 1);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.samplesPerSec, 22050u);
  EXPECT_EQ(f.bitsPerSample, 16);
  EXPECT_EQ(f.blockAlign, 4);
  EXPECT_EQ(s->getLength(), 44100 - 100);
  EXPECT_EQ(s->dataStart(), 44);
  const std::vector<int16_t> got = samples16(readAll(s.get()));
  std::vector<int16_t> played = referencePcm();
  played.resize(played.size() - 50);
  EXPECT_EQ(got, played) << "reads deliver the data chunk without its last 100 bytes";
  // Rewinding reports success and starts over.
  EXPECT_TRUE(s->rewind());
  int16_t first[4];
  ASSERT_EQ(s->read(first, 8), 8);
  EXPECT_EQ(0, std::memcmp(first, referencePcm().data(), 8));
}

TEST_F(SoundStreamTest, ReadFullyLoopsOrPadsWithZeros) {
  std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_stereo.wav"));
  ASSERT_TRUE(s);
  std::vector<int16_t> ref = referencePcm();
  ref.resize(ref.size() - 50);  // the last 100 bytes are never played
  std::vector<int16_t> buf(ref.size() + 200, 0x5555);
  int got = 0;
  EXPECT_FALSE(s->readFully(buf.data(), int(buf.size() * 2), false, &got));
  EXPECT_EQ(got, int(ref.size() * 2));
  for (size_t i = ref.size(); i < buf.size(); ++i)
    ASSERT_EQ(buf[i], 0) << "the rest of a short non-looping read is silence";
  ASSERT_TRUE(s->rewind());
  EXPECT_TRUE(s->readFully(buf.data(), int(buf.size() * 2), true, &got));
  EXPECT_EQ(got, int(buf.size() * 2));
  for (size_t i = 0; i < 200; ++i)
    ASSERT_EQ(buf[ref.size() + i], ref[i]) << "a looping read continues from the start";
}

TEST_F(SoundStreamTest, EightBitWavAndMemorySourcesAndClones) {
  const std::string bytes = readDiskFile(soundFixtureDir() + "/tone_mono8.wav");
  uint8_t* block = new uint8_t[bytes.size()];
  std::memcpy(block, bytes.data(), bytes.size());
  SoundWaveFile wav;
  ASSERT_TRUE(wav.openMemory(block, int(bytes.size())));
  EXPECT_EQ(wav.getFormat().bitsPerSample, 8);
  EXPECT_EQ(wav.getFormat().channels, 1);
  EXPECT_EQ(wav.getFormat().samplesPerSec, 11025u);
  std::unique_ptr<SoundStream> copy(wav.clone());
  ASSERT_TRUE(copy);
  const std::vector<uint8_t> a = readAll(&wav), b = readAll(copy.get());
  EXPECT_EQ(a.size(), bytes.size() - 44 - 100);
  EXPECT_EQ(a, b);
  EXPECT_EQ(0, std::memcmp(a.data(), bytes.data() + 44, a.size()));
}

// A clone reads the same samples as its original, for memory blocks and for files, of every kind.
TEST_F(SoundStreamTest, ClonesReadWhatTheirOriginalReads) {
  for (const char* f : {"tone_stereo.wav", "tone_stereo.ogg", "tone_stereo.mp3", "tone_pcm.avi"}) {
    const std::string bytes = readDiskFile(soundFixtureDir() + "/" + f);
    io_.addBytes(std::string("sound/") + f, bytes);
    std::unique_ptr<SoundStream> original(openSoundStream((std::string("sound/") + f).c_str()));
    ASSERT_TRUE(original) << f;
    std::unique_ptr<SoundStream> copy(original->clone());
    ASSERT_TRUE(copy) << f;
    const std::vector<uint8_t> a = readAll(original.get()), b = readAll(copy.get());
    EXPECT_FALSE(a.empty()) << f;
    EXPECT_EQ(a, b) << f;
  }
  SoundOggFile ogg;
  const std::string bytes = readDiskFile(soundFixtureDir() + "/tone_stereo.ogg");
  uint8_t* block = new uint8_t[bytes.size()];
  std::memcpy(block, bytes.data(), bytes.size());
  ASSERT_TRUE(ogg.openMemory(block, int(bytes.size())));
  std::unique_ptr<SoundStream> copy(ogg.clone());
  ASSERT_TRUE(copy);
  EXPECT_EQ(readAll(&ogg), readAll(copy.get()));
  // Nothing open: a new unopened reader of the same kind, for every kind.
  SoundWaveFile closedWav;
  SoundOggFile closedOgg;
  SoundMp3File closedMp3;
  SoundAVIFile closedAvi;
  for (SoundStream* closed :
       std::initializer_list<SoundStream*>{&closedWav, &closedOgg, &closedMp3, &closedAvi}) {
    std::unique_ptr<SoundStream> fresh(closed->clone());
    ASSERT_TRUE(fresh) << "a reader with no source clones to a new unopened one";
    EXPECT_EQ(typeid(*fresh), typeid(*closed));
    EXPECT_EQ(fresh->getLength(), 0);
    EXPECT_EQ(fresh->sourceSize(), 0);
    uint8_t scratch[16];
    EXPECT_EQ(fresh->read(scratch, sizeof(scratch)), 0);
  }
  EXPECT_EQ(io_.openCount(), 0);
}

std::string wavHeader(uint32_t fmtSize, uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align,
                      uint16_t bits, uint32_t dataSize, int dataBytes, int fmtExtra = 0) {
  std::string s = "RIFF....WAVEfmt ";
  auto put = [&s](uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      s.push_back(char((v >> (8 * i)) & 0xff));
  };
  put(fmtSize, 4);
  put(tag, 2);
  put(channels, 2);
  put(rate, 4);
  put(rate * align, 4);
  put(align, 2);
  put(bits, 2);
  s.append(size_t(fmtExtra), '\0');
  s += "data";
  put(dataSize, 4);
  s.append(size_t(dataBytes), '\x10');
  return s;
}

TEST_F(SoundStreamTest, WavHeadersAreCheckedAndSizesClamped) {
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
    int64_t length;
  };
  const Case cases[] = {
      {"plain", wavHeader(16, 1, 1, 8000, 2, 16, 1000, 1000), true, 900},
      {"fmt of 18 bytes skips 2", wavHeader(18, 1, 1, 8000, 2, 16, 1000, 1000, 2), true, 900},
      {"data size past the file is clamped", wavHeader(16, 1, 1, 8000, 2, 16, 0x7fffffff, 1000), true, 900},
      {"data of 100 bytes or less is empty", wavHeader(16, 1, 1, 8000, 2, 16, 60, 60), true, 0},
      {"fmt under 16 bytes", wavHeader(12, 1, 1, 8000, 2, 16, 1000, 1000), false, 0},
      {"ADPCM is not PCM", wavHeader(20, 2, 1, 8000, 256, 4, 1000, 1000, 4), false, 0},
      {"float of 32 bits, to 16", wavHeader(16, 3, 1, 8000, 4, 32, 1000, 1000), true, 450},
      {"float of 16 bits", wavHeader(16, 3, 1, 8000, 2, 16, 1000, 1000), false, 0},
      {"24 bits, to 16", wavHeader(16, 1, 1, 8000, 3, 24, 1000, 1000), true, 600},
      {"6 channels of 16 bits fold to stereo", wavHeader(16, 1, 6, 8000, 12, 16, 1000, 1000), true, 300},
      {"9 channels", wavHeader(16, 1, 9, 8000, 18, 16, 1000, 1000), false, 0},
      {"zero channels", wavHeader(16, 1, 0, 8000, 2, 16, 1000, 1000), false, 0},
      {"zero rate", wavHeader(16, 1, 1, 0, 2, 16, 1000, 1000), false, 0},
      {"zero alignment", wavHeader(16, 1, 1, 8000, 0, 16, 1000, 1000), false, 0},
      {"alignment not matching", wavHeader(16, 1, 2, 8000, 2, 16, 1000, 1000), false, 0},
      {"no data chunk", wavHeader(16, 1, 1, 8000, 2, 16, 1000, 1000).substr(0, 36), false, 0},
      {"not RIFF", "RIFX" + wavHeader(16, 1, 1, 8000, 2, 16, 1000, 1000).substr(4), false, 0},
  };
  for (const Case& c : cases) {
    io_.addBytes("t.wav", c.bytes);
    std::unique_ptr<SoundStream> s(openSoundStream("t.wav"));
    EXPECT_EQ(bool(s), c.opens) << c.what;
    if (s) {
      EXPECT_EQ(s->getLength(), c.length) << c.what;
    }
  }
  EXPECT_EQ(io_.openCount(), 0) << "every failed open closes its file";
}

TEST_F(SoundStreamTest, BadHeaderMessagesEscapeRawBytes) {
  io_.addBytes("bad.wav", std::string("\x01\xff\nA\x7f", 5) + "WAVEjunkjunk");
  EXPECT_EQ(openSoundStream("bad.wav"), nullptr);
  EXPECT_NE(cmd_.text.find("\\x01\\xff\\x0aA\\x7f"), std::string::npos) << cmd_.text;
  EXPECT_EQ(cmd_.text.find('\xff'), std::string::npos);
}

TEST_F(SoundStreamTest, OggDecodesCloseToTheSourceWithItsExactLength) {
  std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_stereo.ogg"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->getFormat().channels, 2);
  EXPECT_EQ(s->getFormat().samplesPerSec, 22050u);
  EXPECT_EQ(s->getLength(), 11025 * 4);
  const std::vector<uint8_t> bytes = readAll(s.get(), 1001);
  EXPECT_EQ(int64_t(bytes.size()), s->getLength());
  const std::vector<int16_t> got = samples16(bytes);
  const std::vector<int16_t> ref = referencePcm();
  EXPECT_GT(bestCorrelation(ref, got, 2, 0, 0), 0.99);
  EXPECT_GT(bestCorrelation(ref, got, 2, 1, 0), 0.99);
  // An odd request delivers an even count.
  ASSERT_TRUE(s->rewind());
  EXPECT_EQ(s->read(std::vector<uint8_t>(1001).data(), 1001), 1000);
}

TEST_F(SoundStreamTest, OggCuePointSetsStartAndLength) {
  std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_cue.ogg"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->dataStart(), 2205);
  EXPECT_EQ(s->getLength(), (2205 + 4410) * 4);
  EXPECT_EQ(s->tell(), 0) << "opening leaves the decoder at the beginning";
  ASSERT_TRUE(s->rewind());
  EXPECT_EQ(s->tell(), 2205 * 4) << "the cue start takes effect at the first rewind";
}

TEST_F(SoundStreamTest, Mp3DecodesToItsTrueRateAndAtLeastItsExactLength) {
  std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_stereo.mp3"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->getFormat().samplesPerSec, 22050u) << "the true rate";
  EXPECT_EQ(s->getFormat().channels, 2);
  const std::vector<uint8_t> bytes = readAll(s.get());
  EXPECT_GE(int64_t(bytes.size()), 11025 * 4) << "decodes to its true end";
  EXPECT_GE(s->getLength(), int64_t(bytes.size())) << "the larger of estimated and exact length";
  const std::vector<int16_t> got = samples16(bytes);
  const std::vector<int16_t> ref = referencePcm();
  EXPECT_GT(bestCorrelation(ref, got, 2, 0, 2400), 0.95);
  // A rewind flushes: the first bytes after it equal the first bytes of the first pass.
  ASSERT_TRUE(s->rewind());
  std::vector<uint8_t> again = readAll(s.get());
  EXPECT_EQ(again, bytes);
}

// Inputs the MP3 harness found: an Info header claiming billions of frames (the library's
// resampler walked them all while it set up, minutes in one call), frames that a reopened
// decoder ended after one sample, so a looping read reopened the file for every four bytes, and
// Layer I and II frames at other rates among Layer III ones (resampled, so longer than counted).
// Whatever decodes is the length, every pass gives the same, and the work stays in proportion
// to the file.
TEST_F(SoundStreamTest, DamagedMp3InfoHeadersKeepTheLengthAndBoundedWork) {
  for (const char* f : {"mp3_info_frames_short.mp3", "mp3_info_frames_huge.mp3", "mp3_layers_mixed.mp3"}) {
    const std::string name = std::string("sound/") + f;
    ASSERT_TRUE(io_.addFromDisk(name, soundFixtureDir() + "/" + f)) << f;
    const long long size = (long long)io_.files[name].size();
    io_.bytesRead = 0;
    std::unique_ptr<SoundStream> s(openSoundStream(name.c_str()));
    ASSERT_TRUE(s) << f;
    const std::vector<uint8_t> first = readAll(s.get(), 4099);
    ASSERT_GT(first.size(), 1000u) << f;
    EXPECT_EQ(int64_t(first.size()), s->getLength()) << f << ": the length is what decodes";
    ASSERT_TRUE(s->rewind()) << f;
    std::vector<uint8_t> looped(first.size() * 3 + 1001);
    int got = 0;
    EXPECT_TRUE(s->readFully(looped.data(), int(looped.size()), true, &got)) << f;
    for (size_t pass = 0; pass < 3; ++pass)
      EXPECT_TRUE(std::equal(first.begin(), first.end(), looped.begin() + long(pass * first.size())))
          << f << ": pass " << pass << " of a looping read differs from the first";
    // Opening, a read to the end and four rewinds.
    EXPECT_LT(io_.bytesRead, 64 * size) << f;
  }
}

// A WMV the AVI harness found: 12 bytes of audio behind a header that takes the demuxer some
// 65,000 reads, so a looping read that reopened the file at every rewind ran for seconds. Short
// audio is kept as it decodes: reading, rewinding and looping it read the file no more.
TEST_F(SoundStreamTest, ShortAviAudioLoopsWithoutReopeningTheFile) {
  ASSERT_TRUE(io_.addFromDisk("sound/wmv_tiny_audio.wmv", soundFixtureDir() + "/wmv_tiny_audio.wmv"));
  for (const char* name : {"sound/wmv_tiny_audio.wmv", "sound/tone_pcm.avi", "sound/tone.wmv"}) {
    io_.readCalls = 0;
    std::unique_ptr<SoundStream> s(openSoundStream(name));
    ASSERT_TRUE(s) << name;
    const long long atOpen = io_.readCalls;
    const std::vector<uint8_t> first = readAll(s.get(), 4099);
    ASSERT_FALSE(first.empty()) << name;
    EXPECT_EQ(int64_t(first.size()), s->getLength()) << name << ": the length is what decodes";
    ASSERT_TRUE(s->rewind()) << name;
    std::vector<uint8_t> looped(first.size() * 3 + 1001);
    int got = 0;
    EXPECT_TRUE(s->readFully(looped.data(), int(looped.size()), true, &got)) << name;
    for (size_t pass = 0; pass < 3; ++pass)
      EXPECT_TRUE(std::equal(first.begin(), first.end(), looped.begin() + long(pass * first.size())))
          << name << ": pass " << pass << " of a looping read differs from the first";
    EXPECT_EQ(io_.readCalls, atOpen) << name << ": the file was read again after opening";
  }
}

TEST_F(SoundStreamTest, AviAndWmvAudioIsDecodedNotPassedThrough) {
  const std::vector<int16_t> ref = referencePcm();
  {
    std::unique_ptr<SoundStream> s(openSoundStream("sound/tone_pcm.avi"));
    ASSERT_TRUE(s);
    // The length is the container's statement, which may count a few frames of padding.
    EXPECT_NEAR(double(s->getLength()), double(ref.size() * 2), 1024.0);
    EXPECT_EQ(samples16(readAll(s.get())), ref) << "PCM audio comes out exactly";
    EXPECT_TRUE(s->rewind()) << "rewind reports success like every reader";
    EXPECT_EQ(samples16(readAll(s.get())), ref);
  }
  for (const char* name : {"sound/tone_adpcm.avi", "sound/tone.wmv"}) {
    std::unique_ptr<SoundStream> s(openSoundStream(name));
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->getFormat().bitsPerSample, 16) << name;
    EXPECT_EQ(s->getFormat().samplesPerSec, 22050u) << name;
    const std::vector<int16_t> got = samples16(readAll(s.get()));
    EXPECT_NEAR(double(got.size()), double(ref.size()), 4096.0) << name;
    EXPECT_GT(bestCorrelation(ref, got, 2, 0, 2400), 0.9) << name;
  }
}

TEST_F(SoundStreamTest, EveryTruncationOfEveryFixtureIsSafe) {
  struct Fixture {
    const char* file;
    int step;
  };
  // Every length for the headers' first 512 bytes, then a stride through the rest.
  const Fixture fixtures[] = {{"tone_stereo.wav", 97}, {"tone_mono8.wav", 13}, {"tone_stereo.ogg", 7},
                              {"tone_cue.ogg", 11},    {"tone_stereo.mp3", 17}, {"tone_pcm.avi", 211},
                              {"tone_adpcm.avi", 89},  {"tone.wmv", 23}};
  for (const Fixture& f : fixtures) {
    const std::string whole = readDiskFile(soundFixtureDir() + "/" + f.file);
    const std::string ext = std::strrchr(f.file, '.');
    for (size_t n = 0; n < whole.size(); n += n < 512 ? 1 : size_t(f.step)) {
      io_.addBytes("cut" + ext, whole.substr(0, n));
      std::unique_ptr<SoundStream> s(openSoundStream(("cut" + ext).c_str()));
      if (!s)
        continue;
      const std::vector<uint8_t> got = readAll(s.get());
      // Lossless formats can never deliver more than the file holds; codecs stay within their length.
      if (ext == ".wav") {
        ASSERT_LE(got.size(), n) << f.file << " cut at " << n;
      }
      ASSERT_LE(int64_t(got.size()), std::max<int64_t>(s->getLength(), 0) + 1000000) << f.file << " at " << n;
      s->rewind();
    }
  }
  EXPECT_EQ(io_.openCount(), 0);
}

TEST_F(SoundStreamTest, PluginsDecodeTheirExtensionsAndResolveNames) {
  char root[] = "/tmp/quill_sound_pluginXXXXXX";
  ASSERT_TRUE(mkdtemp(root));
  SoundTestIO io(root);
  io.addBytes("plugins/toneplugin.so", readDiskFile(QUILL_SOUND_PLUGIN));
  io.addBytes("plugins/notaplugin.so", "not a library");
  io.addBytes("sound/beep.tone", "441 100 11025");
  List<SoundPluginRecord> records(16);
  scanSoundPlugins(records);
  ASSERT_EQ(records.num(), 1);
  EXPECT_STREQ(records[0].fileName, "toneplugin.so");
  EXPECT_STREQ(records[0].extensions, ".tone,");

  char resolved[256];
  ASSERT_TRUE(resolveSoundFileName("sound/beep.wav", resolved, sizeof(resolved)));
  EXPECT_STREQ(resolved, "sound/beep.tone") << "a plug-in's extension resolves a name";
  std::unique_ptr<SoundStream> s(openSoundStream(resolved));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->getFormat().samplesPerSec, 11025u);
  EXPECT_EQ(s->getLength(), 1102 * 2);
  const std::vector<int16_t> got = samples16(readAll(s.get()));
  ASSERT_EQ(got.size(), 1102u);
  EXPECT_NEAR(got[25], 16000.0 * std::sin(2.0 * M_PI * 441 * 25 / 11025.0), 1.0);
  EXPECT_TRUE(s->rewind()) << "rewind reports success";
  EXPECT_EQ(samples16(readAll(s.get())), got);
  io.addBytes("sound/other.zzz", "x");
  EXPECT_EQ(openSoundStream("sound/other.zzz"), nullptr) << "no plug-in lists the extension";
  EXPECT_NE(
      cmd_.text.find("WARNING: sound/other.zzz: not a sound format the engine reads, and no sound plug-in "
                     "reads \".zzz\" files"),
      std::string::npos)
      << cmd_.text;
  io.addBytes("sound/broken.tone", "not a tone");
  EXPECT_EQ(openSoundStream("sound/broken.tone"), nullptr);
  EXPECT_NE(cmd_.text.find("WARNING: sound/broken.tone: no sound plug-in for \".tone\" files can read it"),
            std::string::npos)
      << cmd_.text;
  std::filesystem::remove_all(root);
}

TEST_F(SoundStreamTest, NamesResolveByExtensionOrder) {
  io_.addBytes("a.ogg", "x");
  io_.addBytes("a.mp3", "x");
  io_.addBytes("b.mp3", "x");
  char out[256];
  struct Case {
    const char* name;
    const char* expect;
  } cases[] = {{"a.wav", "a.ogg"}, {"a", "a.ogg"}, {"b.wav", "b.mp3"}, {"b.mp3", "b.mp3"}, {"c.wav", nullptr}};
  for (const Case& c : cases) {
    const bool found = resolveSoundFileName(c.name, out, sizeof(out));
    EXPECT_EQ(found, c.expect != nullptr) << c.name;
    if (found && c.expect) {
      EXPECT_STREQ(out, c.expect) << c.name;
    }
  }
}

}  // namespace
