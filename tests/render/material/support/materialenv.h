// Fixture of the material tests: captured command output, an in-memory file system, the real
// declaration manager, and a texture manager that counts references instead of loading, so a test
// can prove that everything a material took is given back.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "lib/interface/texmanager.h"
#include "render/material/expression.h"
#include "render/material/material.h"
#include "support/capturecmdsystem.h"
#include "support/memoryiosystem.h"

namespace mattest {

// An image whose "load" only reports the pixel format the test chose.
class CountedImage : public ImageInterface {
 public:
  bool load() override {
    loaded = true;
    return true;
  }
  bool bind() override { return true; }
  void setLoop(int value) override { loop = value; }
  int loop = -1;
};

class CountingTexManager : public TexManager {
 public:
  CountingTexManager();
  ~CountingTexManager() override;

  void flagAllForReload() override {}
  void reloadFlagged() override {}
  // Names containing "missing" come back generated (flag 0x80000000), as a missing file does.
  ImageInterface* findImage(const char* name, uint32_t flags) override;
  void releaseImage(ImageInterface* image) override;
  int getNumImages() override { return int(images.size()); }
  ImageInterface* createRGBImage(int width, int height, uint32_t flags, const char* name) override;
  ImageInterface* createImage(const ImageInfo* info, uint32_t flags, const char* name) override;
  ImageInterface* createImageFromPixels(const char*, const ImageInfo*, uint32_t, const void*) override {
    return nullptr;
  }
  ImageInterface* findLoadedImage(const char*, uint32_t) override { return nullptr; }
  ImageInterface* getImage(int) override { return nullptr; }

  // References held on all images together.
  int references() const;
  // The first image of that name (lower case) or null; no reference added.
  CountedImage* image(const std::string& name) const;

  std::map<std::string, int> formats;  // pixel format reported by images of that name (default RGB)
  std::map<std::string, std::unique_ptr<CountedImage>> images;
  int renderMaps = 0;
};

class MaterialTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Defines material `name` in "<name>.mtx" with the body and finds it.
  Material* define(const char* name, const std::string& body);
  // Parses a body into a material that no manager holds; true when the text was accepted.
  bool parseBody(Material& mtx, const std::string& body);
  void setFile(const std::string& name, const std::string& text) { io_.addFile(name, text); }

  CaptureCmdSystem cmd_;
  MemoryIOSystem io_;
  CountingTexManager tex_;
};

}  // namespace mattest
