#include "render/material/support/materialenv.h"

#include <algorithm>
#include <cstring>

#include "system/declmanager.h"

namespace mattest {

namespace {
std::string lower(const char* text) {
  std::string s(text ? text : "");
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}
}  // namespace

CountingTexManager::CountingTexManager() {
  g_texManager = this;
}

CountingTexManager::~CountingTexManager() {
  if (g_texManager == this)
    g_texManager = nullptr;
}

ImageInterface* CountingTexManager::findImage(const char* name, uint32_t flags) {
  if (!name)
    return nullptr;
  // One image per name and flags, as the real table keys them.
  const std::string base = lower(name);
  const std::string key = base + "#" + std::to_string(flags);
  auto found = images.find(key);
  if (found == images.end()) {
    auto image = std::make_unique<CountedImage>();
    std::snprintf(image->name, sizeof(image->name), "%s", base.c_str());
    image->flags = flags;
    // Names of missing files come back generated; a test names them so.
    if (key.find("missing") != std::string::npos)
      image->flags |= kImageGenerated;
    auto format = formats.find(base);
    image->info.pixelFormat = format == formats.end() ? kPixelFormatRGB : format->second;
    found = images.emplace(key, std::move(image)).first;
  }
  found->second->refCount++;
  return found->second.get();
}

void CountingTexManager::releaseImage(ImageInterface* image) {
  if (!image)
    return;
  EXPECT_GT(image->refCount, 0) << "released more often than found: " << image->name;
  image->refCount--;
}

ImageInterface* CountingTexManager::createRGBImage(int width, int height, uint32_t flags, const char* name) {
  const ImageInfo info = {width, height, 0, kPixelFormatRGB, kTextureType2D, 99};
  return createImage(&info, flags, name);
}

ImageInterface* CountingTexManager::createImage(const ImageInfo* info, uint32_t flags, const char* name) {
  char generated[32];
  if (!name) {
    std::snprintf(generated, sizeof(generated), "_renderMap_%d", renderMaps++);
    name = generated;
  }
  ImageInterface* image = findImage(name, flags);
  image->info = *info;
  return image;
}

int CountingTexManager::references() const {
  int total = 0;
  for (const auto& [name, image] : images)
    total += image->refCount;
  return total;
}

CountedImage* CountingTexManager::image(const std::string& name) const {
  for (const auto& [key, image] : images)
    if (key.compare(0, key.find('#'), name) == 0)
      return image.get();
  return nullptr;
}

void MaterialTest::SetUp() {
  clearExpressions();
  registerExpressionCommands();
  ASSERT_NE(createDeclSystem(), nullptr);
}

void MaterialTest::TearDown() {
  destroyDeclSystem();
  EXPECT_EQ(tex_.references(), 0) << "a material kept an image reference";
  clearExpressions();
}

Material* MaterialTest::define(const char* name, const std::string& body) {
  io_.addFile(std::string(name) + ".mtx", std::string(name) + "\n{\n" + body + "\n}\n");
  return findMaterial(name, false);
}

bool MaterialTest::parseBody(Material& mtx, const std::string& body) {
  return mtx.parse(body.c_str(), int(body.size()));
}

}  // namespace mattest
