// Down-sizing and mip-level building for 8-bit images. The box filter averages, per destination
// pixel, the source pixels under its footprint weighted by the covered fraction, first along rows
// into an intermediate of destination width, then down the columns.
#include "render/texture/imageresample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "lib/interface/convarsystem.h"

// clang-format off
static ConVar image_downSizeQuality("image_downSizeQuality", "1", 0x20002, "0 = nearest neighbor samples, 1 = box filter", 0.0f, 1.0f);
static ConVar image_downSize("image_downSize", "0", 0x20001, "enables down sizing of diffuse images for video cards with low memory", 0.0f, 1.0f);
static ConVar image_downSizeBump("image_downSizeBump", "0", 0x20001, "enables down sizing of normal maps for video cards with low memory", 0.0f, 1.0f);
static ConVar image_downSizeSpecular("image_downSizeSpecular", "0", 0x20001, "enables down sizing of specular maps for video cards with low memory", 0.0f, 1.0f);
static ConVar image_downSizeLimit("image_downSizeLimit", "256", 0x20002, "limits diffuse textures to the specified size", 4.0f, 1024.0f);
static ConVar image_downSizeBumpLimit("image_downSizeBumpLimit", "256", 0x20002, "limits normal map textures to the specified size", 4.0f, 1024.0f);
static ConVar image_downSizeSpecularLimit("image_downSizeSpecularLimit", "64", 0x20002, "limits specular map textures to the specified size", 4.0f, 1024.0f);
// clang-format on

namespace {

uint8_t g_scratch[kResampleScratchSize];

int bytesPerPixel(const ImageData* data) {
  const int format = data->info.pixelFormat;
  if (imageFormatBitsPerComponent(format) != 8)
    return 0;
  const int components = imageFormatComponents(format);
  return components >= 1 && components <= 4 ? components : 0;
}

// The source pixels under one destination pixel along an axis, with their weights.
struct Span {
  int first;  // index into taps
  int count;
  float total;
};

// Footprint [i * scale, (i + 1) * scale) of each of `count` destination pixels over `sourceCount`
// source pixels; weights are the covered fractions, indices clamped to the source.
void buildSpans(int count, int sourceCount, float scale, std::vector<Span>& spans, std::vector<int>& index,
                std::vector<float>& weight) {
  spans.resize(size_t(count));
  index.clear();
  weight.clear();
  for (int i = 0; i < count; ++i) {
    const float a = float(i) * scale;
    const float b = float(i + 1) * scale;
    Span& span = spans[size_t(i)];
    span.first = int(index.size());
    span.count = 0;
    span.total = 0.0f;
    const int first = int(a);
    for (int p = first; float(p) < b; ++p) {
      const float w = p == first ? float(first + 1) - a : (float(p) + 1.0f >= b ? b - float(p) : 1.0f);
      if (!(w > 0.0f))
        continue;
      index.push_back(std::min(p, sourceCount - 1));
      weight.push_back(w);
      span.count++;
      span.total += w;
    }
  }
}

uint8_t average(float sum, float total) {
  const float v = sum / total + 0.5f;
  return v >= 255.0f ? 255 : v <= 0.0f ? 0 : uint8_t(v);
}

// Filters `lines` lines of `count` source pixels each (pixels `step` bytes apart, lines `lineStride`
// bytes apart) into lines of spans.size() pixels.
void filterLines(const uint8_t* src, size_t srcPixelStep, size_t srcLineStride, uint8_t* dst,
                 size_t dstPixelStep, size_t dstLineStride, int lines, int bpp,
                 const std::vector<Span>& spans, const std::vector<int>& index,
                 const std::vector<float>& weight) {
  for (int line = 0; line < lines; ++line) {
    const uint8_t* s = src + size_t(line) * srcLineStride;
    uint8_t* d = dst + size_t(line) * dstLineStride;
    for (const Span& span : spans) {
      float sum[4] = {0, 0, 0, 0};
      for (int t = span.first; t < span.first + span.count; ++t) {
        const uint8_t* pixel = s + size_t(index[size_t(t)]) * srcPixelStep;
        const float w = weight[size_t(t)];
        for (int c = 0; c < bpp; ++c)
          sum[c] += w * float(pixel[c]);
      }
      for (int c = 0; c < bpp; ++c)
        d[c] = span.total > 0.0f ? average(sum[c], span.total) : 0;
      d += dstPixelStep;
    }
  }
}

int limitFor(uint32_t flags) {
  if (flags & kImageBump)
    return image_downSizeBumpLimit.getInt();
  if (flags & kImageSpecular)
    return image_downSizeSpecularLimit.getInt();
  return image_downSizeLimit.getInt();
}

}  // namespace

bool isImageSizeLimited(uint32_t flags) {
  if (flags & kImageNoDownSize)
    return false;
  if (flags & kImageBump)
    return image_downSizeBump.getBool();
  if (flags & kImageSpecular)
    return image_downSizeSpecular.getBool();
  return image_downSize.getBool();
}

void resampleImage(const ImageData* src, int mode, uint8_t* dst, int width, int height) {
  const int bpp = bytesPerPixel(src);
  const int sw = src->info.width;
  const int sh = src->info.height;
  if (!dst || !src->pixels || bpp == 0 || width <= 0 || height <= 0 || sw <= 0 || sh <= 0)
    return;
  const float sx = float(sw) / float(width);
  const float sy = float(sh) / float(height);
  if (sx == 1.0f && sy == 1.0f) {
    std::memcpy(dst, src->pixels, size_t(width) * height * bpp);
    return;
  }
  if (mode == 0) {
    for (int i = 0; i < height; ++i) {
      const int row = std::min(int(float(i) * sy), sh - 1);
      const uint8_t* s = src->pixels + size_t(row) * sw * bpp;
      uint8_t* d = dst + size_t(i) * width * bpp;
      for (int j = 0; j < width; ++j, d += bpp) {
        const int column = std::min(int(float(j) * sx), sw - 1);
        std::memcpy(d, s + size_t(column) * bpp, size_t(bpp));
      }
    }
    return;
  }
  const size_t need = size_t(std::max(height, sh)) * bpp * width + 4;
  std::vector<uint8_t> heap;
  uint8_t* mid = g_scratch;
  if (need >= size_t(kResampleScratchSize)) {
    heap.resize(need);
    mid = heap.data();
  }
  // Kept between calls like the scratch block, so filtering allocates nothing once warmed up.
  static std::vector<Span> spans;
  static std::vector<int> index;
  static std::vector<float> weight;
  buildSpans(width, sw, sx, spans, index, weight);
  filterLines(src->pixels, size_t(bpp), size_t(sw) * bpp, mid, size_t(bpp), size_t(width) * bpp, sh, bpp,
              spans, index, weight);
  buildSpans(height, sh, sy, spans, index, weight);
  filterLines(mid, size_t(width) * bpp, size_t(bpp), dst, size_t(width) * bpp, size_t(bpp), width, bpp, spans,
              index, weight);
}

void resizeImage(ImageData* dst, const ImageData* src, int width, int height, uint32_t flags) {
  const int bpp = bytesPerPixel(src);
  width = std::max(width, 1);
  height = std::max(height, 1);
  ImageData result = *src;
  result.info.width = width;
  result.info.height = height;
  result.mipCount = 0;
  result.pixels = bpp ? imageAlloc(size_t(width) * height * bpp + 4) : nullptr;
  result.byteSize = result.pixels ? int32_t(size_t(width) * height * bpp) : 0;
  const int quality = image_downSizeQuality.getInt();
  if (result.pixels)
    resampleImage(src, quality, result.pixels, width, height);
  *dst = result;
  if (!dst->pixels)
    return;
  if ((flags & kImageBump) && quality != 0)
    renormalizeNormalMap(dst);
  if ((flags & kImageZeroClamp) == kImageZeroClamp)
    clearImageBorder(dst);
}

void limitImageSize(ImageData* dst, ImageData* src, uint32_t flags) {
  const int limit = limitFor(flags);
  const int width = src->info.width;
  const int height = src->info.height;
  int w = std::min(limit, width);
  int h = std::min(limit, height);
  if (w == h) {
    if (width < height) {
      w = int(int64_t(width) * w / height);
    } else if (height < width) {
      h = int(int64_t(height) * h / width);
    }
  }
  w = std::max(w, 1);
  h = std::max(h, 1);
  const int format = src->info.pixelFormat;
  const bool compressed = imageFormatIsCompressed(format);
  if (!compressed && src->mipCount < 2) {
    uint8_t* old = src->pixels;
    resizeImage(dst, src, w, h, flags);
    if (dst->pixels != old)
      imageFree(old);
    if (dst != src) {
      src->pixels = nullptr;
      src->byteSize = 0;
    }
    return;
  }
  // Drop stored levels from the front, never more than the block holds.
  const int bpp = compressed ? 0 : bytesPerPixel(src);
  int levels = std::max<int>(src->mipCount, 1);
  int cw = width;
  int ch = height;
  int64_t offset = 0;
  int64_t remaining = src->byteSize;
  while (levels > 1 && (cw > w || ch > h)) {
    const int64_t levelSize = compressed ? imageCompressedLevelSize(format, cw, ch) : int64_t(cw) * ch * bpp;
    if (levelSize <= 0 || levelSize >= remaining)
      break;
    offset += levelSize;
    remaining -= levelSize;
    levels--;
    cw = std::max(cw / 2, 1);
    ch = std::max(ch / 2, 1);
  }
  if (offset == 0 || cw > w || ch > h) {
    if (dst != src) {
      *dst = *src;
      src->pixels = nullptr;
      src->byteSize = 0;
    }
    return;
  }
  uint8_t* block = imageAlloc(size_t(remaining) + 4);
  if (!block) {
    if (dst != src) {
      *dst = *src;
      src->pixels = nullptr;
      src->byteSize = 0;
    }
    return;
  }
  std::memcpy(block, src->pixels + offset, size_t(remaining));
  imageFree(src->pixels);
  ImageData result = *src;
  result.info.width = cw;
  result.info.height = ch;
  result.pixels = block;
  result.byteSize = int32_t(remaining);
  result.mipCount = uint8_t(levels);
  *dst = result;
  if (dst != src) {
    src->pixels = nullptr;
    src->byteSize = 0;
  }
}

void renormalizeNormalMap(ImageData* data) {
  const int bpp = bytesPerPixel(data);
  if (bpp < 3 || !data->pixels)
    return;
  const size_t count = size_t(data->info.width) * data->info.height;
  uint8_t* p = data->pixels;
  for (size_t i = 0; i < count; ++i, p += bpp) {
    float v[3];
    for (int c = 0; c < 3; ++c)
      v[c] = float(p[c]) / 255.0f * 2.0f - 1.0f;
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f) {
      for (float& c : v)
        c /= length;
    }
    for (int c = 0; c < 3; ++c) {
      const float out = (v[c] * 0.5f + 0.5f) * 255.0f;
      p[c] = uint8_t(std::clamp(out, 0.0f, 255.0f));
    }
  }
}

void clearImageBorder(ImageData* data) {
  const int bpp = bytesPerPixel(data);
  if (bpp == 0 || !data->pixels)
    return;
  static const uint8_t kBorder[4] = {0, 0, 0, 255};
  const int width = data->info.width;
  const int height = data->info.height;
  auto paint = [&](int x, int y) {
    std::memcpy(data->pixels + (size_t(y) * width + x) * bpp, kBorder, size_t(bpp));
  };
  if (width < 2 || height < 2) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        paint(x, y);
    return;
  }
  for (int x = 0; x < width; ++x) {
    paint(x, 0);
    paint(x, height - 1);
  }
  for (int y = 0; y < height; ++y) {
    paint(0, y);
    paint(width - 1, y);
  }
}
