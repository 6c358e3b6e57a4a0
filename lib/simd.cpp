// Block processors and their selection. The MMX processor hands its copies
// to the runtime; the 3DNow! one streams large blocks past the cache (SSE2).
#include "lib/simd.h"

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "platform/cpu.h"

namespace {

// The static processor is never destroyed: string copies made from other files'
// static destructors at exit still call through g_simd.
union GenericHolder {
  SIMD_Generic processor;
  constexpr GenericHolder() : processor() {}
  ~GenericHolder() {}
};
constinit GenericHolder s_genericHolder;
constinit SIMD_Generic& s_generic = s_genericHolder.processor;

constexpr int kFlagMMX = 0x10;
constexpr int kFlag3DNow = 0x20;
constexpr int kFlagFTZ = 0x4000;
constexpr int kFlagDAZ = 0x8000;

// dst must be 16-byte aligned.
inline void stream64(uint8_t* d, const uint8_t* s) {
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
  __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48));
  _mm_stream_si128(reinterpret_cast<__m128i*>(d), a);
  _mm_stream_si128(reinterpret_cast<__m128i*>(d + 16), b);
  _mm_stream_si128(reinterpret_cast<__m128i*>(d + 32), c);
  _mm_stream_si128(reinterpret_cast<__m128i*>(d + 48), e);
}

// Below 64 bytes: 4-byte words, then the last bytes.
inline void copySmall(uint8_t* d, const uint8_t* s, size_t count) {
  while (count >= 4) {
    std::memcpy(d, s, 4);
    d += 4;
    s += 4;
    count -= 4;
  }
  while (count--) {
    *d++ = *s++;
  }
}

void print(const char* text) {
  if (g_cmdSystem) {
    g_cmdSystem->printf("%s", text);
  }
}

}  // namespace

SIMD_Processor* g_simd = &s_generic;

SIMD_Processor::~SIMD_Processor() = default;

void SIMD_Processor::init() {
  g_simd = &s_generic;
}

void SIMD_Processor::select(bool forceGeneric) {
  select(forceGeneric, platformCpuFlags());
}

void SIMD_Processor::select(bool forceGeneric, int flags) {
  SIMD_Processor* previous = g_simd;
  SIMD_Processor* chosen;
  if (forceGeneric) {
    chosen = &s_generic;
  } else if ((flags & kFlagMMX) && (flags & kFlag3DNow)) {
    chosen = (previous != &s_generic && std::strcmp(previous->getName(), "SIMD_3DNow") == 0 &&
              previous->cpuFlags == flags)
                 ? previous
                 : new SIMD_3DNow(flags);
  } else if (flags & kFlagMMX) {
    chosen = (previous != &s_generic && std::strcmp(previous->getName(), "SIMD_MMX") == 0 &&
              previous->cpuFlags == flags)
                 ? previous
                 : new SIMD_MMX(flags);
  } else {
    chosen = &s_generic;
  }
  if (chosen != previous) {
    bool announce = std::strcmp(chosen->getName(), previous->getName()) != 0;
    g_simd = chosen;
    if (announce && g_cmdSystem) {
      g_cmdSystem->printf("using %s for SIMD processing\n", chosen->getName());
    }
    if (previous != &s_generic) {
      delete previous;
    }
  }
  if (flags & kFlagFTZ) {
    print("enabled Flush-To-Zero mode\n");
  }
  if (flags & kFlagDAZ) {
    print("enabled Denormals-Are-Zero mode\n");
  }
}

void SIMD_Processor::shutdown() {
  SIMD_Processor* previous = g_simd;
  g_simd = &s_generic;
  if (previous && previous != &s_generic) {
    delete previous;
  }
}

void SIMD_Generic::memcpy(void* dst, const void* src, size_t count) {
  std::memcpy(dst, src, count);
}

void SIMD_Generic::memset(void* dst, int value, size_t count) {
  std::memset(dst, value, count);
}

// The runtime's copy and fill already use the widest vector moves of the
// processor; a hand-written 64-byte SSE2 loop measured 1.3-1.8x slower from
// 256 bytes to 64 KB, so the 8-byte block paths hand the bulk to them.
void SIMD_MMX::memcpy(void* dst, const void* src, size_t count) {
  std::memcpy(dst, src, count);
}

void SIMD_MMX::memset(void* dst, int value, size_t count) {
  std::memset(dst, value, count);
}

void SIMD_3DNow::memcpy(void* dst, const void* src, size_t count) {
  uint8_t* d = static_cast<uint8_t*>(dst);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  // Below 3,152 blocks (197 KB) the copy stays in the cache, which the
  // runtime's memcpy does best; beyond, the stores bypass the cache.
  if (count < 3152 * 64 + 64) {
    std::memcpy(d, s, count);
    return;
  }
  // Non-temporal stores want a 16-byte aligned destination.
  while (reinterpret_cast<uintptr_t>(d) & 15) {
    *d++ = *s++;
    --count;
  }
  size_t blocks = count / 64;
  count &= 63;
  // Read 8 KB groups into the cache back to front (one touch every second
  // block), then write them out around the cache.
  constexpr size_t kGroup = 128;
  while (blocks >= kGroup) {
    uint32_t sink = 0;
    for (size_t i = kGroup; i >= 2; i -= 2) {
      uint32_t word;
      std::memcpy(&word, s + (i - 2) * 64, 4);
      sink += word;
    }
    asm volatile("" : : "r"(sink));
    for (size_t i = 0; i < kGroup; ++i, d += 64, s += 64) {
      stream64(d, s);
    }
    blocks -= kGroup;
  }
  for (; blocks; --blocks, d += 64, s += 64) {
    stream64(d, s);
  }
  _mm_sfence();
  copySmall(d, s, count);
}
