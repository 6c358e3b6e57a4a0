// The recording device and the managed temporary tree of the texture tests.
#include "render/texture/support/texenv.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "lib/interface/convarsystem.h"
#include "lib/keydict.h"
#include "render/texture/imageresample.h"
#include "system/cmdmanager.h"
#include "system/convarmanager.h"
#include "system/iomanager.h"

namespace textest {

namespace fs = std::filesystem;

FakeDevice::FakeDevice() {
  g_renderInterface = this;
}

FakeDevice::~FakeDevice() {
  if (g_renderInterface == this)
    g_renderInterface = nullptr;
}

void FakeDevice::readPixels(void* dst, int, int, int width, int height, int pixelFormat) {
  ++readCalls;
  lastReadWidth = width;
  const int bpp = pixelFormat == kPixelFormatRGBA ? 4 : 3;
  uint8_t* out = static_cast<uint8_t*>(dst);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < bpp; ++c)
        *out++ = uint8_t((y * 16 + x + c) & 0xFF);
}

bool FakeDevice::readStencil(uint8_t* dst, int, int, int width, int height) {
  ++stencilReads;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      *dst++ = uint8_t((y * 7 + x) & 0xFF);
  return true;
}

void FakeDevice::drawPixelsOverFrame(const uint8_t* rgb, int width, int height) {
  drawnWidth = width;
  drawnHeight = height;
  drawn.assign(rgb, rgb + size_t(width) * height * 3);
}

void FakeDevice::uploadTexImage(const ImageInfo* info, int level, const void* pixels, int face) {
  Upload u{bound, level, face, *info, false, 0, {}};
  const int bpp = info->pixelFormat == kPixelFormatRGBA ? 4 : info->pixelFormat == kPixelFormatRGB ? 3 : 1;
  if (pixels) {
    const uint8_t* p = static_cast<const uint8_t*>(pixels);
    u.pixels.assign(p, p + size_t(info->width) * info->height * bpp);
  }
  uploads.push_back(std::move(u));
}

void FakeDevice::uploadCompressedTexImage(const ImageInfo* info, int level, const void* data, int bytes,
                                          int face) {
  Upload u{bound, level, face, *info, true, bytes, {}};
  const uint8_t* p = static_cast<const uint8_t*>(data);
  u.pixels.assign(p, p + bytes);
  uploads.push_back(std::move(u));
}

std::vector<const Upload*> FakeDevice::uploadsOf(unsigned texture) const {
  std::vector<const Upload*> out;
  for (const Upload& u : uploads)
    if (u.texture == texture)
      out.push_back(&u);
  return out;
}

namespace {

void capture(void*, const char* text) {
  g_output += text;
}

}  // namespace

void TexEnv::SetUp() {
  static std::atomic<int> counter{0};
  const char* base = std::getenv("QUILL_TEST_TMP");
  fs::path tmp = base && *base ? fs::path(base) : fs::temp_directory_path();
  root_ = tmp / ("tex_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                 std::to_string(counter++));
  fs::create_directories(root_ / "media");
  root_ = fs::canonical(root_);
  previous_ = fs::current_path();
  fs::current_path(root_);
  g_output.clear();
  KeyDict::initPools();
  CmdManager* cmd = getCmdManager();
  cmd->setOutput(capture, nullptr);
  getConVarManager();
  ASSERT_TRUE(IOManager::getInstance()->initialize("media"));
  g_output.clear();
}

void TexEnv::TearDown() {
  destroyIOManager();
  destroyConVarManager();
  destroyCmdManager();
  KeyDict::shutdownPools();
  fs::current_path(previous_);
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TexEnv::writeFile(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  const fs::path file = root_ / "media" / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> TexEnv::readFile(const std::string& relative) const {
  std::ifstream in(root_ / "media" / relative, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TexEnv::exists(const std::string& relative) const {
  return fs::exists(root_ / "media" / relative);
}

void TexEnv::setVar(const char* name, const char* value) {
  g_conVarSystem->setString(name, value);
}

}  // namespace textest
