// The texture manager's interface, as far as the engine core calls it; the
// texture subsystem extends it. Absent (null) until built.
#pragma once

class TexManager {
 public:
  virtual ~TexManager() = default;

  // Reloads the images flagged for reloading (after a video restart).
  virtual void reloadImages() = 0;
};

inline TexManager* g_texManager = nullptr;
