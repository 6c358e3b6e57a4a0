// ".ovid" decoding: frames per second at 640 x 480 for each frame kind (raw, quad with a
// codebook before each frame, JPEG, DDS, block delta), decoding 24 frames forward per iteration.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "render/texture/videoimage.h"

namespace {

constexpr int kW = 640, kH = 480, kFrames = 24;
using Bytes = std::vector<uint8_t>;

void chunk(Bytes& out, uint16_t id, const Bytes& data, uint16_t arg = 0) {
  const uint32_t n = uint32_t(data.size());
  const uint8_t h[8] = {uint8_t(id), uint8_t(id >> 8), uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24),
                        uint8_t(arg), uint8_t(arg >> 8)};
  out.insert(out.end(), h, h + 8);
  out.insert(out.end(), data.begin(), data.end());
}

Bytes header() {
  Bytes out;
  chunk(out, 0x1084, {});
  chunk(out, 0x1001, {uint8_t(kW & 255), uint8_t(kW >> 8), uint8_t(kH & 255), uint8_t(kH >> 8), 0, 0, 0, 0});
  return out;
}

// Codes in 16-bit words, arguments where they fall.
struct Codes {
  Bytes b;
  size_t word = 0;
  int left = 0;
  void code(int c) {
    if (!left) {
      word = b.size();
      b.push_back(0);
      b.push_back(0);
      left = 8;
    }
    left--;
    const unsigned w = unsigned(b[word] | b[word + 1] << 8) | unsigned((c & 3) << (left * 2));
    b[word] = uint8_t(w);
    b[word + 1] = uint8_t(w >> 8);
  }
};

Bytes picture(int f) {
  Bytes rgb(size_t(kW) * kH * 3);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      uint8_t* p = &rgb[(size_t(y) * kW + size_t(x)) * 3];
      p[0] = uint8_t(x + f * 4);
      p[1] = uint8_t(y * 2);
      p[2] = uint8_t((x ^ y) + f);
    }
  return rgb;
}

Bytes jpeg(const Bytes& rgb) {
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = kW;
  c.image_height = kH;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 85, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(c.next_scanline) * kW * 3);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes r(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return r;
}

Bytes dds(const Bytes& blocks) {
  Bytes h(128 + blocks.size(), 0);
  std::memcpy(h.data(), "DDS ", 4);
  auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++)
      h[at + size_t(k)] = uint8_t(v >> (8 * k));
  };
  put(4, 124);
  put(12, kH);
  put(16, kW);
  put(28, 1);
  put(80, 4);
  std::memcpy(&h[84], "DXT1", 4);
  std::memcpy(h.data() + 128, blocks.data(), blocks.size());
  return h;
}

Bytes makeVideo(int kind) {
  Bytes out = header();
  const size_t blocks = size_t(kW / 4) * (kH / 4) * 8;
  for (int f = 0; f < kFrames; f++) {
    switch (kind) {
      case 0:
        chunk(out, 0x1010, picture(f));
        break;
      case 1: {
        Bytes book;
        for (int c = 0; c < 256; c++)
          book.insert(book.end(), {uint8_t(c), uint8_t(c + 1), uint8_t(c + 2), uint8_t(c + 3), uint8_t(128 + f), 100});
        for (int c = 0; c < 256; c++)
          book.insert(book.end(), {uint8_t(c), uint8_t(c + 7), uint8_t(c + 13), uint8_t(c + 29)});
        chunk(out, 0x1002, book, 0);
        Codes codes;
        int n = 0;
        for (int my = 0; my < kH; my += 16)
          for (int mx = 0; mx < kW; mx += 16)
            for (int b = 0; b < 4; b++, n++) {
              // A mix as an encoder makes: doubled cells, split blocks, motion and skips.
              const int kindOf = (n + f) % 4;
              if (kindOf == 0) {
                codes.code(2);
                codes.b.push_back(uint8_t(n));
              } else if (kindOf == 1) {
                codes.code(3);
                for (int s = 0; s < 4; s++) {
                  codes.code(s == 3 ? 3 : 2);
                  for (int k = 0; k < (s == 3 ? 4 : 1); k++)
                    codes.b.push_back(uint8_t(n + k));
                }
              } else if (kindOf == 2 && f > 0) {
                codes.code(1);
                codes.b.push_back(0x88);
              } else {
                codes.code(0);
              }
            }
        chunk(out, 0x1011, codes.b);
        break;
      }
      case 2:
        chunk(out, 0x1012, jpeg(picture(f)));
        break;
      case 3: {
        Bytes b(blocks);
        for (size_t i = 0; i < b.size(); i++)
          b[i] = uint8_t(i * 7 + size_t(f));
        chunk(out, 0x1013, dds(b));
        break;
      }
      case 4: {
        if (f == 0) {
          chunk(out, 0x1013, dds(Bytes(blocks, 0x55)));
          break;
        }
        Codes codes;
        int n = 0;
        for (int gy = 0; gy < kH / 4; gy += 4)
          for (int gx = 0; gx < kW / 4; gx += 4)
            for (int q = 0; q < 4; q++, n++) {
              const int kindOf = (n + f) % 3;
              codes.code(kindOf);
              if (kindOf == 1)
                codes.b.push_back(0x88);
              else if (kindOf == 2)
                for (int k = 0; k < 8; k++)
                  codes.b.push_back(uint8_t(n + k));
            }
        chunk(out, 0x1014, codes.b);
        break;
      }
    }
  }
  return out;
}

void BM_DecodeVideo(benchmark::State& state) {
  const Bytes file = makeVideo(int(state.range(0)));
  VideoImage video;
  if (!video.openFromMemory(file.data(), file.size())) {
    state.SkipWithError("video refused");
    return;
  }
  for (auto _ : state) {
    for (int f = 0; f < kFrames; f++)
      video.seekFrame(f);
    benchmark::DoNotOptimize(video.frameBuffer());
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeVideo)->ArgName("kind")->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
