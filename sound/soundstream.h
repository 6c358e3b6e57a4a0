// Sound-stream readers: each turns one file format (or a block of memory) into signed
// little-endian PCM. WAV (PCM), Ogg Vorbis (vorbisfile), MP3 (libmpg123), the audio of AVI/WMV
// files (libavformat/libavcodec) and ".so" plug-ins from "plugins".
#pragma once

#include <cstdint>
#include <vector>

#include "lib/list.h"
#include "lib/str.h"
#include "platform/audio.h"

using SoundFormat = AudioFormat;

struct SoundSource;

class SoundStream {
 public:
  virtual ~SoundStream() = default;

  // Bytes delivered, 0 at the end.
  virtual int read(void* buf, int bytes) = 0;
  // 0 on success, non-zero on failure; origin 0 start, 1 current, 2 end.
  virtual int seek(int64_t offset, int origin) = 0;
  virtual bool open(const char* name) = 0;
  // Takes ownership of data (a new[] block of uint8_t) and frees it on close, even on failure.
  virtual bool openMemory(uint8_t* data, int size) = 0;
  virtual bool close() = 0;
  // A new reader of the same kind on the same source (memory is copied), or null.
  virtual SoundStream* clone() = 0;
  // Position in PCM bytes.
  virtual int64_t tell() = 0;

  const SoundFormat& getFormat() const { return format_; }
  int64_t getLength() const { return dataLength_; }
  int64_t sourceSize() const { return sourceSize_; }
  int64_t dataStart() const { return dataStart_; }
  const char* getName() const { return name_.c_str(); }

  bool rewind() { return seek(dataStart_, 0) == 0; }
  // Reads until bytes arrived; at the end a looping read rewinds, a non-looping one fills the rest
  // with zeros. got (when given) receives the bytes that came from the stream.
  bool readFully(void* buf, int bytes, bool loop, int* got = nullptr);
  // Reads and discards bytes in pieces of at most 2048; true when every piece came whole.
  bool skip(int64_t bytes, bool loop);
  void reset();

 protected:
  // The body of every clone(): `copy` is a new reader of the same kind; it opens its own copy of
  // `memory` when the source is a block in memory, else the same file by name. Null (and `copy`
  // deleted) when that fails; `copy` unopened when nothing was open.
  SoundStream* cloneInto(SoundStream* copy, const SoundSource* memory) const;

  String name_;
  SoundFormat format_;
  int64_t sourceSize_ = 0;
  int64_t dataLength_ = 0;
  int64_t dataStart_ = 0;
};

// Where a reader's bytes come from: an engine file or a block of memory it owns.
struct SoundSource {
  uint64_t file = 0;  // IOFileHandle
  uint8_t* data = nullptr;
  int64_t position = 0;
  int64_t size = 0;

  bool isOpen() const { return file != 0 || data != nullptr; }
  bool openFile(const char* name);
  void openMemory(uint8_t* block, int bytes);
  int read(void* buf, int bytes);
  // 0 on success.
  int seek(int64_t offset, int origin);
  int64_t tell() const;
  void close();
};

class SoundWaveFile : public SoundStream {
 public:
  ~SoundWaveFile() override { close(); }
  int read(void* buf, int bytes) override;
  int seek(int64_t offset, int origin) override;
  bool open(const char* name) override;
  bool openMemory(uint8_t* data, int size) override;
  bool close() override;
  SoundStream* clone() override;
  int64_t tell() override;

 private:
  bool parseHeader();
  bool parseFormat(const uint8_t* fmt, uint32_t size, const char* what);
  int convert(uint8_t* out, int frames);
  SoundSource source_;
  int64_t dataEnd_ = 0;  // source offset past the last played byte of the "data" chunk
  // The file's own layout when it differs from what is delivered (more than two channels, more
  // than 16 bits, float): frames are converted to 16-bit PCM of one or two channels.
  bool converting_ = false;
  bool float_ = false;
  int sourceChannels_ = 0;
  int sourceBytes_ = 0;  // bytes per sample of one channel
  int sourceBlock_ = 0;
  uint32_t channelMask_ = 0;
};

class SoundOggFile : public SoundStream {
 public:
  SoundOggFile();
  ~SoundOggFile() override;
  int read(void* buf, int bytes) override;
  int seek(int64_t offset, int origin) override;
  bool open(const char* name) override;
  bool openMemory(uint8_t* data, int size) override;
  bool close() override;
  SoundStream* clone() override;
  int64_t tell() override;

 private:
  bool start(const char* what);
  SoundSource source_;
  void* decoder_;  // OggVorbis_File
  bool decoderOpen_ = false;
};

class SoundMp3File : public SoundStream {
 public:
  ~SoundMp3File() override { close(); }
  int read(void* buf, int bytes) override;
  int seek(int64_t offset, int origin) override;
  bool open(const char* name) override;
  bool openMemory(uint8_t* data, int size) override;
  bool close() override;
  SoundStream* clone() override;
  int64_t tell() override;

 private:
  bool start();
  bool reopen();
  SoundSource source_;
  void* handle_ = nullptr;  // mpg123_handle
  int64_t delivered_ = 0;
  int frameBytes_ = 0;
};

class SoundAVIFile : public SoundStream {
 public:
  ~SoundAVIFile() override { close(); }
  int read(void* buf, int bytes) override;
  int seek(int64_t offset, int origin) override;
  bool open(const char* name) override;
  bool openMemory(uint8_t* data, int size) override;
  bool close() override;
  SoundStream* clone() override;
  int64_t tell() override;

  struct Decoder;

 private:
  // Decoded audio up to this size is kept whole, and read and rewound without the decoder.
  static constexpr int64_t kCachedBytes = 1 << 20;
  bool start();
  bool decodeMore();
  SoundSource source_;
  Decoder* dec_ = nullptr;
  int64_t delivered_ = 0;
  std::vector<uint8_t> cached_;
};

// The plug-in interface of ours: a ".so" in "plugins" exports
//   const QuillSoundPlugin* quillSoundPlugin(void);
// whose record carries the version, the extension list ("ext\0description\0...\0\0") and the
// three extended-read entry points.
extern "C" {
struct QuillSoundPlugin {
  int version;  // kSoundPluginVersion
  const char* extensions;
  void* (*open)(const char* path, int* size, int* bits, int* channels, int* rate);
  int (*getData)(void* handle, char* dest, int bytes, int* killSwitch);
  void (*close)(void* handle);
};
}
constexpr int kSoundPluginVersion = 0x100;

struct SoundPluginRecord {
  char fileName[64];
  char extensions[128];  // ".ext,.ext2,"
};

class SoundPluginFile : public SoundStream {
 public:
  ~SoundPluginFile() override { close(); }
  int read(void* buf, int bytes) override;
  int seek(int64_t offset, int origin) override;
  bool open(const char* name) override;
  bool openMemory(uint8_t* data, int size) override;
  bool close() override;
  SoundStream* clone() override;
  int64_t tell() override;

 private:
  bool openWithPlugin(const char* name, const char* pluginName);
  String osName_;
  void* library_ = nullptr;
  void* handle_ = nullptr;
  const QuillSoundPlugin* plugin_ = nullptr;
  int64_t delivered_ = 0;
};

void scanSoundPlugins(List<SoundPluginRecord>& out);
SoundStream* openSoundStream(const char* name);
// The name itself when the file exists, else with ".wav", ".ogg", ".mp3", then each plug-in
// extension; false when none exists.
bool resolveSoundFileName(const char* name, char* out, int size);
int soundFileDuration(const char* name);
// Raw bytes of a file header made safe for a message: printable ASCII kept, others as "\xNN".
void soundEscapeBytes(const uint8_t* bytes, int count, char* out, int size);
// How files of more than two channels fold into stereo: the weight (0, 1 or 2) of channel in side
// 0 (left) or 1 (right) for a speaker mask; each side is the weighted mean, truncated.
int soundFoldWeight(uint32_t mask, int channel, int side);
// The speaker mask of a file that names none.
uint32_t soundDefaultChannelMask(int channels);
