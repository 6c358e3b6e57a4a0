// ImageInterface: loading one image from its file (or six cube faces), uploading it level by level
// through the render device with down-sizing and a generated mip chain, binding with substitutes,
// reading it back and saving it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "lib/list.h"
#include "lib/str.h"
#include "render/texture/imagefiles.h"
#include "render/texture/imageresample.h"
#include "render/texture/texmgrinfo.h"
#include "render/texture/videoimage.h"

// clang-format off
static ConVar r_singleTexture("r_singleTexture", "-1", 0x2002, "uses the same texture for all 'bindImage' calls");
static ConVar image_bias("image_bias", "0", 0x20002, "bias the mip map sampling", 0.0f, 64.0f);
static ConVar r_skipSpecular("r_skipSpecular", "0", 0x22011, "renders lit geometry without specular texture");
static ConVar r_skipDiffuse("r_skipDiffuse", "0", 0x2011, "renders lit geometry without diffuse textures");
static ConVar r_skipBump("r_skipBump", "0", 0x22011, "renders lit geometry with simple shading");
// clang-format on

namespace {

const char* const kCubeSuffixes[6] = {"_px", "_nx", "_py", "_ny", "_pz", "_nz"};
const char* const kCameraSuffixes[6] = {"_right", "_left", "_up", "_down", "_forward", "_back"};

bool deviceReady() {
  return g_renderInterface && g_renderInterface->isReady();
}

void freeFaces(ImageData* faces, int count) {
  for (int i = 0; i < count; ++i) {
    imageFree(faces[i].pixels);
    faces[i].pixels = nullptr;
  }
}

// Reads a file by the extension in its found name.
bool readImageFile(const char* fileName, ImageData* out) {
  if (std::strstr(fileName, ".tga"))
    return loadTGA(fileName, out);
  if (std::strstr(fileName, ".dds"))
    return loadDDS(fileName, out);
  if (std::strstr(fileName, ".jpg"))
    return loadJPEG(fileName, out);
  if (std::strstr(fileName, ".bmp"))
    return loadBMP(fileName, out);
  if (std::strstr(fileName, ".ovid"))
    return readVideoFirstFrame(fileName, out);
  return false;
}

// Bump maps carry their first channel in alpha too.
void expandRGBToRGBA(ImageData* data) {
  const int format = data->info.pixelFormat;
  if (!data->pixels || (format != kPixelFormatRGB && format != kPixelFormatRGBA))
    return;
  const size_t count = size_t(data->info.width) * data->info.height;
  if (format == kPixelFormatRGBA) {
    for (size_t i = 0; i < count; ++i)
      data->pixels[i * 4 + 3] = data->pixels[i * 4];
    return;
  }
  uint8_t* block = imageAlloc(count * 4 + 4);
  if (!block)
    return;
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(block + i * 4, data->pixels + i * 3, 3);
    block[i * 4 + 3] = data->pixels[i * 3];
  }
  imageFree(data->pixels);
  data->pixels = block;
  data->byteSize = int32_t(count * 4);
  data->info.pixelFormat = kPixelFormatRGBA;
  data->mipCount = 0;
}

// Files found but unreadable, said once each: the images of one file under other load flags, and
// the reloads of a restart, take the stand-in without reading it again ("reloadImages" forgets).
List<String> s_unreadableFiles;

bool isUnreadable(const char* file) {
  for (const String& known : s_unreadableFiles)
    if (String::icmp(known.c_str(), file) == 0)
      return true;
  return false;
}

// A file that was found but cannot be read draws as a missing file does; without this every bind
// would read it again, print the decoder's complaint again and draw nothing.
bool loadStandIn(ImageInterface* image) {
  if (image->flags & (kImageGenerated | kImageAny))
    return false;
  char file[160];
  std::snprintf(file, sizeof(file), "%s%s", image->name, image->extension);
  if (!isUnreadable(file)) {
    cmdPrintf("WARNING: image '%s' could not be read.. using the default image\n", file);
    s_unreadableFiles.append(String(file));
  }
  static const uint8_t kMissing[3] = {255, 255, 0};
  const bool cube = (image->flags & kImageCube) != 0;
  const int count = cube ? 6 : 1;
  ImageData faces[6] = {};
  for (int i = 0; i < count; ++i) {
    faces[i].info = ImageInfo{1, 1, 0, kPixelFormatRGB, cube ? kTextureTypeCube : kTextureType2D, 99};
    faces[i].pixels = imageAlloc(sizeof(kMissing) + 4);
    if (!faces[i].pixels) {
      freeFaces(faces, i);
      return false;
    }
    std::memcpy(faces[i].pixels, kMissing, sizeof(kMissing));
    faces[i].byteSize = int32_t(sizeof(kMissing));
  }
  return image->upload(faces, count);
}

}  // namespace

ImageInterface::ImageInterface() = default;

ImageInterface::~ImageInterface() {
  unload();
}

bool ImageInterface::bind() {
  return bindImage(selectBoundImage(this));
}

bool ImageInterface::load() {
  if (loaded)
    return true;
  char file[160];
  std::snprintf(file, sizeof(file), "%s%s", name, extension);
  if (!(flags & (kImageGenerated | kImageAny)) && isUnreadable(file))
    return loadStandIn(this);
  ImageData faces[6] = {};
  const int count = loadImageData(faces);
  if (count == 0)
    return loadStandIn(this);
  return upload(faces, count);
}

void ImageInterface::unload() {
  if (textureId >= 0 && g_renderInterface) {
    g_renderInterface->pushContext();
    g_renderInterface->makeMainContextCurrent();
    g_renderInterface->deleteTexture(unsigned(textureId));
    g_renderInterface->popContext();
  }
  textureId = -1;
  loaded = false;
}

int ImageInterface::getTextureId() {
  if (!loaded)
    load();
  return textureId < 0 ? 0 : textureId;
}

bool ImageInterface::open() {
  return true;
}
void ImageInterface::setLoop(int) {}
void ImageInterface::restart() {}
void ImageInterface::setClockRegister(int) {}
bool ImageInterface::isVideo() const {
  return false;
}

int ImageInterface::loadImageData(ImageData* faces) {
  if (flags & kImageCube) {
    const char* const* suffixes = (flags & kImageCameraBit) ? kCameraSuffixes : kCubeSuffixes;
    for (int i = 0; i < 6; ++i) {
      char faceName[160];
      char found[256];
      std::snprintf(faceName, sizeof(faceName), "%s%s", name, suffixes[i]);
      faces[i] = ImageData{};
      if (!TexMgrInfo::findImageFile(found, sizeof(found), faceName) || !readImageFile(found, &faces[i])) {
        freeFaces(faces, i + 1);
        return 0;
      }
      faces[i].info.textureType = kTextureTypeCube;
    }
    return 6;
  }
  faces[0] = ImageData{};
  if (flags & (kImageGenerated | kImageAny)) {
    if (readBack(&faces[0]))
      return 1;
    const int64_t size = imageByteSize(&info, kImageNoMips);
    if (size <= 0)
      return 0;
    faces[0].info = info;
    faces[0].pixels = imageAlloc(size_t(size) + 4);
    if (!faces[0].pixels)
      return 0;
    std::memset(faces[0].pixels, 0, size_t(size));
    faces[0].byteSize = int32_t(size);
    return 1;
  }
  // A video's pixels are its first frame (saving or dumping it writes that).
  if (isVideo())
    return static_cast<VideoImage*>(this)->loadFirstFrame(&faces[0]) ? 1 : 0;
  char fileName[160];
  std::snprintf(fileName, sizeof(fileName), "%s%s", name, extension);
  if (!readImageFile(fileName, &faces[0]))
    return 0;
  faces[0].info.textureType = kTextureType2D;
  return 1;
}

bool ImageInterface::upload(ImageData* faces, int count) {
  memory = 0;
  info = faces[0].info;
  loaded = true;
  if (!deviceReady()) {
    for (int i = 0; i < count; ++i)
      memory += faces[i].byteSize;
    freeFaces(faces, count);
    return true;
  }
  RenderInterface* device = g_renderInterface;
  if (textureId < 0)
    textureId = int32_t(device->createTexture());
  device->pushContext();
  device->makeMainContextCurrent();
  int type = info.textureType;
  uint32_t uploadFlags = flags;
  if (type == kTextureTypeCube || count == 6) {
    type = kTextureTypeCube;
    uploadFlags |= kImageClamp | kImageNoDownSize | kImageNoMips;
  } else if (type != kTextureType3D) {
    type = kTextureType2D;
  }
  device->bindTexture(type, unsigned(textureId));
  const int32_t firstSize = faces[0].byteSize;
  for (int i = 0; i < count; ++i) {
    faces[i].info.textureType = type;
    uploadFace(type, i, &faces[i], uploadFlags);
    info = faces[i].info;
  }
  info.textureType = type;
  const bool compressed = imageFormatIsCompressed(info.pixelFormat);
  const int64_t perFace = compressed ? firstSize : imageByteSize(&info, flags);
  memory = int32_t(std::min<int64_t>(perFace * count, 0x7FFFFFFF));
  device->popContext();
  return true;
}

bool ImageInterface::uploadFace(int type, int face, ImageData* data, uint32_t uploadFlags) {
  RenderInterface* device = g_renderInterface;
  const bool compressed = imageFormatIsCompressed(data->info.pixelFormat);
  if ((uploadFlags & kImageBump) && !compressed)
    expandRGBToRGBA(data);
  if (isImageSizeLimited(uploadFlags) && data->pixels)
    limitImageSize(data, data, uploadFlags);
  device->setTextureWrap(type, (uploadFlags & kImageClamp) ? kWrapClampToEdge : kWrapRepeat);

  const int stored = std::max<int>(data->mipCount, 1);
  int levels = stored;
  if (!compressed && data->mipCount < 2 && !(uploadFlags & kImageNoMips) && data->pixels)
    levels = imageMipCountFor(&data->info);
  if (levels == 1) {
    flags |= kImageNoMips;
  } else {
    flags &= ~uint32_t(kImageNoMips);
  }
  device->setTextureFilter(type, (uploadFlags & kImageNearest) ? kFilterNearest : kFilterTrilinear,
                           levels >= 2);

  const int bpp = compressed ? 0 : imageFormatBitsPerPixel(data->info.pixelFormat) / 8;
  const ImageInfo base = data->info;
  uint8_t* made = nullptr;  // the last level built here
  const uint8_t* previous = nullptr;
  ImageInfo previousInfo = base;
  int64_t offset = 0;
  int width = base.width;
  int height = base.height;
  for (int i = 0; i < levels; ++i) {
    ImageInfo levelInfo = base;
    levelInfo.width = width;
    levelInfo.height = height;
    levelInfo.textureType = type;
    const int64_t levelSize = compressed ? imageCompressedLevelSize(base.pixelFormat, width, height)
                                         : int64_t(width) * height * std::max(base.depth, 1) * bpp;
    const uint8_t* pixels = nullptr;
    if (i < stored) {
      if (data->pixels) {
        // Stored levels are read only as far as the block holds them.
        if (offset + levelSize > data->byteSize)
          break;
        pixels = data->pixels + offset;
        offset += levelSize;
      }
    } else {
      ImageData source = {previousInfo, const_cast<uint8_t*>(previous), 0, 0};
      ImageData half = {};
      resizeImage(&half, &source, width, height, uploadFlags);
      imageFree(made);
      made = half.pixels;
      if (!made)
        break;
      pixels = made;
    }
    if (compressed) {
      device->uploadCompressedTexImage(&levelInfo, i, pixels, int(levelSize), face);
    } else {
      device->uploadTexImage(&levelInfo, i, pixels, face);
    }
    previous = pixels;
    previousInfo = levelInfo;
    width = std::max(width / 2, 1);
    height = std::max(height / 2, 1);
  }
  data->info = base;
  data->info.textureType = type;
  imageFree(made);
  imageFree(data->pixels);
  data->pixels = nullptr;
  return true;
}

bool ImageInterface::readBack(ImageData* data) {
  if (!loaded || textureId < 0 || !deviceReady() || imageFormatIsCompressed(info.pixelFormat))
    return false;
  const int64_t size = imageByteSize(&info, kImageNoMips);
  if (size <= 0)
    return false;
  *data = ImageData{};
  data->info = info;
  data->pixels = imageAlloc(size_t(size) + 4);
  if (!data->pixels)
    return false;
  std::memset(data->pixels, 0, size_t(size));
  data->byteSize = int32_t(size);
  g_renderInterface->pushContext();
  g_renderInterface->makeMainContextCurrent();
  g_renderInterface->bindTexture(info.textureType, unsigned(textureId));
  g_renderInterface->getTexImage(info.textureType, info.pixelFormat, data->pixels);
  g_renderInterface->popContext();
  return true;
}

bool ImageInterface::saveToFile(const char* fileName) {
  if (!fileName)
    return false;
  ImageData faces[6] = {};
  const int count = loadImageData(faces);
  if (count == 0)
    return false;
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    char faceName[300];
    if (i == 0) {
      std::snprintf(faceName, sizeof(faceName), "%s", fileName);
    } else {
      std::snprintf(faceName, sizeof(faceName), "d%d_%s", i, fileName);
    }
    ok = writeImageFile(faceName, &faces[i]);
  }
  freeFaces(faces, count);
  return ok;
}

void forgetUnreadableImageFiles() {
  s_unreadableFiles.clear();
}

bool RenderImage::bind() {
  ImageInterface* target = currentTargetImage ? currentTargetImage() : nullptr;
  return bindImage(target ? target : g_blackImage);
}

ImageInterface* selectBoundImage(ImageInterface* image) {
  const int single = r_singleTexture.getInt();
  if (single >= 0 && g_texManager) {
    const int count = g_texManager->getNumImages();
    image = count > 0 ? g_texManager->getImage(std::min(std::max(single, 0), count - 1)) : nullptr;
  }
  if (!image)
    image = g_whiteImage;
  if (!image)
    return nullptr;
  if (r_skipDiffuse.getBool() && (image->flags & kImageDiffuse) && !(image->flags & kImageCube)) {
    image = g_whiteImage;
  } else if (r_skipBump.getBool() && (image->flags & kImageBump)) {
    image = g_flatBumpImage;
  } else if (r_skipSpecular.getBool() && (image->flags & kImageSpecular)) {
    image = g_blackImage;
  }
  if (!image || !image->load())
    return nullptr;
  return image;
}

bool bindImage(ImageInterface* image) {
  if (!image)
    return false;
  image->load();
  if (!deviceReady())
    return true;
  if (image->textureId >= 0)
    g_renderInterface->bindTexture(image->info.textureType, unsigned(image->textureId));
  if (!(image->flags & kImageNoMips))
    g_renderInterface->setTextureLodBias(image_bias.getFloat());
  return true;
}
