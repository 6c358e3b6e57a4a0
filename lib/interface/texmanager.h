// The texture manager: the table of shared, reference-counted texture images, the image record the
// loaders fill and the uploads consume, the image load flags, the pixel-format helpers and the
// screen-capture entry points the renderer calls. One implementation (render/texture) is published
// through g_texManager. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/interface/renderinterface.h"  // ImageInfo, PixelFormat

// Image load flags: one word per image that is also, together with the name, its lookup key.
enum ImageLoadFlag : uint32_t {
  kImageNoMips = 0x2,      // one level only; no LOD bias
  kImageNoDownSize = 0x4,  // never limited by "image_downSize..."
  kImageDiffuse = 0x8,
  kImageBump = 0x10,  // 3-component data gains an alpha before upload
  kImageSpecular = 0x20,
  kImageClamp = 0x40,         // clamp-to-edge instead of repeat
  kImageZeroClampBit = 0x80,  // with kImageClamp: resized images get a black border
  kImageZeroClamp = 0xC0,
  kImageCube = 0x100,  // faces "_px", "_nx", "_py", "_ny", "_pz", "_nz"
  kImageCameraBit = 0x200,
  kImageCameraCube = 0x300,  // faces "_right", "_left", "_up", "_down", "_forward", "_back"
  kImageAny = 0x800,         // a lookup with it matches the name whatever the flags
  kImageNearest = 0x8000,
  kImageReload = 0x40000000,
  kImageGenerated = 0x80000000,
};

// One face of pixel data: rows top first, levels one after another, largest first. The pixel
// block is owned (allocate with imageAlloc, free with imageFree).
struct ImageData {
  ImageInfo info;
  uint8_t* pixels;
  int32_t byteSize;
  uint8_t mipCount;  // levels stored in the block; 0 or 1 means the base level only
};

// Pixel blocks of ImageData; imageAlloc gives null when the size cannot be had.
uint8_t* imageAlloc(size_t bytes);
void imageFree(uint8_t* pixels);

// --- Pixel-format functions ---
int imageFormatComponents(int pixelFormat);
int imageFormatBitsPerComponent(int pixelFormat);
// Components x bits per component; for DXT formats the bits of one 4x4 block.
int imageFormatBitsPerPixel(int pixelFormat);
const char* imageFormatName(int pixelFormat);
bool imageFormatIsFloat(int pixelFormat);
bool imageFormatIsCompressed(int pixelFormat);
bool imageFormatIsDepth(int pixelFormat);
// 1 + the halvings that bring size to 1.
int imageMipLevels(int size);
int imageMipCountFor(const ImageInfo* info);
// Bytes of one level of a DXT format: 4x4 blocks of 8 (DXT1) or 16 bytes.
int64_t imageCompressedLevelSize(int pixelFormat, int width, int height);
// Base level, plus every further level unless flags has kImageNoMips (DXT levels by blocks).
int64_t imageByteSize(const ImageInfo* info, uint32_t flags);

// One texture image, shared through the texture manager. Created only by the manager.
class ImageInterface {
 public:
  ImageInterface();
  // Substitute selection, load on demand, bind, LOD bias.
  virtual bool bind();
  virtual ~ImageInterface();
  ImageInterface(const ImageInterface&) = delete;
  ImageInterface& operator=(const ImageInterface&) = delete;
  // File to GPU on first use; true when loaded.
  virtual bool load();
  virtual void unload();
  // Loads on demand; 0 for none.
  virtual int getTextureId();
  // Video images only (the plain image does nothing).
  virtual bool open();
  virtual void setLoop(int loop);
  virtual void restart();
  virtual void setClockRegister(int reg);
  virtual bool isVideo() const;

  // Fills up to six faces from the file (or the GPU for generated images); the face count.
  int loadImageData(ImageData* faces);
  // Consumes the faces' pixels.
  bool upload(ImageData* faces, int count);
  bool uploadFace(int type, int face, ImageData* data, uint32_t uploadFlags);
  bool readBack(ImageData* data);
  bool saveToFile(const char* fileName);

  ImageInfo info = {};
  char name[128] = {};     // without extension
  char extension[8] = {};  // with the dot, e.g. ".tga"
  int32_t memory = 0;      // bytes counted by the last upload
  int32_t textureId = -1;  // -1 when none
  uint32_t flags = 0;
  // The flags the image was created with: uploads toggle kImageNoMips in `flags`, and lookups must
  // still find the image by the words it was asked for with.
  uint32_t keyFlags = 0;
  int32_t refCount = 0;
  bool loaded = false;
};

// The screen-space image "_mirrorRenderMap": binds colour image 0 of the current render target,
// "_black" without one. The render targets install the source.
class RenderImage : public ImageInterface {
 public:
  bool bind() override;
  // The current target's colour image 0, or null; installed by the render targets.
  static inline ImageInterface* (*currentTargetImage)() = nullptr;
};

class TexManager {
 public:
  virtual ~TexManager() = default;
  // Every loaded image gets kImageReload and is unloaded.
  virtual void flagAllForReload() = 0;
  // Regenerates the built-in images; flagged kImageAny images load now, the others on next use.
  virtual void reloadFlagged() = 0;
  // One reference added; null only for a null name. A missing file gives a yellow 1x1 image.
  virtual ImageInterface* findImage(const char* name, uint32_t flags) = 0;
  virtual void releaseImage(ImageInterface* image) = 0;
  // Table slots in use, holes included.
  virtual int getNumImages() = 0;
  virtual ImageInterface* createRGBImage(int width, int height, uint32_t flags, const char* name) = 0;
  // Zeroed pixels; without a name "_renderMap_%d" is used.
  virtual ImageInterface* createImage(const ImageInfo* info, uint32_t flags, const char* name) = 0;
  virtual ImageInterface* createImageFromPixels(const char* name, const ImageInfo* info, uint32_t flags,
                                                const void* pixels) = 0;
  // No reference added; never loads.
  virtual ImageInterface* findLoadedImage(const char* name, uint32_t flags) = 0;
  // Null when out of range or a hole.
  virtual ImageInterface* getImage(int index) = 0;

  // The engine core's name for the reload after a video restart.
  void reloadImages() { reloadFlagged(); }
};

inline TexManager* g_texManager = nullptr;

// Built-in images kept for the renderer (null while the manager does not exist).
inline ImageInterface* g_whiteImage = nullptr;
inline ImageInterface* g_blackImage = nullptr;
inline ImageInterface* g_defaultImage = nullptr;
inline ImageInterface* g_flatBumpImage = nullptr;
inline ImageInterface* g_fogImage = nullptr;
inline ImageInterface* g_fogEnterImage = nullptr;
inline ImageInterface* g_currentRenderImage = nullptr;
inline ImageInterface* g_normalCubeMapImage = nullptr;
inline ImageInterface* g_mirrorRenderImage = nullptr;

// The render size the screen reads are limited to; the render manager installs its getter.
// Without one, "r_viewwidth" x "r_viewheight".
inline void (*g_renderSizeQuery)(int* width, int* height) = nullptr;

// --- Free functions used by the renderer ---
bool bindImage(ImageInterface* image);
// The substitute for image ("r_singleTexture", "r_skip..."), loaded; null when loading fails.
ImageInterface* selectBoundImage(ImageInterface* image);
// "screenshots/<base><NNNN>.<ext>" as an operating-system path; the counter lives for the process.
const char* makeScreenshotName(const char* ext, const char* base);
// Reads the frame buffer and writes it; false when nothing was read or written.
bool saveScreenshot(const char* fileName, int pixelFormat);
// dst receives the picture top row first, rows pitch pixels apart; false when nothing was read.
bool readFrameBuffer(uint8_t* dst, int pitch, int width, int height, int pixelFormat);
// Debug view: paints every stencil value as a colour over the frame (render sizes up to 1024 x 768).
void captureStencilColors();
// TGA, DDS or JPEG by the name's extension and the pixel format.
bool writeImageFile(const char* name, const ImageData* data);
