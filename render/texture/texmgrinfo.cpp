// The texture manager: image table and lookups, images from memory, built-in images, screenshots,
// frame-buffer reads and the console commands "screenshot", "screenshot32", "listImages",
// "dumpTexture" and "reloadImages".
#include "render/texture/texmgrinfo.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/managerfactory.h"
#include "lib/str.h"
#include "render/texture/imagefiles.h"
#include "render/texture/videoimage.h"

namespace {

TexMgrInfo* s_instance = nullptr;
bool s_initFailed = false;

const char* const kImageExtensions[] = {".dds", ".tga", ".jpg", ".bmp", ".ovid"};
const char* const kCubeSuffixes[6] = {"_px", "_nx", "_py", "_ny", "_pz", "_nz"};
const char* const kCameraSuffixes[6] = {"_right", "_left", "_up", "_down", "_forward", "_back"};

void copyName(char* out, size_t size, const char* name) {
  std::snprintf(out, size, "%s", name ? name : "");
}

// Backslashes to slashes, no trailing slash.
void fixSlashes(char* path) {
  if (g_ioSystem) {
    g_ioSystem->fixSlashes(path);
    return;
  }
  for (char* p = path; *p; ++p) {
    if (*p == '\\')
      *p = '/';
  }
  const size_t length = std::strlen(path);
  if (length > 0 && path[length - 1] == '/')
    path[length - 1] = '\0';
}

// The dot of the file part's extension, or null.
char* extensionOf(char* path) {
  char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  return dot && (!slash || dot > slash) ? dot : nullptr;
}

bool fileExists(const char* name) {
  if (!g_ioSystem)
    return false;
  if (g_ioSystem->openFileRead(name, nullptr) >= 1)
    return true;
  return g_ioSystem->openOSFileRead(name, nullptr) >= 1;
}

int nextPowerOfTwo(int value) {
  int p = 1;
  while (p < value && p < (1 << 30))
    p <<= 1;
  return p;
}

void renderSize(int* width, int* height) {
  if (g_renderSizeQuery) {
    g_renderSizeQuery(width, height);
    return;
  }
  *width = conVarInt("r_viewwidth", 800);
  *height = conVarInt("r_viewheight", 600);
}

void clearBuiltInPointer(ImageInterface* image) {
  ImageInterface** pointers[] = {&g_whiteImage,         &g_blackImage,         &g_defaultImage,
                                 &g_flatBumpImage,      &g_fogImage,           &g_fogEnterImage,
                                 &g_currentRenderImage, &g_normalCubeMapImage, &g_mirrorRenderImage};
  for (ImageInterface** p : pointers) {
    if (!image || *p == image)
      *p = nullptr;
  }
}

float fogEnterFalloff(float s, float t) {
  const float a = std::clamp(1.0f - (0.5f - s + 1.0f / 64.0f) * 2.0f, 0.0f, 1.0f);
  const float b = std::clamp(1.0f - (0.5f - t + 1.0f / 64.0f) * 2.0f, 0.0f, 1.0f);
  const float e = a * b;
  if (e <= 0.0f)
    return 1.0f;
  if (e >= 1.0f)
    return 0.0f;
  return 1.0f - e;
}

// --- Console commands ---

void screenshotCommand(const CmdArgs& args, const char* ext, int format) {
  const char* base = args.argc() > 1 ? args.argv(1) : "screen";
  const char* path = makeScreenshotName(ext, base);
  if (!path)
    cmdPrintf("ERROR: screenshot: no file name for \"%s\"\n", base);
  else if (saveScreenshot(path, format))
    cmdPrintf("Wrote %s\n", path);
  else
    cmdPrintf("ERROR: screenshot: could not write %s\n", path);
}

void cmdScreenshot(const CmdArgs& args) {
  screenshotCommand(args, "jpg", kPixelFormatRGB);
}
void cmdScreenshot32(const CmdArgs& args) {
  screenshotCommand(args, "tga", kPixelFormatRGBA);
}

void cmdListImages(const CmdArgs&) {
  if (s_instance)
    s_instance->listImages();
}

void cmdDumpTexture(const CmdArgs& args) {
  if (!s_instance || args.argc() != 3)
    return;
  ImageInterface* image = s_instance->getImage(ConVar::textToInt(args.argv(1)));
  if (!image)
    return;
  if (image->saveToFile(args.argv(2))) {
    cmdPrintf("   '%s' saved...\n", args.argv(2));
  } else {
    cmdPrintf("   ERROR saving '%s'...\n", args.argv(2));
  }
}

void cmdReloadImages(const CmdArgs&) {
  if (!s_instance)
    return;
  forgetUnreadableImageFiles();
  s_instance->flagAllForReload();
  s_instance->reloadFlagged();
}

// --- Manager factory ---

bool createForCommon() {
  g_texManager = TexMgrInfo::getInstance();
  return g_texManager != nullptr;
}

const RegisterManagerFactory s_registerTextures(kManagerTexture, createForCommon, nullptr, destroyTexManager);

}  // namespace

// --- Life ---

TexMgrInfo::TexMgrInfo() = default;

TexMgrInfo* TexMgrInfo::getInstance() {
  if (s_instance)
    return s_instance;
  if (s_initFailed)
    return nullptr;
  s_instance = new TexMgrInfo;
  if (!s_instance->init()) {
    delete s_instance;
    s_instance = nullptr;
    s_initFailed = true;
    return nullptr;
  }
  g_texManager = s_instance;
  installVideoPlayer(true);
  return s_instance;
}

void destroyTexManager() {
  installVideoPlayer(false);
  delete s_instance;
  s_instance = nullptr;
  forgetUnreadableImageFiles();
  g_texManager = nullptr;
}

bool TexMgrInfo::init() {
  cmdPrintf("initializing (Texture Manager)\n");
  deleteAllImages();
  assert(g_cmdSystem && "commands could not be registered");
  if (!g_cmdSystem)
    return false;
  const uint32_t flags = kCmdFlagEngine | kCmdFlagVideo;
  g_cmdSystem->addCommand("screenshot", cmdScreenshot, flags, "save an image of the current screen");
  g_cmdSystem->addCommand("screenshot32", cmdScreenshot32, flags, "save an image of the current screen");
  g_cmdSystem->addCommand("listImages", cmdListImages, flags, "prints texture manager info to the screen");
  g_cmdSystem->addCommand("dumpTexture", cmdDumpTexture, flags, "<tex_id> <filename>");
  g_cmdSystem->addCommand("reloadImages", cmdReloadImages, flags, "reloads images");
  generateImages();
  return true;
}

TexMgrInfo::~TexMgrInfo() {
  cmdPrintf("shutting down texture module\n");
  deleteAllImages();
  if (s_instance == this) {
    s_instance = nullptr;
    if (g_texManager == this)
      g_texManager = nullptr;
  }
}

void TexMgrInfo::deleteAllImages() {
  for (int i = 0; i < images_.num(); ++i)
    delete images_[i];
  images_.clear();
  byName_.clear();
  clearBuiltInPointer(nullptr);
}

// --- Table ---

void TexMgrInfo::setSlot(int index, ImageInterface* image) {
  ImageInterface* old = images_[index];
  if (old) {
    std::vector<int>& slots = byName_[old->name];
    slots.erase(std::remove(slots.begin(), slots.end(), index), slots.end());
    if (slots.empty())
      byName_.erase(old->name);
  }
  images_[index] = image;
  if (image) {
    std::vector<int>& slots = byName_[image->name];
    slots.insert(std::lower_bound(slots.begin(), slots.end(), index), index);
  }
}

int TexMgrInfo::indexOfImage(const char* name, uint32_t flags) {
  if (!name) {
    for (int i = 0; i < images_.num(); ++i) {
      if (!images_[i])
        return i;
    }
    return images_.append(nullptr);
  }
  auto found = byName_.find(name);
  if (found == byName_.end())
    return -1;
  for (int i : found->second) {
    const ImageInterface* image = images_[i];
    if (!image || image->refCount <= 0)
      continue;
    if ((image->flags & (kImageGenerated | kImageAny)) || image->flags == flags || (flags & kImageAny) ||
        image->keyFlags == (flags & ~uint32_t(kImageReload)))
      return i;
  }
  return -1;
}

void TexMgrInfo::makeKey(char* out, size_t size, const char* name) {
  char key[128];
  copyName(key, sizeof(key), name);
  fixSlashes(key);
  if (char* dot = extensionOf(key))
    *dot = '\0';
  copyName(out, size, key);
}

bool TexMgrInfo::findImageFile(char* out, size_t size, const char* name) {
  copyName(out, size, name);
  if (!name)
    return false;
  char candidate[256];
  copyName(candidate, sizeof(candidate), name);
  for (const char* ext : kImageExtensions) {
    if (String::iendsWith(candidate, ext)) {
      if (fileExists(candidate)) {
        copyName(out, size, candidate);
        return true;
      }
      break;
    }
  }
  if (char* dot = extensionOf(candidate))
    *dot = '\0';
  const size_t stem = std::strlen(candidate);
  for (const char* ext : kImageExtensions) {
    candidate[stem] = '\0';
    if (stem + std::strlen(ext) >= sizeof(candidate))
      return false;
    std::strcat(candidate, ext);
    if (fileExists(candidate)) {
      copyName(out, size, candidate);
      return true;
    }
  }
  return false;
}

ImageInterface* TexMgrInfo::findImage(const char* name, uint32_t flags) {
  if (!name)
    return nullptr;
  char key[128];
  makeKey(key, sizeof(key), name);
  const int existing = indexOfImage(key, flags);
  if (existing >= 0) {
    images_[existing]->refCount++;
    return images_[existing];
  }
  static const uint8_t kMissing[4] = {255, 255, 0, 255};
  const int slot = indexOfImage(nullptr, 0);
  char extension[8] = "";
  if (!(flags & (kImageGenerated | kImageAny))) {
    char found[256];
    if (flags & kImageCube) {
      const char* const* suffixes = (flags & kImageCameraBit) ? kCameraSuffixes : kCubeSuffixes;
      for (int i = 0; i < 6; ++i) {
        char faceName[160];
        std::snprintf(faceName, sizeof(faceName), "%s%s", key, suffixes[i]);
        if (!findImageFile(found, sizeof(found), faceName)) {
          cmdPrintf("failed to find (%s).. generating default image\n", faceName);
          return generateSolidImage(faceName, kMissing, 24);
        }
      }
    } else {
      char requested[128];
      copyName(requested, sizeof(requested), name);
      fixSlashes(requested);
      const bool ok = findImageFile(found, sizeof(found), requested);
      char* dot = ok ? extensionOf(found) : nullptr;
      if (!ok || !dot || std::strlen(dot) >= sizeof(extension)) {
        cmdPrintf("failed to find (%s).. generating default image\n", requested);
        return generateSolidImage(requested, kMissing, 24);
      }
      copyName(extension, sizeof(extension), dot);
      *dot = '\0';
      // The file found may be spelled longer than a key holds: never key the image by a cut name.
      const size_t length = std::strlen(found);
      if (length >= sizeof(key)) {
        cmdPrintf("failed to find (%s).. generating default image\n", requested);
        return generateSolidImage(requested, kMissing, 24);
      }
      std::memcpy(key, found, length + 1);
    }
  }
  ImageInterface* image = images_[slot];
  if (!image) {
    if (String::icmp(extension, ".ovid") == 0)
      image = new VideoImage;
    else
      image = new ImageInterface;
    copyName(image->name, sizeof(image->name), key);
    copyName(image->extension, sizeof(image->extension), extension);
    image->flags = flags;
    image->keyFlags = flags;
    image->open();
    setSlot(slot, image);
  }
  image->refCount++;
  return image;
}

ImageInterface* TexMgrInfo::findLoadedImage(const char* name, uint32_t flags) {
  if (!name)
    return nullptr;
  char key[128];
  makeKey(key, sizeof(key), name);
  const int index = indexOfImage(key, flags);
  return index >= 0 ? images_[index] : nullptr;
}

ImageInterface* TexMgrInfo::getImage(int index) {
  return index >= 0 && index < images_.num() ? images_[index] : nullptr;
}

void TexMgrInfo::releaseImage(ImageInterface* image) {
  if (!image)
    return;
  image->refCount--;
  if (image->refCount == 0)
    image->unload();
  if (image->refCount < 1) {
    for (int i = 0; i < images_.num(); ++i) {
      if (images_[i] == image) {
        setSlot(i, nullptr);
        break;
      }
    }
    clearBuiltInPointer(image);
    delete image;
  }
  while (images_.num() > 0 && !images_[images_.num() - 1])
    images_.removeIndex(images_.num() - 1);
}

void TexMgrInfo::flagAllForReload() {
  for (int i = 0; i < images_.num(); ++i) {
    ImageInterface* image = images_[i];
    if (image && image->loaded) {
      image->flags |= kImageReload;
      image->unload();
    }
  }
}

void TexMgrInfo::reloadFlagged() {
  generateImages();
  for (int i = 0; i < images_.num(); ++i) {
    ImageInterface* image = images_[i];
    if (!image || !(image->flags & kImageReload))
      continue;
    image->flags &= ~uint32_t(kImageReload);
    if (image->flags & kImageAny)
      image->load();
  }
}

// --- Images from memory ---

ImageInterface* TexMgrInfo::createImageFromPixels(const char* name, const ImageInfo* info, uint32_t flags,
                                                  const void* pixels) {
  if (!name || !info)
    return nullptr;
  const int64_t size = imageByteSize(info, kImageNoMips);
  if (size <= 0 || size > 0x7FFFFFFF)
    return nullptr;
  char key[128];
  makeKey(key, sizeof(key), name);
  const int index = indexOfImage(key, flags | kImageReload);
  ImageInterface* image = index >= 0 ? images_[index] : findImage(name, flags);
  if (!image)
    return nullptr;
  const int count = (flags & kImageCube) ? 6 : 1;
  ImageData faces[6] = {};
  for (int i = 0; i < count; ++i) {
    faces[i].info = *info;
    faces[i].pixels = imageAlloc(size_t(size) + 4);
    if (!faces[i].pixels) {
      for (int j = 0; j < i; ++j)
        imageFree(faces[j].pixels);
      return image;
    }
    if (pixels) {
      std::memcpy(faces[i].pixels, static_cast<const uint8_t*>(pixels) + size * i, size_t(size));
    } else {
      std::memset(faces[i].pixels, 0, size_t(size));
    }
    faces[i].byteSize = int32_t(size);
  }
  image->upload(faces, count);
  return image;
}

ImageInterface* TexMgrInfo::createImage(const ImageInfo* info, uint32_t flags, const char* name) {
  if (!info)
    return nullptr;
  flags |= kImageAny | kImageNoDownSize | kImageNoMips;
  char generated[64];
  if (name) {
    char key[128];
    makeKey(key, sizeof(key), name);
    const int index = indexOfImage(key, flags);
    if (index >= 0) {
      // Re-specified in place: storage of the new size with undefined contents.
      ImageInterface* image = images_[index];
      ImageData face = {};
      face.info = *info;
      face.byteSize = int32_t(std::min<int64_t>(imageByteSize(info, kImageNoMips), 0x7FFFFFFF));
      image->flags = flags;
      image->upload(&face, 1);
      return image;
    }
  } else {
    for (int i = 0;; ++i) {
      std::snprintf(generated, sizeof(generated), "_renderMap_%d", i);
      if (indexOfImage(generated, kImageAny) < 0)
        break;
    }
    name = generated;
  }
  return createImageFromPixels(name, info, flags, nullptr);
}

ImageInterface* TexMgrInfo::createRGBImage(int width, int height, uint32_t flags, const char* name) {
  const ImageInfo info = {width, height, 0, kPixelFormatRGB, kTextureType2D, 99};
  return createImage(&info, flags, name);
}

ImageInterface* TexMgrInfo::generateSolidImage(const char* name, const uint8_t color[4], int bits) {
  cmdPrintf("generating... %s\n", name);
  const ImageInfo info = {1, 1, 0, bits == 24 ? kPixelFormatRGB : kPixelFormatRGBA, kTextureType2D, 99};
  return createImageFromPixels(name, &info, 0x80008046u, color);
}

// --- Built-in images ---

void TexMgrInfo::generateImages() {
  struct Solid {
    const char* name;
    ImageInterface** pointer;
    uint8_t color[4];
    int format;
  };
  const Solid solids[] = {
      {"_white", &g_whiteImage, {255, 255, 255, 0}, kPixelFormatRGB},
      {"_black", &g_blackImage, {0, 0, 0, 0}, kPixelFormatRGB},
      {"_gray", nullptr, {128, 128, 128, 0}, kPixelFormatRGB},
      {"_flatbump", &g_flatBumpImage, {128, 128, 255, 128}, kPixelFormatRGBA},
  };
  for (const Solid& solid : solids) {
    cmdPrintf("generating... %s\n", solid.name);
    const ImageInfo info = {1, 1, 0, solid.format, kTextureType2D, 99};
    ImageInterface* image = createImageFromPixels(solid.name, &info, 0x80008046u, solid.color);
    if (solid.pointer)
      *solid.pointer = image;
  }

  {
    cmdPrintf("generating... %s\n", "_default");
    const uint8_t texels[12] = {0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0};
    const ImageInfo info = {2, 2, 0, kPixelFormatRGB, kTextureType2D, 99};
    g_defaultImage = createImageFromPixels("_default", &info, 0x80008006u, texels);
  }

  {
    cmdPrintf("generating... %s\n", "_fog");
    std::vector<uint8_t> texels(128 * 128 * 4);
    for (int i = 0; i < 128; ++i) {
      for (int j = 0; j < 128; ++j) {
        const float u = ((float(j) + 0.5f) * 2.0f / 128.0f - 1.0f) * 1.0666667f;
        const float v = ((float(i) + 0.5f) * 2.0f / 128.0f - 1.0f) * 1.0666667f;
        const float alpha = std::clamp((u * u + v * v) * 255.0f, 0.0f, 255.0f);
        uint8_t* t = &texels[size_t(i * 128 + j) * 4];
        t[0] = t[1] = t[2] = 255;
        t[3] = uint8_t(std::lround(alpha));
      }
    }
    const ImageInfo info = {128, 128, 0, kPixelFormatRGBA, kTextureType2D, 99};
    g_fogImage = createImageFromPixels("_fog", &info, 0x80000046u, texels.data());
  }

  {
    cmdPrintf("generating... %s\n", "_fogEnter");
    std::vector<uint8_t> texels(64 * 64 * 4);
    for (int i = 0; i < 64; ++i) {
      for (int j = 0; j < 64; ++j) {
        const float s = (float(j) + 0.5f) / 64.0f;
        const float t = (float(i) + 0.5f) / 64.0f;
        uint8_t* texel = &texels[size_t(i * 64 + j) * 4];
        texel[0] = texel[1] = texel[2] = 255;
        texel[3] = uint8_t(fogEnterFalloff(s, t) * 255.0f);
      }
    }
    const ImageInfo info = {64, 64, 0, kPixelFormatRGBA, kTextureType2D, 99};
    g_fogEnterImage = createImageFromPixels("_fogEnter", &info, 0x80000046u, texels.data());
  }

  {
    cmdPrintf("generating... %s\n", "_quadratic");
    uint8_t texels[16 * 3];
    for (int i = 0; i < 16; ++i) {
      const float d = 1.0f - float(i) / 16.0f;
      const uint8_t value = uint8_t(std::clamp(d * d * 255.0f, 0.0f, 255.0f));
      texels[i * 3] = texels[i * 3 + 1] = texels[i * 3 + 2] = value;
    }
    const ImageInfo info = {16, 1, 0, kPixelFormatRGB, kTextureType2D, 99};
    createImageFromPixels("_quadratic", &info, 0x80000046u, texels);
  }

  {
    cmdPrintf("generating... %s\n", "_currentRender");
    const ImageInfo info = {nextPowerOfTwo(std::max(conVarInt("r_viewwidth", 800), 1)),
                            nextPowerOfTwo(std::max(conVarInt("r_viewheight", 600), 1)),
                            0,
                            kPixelFormatRGB,
                            kTextureType2D,
                            99};
    g_currentRenderImage = createImageFromPixels("_currentRender", &info, 0x80008046u, nullptr);
  }

  {
    cmdPrintf("generating... %s\n", "_normalCubeMap");
    constexpr int kSize = 32;
    std::vector<uint8_t> texels(size_t(6) * kSize * kSize * 3);
    for (int f = 0; f < 6; ++f) {
      for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
          const float s = 2.0f * (float(x) + 0.5f) / kSize - 1.0f;
          const float t = 2.0f * (float(y) + 0.5f) / kSize - 1.0f;
          float v[3];
          switch (f) {
            case 0:
              v[0] = 1;
              v[1] = -t;
              v[2] = -s;
              break;
            case 1:
              v[0] = -1;
              v[1] = -t;
              v[2] = s;
              break;
            case 2:
              v[0] = s;
              v[1] = 1;
              v[2] = t;
              break;
            case 3:
              v[0] = s;
              v[1] = -1;
              v[2] = -t;
              break;
            case 4:
              v[0] = s;
              v[1] = -t;
              v[2] = 1;
              break;
            default:
              v[0] = -s;
              v[1] = -t;
              v[2] = -1;
              break;
          }
          const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
          uint8_t* texel = &texels[((size_t(f) * kSize + y) * kSize + x) * 3];
          for (int c = 0; c < 3; ++c)
            texel[c] = uint8_t(128.0f + 127.0f * (v[c] / length));
        }
      }
    }
    const ImageInfo info = {kSize, kSize, 0, kPixelFormatRGB, kTextureTypeCube, 99};
    g_normalCubeMapImage = createImageFromPixels("_normalCubeMap", &info, 0x80000146u, texels.data());
  }

  cmdPrintf("generating... %s\n", "_mirrorRenderMap");
  const int mirror = indexOfImage("_mirrorRenderMap", kImageAny);
  if (mirror >= 0) {
    g_mirrorRenderImage = images_[mirror];
  } else {
    RenderImage* image = new RenderImage;
    copyName(image->name, sizeof(image->name), "_mirrorRenderMap");
    image->flags = image->keyFlags = 0x80008046u;
    image->info = ImageInfo{1, 1, 0, kPixelFormatRGB, kTextureType2D, 99};
    image->refCount = 1;
    setSlot(indexOfImage(nullptr, 0), image);
    g_mirrorRenderImage = image;
  }
}

// --- Listing ---

void TexMgrInfo::listImages() {
  char rule[83];
  std::memset(rule, '-', 82);
  rule[82] = '\0';
  cmdPrintf("%s\n", rule);
  cmdPrintf("      %-30s           SIZE MIPS       FMT   BYTE SIZE\n", "NAME");
  cmdPrintf("%s\n", rule);
  int64_t total = 0;
  for (int i = 0; i < images_.num(); ++i) {
    const ImageInterface* image = images_[i];
    if (!image)
      continue;
    const size_t length = std::strlen(image->name);
    const char* shown = length > 30 ? image->name + length - 30 : image->name;
    char text[64];
    int kbytes = 0;
    if (image->loaded) {
      const int mips = (image->flags & kImageNoDownSize) ? 0 : imageMipCountFor(&image->info);
      std::snprintf(text, sizeof(text), "%dx%dx%d [%2d] [%7s]", image->info.width, image->info.height,
                    imageFormatBitsPerPixel(image->info.pixelFormat), mips,
                    imageFormatName(image->info.pixelFormat));
      kbytes = image->memory / 1024;
      total += image->memory;
    } else {
      std::snprintf(text, sizeof(text), "[not in memory]");
    }
    cmdPrintf("%4d: %-30s%30s%5d Kbytes\n", i, shown, text, kbytes);
  }
  cmdPrintf("\testimated texture memory: %.2f Mbytes\n", double(total) / 1048576.0);
}

// --- Screenshots and frame-buffer reads ---

const char* makeScreenshotName(const char* ext, const char* base) {
  static int counter = 0;
  static char path[512];
  if (!g_ioSystem || !ext || !base)
    return nullptr;
  const char* basePath = g_conVarSystem ? g_conVarSystem->getString("fs_basepath") : "";
  bool made = false;
  do {
    char name[300];
    std::snprintf(name, sizeof(name), "screenshots/%s%04d.%s", base, counter, ext);
    const char* os = g_ioSystem->buildOSPath(basePath, nullptr, name);
    counter++;
    if (!os)
      return made ? path : nullptr;
    copyName(path, sizeof(path), os);
    made = true;
  } while (g_ioSystem->osFileExists(path) && counter < 999);
  return path;
}

bool readFrameBuffer(uint8_t* dst, int pitch, int width, int height, int pixelFormat) {
  if (!dst || !g_renderInterface || !g_renderInterface->isReady())
    return false;
  if (pixelFormat != kPixelFormatRGB && pixelFormat != kPixelFormatRGBA)
    return false;
  int renderWidth = 0;
  int renderHeight = 0;
  renderSize(&renderWidth, &renderHeight);
  width = std::min(width, renderWidth);
  height = std::min(height, renderHeight);
  if (width <= 0 || height <= 0)
    return false;
  const int bpp = pixelFormat == kPixelFormatRGBA ? 4 : 3;
  const int readWidth = nextPowerOfTwo(width);
  std::vector<uint8_t> buffer(size_t(readWidth) * height * bpp);
  g_renderInterface->setColorMask(true, true, true, true);
  g_renderInterface->finish();
  // The device reads packed rows, so the read width is the row stride.
  g_renderInterface->readPixels(buffer.data(), 0, 0, readWidth, height, pixelFormat);
  for (int y = 0; y < height; ++y) {
    std::memcpy(dst + size_t(y) * pitch * bpp, buffer.data() + size_t(height - 1 - y) * readWidth * bpp,
                size_t(width) * bpp);
  }
  return true;
}

bool saveScreenshot(const char* fileName, int pixelFormat) {
  if (!fileName || !g_renderInterface || !g_renderInterface->isReady())
    return false;
  int width = 0;
  int height = 0;
  renderSize(&width, &height);
  if (width <= 0 || height <= 0 || width >= 4096 || height >= 4096)
    return false;
  const int format = pixelFormat == kPixelFormatRGBA ? kPixelFormatRGBA : kPixelFormatRGB;
  const int bpp = format == kPixelFormatRGBA ? 4 : 3;
  ImageData data = {};
  data.info = ImageInfo{width, height, 0, format, kTextureType2D, 99};
  data.byteSize = width * height * bpp;
  data.pixels = imageAlloc(size_t(data.byteSize) + 4);
  if (!data.pixels)
    return false;
  const bool ok =
      readFrameBuffer(data.pixels, width, width, height, format) && writeImageFile(fileName, &data);
  imageFree(data.pixels);
  return ok;
}

void stencilColor(int value, uint8_t out[3]) {
  static const uint8_t kColors[7][3] = {{128, 128, 128}, {255, 0, 0},   {0, 255, 0},    {0, 0, 255},
                                        {255, 255, 0},   {0, 255, 255}, {255, 255, 255}};
  const int index = std::max(value - 128, 0) % 7;
  std::memcpy(out, kColors[index], 3);
}

void captureStencilColors() {
  if (!g_renderInterface || !g_renderInterface->isReady())
    return;
  int width = 0;
  int height = 0;
  renderSize(&width, &height);
  if (width <= 0 || height <= 0 || width > 1024 || height > 768)
    return;
  std::vector<uint8_t> stencil(size_t(width) * height);
  if (!g_renderInterface->readStencil(stencil.data(), 0, 0, width, height))
    return;
  std::vector<uint8_t> colors(stencil.size() * 3);
  for (size_t i = 0; i < stencil.size(); ++i)
    stencilColor(stencil[i], &colors[i * 3]);
  g_renderInterface->drawPixelsOverFrame(colors.data(), width, height);
}
