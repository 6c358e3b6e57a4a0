// MtxLoader: the material language. Reads a material body line by line with three keyword tables
// (material keywords, shortcut stages, stage keywords), then groups light-interaction stages into
// bump/diffuse/specular triples, sets the bloom stage aside and picks a default sort.
// Main thread only: the image-load flags of a parse live in process-wide storage.
#pragma once

#include <cstdint>

#include "render/material/material.h"

class ImageInterface;

// Largest render-map side: the device's texture limit on every driver the engine supports.
constexpr int kMaterialMaxRenderMapSize = 4096;

class MtxLoader {
 public:
  // Parses a body (without its outer braces) into mtx, whose data must be freed. False, with a
  // message, when a keyword or a stage fails.
  static bool parseBody(Material* mtx, const char* text, int length);
  // Inserts a stage showing image (one reference, now owned by the stage) at index; false for an
  // index outside 0..count or when 8 stages exist (the reference is then released).
  static bool insertStage(Material* mtx, int index, ImageInterface* image, bool countIt);
  static void finishMaterial(Material* mtx);

  // The word tables; 0 for a word that is not in the table.
  static int lookupSort(const char* word);
  // Blend factors, compare functions and cull words share one table.
  static int lookupWord(const char* word);
  // Image options: true when word is one, with flags updated.
  static bool applyImageOption(const char* word, uint32_t* flags);
  // Material-flag and contents-flag names ("surfaceparm" and bare keywords).
  static bool lookupSurfaceParm(const char* word, uint32_t* materialValue, uint32_t* contentsValue);
  // The render-map side for a requested size in 640 x 480 units and the current view size.
  static int renderMapSize(int requested, int viewSize, int baseSize);
};
