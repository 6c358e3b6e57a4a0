// The stream base, its sources, the factory and name resolution, and the WAV reader.
#include "sound/soundstream.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "platform/module.h"

// ---- stream base ----

SoundStream* SoundStream::cloneInto(SoundStream* copy, const SoundSource* memory) const {
  bool ok = false;
  if (!(memory && memory->data) && !name_.length())
    return copy;  // nothing open: a new unopened reader
  if (memory && memory->data) {
    // openMemory owns the block, even when it fails.
    uint8_t* block = new uint8_t[size_t(memory->size) + 1];
    std::memcpy(block, memory->data, size_t(memory->size));
    ok = copy->openMemory(block, int(memory->size));
  } else if (name_.length()) {
    ok = copy->open(name_.c_str());
  }
  if (!ok) {
    delete copy;
    return nullptr;
  }
  return copy;
}

bool SoundStream::readFully(void* buf, int bytes, bool loop, int* gotOut) {
  if (gotOut)
    *gotOut = 0;
  if (sourceSize_ == 0 && dataLength_ == 0)
    return false;
  uint8_t* out = static_cast<uint8_t*>(buf);
  int got = 0;
  bool rewound = false;  // a rewind that yields nothing ends the read
  while (got < bytes) {
    const int n = read(out + got, bytes - got);
    if (n > 0) {
      got += n;
      rewound = false;
      continue;
    }
    if (!loop || rewound || seek(dataStart_, 0) != 0) {
      std::memset(out + got, 0, size_t(bytes - got));
      break;
    }
    rewound = true;
  }
  if (gotOut)
    *gotOut = got;
  return got == bytes;
}

bool SoundStream::skip(int64_t bytes, bool loop) {
  uint8_t scratch[2048];
  bool whole = true;
  while (bytes > 0) {
    const int piece = bytes > int64_t(sizeof(scratch)) ? int(sizeof(scratch)) : int(bytes);
    if (!readFully(scratch, piece, loop))
      whole = false;
    bytes -= piece;
    if (!whole)
      break;
  }
  return whole;
}

void SoundStream::reset() {
  name_.clear();
  format_ = SoundFormat();
  sourceSize_ = 0;
  dataLength_ = 0;
  dataStart_ = 0;
}

// ---- sources ----

bool SoundSource::openFile(const char* name) {
  close();
  if (!g_ioSystem)
    return false;
  IOFileHandle handle = 0;
  const int length = g_ioSystem->openFileRead(name, &handle, true);
  if (length < 0 || !handle)
    return false;
  file = handle;
  size = length;
  position = 0;
  return true;
}

void SoundSource::openMemory(uint8_t* block, int bytes) {
  close();
  data = block;
  size = bytes > 0 ? bytes : 0;
  position = 0;
}

int SoundSource::read(void* buf, int bytes) {
  if (bytes <= 0)
    return 0;
  if (file)
    return g_ioSystem ? g_ioSystem->read(buf, bytes, file) : 0;
  if (!data)
    return 0;
  const int64_t left = size - position;
  const int n = int(bytes < left ? bytes : left);
  if (n <= 0)
    return 0;
  std::memcpy(buf, data + position, size_t(n));
  position += n;
  return n;
}

int SoundSource::seek(int64_t offset, int origin) {
  if (file) {
    if (!g_ioSystem || offset > 0x7fffffff || offset < -0x7fffffffLL)
      return -1;
    // The file system answers 1 on success.
    return g_ioSystem->seek(file, int(offset), origin) == 1 ? 0 : -1;
  }
  if (!data)
    return -1;
  int64_t base = origin == 0 ? 0 : origin == 2 ? size : position;
  int64_t target = base + offset;
  if (target < 0)
    target = 0;
  if (target > size)
    target = size;
  position = target;
  return 0;
}

int64_t SoundSource::tell() const {
  if (file)
    return g_ioSystem ? g_ioSystem->tell(file) : 0;
  return data ? position : 0;
}

void SoundSource::close() {
  if (file && g_ioSystem)
    g_ioSystem->closeFile(file);
  file = 0;
  delete[] data;
  data = nullptr;
  position = 0;
  size = 0;
}

// ---- helpers ----

void soundEscapeBytes(const uint8_t* bytes, int count, char* out, int size) {
  if (size <= 0)
    return;
  int at = 0;
  for (int i = 0; i < count; ++i) {
    char piece[5];
    const uint8_t c = bytes[i];
    if (c >= 0x20 && c < 0x7f && c != '\\')
      piece[0] = char(c), piece[1] = 0;
    else
      std::snprintf(piece, sizeof(piece), "\\x%02x", c);
    const int n = int(std::strlen(piece));
    if (at + n >= size)
      break;
    std::memcpy(out + at, piece, size_t(n));
    at += n;
  }
  out[at] = 0;
}

namespace {

const char* extensionOf(const char* name) {
  const char* dot = std::strrchr(name, '.');
  const char* slash = std::strrchr(name, '/');
  if (!dot || (slash && dot < slash))
    return "";
  return dot;
}

bool fileExists(const char* name) {
  if (!g_ioSystem || !name || !*name)
    return false;
  return g_ioSystem->openFileRead(name, nullptr) > 0;
}

// name with its extension replaced (or added).
bool withExtension(const char* name, const char* ext, char* out, int size) {
  const char* dot = extensionOf(name);
  const int stem = *dot ? int(dot - name) : int(std::strlen(name));
  return std::snprintf(out, size_t(size), "%.*s%s", stem, name, ext) < size;
}

}  // namespace

namespace {

// What the first bytes of a file say it is: 'o' Ogg, 'w' RIFF WAVE, 0 unknown.
char sniffSoundFile(const char* name) {
  IOFileHandle file = 0;
  if (!g_ioSystem || g_ioSystem->openFileRead(name, &file, true) < 12 || !file) {
    if (file && g_ioSystem)
      g_ioSystem->closeFile(file);
    return 0;
  }
  uint8_t head[12] = {};
  const int got = g_ioSystem->read(head, sizeof(head), file);
  g_ioSystem->closeFile(file);
  if (got >= 4 && std::memcmp(head, "OggS", 4) == 0)
    return 'o';
  if (got == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0)
    return 'w';
  return 0;
}

}  // namespace

SoundStream* openSoundStream(const char* name) {
  if (!name || !*name)
    return nullptr;
  const char* ext = extensionOf(name);
  // Ogg and WAV files are told by their bytes whatever they are called (".oga" is Ogg Vorbis too).
  const char kind = sniffSoundFile(name);
  SoundStream* stream;
  if (kind == 'w')
    stream = new SoundWaveFile;
  else if (kind == 'o' || String::icmp(ext, ".ogg") == 0 || String::icmp(ext, ".oga") == 0)
    stream = new SoundOggFile;
  else if (String::icmp(ext, ".wav") == 0)
    stream = new SoundWaveFile;
  else if (String::icmp(ext, ".mp3") == 0)
    stream = new SoundMp3File;
  else if (String::icmp(ext, ".avi") == 0 || String::icmp(ext, ".wmv") == 0)
    stream = new SoundAVIFile;
  else
    stream = new SoundPluginFile;
  if (!stream->open(name)) {
    delete stream;
    return nullptr;
  }
  return stream;
}

bool resolveSoundFileName(const char* name, char* out, int size) {
  if (!name || !*name || size <= 0)
    return false;
  if (fileExists(name)) {
    std::snprintf(out, size_t(size), "%s", name);
    return std::strlen(name) < size_t(size);
  }
  char candidate[256];
  for (const char* ext : {".wav", ".ogg", ".mp3"}) {
    if (withExtension(name, ext, candidate, sizeof(candidate)) && fileExists(candidate)) {
      std::snprintf(out, size_t(size), "%s", candidate);
      return true;
    }
  }
  List<SoundPluginRecord> plugins(16);
  scanSoundPlugins(plugins);
  for (const SoundPluginRecord& record : plugins) {
    char list[sizeof(record.extensions)];
    std::memcpy(list, record.extensions, sizeof(list));
    for (char* token = std::strtok(list, ","); token; token = std::strtok(nullptr, ",")) {
      if (withExtension(name, token, candidate, sizeof(candidate)) && fileExists(candidate)) {
        std::snprintf(out, size_t(size), "%s", candidate);
        return true;
      }
    }
  }
  return false;
}

int soundFileDuration(const char* name) {
  SoundStream* stream = openSoundStream(name);
  if (!stream)
    return 0;
  const SoundFormat& f = stream->getFormat();
  const int64_t perSecond = int64_t(f.samplesPerSec) * f.channels * (f.bitsPerSample / 8);
  int64_t seconds = 0;
  if (perSecond > 0)
    seconds = (stream->getLength() + perSecond - 1) / perSecond;
  delete stream;
  return seconds > 0x7fffffff ? 0x7fffffff : int(seconds);
}

// ---- WAV ----

bool SoundWaveFile::open(const char* name) {
  close();
  if (!name || !*name)
    return false;
  name_ = name;
  if (!source_.openFile(name)) {
    close();
    return false;
  }
  sourceSize_ = source_.size;
  return parseHeader();
}

bool SoundWaveFile::openMemory(uint8_t* data, int size) {
  close();
  source_.openMemory(data, size);
  sourceSize_ = source_.size;
  return parseHeader();
}

namespace {
uint16_t u16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
uint32_t u32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

constexpr uint16_t kWavePcm = 1;
constexpr uint16_t kWaveFloat = 3;
constexpr uint16_t kWaveExtensible = 0xFFFE;
// The tail every WAVE_FORMAT_EXTENSIBLE sub-format GUID shares after its 2-byte format tag.
const uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Speaker positions of a channel mask: which side a channel is folded into.
constexpr uint32_t kLeftSpeakers = 0x1 | 0x10 | 0x40 | 0x200;   // front, back, front-centre, side left
constexpr uint32_t kRightSpeakers = 0x2 | 0x20 | 0x80 | 0x400;  // the same on the right
// The usual layouts when a file names none: mono, stereo, 2.1/3.0, quad, 5.0, 5.1, 6.1, 7.1.
const uint32_t kDefaultMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3f, 0x13f, 0x63f};

int64_t sampleValue(const uint8_t* p, int bytes, bool isFloat) {
  // To 16 bits as a converter from the wider formats does it: integers keep their top 16 bits,
  // floats are scaled by 32768, rounded and clipped.
  if (isFloat) {
    double v;
    if (bytes == 4) {
      float f;
      std::memcpy(&f, p, 4);
      v = double(std::nearbyint(f * 32768.0f));
    } else {
      std::memcpy(&v, p, 8);
      v = std::nearbyint(v * 32768.0);
    }
    if (!(v > -32768.0))  // NaN too
      return v != v ? 0 : -32768;
    return v > 32767.0 ? 32767 : int64_t(v);
  }
  switch (bytes) {
    case 1:
      return int64_t(int(p[0]) - 128) * 256;
    case 2:
      return int16_t(u16(p));
    case 3:
      return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 16;
    default:
      return int32_t(u32(p)) >> 16;
  }
}

}  // namespace

int soundFoldWeight(uint32_t mask, int channel, int side) {
  // The position of channel = its set bit of the mask, in order; extra channels count as centre.
  uint32_t position = 0;
  int seen = 0;
  for (int bit = 0; bit < 32; ++bit) {
    if (mask & (1u << bit)) {
      if (seen++ == channel) {
        position = 1u << bit;
        break;
      }
    }
  }
  const uint32_t near = side == 0 ? kLeftSpeakers : kRightSpeakers;
  const uint32_t far = side == 0 ? kRightSpeakers : kLeftSpeakers;
  return position & near ? 2 : position & far ? 0 : 1;
}

uint32_t soundDefaultChannelMask(int channels) {
  return channels >= 0 && channels <= 8 ? kDefaultMasks[channels] : 0;
}

bool SoundWaveFile::parseFormat(const uint8_t* fmt, uint32_t size, const char* what) {
  uint16_t tag = u16(fmt);
  const int channels = u16(fmt + 2);
  const uint32_t rate = u32(fmt + 4);
  const int block = u16(fmt + 12);
  int bits = u16(fmt + 14);
  channelMask_ = 0;
  const char* problem = nullptr;
  if (tag == kWaveExtensible) {
    if (size < 40 || u16(fmt + 16) < 22)
      problem = "WAVE_FORMAT_EXTENSIBLE header shorter than 40 bytes";
    else if (std::memcmp(fmt + 26, kSubFormatTail, sizeof(kSubFormatTail)) != 0)
      problem = "unknown WAVE_FORMAT_EXTENSIBLE sub-format";
    else
      tag = u16(fmt + 24), channelMask_ = u32(fmt + 20);
  }
  const int container = channels > 0 ? block / channels : 0;
  if (problem) {
  } else if (tag != kWavePcm && tag != kWaveFloat) {
    problem = "Invalid PCM Information...";
  } else if (channels == 0 || rate == 0 || block == 0) {
    problem = "zero channels, rate or block alignment";
  } else if (channels > 8) {
    problem = "more than 8 channels";
  } else if (block != channels * container || container * 8 < bits || bits <= container * 8 - 8) {
    problem = "block alignment does not match channels and bits";
  } else if (tag == kWavePcm ? container < 1 || container > 4 : container != 4 && container != 8) {
    problem = "Invalid Bits Per Sample...";
  } else if (rate < uint32_t(kAudioMinFrequency) || rate > uint32_t(kAudioMaxFrequency)) {
    problem = "sample rate out of range";
  }
  if (problem) {
    cmdPrintf("WARNING: WAV error: %s: %s\n", what, problem);
    return false;
  }
  float_ = tag == kWaveFloat;
  sourceChannels_ = channels;
  sourceBytes_ = container;
  sourceBlock_ = block;
  // 8- and 16-bit PCM of one or two channels is delivered as it is stored.
  converting_ = float_ || container > 2 || channels > 2;
  if (channelMask_ == 0 || __builtin_popcount(channelMask_) < channels)
    channelMask_ = soundDefaultChannelMask(channels);
  format_.formatTag = 1;
  format_.channels = uint16_t(channels > 2 ? 2 : channels);
  format_.samplesPerSec = rate;
  format_.bitsPerSample = uint16_t(converting_ ? 16 : container * 8);
  format_.blockAlign = uint16_t(format_.channels * format_.bitsPerSample / 8);
  format_.avgBytesPerSec = rate * format_.blockAlign;
  format_.extraSize = uint16_t(size);
  return true;
}

bool SoundWaveFile::parseHeader() {
  const char* what = name_.length() ? name_.c_str() : "memory chunk";
  uint8_t riff[12];
  const int got = source_.read(riff, 12);
  if (got != 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
    char text[64];
    soundEscapeBytes(riff, got > 0 ? got : 0, text, sizeof(text));
    cmdPrintf("WARNING: Invalid WAV Format: %s: header \"%s\"\n", what, text);
    close();
    return false;
  }
  // Walk the chunks by their sizes (odd sizes carry a pad byte), so a "data" inside a LIST or any
  // other chunk is never taken for the sound.
  bool haveFormat = false;
  int64_t dataAt = -1, dataBytes = 0;
  for (;;) {
    uint8_t header[8];
    if (source_.read(header, 8) != 8)
      break;
    const uint32_t size = u32(header + 4);
    const int64_t body = source_.tell();
    if (std::memcmp(header, "fmt ", 4) == 0 && !haveFormat) {
      uint8_t fmt[40] = {};
      const int want = size < sizeof(fmt) ? int(size) : int(sizeof(fmt));
      if (size < 16 || source_.read(fmt, want) != want) {
        cmdPrintf("WARNING: WAV error: %s: %s\n", what, "\"fmt \" chunk shorter than 16 bytes");
        close();
        return false;
      }
      if (!parseFormat(fmt, size, what)) {
        close();
        return false;
      }
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0 && dataAt < 0) {
      dataAt = body;
      // Writers that cannot seek back leave 0 or 0xFFFFFFFF: the data runs to the end.
      dataBytes = size == 0 || size == 0xFFFFFFFFu ? sourceSize_ - body : int64_t(size);
      if (haveFormat)
        break;
    }
    if (source_.seek(body + int64_t(size) + (size & 1), 0) != 0 || body + int64_t(size) >= sourceSize_)
      break;
  }
  if (!haveFormat || dataAt < 0) {
    cmdPrintf("WARNING: %s: no \"%s\" chunk\n", what, haveFormat ? "data" : "fmt ");
    close();
    return false;
  }
  if (source_.seek(dataAt, 0) != 0) {
    cmdPrintf("WARNING: %s: truncated \"data\" chunk\n", what);
    close();
    return false;
  }
  dataStart_ = dataAt;
  int64_t bytes = dataBytes;
  const int64_t left = sourceSize_ - dataStart_;
  if (bytes > left) {
    cmdPrintf("WARNING: %s: the \"data\" chunk is cut short (%lld of %lld bytes); playing what is there\n", what,
              (long long)(left > 0 ? left : 0), (long long)bytes);
    bytes = left > 0 ? left : 0;
  }
  // The last 100 bytes of every file are never played, by a whole read or a streamed one: a loop
  // goes from the last played byte straight back to the start.
  int64_t length = bytes - 100;
  if (length < 0)
    length = 0;
  const int64_t frames = length / sourceBlock_;
  dataLength_ = frames * format_.blockAlign;
  dataEnd_ = dataStart_ + frames * sourceBlock_;
  return true;
}

int SoundWaveFile::convert(uint8_t* out, int frames) {
  uint8_t in[8 * 8 * 64];
  const int chunk = int(sizeof(in)) / sourceBlock_;
  int done = 0;
  while (done < frames) {
    const int want = frames - done < chunk ? frames - done : chunk;
    const int got = source_.read(in, want * sourceBlock_) / sourceBlock_;
    if (got <= 0)
      break;
    for (int i = 0; i < got; ++i) {
      const uint8_t* frame = in + i * sourceBlock_;
      int16_t result[2];
      if (sourceChannels_ <= 2) {
        for (int c = 0; c < sourceChannels_; ++c)
          result[c] = int16_t(sampleValue(frame + c * sourceBytes_, sourceBytes_, float_));
      } else {
        // More channels than a voice plays: each side is the weighted mean of the channels of that
        // side (weight 2), the centre and the rest (weight 1).
        for (int side = 0; side < 2; ++side) {
          int64_t sum = 0, weights = 0;
          for (int c = 0; c < sourceChannels_; ++c) {
            const int w = soundFoldWeight(channelMask_, c, side);
            sum += w * sampleValue(frame + c * sourceBytes_, sourceBytes_, float_);
            weights += w;
          }
          result[side] = int16_t(weights ? sum / weights : 0);
        }
      }
      std::memcpy(out + (done + i) * format_.blockAlign, result, format_.blockAlign);
    }
    done += got;
    if (got < want)
      break;
  }
  return done;
}

int SoundWaveFile::read(void* buf, int bytes) {
  if (!source_.isOpen() || bytes <= 0)
    return 0;
  const int64_t left = dataEnd_ - source_.tell();
  if (left <= 0)
    return 0;
  if (!converting_)
    return source_.read(buf, int(bytes < left ? bytes : left));
  int64_t frames = bytes / format_.blockAlign;
  if (frames > left / sourceBlock_)
    frames = left / sourceBlock_;
  return convert(static_cast<uint8_t*>(buf), int(frames)) * format_.blockAlign;
}

int SoundWaveFile::seek(int64_t offset, int origin) {
  return source_.isOpen() ? source_.seek(offset, origin) : -1;
}

int64_t SoundWaveFile::tell() {
  return source_.isOpen() ? source_.tell() : 0;
}

bool SoundWaveFile::close() {
  source_.close();
  dataEnd_ = 0;
  converting_ = float_ = false;
  sourceChannels_ = sourceBytes_ = sourceBlock_ = 0;
  channelMask_ = 0;
  reset();
  return true;
}

SoundStream* SoundWaveFile::clone() {
  return cloneInto(new SoundWaveFile, &source_);
}

// ---- plug-ins ----

namespace {

const char* pluginOSPath(const char* fileName) {
  if (!g_ioSystem)
    return nullptr;
  const char* base = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  char relative[128];
  std::snprintf(relative, sizeof(relative), "plugins/%s", fileName);
  return g_ioSystem->buildOSPath(base, nullptr, relative);
}

const QuillSoundPlugin* pluginRecord(void* library) {
  using Entry = const QuillSoundPlugin* (*)();
  Entry entry = reinterpret_cast<Entry>(platformModuleSymbol(library, "quillSoundPlugin"));
  const QuillSoundPlugin* record = entry ? entry() : nullptr;
  if (!record || record->version != kSoundPluginVersion || !record->extensions || !record->open ||
      !record->getData || !record->close)
    return nullptr;
  return record;
}

}  // namespace

void scanSoundPlugins(List<SoundPluginRecord>& out) {
  if (!g_ioSystem)
    return;
  static char names[8192];
  const int count = g_ioSystem->getFileList("plugins", ".so", names, sizeof(names), false);
  const char* name = names;
  for (int i = 0; i < count; ++i, name += std::strlen(name) + 1) {
    if (std::strlen(name) >= sizeof(SoundPluginRecord::fileName))
      continue;
    const char* path = pluginOSPath(name);
    void* library = path ? platformModuleLoad(path) : nullptr;
    if (!library)
      continue;
    if (const QuillSoundPlugin* plugin = pluginRecord(library)) {
      SoundPluginRecord record{};
      std::memcpy(record.fileName, name, std::strlen(name) + 1);
      int used = 0;
      // Pairs of extension and description, ended by an empty string.
      for (const char* ext = plugin->extensions; *ext;) {
        const char* description = ext + std::strlen(ext) + 1;
        const int n = int(std::strlen(ext)) + 2;
        if (used + n < int(sizeof(record.extensions))) {
          std::snprintf(record.extensions + used, sizeof(record.extensions) - size_t(used), ".%s,", ext);
          used += n;
        }
        if (!*description)
          break;
        ext = description + std::strlen(description) + 1;
      }
      out.append(record);
    }
    platformModuleFree(library);
  }
}

bool SoundPluginFile::open(const char* name) {
  close();
  if (!name || !*name || !fileExists(name))
    return false;
  char key[64];
  std::snprintf(key, sizeof(key), "%s,", extensionOf(name));
  if (key[0] != '.')
    return false;
  List<SoundPluginRecord> plugins(16);
  scanSoundPlugins(plugins);
  int tried = 0;
  for (const SoundPluginRecord& record : plugins) {
    const char* list = record.extensions;
    for (const char* at = list; (at = std::strstr(at, key)) != nullptr; ++at) {
      if (at != list && at[-1] != ',')
        continue;
      if (openWithPlugin(name, record.fileName))
        return true;
      ++tried;
      break;
    }
  }
  key[std::strlen(key) - 1] = 0;
  if (tried)
    cmdPrintf("WARNING: %s: no sound plug-in for \"%s\" files can read it\n", name, key);
  else
    cmdPrintf("WARNING: %s: not a sound format the engine reads, and no sound plug-in reads \"%s\" files\n", name,
              key);
  return false;
}

bool SoundPluginFile::openWithPlugin(const char* name, const char* pluginName) {
  close();
  const char* path = pluginOSPath(pluginName);
  library_ = path ? platformModuleLoad(path) : nullptr;
  plugin_ = library_ ? pluginRecord(library_) : nullptr;
  const char* base = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  const char* fileOS = g_ioSystem ? g_ioSystem->buildOSPath(base, nullptr, name) : nullptr;
  if (!plugin_ || !fileOS) {
    close();
    return false;
  }
  osName_ = fileOS;
  int size = 0, bits = 0, channels = 0, rate = 0;
  handle_ = plugin_->open(osName_.c_str(), &size, &bits, &channels, &rate);
  if (!handle_ || (bits != 8 && bits != 16) || channels < 1 || channels > 2 || rate < kAudioMinFrequency ||
      rate > kAudioMaxFrequency) {
    close();
    return false;
  }
  name_ = name;
  sourceSize_ = size;
  format_.formatTag = 1;
  format_.channels = uint16_t(channels);
  format_.samplesPerSec = uint32_t(rate);
  format_.bitsPerSample = uint16_t(bits);
  format_.blockAlign = uint16_t(channels * (bits / 8));
  format_.avgBytesPerSec = uint32_t(rate) * format_.blockAlign;
  // The length is what reading to the end yields.
  char scratch[1024];
  int64_t total = 0;
  int killSwitch = 0;
  for (;;) {
    const int n = plugin_->getData(handle_, scratch, sizeof(scratch), &killSwitch);
    if (n <= 0)
      break;
    total += n;
  }
  dataLength_ = total - total % format_.blockAlign;
  if (seek(0, 0) != 0) {
    close();
    return false;
  }
  return true;
}

int SoundPluginFile::read(void* buf, int bytes) {
  if (!handle_ || bytes <= 0)
    return 0;
  int killSwitch = 0;
  int n = plugin_->getData(handle_, static_cast<char*>(buf), bytes, &killSwitch);
  if (n < 0)
    n = 0;
  if (n > bytes)
    n = bytes;
  delivered_ += n;
  return n;
}

int SoundPluginFile::seek(int64_t offset, int origin) {
  if (!handle_ || offset != 0)
    return -1;
  if (origin == 0) {
    plugin_->close(handle_);
    int size = 0, bits = 0, channels = 0, rate = 0;
    handle_ = plugin_->open(osName_.c_str(), &size, &bits, &channels, &rate);
    delivered_ = 0;
    return handle_ ? 0 : -1;
  }
  if (origin == 2) {
    char scratch[1024];
    while (read(scratch, sizeof(scratch)) > 0) {
    }
    return 0;
  }
  return -1;
}

int64_t SoundPluginFile::tell() {
  return delivered_;
}

bool SoundPluginFile::openMemory(uint8_t* data, int) {
  delete[] data;
  close();
  return false;
}

bool SoundPluginFile::close() {
  if (handle_ && plugin_)
    plugin_->close(handle_);
  handle_ = nullptr;
  plugin_ = nullptr;
  if (library_)
    platformModuleFree(library_);
  library_ = nullptr;
  delivered_ = 0;
  osName_.clear();
  reset();
  return true;
}

SoundStream* SoundPluginFile::clone() {
  return cloneInto(new SoundPluginFile, nullptr);
}
