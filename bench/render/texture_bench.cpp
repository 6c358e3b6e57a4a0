// Image decoding and mip-chain building in megapixels per second, against stb_image, stb_image_resize
// and the djpeg program on the same 1024 x 1024 pictures in the same run; and findImage with 5,000
// images in the table, against the plain scan over the slots.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#include <stb/stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
#pragma GCC diagnostic pop

#include "lib/interface/cmdsystem.h"
#include "render/texture/imagefiles.h"
#include "render/texture/imageresample.h"
#include "render/texture/texmgrinfo.h"
#include "system/cmdmanager.h"
#include "tests/render/texture/support/ovidwriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kSide = 1024;

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A photo-like picture: smooth gradients with a little noise, so JPEG has work to do.
const Bytes& picture() {
  static Bytes rgb = [] {
    Bytes p(size_t(kSide) * kSide * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = int(seed >> 28) - 8;
        uint8_t* q = &p[(size_t(y) * kSide + x) * 3];
        q[0] = uint8_t(std::clamp(x / 4 + noise, 0, 255));
        q[1] = uint8_t(std::clamp(y / 4 + noise, 0, 255));
        q[2] = uint8_t(std::clamp((x + y) / 8 + noise, 0, 255));
      }
    return p;
  }();
  return rgb;
}

// The picture's rows bottom first, blue-green-red: the usual layout of both TGA and BMP.
void appendBottomUpBgr(Bytes& b) {
  const Bytes& p = picture();
  for (int y = kSide - 1; y >= 0; --y)
    for (int x = 0; x < kSide; ++x) {
      const uint8_t* q = &p[(size_t(y) * kSide + x) * 3];
      b.insert(b.end(), {q[2], q[1], q[0]});
    }
}

const Bytes& tgaFile() {
  static Bytes file = [] {
    Bytes b(18, 0);
    b[2] = 2;
    put16(b, 12, kSide);
    put16(b, 14, kSide);
    b[16] = 24;
    appendBottomUpBgr(b);
    return b;
  }();
  return file;
}

const Bytes& bmpFile() {
  static Bytes file = [] {
    Bytes b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(54 + kSide * kSide * 3));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, kSide);
    put32(b, 22, kSide);
    put16(b, 26, 1);
    put16(b, 28, 24);
    appendBottomUpBgr(b);
    return b;
  }();
  return file;
}

const Bytes& ddsFile() {
  static Bytes file = [] {
    Bytes b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    put32(b, 4, 124);
    put32(b, 12, kSide);
    put32(b, 16, kSide);
    put32(b, 28, 11);
    std::memcpy(&b[84], "DXT1", 4);
    int64_t chain = 0;
    for (int s = kSide; s >= 1; s /= 2)
      chain += imageCompressedLevelSize(kPixelFormatDXT1, s, s);
    for (int64_t i = 0; i < chain; ++i)
      b.push_back(uint8_t(i * 31));
    return b;
  }();
  return file;
}

const Bytes& jpegFile() {
  static const Bytes file = textest::encodeJpeg(picture(), kSide, kSide, 90);
  return file;
}

void megapixels(benchmark::State& state, double pixels) {
  state.counters["MP/s"] =
      benchmark::Counter(pixels / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

template <bool (*Decode)(const uint8_t*, uint32_t, ImageData*, bool)>
void decodeOurs(benchmark::State& state, const Bytes& file) {
  for (auto _ : state) {
    ImageData data = {};
    if (!Decode(file.data(), uint32_t(file.size()), &data, true))
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(data.pixels);
    imageFree(data.pixels);
  }
  megapixels(state, double(kSide) * kSide);
}

void decodeStb(benchmark::State& state, const Bytes& file) {
  for (auto _ : state) {
    int w, h, n;
    stbi_uc* p = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 3);
    if (!p)
      state.SkipWithError("stb failed");
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
  megapixels(state, double(kSide) * kSide);
}

bool decodeDds(const uint8_t* b, uint32_t n, ImageData* d, bool a) {
  return loadDDSFromMemory(b, int(n), d, a);
}

void BM_DecodeTGA(benchmark::State& s) {
  decodeOurs<decodeTGA>(s, tgaFile());
}
void BM_DecodeTGA_stb(benchmark::State& s) {
  decodeStb(s, tgaFile());
}
void BM_DecodeBMP(benchmark::State& s) {
  decodeOurs<decodeBMP>(s, bmpFile());
}
void BM_DecodeBMP_stb(benchmark::State& s) {
  decodeStb(s, bmpFile());
}
void BM_DecodeDDS_DXT1(benchmark::State& s) {
  decodeOurs<decodeDds>(s, ddsFile());
}
void BM_DecodeJPEG(benchmark::State& s) {
  decodeOurs<loadJPEGFromMemory>(s, jpegFile());
}
void BM_DecodeJPEG_stb(benchmark::State& s) {
  decodeStb(s, jpegFile());
}

// The djpeg program on the same file, process start included (as a tool would be used).
void BM_DecodeJPEG_djpeg(benchmark::State& state) {
  const std::string path = "/tmp/quill_texture_bench.jpg";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    state.SkipWithError("cannot write the JPEG file");
    return;
  }
  std::fwrite(jpegFile().data(), 1, jpegFile().size(), f);
  std::fclose(f);
  const std::string command = "djpeg -outfile /dev/null " + path;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("djpeg failed (install libjpeg-turbo-progs)");
      break;
    }
  }
  std::remove(path.c_str());
  megapixels(state, double(kSide) * kSide);
}

// A full chain of RGBA levels from 1024 x 1024 down to 1 x 1, each from the previous one.
void BM_MipChain(benchmark::State& state) {
  Bytes rgba(size_t(kSide) * kSide * 4);
  for (size_t i = 0; i < rgba.size(); ++i)
    rgba[i] = uint8_t(i * 7);
  for (auto _ : state) {
    ImageData level = {ImageInfo{kSide, kSide, 0, kPixelFormatRGBA, 0, 99}, rgba.data(), int32_t(rgba.size()),
                       0};
    bool owned = false;
    while (level.info.width > 1 || level.info.height > 1) {
      ImageData half = {};
      resizeImage(&half, &level, std::max(level.info.width / 2, 1), std::max(level.info.height / 2, 1), 0);
      if (owned)
        imageFree(level.pixels);
      level = half;
      owned = true;
    }
    benchmark::DoNotOptimize(level.pixels);
    imageFree(level.pixels);
  }
  megapixels(state, double(kSide) * kSide);
}

void BM_MipChain_stbir(benchmark::State& state) {
  Bytes rgba(size_t(kSide) * kSide * 4);
  for (size_t i = 0; i < rgba.size(); ++i)
    rgba[i] = uint8_t(i * 7);
  Bytes a(rgba.size()), b(rgba.size());
  for (auto _ : state) {
    const uint8_t* src = rgba.data();
    int w = kSide, h = kSide;
    Bytes* out = &a;
    while (w > 1 || h > 1) {
      const int nw = std::max(w / 2, 1), nh = std::max(h / 2, 1);
      stbir_resize_uint8(src, w, h, 0, out->data(), nw, nh, 0, 4);
      src = out->data();
      out = out == &a ? &b : &a;
      w = nw;
      h = nh;
    }
    benchmark::DoNotOptimize(src);
  }
  megapixels(state, double(kSide) * kSide);
}

// --- findImage over a full table ---

struct Table {
  Table() {
    getCmdManager();
    manager = TexMgrInfo::getInstance();
    const uint8_t texel[3] = {1, 2, 3};
    const ImageInfo info = {1, 1, 0, kPixelFormatRGB, 0, 99};
    for (int i = 0; i < 5000; ++i) {
      char name[64];
      std::snprintf(name, sizeof(name), "textures/set%02d/image_%04d", i % 50, i);
      names.emplace_back(name);
      manager->createImageFromPixels(name, &info, 0x844, texel);
    }
  }
  TexMgrInfo* manager;
  std::vector<std::string> names;
};

Table& table() {
  static Table t;
  return t;
}

void BM_FindImage5000(benchmark::State& state) {
  Table& t = table();
  size_t i = 0;
  for (auto _ : state) {
    ImageInterface* image = t.manager->findImage(t.names[i].c_str(), 0x844);
    benchmark::DoNotOptimize(image);
    image->refCount--;  // balance without the release path
    i = (i + 997) % t.names.size();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

// The scan the index replaces: every slot from 0, first match wins.
void BM_FindImage5000_linearScan(benchmark::State& state) {
  Table& t = table();
  size_t i = 0;
  for (auto _ : state) {
    const char* name = t.names[i].c_str();
    ImageInterface* found = nullptr;
    for (int slot = 0; slot < t.manager->getNumImages(); ++slot) {
      ImageInterface* image = t.manager->getImage(slot);
      if (image && image->refCount > 0 && std::strcmp(image->name, name) == 0) {
        found = image;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
    i = (i + 997) % t.names.size();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

BENCHMARK(BM_DecodeTGA);
BENCHMARK(BM_DecodeTGA_stb);
BENCHMARK(BM_DecodeBMP);
BENCHMARK(BM_DecodeBMP_stb);
BENCHMARK(BM_DecodeDDS_DXT1);
BENCHMARK(BM_DecodeJPEG);
BENCHMARK(BM_DecodeJPEG_stb);
BENCHMARK(BM_DecodeJPEG_djpeg)->Iterations(20)->UseRealTime();
BENCHMARK(BM_MipChain);
BENCHMARK(BM_MipChain_stbir);
BENCHMARK(BM_FindImage5000);
BENCHMARK(BM_FindImage5000_linearScan);
