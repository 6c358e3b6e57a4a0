// TexMgrInfo: the texture manager's table of images, lookups by name and load flags, images made
// from memory, the built-in "_" images and the manager's console commands.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "lib/interface/texmanager.h"
#include "lib/list.h"

class TexMgrInfo : public TexManager {
 public:
  // The manager, created and initialised on first use; null once an initialisation failed.
  static TexMgrInfo* getInstance();
  ~TexMgrInfo() override;

  void flagAllForReload() override;
  void reloadFlagged() override;
  ImageInterface* findImage(const char* name, uint32_t flags) override;
  void releaseImage(ImageInterface* image) override;
  int getNumImages() override { return images_.num(); }
  ImageInterface* createRGBImage(int width, int height, uint32_t flags, const char* name) override;
  ImageInterface* createImage(const ImageInfo* info, uint32_t flags, const char* name) override;
  ImageInterface* createImageFromPixels(const char* name, const ImageInfo* info, uint32_t flags,
                                        const void* pixels) override;
  ImageInterface* findLoadedImage(const char* name, uint32_t flags) override;
  ImageInterface* getImage(int index) override;

  bool init();
  // First slot whose image matches name and flags, -1 when none. A null name: the first hole, or a
  // new one appended.
  int indexOfImage(const char* name, uint32_t flags);
  // Finds an image file by trying the known extensions; `out` gets the found name (or the name).
  static bool findImageFile(char* out, size_t size, const char* name);
  ImageInterface* generateSolidImage(const char* name, const uint8_t color[4], int bits);
  void generateImages();
  void listImages();

 private:
  TexMgrInfo();
  void deleteAllImages();
  void setSlot(int index, ImageInterface* image);
  void makeKey(char* out, size_t size, const char* name);

  List<ImageInterface*> images_{16};
  // Slots by image name, ascending, so a lookup visits the same candidates in slot order as a scan.
  std::unordered_map<std::string, std::vector<int>> byName_;
};

void destroyTexManager();
// Lets files refused as unreadable be read again ("reloadImages").
void forgetUnreadableImageFiles();
// Colour of a stencil value in the stencil debug view (3 bytes).
void stencilColor(int value, uint8_t out[3]);
