// Processor identification through the cpuid instruction: vendor text and the
// feature words the engine's processor flags are built from.
#pragma once

#include <cstdint>

struct PlatformCpuInfo {
  bool available;     // false when cpuid cannot run (flags all 0)
  char vendor[13];    // leaf 0: EBX, EDX, ECX; terminated
  uint32_t leaf1Ecx;  // leaf 1 feature words
  uint32_t leaf1Edx;
  uint32_t extendedEdx;  // leaf 0x80000001 EDX (bit 31: 3DNow!), 0 when absent
};

// Reads the identification once; later calls return the same record.
const PlatformCpuInfo& platformCpuInfo();

// Processor flag bits of the engine's flag word.
enum : int {
  CPUFLAG_VENDOR_OTHER = 0x2,
  CPUFLAG_VENDOR_INTEL = 0x4,
  CPUFLAG_VENDOR_AMD = 0x8,
  CPUFLAG_MMX = 0x10,
  CPUFLAG_3DNOW = 0x20,
  CPUFLAG_SSE = 0x40,
  CPUFLAG_SSE2 = 0x80,
  CPUFLAG_HYPERTHREADING = 0x1000,
  CPUFLAG_CMOV = 0x2000,
  CPUFLAG_FTZ = 0x4000,
  CPUFLAG_DAZ = 0x8000,
};

// The flag word of an identification record: vendor bit, then MMX, SSE, SSE2,
// conditional move and (Intel only) hyper-threading. 3DNow!, FTZ and DAZ are
// never set by this detection.
int platformCpuFlagsFrom(const PlatformCpuInfo& info);
int platformCpuFlags();
