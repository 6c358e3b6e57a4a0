// ".ovid" decoding: frames per second at 640 x 480 for each frame kind (raw, quad with a
// codebook before each frame, JPEG, DDS, block delta), decoding 24 frames forward per iteration.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/texture/videoimage.h"
#include "tests/render/texture/support/ovidwriter.h"

namespace {

constexpr int kW = 640, kH = 480, kFrames = 24;
using Bytes = std::vector<uint8_t>;

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

Bytes makeVideo(int kind) {
  textest::OvidWriter out(kW, kH);
  const size_t blocks = size_t(kW / 4) * (kH / 4) * 8;
  for (int f = 0; f < kFrames; f++) {
    switch (kind) {
      case 0:
        out.raw(picture(f));
        break;
      case 1: {
        Bytes cells2, cells4;
        for (int c = 0; c < 256; c++)
          cells2.insert(cells2.end(), {uint8_t(c), uint8_t(c + 1), uint8_t(c + 2), uint8_t(c + 3), uint8_t(128 + f), 100});
        for (int c = 0; c < 256; c++)
          cells4.insert(cells4.end(), {uint8_t(c), uint8_t(c + 7), uint8_t(c + 13), uint8_t(c + 29)});
        out.codebook(cells2, cells4, 0);
        textest::CodeStreamWriter codes;
        int n = 0;
        for (int my = 0; my < kH; my += 16)
          for (int mx = 0; mx < kW; mx += 16)
            for (int b = 0; b < 4; b++, n++) {
              // A mix as an encoder makes: doubled cells, split blocks, motion and skips.
              const int kindOf = (n + f) % 4;
              if (kindOf == 0) {
                codes.code(2);
                codes.byte(uint8_t(n));
              } else if (kindOf == 1) {
                codes.code(3);
                for (int s = 0; s < 4; s++) {
                  codes.code(s == 3 ? 3 : 2);
                  for (int k = 0; k < (s == 3 ? 4 : 1); k++)
                    codes.byte(uint8_t(n + k));
                }
              } else if (kindOf == 2 && f > 0) {
                codes.code(1);
                codes.byte(0x88);
              } else {
                codes.code(0);
              }
            }
        out.quad(codes);
        break;
      }
      case 2:
        out.jpeg(picture(f), kW, kH, 85);
        break;
      case 3: {
        Bytes b(blocks);
        for (size_t i = 0; i < b.size(); i++)
          b[i] = uint8_t(i * 7 + size_t(f));
        out.dds(b, kW, kH);
        break;
      }
      case 4: {
        if (f == 0) {
          out.dds(Bytes(blocks, 0x55), kW, kH);
          break;
        }
        textest::CodeStreamWriter codes;
        int n = 0;
        for (int gy = 0; gy < kH / 4; gy += 4)
          for (int gx = 0; gx < kW / 4; gx += 4)
            for (int q = 0; q < 4; q++, n++) {
              const int kindOf = (n + f) % 3;
              codes.code(kindOf);
              if (kindOf == 1)
                codes.byte(0x88);
              else if (kindOf == 2)
                for (int k = 0; k < 8; k++)
                  codes.byte(uint8_t(n + k));
            }
        out.delta(codes);
        break;
      }
    }
  }
  return out.bytes;
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
