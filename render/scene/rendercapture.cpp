// Screen capture: the frame copied into a named image, screenshots written through the texture
// manager, pixels read back for the game, and a view rendered straight into an image.
#include <algorithm>
#include <cstring>

#include "lib/interface/renderinterface.h"
#include "lib/interface/texmanager.h"
#include "lib/str.h"
#include "render/backend/renderbackend.h"
#include "render/scene/rendermanager.h"

namespace {

RenderManager* s_sizeSource = nullptr;

void renderSizeOf(int* width, int* height) {
  *width = s_sizeSource ? s_sizeSource->renderWidth() : 0;
  *height = s_sizeSource ? s_sizeSource->renderHeight() : 0;
}

int powerOfTwoAtLeast(int value) {
  int p = 1;
  while (p < value && p < (1 << 30))
    p <<= 1;
  return p;
}

constexpr uint32_t kCaptureFlags = kImageNoMips | kImageNoDownSize | kImageClamp | kImageAny;  // 0x846

}  // namespace

void RenderManager::installCaptureHooks() {
  // Screen reads are limited to what this manager renders, not the window's size.
  s_sizeSource = this;
  g_renderSizeQuery = renderSizeOf;
}

void RenderManager::removeCaptureHooks() {
  if (s_sizeSource != this)
    return;
  s_sizeSource = nullptr;
  g_renderSizeQuery = nullptr;
}

void RenderManager::copyViewportToImage(ImageInterface* image, bool noDrawBack) {
  if (!image || !g_renderInterface || !image->bind())
    return;
  int vp[4];
  g_renderBackEnd.getViewport(vp);
  const int width = std::min(image->info.width - vp[0], vp[2]);
  const int height = std::min(image->info.height - vp[1], vp[3]);
  // A viewport beyond the image leaves nothing to copy.
  if (width <= 0 || height <= 0)
    return;
  g_renderInterface->copyTexSubImage(vp[0], vp[1], 0, 0, width, height);
  if (noDrawBack || vp[2] <= 0 || vp[3] <= 0)
    return;
  // Drawn back where it came from (texture row 0 is the bottom of the copy), twice over a copy.
  const float w = float(image->info.width) / float(vp[2]) * 640.0f;
  const float h = float(image->info.height) / float(vp[3]) * 480.0f;
  const float y = float(vp[3] - image->info.height) * 480.0f / float(vp[3]);
  float saved[4];
  getColor(saved);
  setColor(1, 1, 1, 1);
  drawStretchImage(image, 0, y, w, h, 0, 1, 1, 0);
  if (image->bind())
    g_renderInterface->copyTexSubImage(vp[0], vp[1], 0, 0, width, height);
  drawStretchImage(image, 0, y, w, h, 0, 1, 1, 0);
  setColorV(saved);
  g_renderBackEnd.setupPass();
}

void RenderManager::captureRenderToImage(const char* name) {
  if (!name || !name[0] || !g_texManager || !g_renderInterface)
    return;
  ImageInterface* image = g_texManager->findLoadedImage(name, kCaptureFlags);
  const bool scratch = image && image != g_currentRenderImage && String::icmpn(name, "_scratch", 8) == 0;
  const bool largeEnough =
      image && image->info.width >= renderWidth_ && image->info.height >= renderHeight_;
  if (!scratch && !largeEnough)
    image = g_texManager->createRGBImage(powerOfTwoAtLeast(renderWidth_), powerOfTwoAtLeast(renderHeight_),
                                         kCaptureFlags, name);
  copyViewportToImage(image, true);
}

bool RenderManager::takeScreenshot(const char* fileName) {
  if (!fileName || !fileName[0])
    return false;
  return saveScreenshot(fileName, kPixelFormatRGB);
}

bool RenderManager::readPixels(uint8_t* buffer, int pitch, int, int, int width, int height) {
  if (!buffer || width <= 0 || height <= 0)
    return false;
  // The caller's rows are `pitch` pixels long: a wider read would run into the next row.
  if (pitch <= 0)
    pitch = width;
  width = std::min(width, pitch);
  return readFrameBuffer(buffer, pitch, width, height, kPixelFormatRGB);
}

void RenderManager::renderViewToImage(ImageInterface* image, bool noDrawBack) {
  if (!image || !g_renderInterface)
    return;
  int stored[4];
  g_renderBackEnd.getViewport(stored);
  // The view's projection, drawn into the image's corner of the screen instead of its rectangle.
  g_renderBackEnd.setView(&view_);
  buildDrawLists();  // the passes draw from this view's lists
  g_renderBackEnd.setViewport(0, 0, std::min(image->info.width, renderWidth_),
                              std::min(image->info.height, renderHeight_));
  g_renderBackEnd.applyViewport();
  g_renderBackEnd.pushViewMatrices();
  g_renderBackEnd.setDepthFunc(kCompareLessEqual);
  // A remote camera's flags: lit, ambient stages, cleared with a depth pass, no screen copies.
  const uint32_t savedFlags = g_renderBackEnd.viewFlags();
  g_renderBackEnd.setViewFlags(0x21b);
  drawScene(view_);
  drawDebugPrimitives();
  g_renderBackEnd.setViewFlags(savedFlags);
  g_renderBackEnd.popViewMatrices();
  copyViewportToImage(image, noDrawBack);
  g_renderBackEnd.setViewport(stored[0], stored[1], stored[2], stored[3]);
  g_renderBackEnd.applyViewport();
}
