// cpuid on x86-64 through the compiler's <cpuid.h>; other machines report none.
#include "platform/cpu.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

static PlatformCpuInfo readCpuInfo() {
  PlatformCpuInfo info;
  std::memset(&info, 0, sizeof(info));
#if defined(__x86_64__) || defined(__i386__)
  unsigned int a, b, c, d;
  if (__get_cpuid(0, &a, &b, &c, &d) == 0) {
    return info;
  }
  info.available = true;
  unsigned int maxLeaf = a;
  std::memcpy(info.vendor + 0, &b, 4);
  std::memcpy(info.vendor + 4, &d, 4);
  std::memcpy(info.vendor + 8, &c, 4);
  info.vendor[12] = '\0';
  if (maxLeaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) {
    info.leaf1Ecx = c;
    info.leaf1Edx = d;
  }
  if (__get_cpuid(0x80000001u, &a, &b, &c, &d)) {
    info.extendedEdx = d;
  }
#endif
  return info;
}

const PlatformCpuInfo& platformCpuInfo() {
  static const PlatformCpuInfo s_info = readCpuInfo();
  return s_info;
}

int platformCpuFlagsFrom(const PlatformCpuInfo& info) {
  if (!info.available) {
    return 0;
  }
  int flags;
  bool intel = std::strcmp(info.vendor, "GenuineIntel") == 0;
  if (intel) {
    flags = CPUFLAG_VENDOR_INTEL;
  } else if (std::strcmp(info.vendor, "AuthenticAMD") == 0 || std::strcmp(info.vendor, "AMD ISBETTER") == 0) {
    flags = CPUFLAG_VENDOR_AMD;
  } else {
    flags = CPUFLAG_VENDOR_OTHER;
  }
  uint32_t edx = info.leaf1Edx;
  if (edx & (1u << 23))
    flags |= CPUFLAG_MMX;
  if (edx & (1u << 25))
    flags |= CPUFLAG_SSE;
  if (edx & (1u << 26))
    flags |= CPUFLAG_SSE2;
  if (edx & (1u << 15))
    flags |= CPUFLAG_CMOV;
  if (intel && (edx & (1u << 28)))
    flags |= CPUFLAG_HYPERTHREADING;
  return flags;
}

int platformCpuFlags() {
  return platformCpuFlagsFrom(platformCpuInfo());
}
