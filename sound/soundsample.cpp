// Samples (static and streamed) and the sample cache.
#include "sound/soundsample.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "lib/interface/cmdsystem.h"
#include "lib/str.h"
#include "sound/soundvars.h"

namespace {

// A scoped hold on a re-entrant critical section.
using Hold = std::lock_guard<CriticalSection>;

float fadeLevelAt(int clock, int start, int duration, float from, float to) {
  const int elapsed = clock - start;
  if (elapsed <= 0)
    return from;
  if (elapsed < duration)
    return from + (float(elapsed) / float(duration)) * (to - from);
  return to;
}

float clampLevel(float level) {
  return level < -10000.0f ? -10000.0f : level > 0.0f ? 0.0f : level;
}

}  // namespace

AudioVoice* createSoundBuffer(const SoundFormat& format, int bytes, const char* name) {
  const char* error = "";
  AudioVoice* voice = audioCreateVoice(format, bytes, &error);
  if (!voice)
    cmdPrintf("WARNING: sound '%s': no buffer of %d bytes (%s)\n", name, bytes, error);
  return voice;
}

// ---- SoundSample ----

SoundSample::SoundSample() = default;

SoundSample::~SoundSample() {
  unload();
}

void SoundSample::setName(const char* name) {
  std::snprintf(name_, sizeof(name_), "%s", name ? name : "");
}

int SoundSample::lengthMs() {
  const double perSecond = double(format_.channels) * (format_.bitsPerSample / 8) * format_.samplesPerSec;
  if (perSecond <= 0.0)
    return 0;
  const double ms = double(getLength()) / perSecond * 1000.0;
  return ms > 2147483647.0 ? 0x7fffffff : int(ms);
}

void SoundSample::setPan(int pan) {
  Hold hold(lock_);
  pan_ = pan;
  if (buffer_) {
    int p = pan * 20;
    p = p < -10000 ? -10000 : p > 10000 ? 10000 : p;
    buffer_->setPan(p);
  }
}

void SoundSample::setFrequencyOffset(int offset) {
  Hold hold(lock_);
  frequencyOffset_ = offset;
  if (buffer_) {
    int64_t hz = int64_t(format_.samplesPerSec) + offset;
    hz = hz <= kAudioMinFrequency ? kAudioMinFrequency : hz >= kAudioMaxFrequency ? kAudioMaxFrequency : hz;
    buffer_->setFrequency(int(hz));
  }
}

float SoundSample::currentVolume() {
  Hold hold(lock_);
  if (clock_ != fadeLastTime_) {
    fadeLastTime_ = clock_;
    fadeLevel_ = fadeLevelAt(clock_, fadeStart_, fadeDuration_, fadeStartLevel_, fadeEndLevel_);
  }
  return fadeLevel_;
}

void SoundSample::applyVolume() {
  Hold hold(lock_);
  if (buffer_)
    buffer_->setVolume(int(clampLevel(currentVolume())));
}

void SoundSample::fadeTo(float level, int ms) {
  Hold hold(lock_);
  fadeStartLevel_ = currentVolume();
  fadeStart_ = clock_;
  fadeEndLevel_ = clampLevel(level);
  fadeDuration_ = ms > 0 ? ms : 0;
  fadeLastTime_ = clock_ - 1;
}

void SoundSample::startFade(float level) {
  Hold hold(lock_);
  if (fadeDuration_ != 0 && fadeEndLevel_ <= -10000.0f)
    return;  // a fade to silence runs to its end
  fadeStartLevel_ = fadeEndLevel_ = fadeLevel_ = level;
  fadeDuration_ = 0;
  fadeStart_ = clock_;
  fadeLastTime_ = clock_ - 1;
  applyVolume();
}

bool SoundSample::bufferUsable() {
  return buffer_ != nullptr;
}

bool SoundSample::fillBuffer(SoundStream* stream, int offset, int bytes, int* gotOut) {
  if (gotOut)
    *gotOut = 0;
  if (!stream || !bufferUsable() || bytes <= 0)
    return false;
  void* p1 = nullptr;
  void* p2 = nullptr;
  int n1 = 0, n2 = 0;
  if (!buffer_->lock(offset, bytes, &p1, &n1, &p2, &n2))
    return false;
  const bool loop = (state_ & kSampleLooping) != 0;
  int got1 = 0, got2 = 0;
  const bool whole1 = stream->readFully(p1, n1, loop, &got1);
  if (p2 && n2 > 0)
    stream->readFully(p2, n2, loop, &got2);
  if (gotOut)
    *gotOut = got1 + got2;
  const bool unlocked = buffer_->unlock(p1, n1, p2, n2);
  return (whole1 || got1 + got2 > 0) && unlocked;
}

bool SoundSample::load() {
  Hold hold(lock_);
  if (state_ & kSampleLoaded)
    return true;
  SoundStream* stream = openSoundStream(name_);
  if (!stream)
    return false;
  const int64_t length = stream->getLength();
  format_ = stream->getFormat();
  if (length <= 0 || length > kAudioMaxBytes) {
    cmdPrintf("WARNING: sound '%s': unusable data length %lld\n", name_, static_cast<long long>(length));
  } else {
    length_ = int(length);
    buffer_ = createSoundBuffer(format_, length_, name_);
    if (buffer_) {
      state_ |= kSampleLoaded;
      if (!fillBuffer(stream, 0, length_)) {
        cmdPrintf("WARNING: sound '%s': the stream delivered no sound\n", name_);
        unload();
      }
    }
  }
  delete stream;
  return (state_ & kSampleLoaded) != 0;
}

void SoundSample::unload() {
  Hold hold(lock_);
  stop();
  if (buffer_)
    buffer_->release();
  buffer_ = nullptr;
  state_ &= ~kSampleLoaded;
}

bool SoundSample::copyTo(SoundSample* dst) {
  Hold hold(lock_);
  bool ok = true;
  if (!(state_ & kSampleStreamed)) {
    AudioVoice* copy = buffer_ ? buffer_->duplicate() : nullptr;
    if (!copy) {
      dst->name_[0] = 0;
      dst->buffer_ = nullptr;
      return false;
    }
    dst->buffer_ = copy;
  }
  std::memcpy(dst->name_, name_, sizeof(name_));
  dst->length_ = length_;
  dst->format_ = format_;
  dst->fadeStart_ = fadeStart_;
  dst->fadeDuration_ = fadeDuration_;
  dst->fadeStartLevel_ = fadeStartLevel_;
  dst->fadeEndLevel_ = fadeEndLevel_;
  dst->fadeLastTime_ = fadeLastTime_;
  dst->fadeLevel_ = fadeLevel_;
  dst->frequencyOffset_ = frequencyOffset_;
  dst->pan_ = pan_;
  dst->state_ = state_ & ~kSamplePlaying;
  if (state_ & kSampleStreamed)
    dst->state_ &= ~kSampleLoaded;
  return ok;
}

SoundSample* SoundSample::duplicate() {
  SoundSample* copy = new SoundSample;
  copyTo(copy);
  return copy;
}

bool SoundSample::update(int time) {
  Hold hold(lock_);
  if (refs_ == 0 || !(state_ & kSampleLoaded) || !(state_ & kSamplePlaying) || !buffer_)
    return false;
  const uint32_t status = buffer_->status();
  if (!(status & (kAudioPlaying | kAudioLooping))) {
    stop();
    return false;
  }
  if (clock_ < 0 || clock_ > time) {
    const float level = currentVolume();
    int remaining = fadeStart_ + fadeDuration_ - clock_;
    fadeDuration_ = remaining > 0 ? remaining : 0;
    fadeStartLevel_ = level;
    fadeStart_ = time;
  }
  clock_ = time;
  applyVolume();
  if (fadeDuration_ != 0 && fadeEndLevel_ <= -10000.0f && currentVolume() <= -10000.0f) {
    stop();
    return false;
  }
  return true;
}

bool SoundSample::play(bool loop, int playFlags, bool restart) {
  Hold hold(lock_);
  if (loop)
    state_ |= kSampleLooping;
  else
    state_ &= ~kSampleLooping;
  (void)playFlags;
  load();
  if (!(state_ & kSampleLoaded) || !buffer_)
    return false;
  if (restart)
    buffer_->setPosition(0);
  if (!buffer_->play(loop))
    return false;
  state_ |= kSamplePlaying;
  return true;
}

void SoundSample::stop() {
  Hold hold(lock_);
  if (buffer_)
    buffer_->stop();
  state_ &= ~kSamplePlaying;
}

int64_t SoundSample::getLength() {
  return length_;
}

int SoundSample::getPlayPosition() {
  Hold hold(lock_);
  int play = 0;
  if (!buffer_ || !buffer_->getPosition(&play, nullptr))
    return 0;
  return play;
}

// ---- SoundStreamSample ----

SoundStreamSample::SoundStreamSample() {
  state_ |= kSampleStreamed;
}

SoundStreamSample::~SoundStreamSample() {
  unload();
}

bool SoundStreamSample::load() {
  Hold stream(streamLock_);
  Hold hold(lock_);
  if (state_ & kSampleLoaded)
    return true;
  delete stream_;
  stream_ = openSoundStream(name_);
  if (!stream_)
    return false;
  state_ |= kSampleLoaded;
  format_ = stream_->getFormat();
  int c = int(format_.avgBytesPerSec / 8);
  if (c < 1024)
    c = 1024;
  const int align = format_.blockAlign ? format_.blockAlign : 1;
  const int size = 16 * (c - c % align);
  length_ = size;
  buffer_ = createSoundBuffer(format_, size, name_);
  if (!buffer_ || !refillFromStart()) {
    unload();
    return false;
  }
  return true;
}

bool SoundStreamSample::refillFromStart() {
  streamBytes_ = realBytes_ = playedBytes_ = 0;
  streamEnded_ = false;
  writeOffset_ = 0;
  lastCursor_ = 0;
  int got = 0;
  const bool ok = fillBuffer(stream_, 0, length_, &got);
  streamBytes_ = length_;
  realBytes_ = got;
  streamEnded_ = got < length_ && !(state_ & kSampleLooping);
  return ok;
}

void SoundStreamSample::unload() {
  Hold stream(streamLock_);
  SoundSample::unload();
  delete stream_;
  stream_ = nullptr;
}

bool SoundStreamSample::copyTo(SoundSample* dst) {
  Hold stream(streamLock_);
  bool ok = SoundSample::copyTo(dst);
  SoundStreamSample* target = static_cast<SoundStreamSample*>(dst);
  target->writeOffset_ = 0;
  if (stream_) {
    target->stream_ = stream_->clone();
    if (!target->stream_)
      ok = false;
  }
  return ok;
}

SoundSample* SoundStreamSample::duplicate() {
  SoundStreamSample* copy = new SoundStreamSample;
  copyTo(copy);
  return copy;
}

bool SoundStreamSample::update(int time) {
  if (!SoundSample::update(time))
    return false;
  Hold stream(streamLock_);
  Hold hold(lock_);
  if (!stream_ || !buffer_)
    return true;
  int cursor = 0;
  buffer_->getPosition(&cursor, nullptr);
  int played = cursor - writeOffset_;
  if (cursor < writeOffset_)
    played = cursor + length_ - writeOffset_;
  playedBytes_ += played;
  if (played > 0) {
    int got = 0;
    fillBuffer(stream_, writeOffset_, played, &got);
    streamBytes_ += played;
    realBytes_ += got;
    if (got < played && !(state_ & kSampleLooping))
      streamEnded_ = true;
    writeOffset_ = (writeOffset_ + played) % length_;
  }
  // A non-looping stream ends once the cursor has passed its last real byte.
  if (streamEnded_ && playedBytes_ >= realBytes_) {
    stop();
    return false;
  }
  return true;
}

bool SoundStreamSample::play(bool loop, int playFlags, bool restart) {
  Hold stream(streamLock_);
  Hold hold(lock_);
  if (loop)
    state_ |= kSampleLooping;
  else
    state_ &= ~kSampleLooping;
  const bool wasLoaded = (state_ & kSampleLoaded) != 0;
  if (!load())
    return false;
  if (restart && wasLoaded && stream_) {
    stream_->rewind();
    refillFromStart();
  }
  // The ring always loops; the stream decides when the sound ends.
  if (!SoundSample::play(true, playFlags | 1, restart)) {
    stop();
    return false;
  }
  // The write offset stays where the ring's refills left it: a play that does not restart (a
  // change of the looping bit) must not make the next refill overwrite unplayed bytes.
  state_ = loop ? state_ | kSampleLooping : state_ & ~kSampleLooping;
  return true;
}

int64_t SoundStreamSample::getLength() {
  Hold stream(streamLock_);
  return stream_ ? stream_->getLength() : 0;
}

int SoundStreamSample::getPlayPosition() {
  Hold stream(streamLock_);
  const int64_t position = streamBytes_ - length_;
  return position > 0 ? int(position > 0x7fffffff ? 0x7fffffff : position) : 0;
}

// ---- SoundSampleCache ----

SoundSampleCache::~SoundSampleCache() {
  freeAll();
}

void SoundSampleCache::link(SoundSample* sample) {
  sample->prev_ = nullptr;
  sample->next_ = head_;
  if (head_)
    head_->prev_ = sample;
  head_ = sample;
}

void SoundSampleCache::unlink(SoundSample* sample) {
  if (sample->prev_)
    sample->prev_->next_ = sample->next_;
  else if (head_ == sample)
    head_ = sample->next_;
  if (sample->next_)
    sample->next_->prev_ = sample->prev_;
  sample->next_ = sample->prev_ = nullptr;
}

SoundSample* SoundSampleCache::find(const char* name, bool skipPlaying) {
  Hold hold(cacheLock_);
  for (SoundSample* s = head_; s; s = s->next_)
    if (String::icmp(s->name_, name) == 0 && !(skipPlaying && s->isPlaying()))
      return s;
  return nullptr;
}

SoundSample* SoundSampleCache::findSound(const char* name) {
  char resolved[256];
  if (!resolveSoundFileName(name, resolved, sizeof(resolved)))
    return nullptr;
  {
    Hold hold(cacheLock_);
    if (SoundSample* cached = find(resolved, false)) {
      ++cached->refs_;
      return cached;
    }
  }
  const int seconds = soundFileDuration(resolved);
  SoundSample* sample;
  if (seconds > soundVarInt("s_maxSampleLength", 10))
    sample = new SoundStreamSample;
  else
    sample = new SoundSample;
  sample->setName(resolved);
  Hold hold(cacheLock_);
  link(sample);
  return sample;
}

SoundSample* SoundSampleCache::addRef(SoundSample* sample) {
  if (!sample)
    return nullptr;
  Hold hold(cacheLock_);
  if (!sample->isPlaying()) {
    ++sample->refs_;
    return sample;
  }
  for (SoundSample* s = head_; s; s = s->next_) {
    if (s != sample && !s->isPlaying() && String::icmp(s->name_, sample->name_) == 0) {
      ++s->refs_;
      return s;
    }
  }
  SoundSample* copy = sample->duplicate();
  if (!copy)
    return nullptr;
  link(copy);
  return copy;
}

void SoundSampleCache::release(SoundSample* sample, bool freeNow) {
  if (!sample)
    return;
  Hold hold(cacheLock_);
  --sample->refs_;
  if (sample->refs_ < 1 && freeNow) {
    unlink(sample);
    delete sample;
  }
}

void SoundSampleCache::purge(int time, bool force) {
  Hold hold(cacheLock_);
  for (SoundSample* s = head_; s;) {
    SoundSample* next = s->next_;
    if ((s->refs_ < 1 || force) && (time >= s->clock_ + 10000 || time < s->clock_)) {
      unlink(s);
      delete s;
    }
    s = next;
  }
}

void SoundSampleCache::freeAll() {
  Hold hold(cacheLock_);
  while (SoundSample* s = head_) {
    --s->refs_;
    unlink(s);
    delete s;
  }
}

int SoundSampleCache::sampleCount() {
  Hold hold(cacheLock_);
  int n = 0;
  for (SoundSample* s = head_; s; s = s->next_)
    ++n;
  return n;
}

void SoundSampleCache::reloadSamples() {
  int reloaded = 0, total = 0;
  {
    Hold hold(cacheLock_);
    for (SoundSample* s = head_; s; s = s->next_) {
      ++total;
      if (!(s->getFlags() & kSampleLoaded))
        continue;
      cmdPrintf("Reloading %s...\n", s->getName());
      const int state = s->getFlags();
      s->unload();
      if (s->load())
        ++reloaded;
      if (state & kSamplePlaying) {
        s->startFade(0.0f);
        s->applyVolume();
        s->play((state & kSampleLooping) != 0, 0, false);
      }
    }
  }
  if (g_soundSystem)
    g_soundSystem->setMuted(false);
  cmdPrintf("Reloaded %d / %d samples.\n\n", reloaded, total);
}

void SoundSampleCache::listSamples() {
  Hold hold(cacheLock_);
  double total = 0.0;
  int count = 0;
  for (SoundSample* s = head_; s; s = s->next_) {
    const bool loaded = (s->getFlags() & kSampleLoaded) != 0;
    // An unloaded sample counts as its record alone, as it always has been listed.
    const double size = loaded ? double(s->length_) : 360.0;
    cmdPrintf("%8.2f Kbytes : inmem[%s] : %s\n", size / 1024.0, loaded ? "yes" : "no ", s->getName());
    total += size;
    ++count;
  }
  cmdPrintf("\n%.2f Kbytes used in %d sounds.\n\n", total / 1024.0, count);
}
