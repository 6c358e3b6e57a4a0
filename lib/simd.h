// Block copies and fills through one process-wide processor object, chosen
// once at start-up from the processor flags. Blocks must not overlap.
#pragma once

#include <cstddef>

class SIMD_Processor {
 public:
  explicit constexpr SIMD_Processor(int cpuFlags = 0) : cpuFlags(cpuFlags) {}
  virtual ~SIMD_Processor();

  virtual const char* getName() const = 0;
  virtual void memcpy(void* dst, const void* src, size_t count) = 0;
  virtual void memset(void* dst, int value, size_t count) = 0;

  int getCpuFlags() const { return cpuFlags; }

  // g_simd = the static generic processor.
  static void init();
  // Picks the processor from the processor flags (MMX and 3DNow!: SIMD_3DNow,
  // MMX: SIMD_MMX, else SIMD_Generic) and announces a change. Main thread,
  // before any worker exists.
  static void select(bool forceGeneric);
  static void select(bool forceGeneric, int cpuFlags);
  // Deletes a selected processor and goes back to the static generic one.
  static void shutdown();

 protected:
  int cpuFlags;
};

// The runtime library's copy and fill.
class SIMD_Generic : public SIMD_Processor {
 public:
  explicit constexpr SIMD_Generic(int cpuFlags = 0) : SIMD_Processor(cpuFlags) {}
  const char* getName() const override { return "SIMD_Generic"; }
  void memcpy(void* dst, const void* src, size_t count) override;
  void memset(void* dst, int value, size_t count) override;
};

// The processor chosen on MMX machines; copies and fills go to the runtime,
// whose vector moves beat hand-written 8- and 16-byte loops.
class SIMD_MMX : public SIMD_Generic {
 public:
  explicit SIMD_MMX(int cpuFlags = 0) : SIMD_Generic(cpuFlags) {}
  const char* getName() const override { return "SIMD_MMX"; }
  void memcpy(void* dst, const void* src, size_t count) override;
  void memset(void* dst, int value, size_t count) override;
};

// Cache-bypassing (non-temporal) copies for blocks of 197 KB and more; the
// MMX fill.
class SIMD_3DNow : public SIMD_MMX {
 public:
  explicit SIMD_3DNow(int cpuFlags = 0) : SIMD_MMX(cpuFlags) {}
  const char* getName() const override { return "SIMD_3DNow"; }
  void memcpy(void* dst, const void* src, size_t count) override;
};

// Never null: the static SIMD_Generic before selection and after shutdown.
extern SIMD_Processor* g_simd;
