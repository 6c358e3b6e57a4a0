// The readers over codec libraries: Ogg Vorbis (vorbisfile), MP3 (libmpg123) and the audio of
// AVI/WMV files (libavformat/libavcodec, resampled to 16-bit PCM by libswresample).
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "sound/soundstream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <mpg123.h>
}

// ---- source callbacks shared by the codec libraries ----

namespace {

size_t sourceRead(void* buf, size_t size, size_t count, void* source) {
  const size_t want = size * count;
  if (size == 0 || want > 0x7fffffff)
    return 0;
  return size_t(static_cast<SoundSource*>(source)->read(buf, int(want))) / size;
}

int sourceSeek(void* source, ogg_int64_t offset, int origin) {
  return static_cast<SoundSource*>(source)->seek(offset, origin);
}

int sourceClose(void*) {
  return 0;  // the reader closes its source itself
}

long sourceTell(void* source) {
  return long(static_cast<SoundSource*>(source)->tell());
}

const ov_callbacks kOggCallbacks = {sourceRead, sourceSeek, sourceClose, sourceTell};

// The codec of an Ogg file that vorbisfile refused, from its first packet; null when the bytes
// are not Ogg at all.
const char* oggCodecOf(SoundSource& source) {
  uint8_t page[27 + 255 + 8] = {};
  if (source.seek(0, 0) != 0)
    return nullptr;
  const int got = source.read(page, sizeof(page));
  if (got < 27 || std::memcmp(page, "OggS", 4) != 0)
    return nullptr;
  const int packet = 27 + page[26];
  if (got < packet + 8)
    return "unknown codec";
  const uint8_t* p = page + packet;
  if (std::memcmp(p, "OpusHead", 8) == 0)
    return "Opus";
  if (std::memcmp(p, "\177FLAC", 5) == 0 || std::memcmp(p, "fLaC", 4) == 0)
    return "FLAC";
  if (std::memcmp(p, "Speex   ", 8) == 0)
    return "Speex";
  if (std::memcmp(p, "\200theora", 7) == 0)
    return "Theora";
  if (std::memcmp(p, "\x01vorbis", 7) == 0)
    return "Vorbis";
  return "unknown codec";
}

}  // namespace

// ---- Ogg Vorbis ----

SoundOggFile::SoundOggFile() : decoder_(new OggVorbis_File) {
  std::memset(decoder_, 0, sizeof(OggVorbis_File));
}

SoundOggFile::~SoundOggFile() {
  close();
  delete static_cast<OggVorbis_File*>(decoder_);
}

bool SoundOggFile::open(const char* name) {
  close();
  if (!name || !*name)
    return false;
  if (!source_.openFile(name)) {
    close();
    return false;
  }
  name_ = name;
  return start(name);
}

bool SoundOggFile::openMemory(uint8_t* data, int size) {
  close();
  source_.openMemory(data, size);
  return start("memory chunk");
}

bool SoundOggFile::start(const char* what) {
  sourceSize_ = source_.size;
  OggVorbis_File* vf = static_cast<OggVorbis_File*>(decoder_);
  if (ov_open_callbacks(&source_, vf, nullptr, 0, kOggCallbacks) < 0) {
    const char* codec = oggCodecOf(source_);
    if (codec && std::strcmp(codec, "Vorbis") == 0)
      cmdPrintf("WARNING: Input(%s) is Ogg Vorbis with damaged headers.\n", what);
    else if (codec)
      cmdPrintf("WARNING: Input(%s) is Ogg, not Vorbis (%s).\n", what, codec);
    else
      cmdPrintf("WARNING: Input(%s) does not appear to be an Ogg bitstream.\n", what);
    close();
    return false;
  }
  decoderOpen_ = true;
  vorbis_info* info = ov_info(vf, -1);
  if (!info || info->channels < 1 || info->channels > 2 || info->rate < kAudioMinFrequency ||
      info->rate > kAudioMaxFrequency) {
    cmdPrintf("WARNING: %s: unsupported Ogg Vorbis channels or rate\n", what);
    close();
    return false;
  }
  // A chained file plays its links one after another in one format: links that differ would be
  // read at the first one's channels and rate, so such a file is refused.
  for (long link = 1; link < ov_streams(vf); ++link) {
    const vorbis_info* other = ov_info(vf, int(link));
    if (!other || other->channels != info->channels || other->rate != info->rate) {
      cmdPrintf(
          "WARNING: %s: chained Ogg links of different channels or rates (link %ld: %d channels, %ld Hz; "
          "link 0: %d channels, %ld Hz)\n",
          what, link, other ? other->channels : 0, other ? other->rate : 0L, info->channels, info->rate);
      close();
      return false;
    }
  }
  format_.formatTag = 1;
  format_.channels = uint16_t(info->channels);
  format_.samplesPerSec = uint32_t(info->rate);
  format_.bitsPerSample = 16;
  format_.blockAlign = uint16_t(info->channels * 2);
  format_.avgBytesPerSec = uint32_t(info->rate) * format_.blockAlign;
  format_.extraSize = 0;
  int64_t total = ov_pcm_total(vf, -1);
  if (total < 0)
    total = 0;
  long long cueStart = -1, cueLength = 0;
  if (vorbis_comment* comment = ov_comment(vf, -1)) {
    for (int i = 0; i < comment->comments; ++i) {
      const char* text = comment->user_comments[i];
      if (text && comment->comment_lengths[i] >= 9 && std::strncmp(text, "CUEPOINT=", 9) == 0) {
        long long s = -1, l = 0;
        if (std::sscanf(text + 9, "%lld %lld", &s, &l) >= 1)
          cueStart = s, cueLength = l;
      }
    }
  }
  int64_t end = cueStart == -1 ? total : int64_t(cueStart + cueLength);
  if (end < 0 || end > total)
    end = total;
  dataStart_ = cueStart >= 1 && cueStart < total ? cueStart : 0;
  dataLength_ = end * format_.channels * 2;
  return true;
}

int SoundOggFile::read(void* buf, int bytes) {
  if (!decoderOpen_)
    return 0;
  bytes &= ~1;
  char* out = static_cast<char*>(buf);
  int got = 0;
  while (got < bytes) {
    int section = 0;
    const long n = ov_read(static_cast<OggVorbis_File*>(decoder_), out + got, bytes - got, 0, 2, 1, &section);
    if (n < 0) {
      cmdPrintf("vorbis error %ld\n", -n);
      break;
    }
    if (n == 0)
      break;
    got += int(n);
  }
  return got;
}

int SoundOggFile::seek(int64_t offset, int origin) {
  if (!decoderOpen_ || origin != 0)
    return -1;
  return ov_pcm_seek(static_cast<OggVorbis_File*>(decoder_), offset) == 0 ? 0 : -1;
}

int64_t SoundOggFile::tell() {
  if (!decoderOpen_)
    return 0;
  return ov_pcm_tell(static_cast<OggVorbis_File*>(decoder_)) * format_.channels * (format_.bitsPerSample / 8);
}

bool SoundOggFile::close() {
  if (decoderOpen_)
    ov_clear(static_cast<OggVorbis_File*>(decoder_));
  decoderOpen_ = false;
  std::memset(decoder_, 0, sizeof(OggVorbis_File));
  source_.close();
  reset();
  return true;
}

SoundStream* SoundOggFile::clone() {
  return cloneInto(new SoundOggFile, &source_);
}

// ---- MP3 ----

namespace {

// Layer III bitrates (kbit/s) by MPEG-1 / MPEG-2 and 2.5, and sample rates by version.
const int kBitratesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const int kBitratesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
const int kRatesV1[4] = {44100, 48000, 32000, 0};
const int kRatesV2[4] = {22050, 24000, 16000, 0};

// The largest bitrate and rate of up to 64 Layer III frame headers in the file's bytes.
bool scanMp3Header(SoundSource& source, int* bitrate, int* rate) {
  *bitrate = *rate = 0;
  uint8_t window[4096 + 3];
  int carried = 0, found = 0;
  for (;;) {
    const int n = source.read(window + carried, 4096);
    if (n <= 0)
      break;
    const int avail = carried + n;
    int i = 0;
    for (; i + 3 < avail && found < 64; ++i) {
      const uint8_t* h = window + i;
      if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || (h[1] & 0x18) == 0x08 || (h[1] & 0x06) != 0x02)
        continue;
      const bool v1 = (h[1] & 0x18) == 0x18;
      const int b = (v1 ? kBitratesV1 : kBitratesV2)[h[2] >> 4];
      const int r = (v1 ? kRatesV1 : kRatesV2)[(h[2] >> 2) & 3];
      if (b == 0 || r == 0)
        continue;
      ++found;
      if (b > *bitrate)
        *bitrate = b;
      if (r > *rate)
        *rate = r;
    }
    if (found >= 64)
      break;
    carried = avail - i;
    std::memmove(window, window + i, size_t(carried));
  }
  if (*rate > 44100)
    *rate = 44100;
  return found > 0;
}

// Whether a frame has another sample rate than the output's, walking frame to frame by the
// lengths their headers give (after an ID3v2 tag); bytes between frames are skipped one at a time.
// Frames of every layer count, since the library decodes them all, and it may have settled on a
// later frame's rate than the first one's.
bool mp3RateChanges(SoundSource& source, long outputRate) {
  static const int kRatesV25[4] = {11025, 12000, 8000, 0};
  static const int kLayer1V1[16] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
  static const int kLayer1V2[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0};
  static const int kLayer2V1[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
  uint8_t h[10];
  int64_t at = 0;
  if (source.seek(0, 0) != 0)
    return false;
  if (source.read(h, 10) == 10 && std::memcmp(h, "ID3", 3) == 0)
    at = 10 + ((h[6] & 0x7f) << 21 | (h[7] & 0x7f) << 14 | (h[8] & 0x7f) << 7 | (h[9] & 0x7f)) +
         (h[5] & 0x10 ? 10 : 0);
  int misses = 0;
  while (misses < 65536 && at < source.size && source.seek(at, 0) == 0 && source.read(h, 4) == 4) {
    const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = 4 - ((h[1] >> 1) & 3);
    const bool sync = h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && version != 1 && layer != 4;
    const int* bitrates = layer == 1   ? (version == 3 ? kLayer1V1 : kLayer1V2)
                          : layer == 2 ? (version == 3 ? kLayer2V1 : kBitratesV2)
                                       : (version == 3 ? kBitratesV1 : kBitratesV2);
    const int b = sync ? bitrates[h[2] >> 4] : 0;
    const int r = sync ? (version == 3 ? kRatesV1 : version == 2 ? kRatesV2 : kRatesV25)[(h[2] >> 2) & 3] : 0;
    if (b == 0 || r == 0) {
      ++at, ++misses;
      continue;
    }
    misses = 0;
    if (r != outputRate)
      return true;
    const int pad = (h[2] >> 1) & 1;
    at +=
        layer == 1 ? (12000 * b / r + pad) * 4 : (layer == 3 && version != 3 ? 72000 : 144000) * b / r + pad;
  }
  return false;
}

ssize_t mpgRead(void* source, void* buf, size_t bytes) {
  return static_cast<SoundSource*>(source)->read(buf, int(bytes > 0x7fffffff ? 0x7fffffff : bytes));
}

off_t mpgSeek(void* source, off_t offset, int origin) {
  SoundSource* s = static_cast<SoundSource*>(source);
  if (s->seek(offset, origin) != 0)
    return -1;
  return off_t(s->tell());
}

bool mpgLibraryReady() {
  static const bool ready = mpg123_init() == MPG123_OK;
  return ready;
}

}  // namespace

bool SoundMp3File::open(const char* name) {
  close();
  if (!name || !*name)
    return false;
  name_ = name;
  if (!source_.openFile(name)) {
    close();
    return false;
  }
  return start();
}

bool SoundMp3File::openMemory(uint8_t* data, int) {
  delete[] data;
  close();
  return false;
}

bool SoundMp3File::start() {
  sourceSize_ = source_.size;
  int bitrate = 0, scanRate = 0;
  const bool scanned = scanMp3Header(source_, &bitrate, &scanRate);
  if (!scanned) {
    cmdPrintf("WARNING: %s: no MP3 frame header found\n", name_.c_str());
    close();
    return false;
  }
  int err = 0;
  mpg123_handle* h = mpgLibraryReady() && source_.seek(0, 0) == 0 ? mpg123_new(nullptr, &err) : nullptr;
  if (!h) {
    cmdPrintf("WARNING: %s: no MP3 decoder can be started\n", name_.c_str());
    close();
    return false;
  }
  handle_ = h;
  // Added to the library's defaults, which keep gapless decoding (encoder delay and padding cut).
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0);
  mpg123_format_none(h);
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i)
    mpg123_format(h, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_replace_reader_handle(h, mpgRead, mpgSeek, nullptr) != MPG123_OK ||
      mpg123_open_handle(h, &source_) != MPG123_OK || mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK ||
      channels != 2 || encoding != MPG123_ENC_SIGNED_16 || rate < kAudioMinFrequency || rate > kAudioMaxFrequency) {
    cmdPrintf("WARNING: %s: the MP3 stream cannot be decoded\n", name_.c_str());
    close();
    return false;
  }
  // An Info/Xing header may claim any frame count, and the library's resampling walks that many
  // frames as it sets up: billions from a damaged header keep one call busy for minutes. A frame
  // takes more than a byte, so a count beyond the file's size is false; that header is ignored
  // (the scan below counts the frames themselves).
  if (mpg123_framelength(h) > off_t(sourceSize_))
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0);
  // The whole file plays at its first frame's rate: frames of another rate later on are resampled
  // to it by the library rather than played too fast or too slow.
  mpg123_close(h);
  mpg123_format_none(h);
  mpg123_format(h, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (source_.seek(0, 0) != 0 || mpg123_open_handle(h, &source_) != MPG123_OK ||
      mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || channels != 2) {
    cmdPrintf("WARNING: %s: the MP3 stream cannot be decoded\n", name_.c_str());
    close();
    return false;
  }
  frameBytes_ = 4;
  format_.formatTag = 1;
  format_.channels = 2;
  format_.samplesPerSec = uint32_t(rate);
  format_.bitsPerSample = 16;
  format_.blockAlign = 4;
  format_.avgBytesPerSec = uint32_t(rate) * 4;
  // The library's exact length after a scan of every frame; the header estimate (whole seconds
  // plus one) only when it knows none.
  // It counts native samples, so a file whose rate changes is decoded once to count what it gives.
  bool rateChanges = mp3RateChanges(source_, rate);
  if (!reopen()) {
    close();
    return false;
  }
  // The library's own walk over the frame headers sees the frames it decodes, of whatever layer
  // and after whatever it resynchronised over.
  for (int e; !rateChanges && ((e = mpg123_framebyframe_next(h)) == MPG123_OK || e == MPG123_NEW_FORMAT);) {
    mpg123_frameinfo info;
    rateChanges = mpg123_info(h, &info) == MPG123_OK && info.rate != rate;
  }
  if (!reopen()) {
    close();
    return false;
  }
  const off_t exactFrames = mpg123_length(h);
  if (rateChanges) {
    int64_t total = 0;
    uint8_t scratch[8192];
    for (int n; (n = read(scratch, sizeof(scratch))) > 0;)
      total += n;
    dataLength_ = total;
    if (seek(0, 0) != 0) {
      close();
      return false;
    }
  } else if (exactFrames > 0) {
    dataLength_ = int64_t(exactFrames) * 4;
  } else {
    dataLength_ = (int64_t(sourceSize_) * 8 / (int64_t(bitrate) * 1000) + 1) * scanRate * 4;
  }
  return true;
}

bool SoundMp3File::reopen() {
  mpg123_handle* h = static_cast<mpg123_handle*>(handle_);
  mpg123_close(h);
  if (source_.seek(0, 0) != 0 || mpg123_open_handle(h, &source_) != MPG123_OK)
    return false;
  // Every opening scans the frames: without the scan the library ends the track where an
  // Info/Xing header says, which can differ from the frames the length was counted from, and a
  // rewound stream would then stop early (a looping read rewinding after every few bytes).
  mpg123_scan(h);
  return true;
}

int SoundMp3File::read(void* buf, int bytes) {
  if (!handle_ || bytes <= 0)
    return 0;
  mpg123_handle* h = static_cast<mpg123_handle*>(handle_);
  size_t done = 0;
  // A format notice (after opening or a seek) comes with no bytes: the format is the one forced
  // at open, so reading simply goes on.
  for (int notices = 0; notices < 8; ++notices) {
    const int err = mpg123_read(h, static_cast<unsigned char*>(buf), size_t(bytes), &done);
    if (done > 0 || err != MPG123_NEW_FORMAT)
      break;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK ||
        rate != long(format_.samplesPerSec) || channels != 2 || encoding != MPG123_ENC_SIGNED_16)
      return 0;
  }
  delivered_ += int64_t(done);
  return int(done);
}

int SoundMp3File::seek(int64_t offset, int origin) {
  if (!handle_ || origin != 0 || offset < 0)
    return -1;
  // Seeking flushes the decoder, so no frame of the old position leaks into the new one.
  const off_t frame = off_t(offset / frameBytes_);
  mpg123_handle* h = static_cast<mpg123_handle*>(handle_);
  if (frame == 0) {
    // To the start by opening again: a seek keeps the synthesis state of the frames last
    // decoded, which would leak into the first frames of a loop.
    if (!reopen())
      return -1;
  } else if (mpg123_seek(h, frame, SEEK_SET) < 0) {
    return -1;
  }
  delivered_ = int64_t(frame) * frameBytes_;
  return 0;
}

int64_t SoundMp3File::tell() {
  return delivered_;
}

bool SoundMp3File::close() {
  if (handle_) {
    mpg123_close(static_cast<mpg123_handle*>(handle_));
    mpg123_delete(static_cast<mpg123_handle*>(handle_));
  }
  handle_ = nullptr;
  source_.close();
  delivered_ = 0;
  frameBytes_ = 0;
  reset();
  return true;
}

SoundStream* SoundMp3File::clone() {
  return cloneInto(new SoundMp3File, nullptr);
}

// ---- AVI / WMV audio ----

struct SoundAVIFile::Decoder {
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  bool drained = false;
  // The decoded layout the resampler was set up for; frames of another one end the stream.
  int inRate = 0;
  int inFormat = -1;
  int inChannels = 0;
  // Converted PCM waiting to be read.
  uint8_t* pending = nullptr;
  int pendingBytes = 0;
  int pendingAt = 0;
  int pendingCapacity = 0;
};

namespace {

int avRead(void* opaque, uint8_t* buf, int bytes) {
  const int n = static_cast<SoundSource*>(opaque)->read(buf, bytes);
  return n > 0 ? n : AVERROR_EOF;
}

int64_t avSeek(void* opaque, int64_t offset, int whence) {
  SoundSource* s = static_cast<SoundSource*>(opaque);
  if (whence & AVSEEK_SIZE)
    return s->size;
  if (s->seek(offset, whence & 3) != 0)
    return -1;
  return s->tell();
}

void freeDecoder(SoundAVIFile::Decoder* d) {
  if (!d)
    return;
  av_frame_free(&d->frame);
  av_packet_free(&d->packet);
  swr_free(&d->resampler);
  avcodec_free_context(&d->codec);
  avformat_close_input(&d->format);
  if (d->io) {
    av_freep(&d->io->buffer);
    avio_context_free(&d->io);
  }
  delete[] d->pending;
  delete d;
}

}  // namespace

bool SoundAVIFile::open(const char* name) {
  close();
  if (!name || !*name)
    return false;
  name_ = name;
  if (!source_.openFile(name)) {
    close();
    return false;
  }
  sourceSize_ = source_.size;
  if (!start()) {
    cmdPrintf("WARNING: %s: no decodable audio stream\n", name);
    close();
    return false;
  }
  // The length is what decodes: a container's stated duration can exceed its packets by
  // thousands of frames, and a damaged file may deliver nothing at all.
  // Short audio is kept as it decodes: a rewind restarts the demuxer, whose header parsing alone
  // can take thousands of reads of a damaged file, and a looping read of a stream of a few
  // frames would rewind after every few bytes.
  int64_t total = 0;
  uint8_t scratch[4096];
  std::vector<uint8_t> pcm;
  for (int n; (n = read(scratch, sizeof(scratch))) > 0;) {
    if (total + n <= kCachedBytes)
      pcm.insert(pcm.end(), scratch, scratch + n);
    else
      std::vector<uint8_t>().swap(pcm);
    total += n;
  }
  if (total <= 0) {
    cmdPrintf("WARNING: %s: no decodable audio in the stream\n", name);
    close();
    return false;
  }
  dataLength_ = total;
  if (int64_t(pcm.size()) == total) {
    freeDecoder(dec_);
    dec_ = nullptr;
    cached_.swap(pcm);
    delivered_ = 0;
    return true;
  }
  return seek(0, 0) == 0;
}

bool SoundAVIFile::start() {
  freeDecoder(dec_);
  dec_ = new Decoder;
  Decoder& d = *dec_;
  if (source_.seek(0, 0) != 0)
    return false;
  uint8_t* ioBuffer = static_cast<uint8_t*>(av_malloc(4096));
  if (!ioBuffer)
    return false;
  d.io = avio_alloc_context(ioBuffer, 4096, 0, &source_, avRead, nullptr, avSeek);
  if (!d.io) {
    av_free(ioBuffer);
    return false;
  }
  d.format = avformat_alloc_context();
  if (!d.format)
    return false;
  d.format->pb = d.io;
  d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  av_log_set_level(AV_LOG_QUIET);
  // Header fields of a hostile file must not size gigabyte tables: no single allocation of the
  // decoding libraries exceeds 16 MB (only this reader uses them).
  av_max_alloc(16 << 20);
  // Only the container the name says: untrusted bytes never reach libavformat's other demuxers.
  const char* dot = std::strrchr(name_.c_str(), '.');
  const bool wmv = dot && (dot[1] == 'w' || dot[1] == 'W');
  const AVInputFormat* container = av_find_input_format(wmv ? "asf" : "avi");
  if (!container)
    return false;
  d.format->probesize = 1 << 16;
  if (avformat_open_input(&d.format, nullptr, container, nullptr) < 0)
    return false;  // the context is freed by the failed open
  if (avformat_find_stream_info(d.format, nullptr) < 0)
    return false;
  const AVCodec* codec = nullptr;
  d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (d.stream < 0 || !codec)
    return false;
  d.codec = avcodec_alloc_context3(codec);
  if (!d.codec || avcodec_parameters_to_context(d.codec, d.format->streams[d.stream]->codecpar) < 0 ||
      avcodec_open2(d.codec, codec, nullptr) < 0)
    return false;
  const int inChannels = d.codec->ch_layout.nb_channels;
  const int rate = d.codec->sample_rate;
  if (inChannels < 1 || rate < kAudioMinFrequency || rate > kAudioMaxFrequency)
    return false;
  const int outChannels = inChannels >= 2 ? 2 : 1;
  AVChannelLayout outLayout;
  av_channel_layout_default(&outLayout, outChannels);
  if (swr_alloc_set_opts2(&d.resampler, &outLayout, AV_SAMPLE_FMT_S16, rate, &d.codec->ch_layout,
                          d.codec->sample_fmt, rate, 0, nullptr) < 0 ||
      swr_init(d.resampler) < 0)
    return false;
  d.inRate = rate;
  d.inFormat = d.codec->sample_fmt;
  d.inChannels = inChannels;
  d.packet = av_packet_alloc();
  d.frame = av_frame_alloc();
  if (!d.packet || !d.frame)
    return false;
  format_.formatTag = 1;
  format_.channels = uint16_t(outChannels);
  format_.samplesPerSec = uint32_t(rate);
  format_.bitsPerSample = 16;
  format_.blockAlign = uint16_t(outChannels * 2);
  format_.avgBytesPerSec = uint32_t(rate) * format_.blockAlign;
  return true;
}

bool SoundAVIFile::decodeMore() {
  Decoder& d = *dec_;
  for (;;) {
    const int got = avcodec_receive_frame(d.codec, d.frame);
    if (got == 0 && (d.frame->sample_rate != d.inRate || d.frame->format != d.inFormat ||
                     d.frame->ch_layout.nb_channels != d.inChannels)) {
      cmdPrintf("WARNING: %s: the audio changes format mid-way; the rest is not played\n", name_.c_str());
      av_frame_unref(d.frame);
      return false;
    }
    if (got == 0) {
      const int outFrames = swr_get_out_samples(d.resampler, d.frame->nb_samples);
      if (outFrames < 0 || outFrames > (1 << 22))
        return false;
      const int need = outFrames * format_.blockAlign;
      if (need > d.pendingCapacity) {
        delete[] d.pending;
        d.pending = new uint8_t[size_t(need)];
        d.pendingCapacity = need;
      }
      uint8_t* out = d.pending;
      const int frames = swr_convert(d.resampler, &out, outFrames, const_cast<const uint8_t**>(d.frame->extended_data),
                                     d.frame->nb_samples);
      av_frame_unref(d.frame);
      if (frames < 0)
        return false;
      d.pendingBytes = frames * format_.blockAlign;
      d.pendingAt = 0;
      if (d.pendingBytes > 0)
        return true;
      continue;
    }
    if (got == AVERROR_EOF || d.drained)
      return false;
    if (got != AVERROR(EAGAIN))
      return false;
    // The decoder wants input.
    int rd;
    while ((rd = av_read_frame(d.format, d.packet)) >= 0 && d.packet->stream_index != d.stream)
      av_packet_unref(d.packet);
    if (rd < 0) {
      d.drained = true;
      avcodec_send_packet(d.codec, nullptr);
      continue;
    }
    const int sent = avcodec_send_packet(d.codec, d.packet);
    av_packet_unref(d.packet);
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA)
      return false;
  }
}

int SoundAVIFile::read(void* buf, int bytes) {
  if (!cached_.empty() && bytes > 0) {
    const int64_t left = int64_t(cached_.size()) - delivered_;
    const int n = left < bytes ? int(left > 0 ? left : 0) : bytes;
    std::memcpy(buf, cached_.data() + delivered_, size_t(n));
    delivered_ += n;
    return n;
  }
  if (!dec_ || !dec_->codec || bytes <= 0)
    return 0;
  uint8_t* out = static_cast<uint8_t*>(buf);
  int got = 0;
  while (got < bytes) {
    if (dec_->pendingAt >= dec_->pendingBytes && !decodeMore())
      break;
    int n = dec_->pendingBytes - dec_->pendingAt;
    if (n > bytes - got)
      n = bytes - got;
    std::memcpy(out + got, dec_->pending + dec_->pendingAt, size_t(n));
    dec_->pendingAt += n;
    got += n;
  }
  delivered_ += got;
  return got;
}

int SoundAVIFile::seek(int64_t offset, int origin) {
  // Rewinding restarts decoding from the file's start; other positions are not offered.
  if (!source_.isOpen() || origin != 0 || offset != 0)
    return -1;
  delivered_ = 0;
  if (!cached_.empty())
    return 0;
  return start() ? 0 : -1;
}

int64_t SoundAVIFile::tell() {
  return delivered_;
}

bool SoundAVIFile::openMemory(uint8_t* data, int) {
  delete[] data;
  close();
  return false;
}

bool SoundAVIFile::close() {
  freeDecoder(dec_);
  dec_ = nullptr;
  std::vector<uint8_t>().swap(cached_);
  source_.close();
  delivered_ = 0;
  reset();
  return true;
}

SoundStream* SoundAVIFile::clone() {
  return cloneInto(new SoundAVIFile, nullptr);
}
