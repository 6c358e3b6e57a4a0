// Render targets: drawing into textures instead of the window (mirrors, remote views, post-processing,
// shadow maps). A FrameBufferOpenGL wraps one EXT_framebuffer_object framebuffer with up to four colour
// images owned through the texture manager, an optional stencil image and a depth renderbuffer of its
// own or lent by another target. Targets are bound through a process-wide push/pop stack that saves and
// restores the back end's viewport and render size; "_mirrorRenderMap" shows colour image 0 of the
// target on top. Main thread only.
#pragma once

#include <cstdint>

class ImageInterface;

class FrameBufferObject {
 public:
  virtual ~FrameBufferObject() = default;

  static constexpr int kStackSize = 15;

  // Binds this target and pushes an entry saving the back end's viewport and render size; with
  // setViewport the viewport becomes the whole target. False (stack unchanged) when the stack is full
  // or the bind fails.
  bool pushRenderTarget(bool setViewport);
  // Removes the top entry. An emptied stack unbinds the popped target and restores the saved viewport
  // and render size; otherwise the new top's target is bound again with its flag.
  static void popRenderTarget();
  // The target on top of the stack, null when drawing into the window.
  static FrameBufferObject* currentTarget();
  static int stackDepth();
  // Empties the stack without touching GL (a lost context, tests).
  static void clearStack();

  // The depth of this target is cleared by its next pushRenderTarget, over the whole target,
  // before anything draws into it or reads it back: a frame that asks for the clear and never binds
  // the target pays for no framebuffer switch.
  void clearDepthOnNextPush() { depthClearPending_ = true; }

  virtual bool bind() { return false; }
  virtual void unbind() {}
  virtual int targetWidth() const { return 0; }
  virtual int targetHeight() const { return 0; }
  virtual ImageInterface* getColorTarget(int index) const { return nullptr; }

 private:
  bool depthClearPending_ = false;
};

// Formats and image flags of the render manager's targets. Its start-up hands over the flag words
// 0x8046 and 0x46 (32838 and 70) where the constructor takes a pixel format: they are image flags,
// and the targets need these formats with them. Depth images are D32: D24 has no byte size in the
// pixel-format table, so the texture manager cannot make one.
constexpr int kShadowMapFormat = 28;               // kPixelFormatDepth32
constexpr uint32_t kShadowMapImageFlags = 0x8046;  // nearest, clamp, never down-sized, no mips
constexpr int kColorTargetFormat = 4;              // kPixelFormatRGBA
constexpr uint32_t kColorTargetImageFlags = 0x46;  // clamp, never down-sized, no mips

class FrameBufferOpenGL : public FrameBufferObject {
 public:
  static constexpr int kMaxColorTargets = 4;

  // Stores the values and makes `count` colour images named after `name`. A pixel format outside the
  // device's codes (0..28) is refused with a message: the target then has no images and never binds.
  FrameBufferOpenGL(const char* name, int width, int height, int count, int pixelFormat, uint32_t imageFlags);
  // Wraps one existing colour image (one reference taken).
  explicit FrameBufferOpenGL(ImageInterface* image);
  ~FrameBufferOpenGL() override;
  FrameBufferOpenGL(const FrameBufferOpenGL&) = delete;
  FrameBufferOpenGL& operator=(const FrameBufferOpenGL&) = delete;

  // Runs the back end's pass set-up, binds the framebuffer and attaches the images again; false
  // without framebuffer objects or without a framebuffer.
  bool bind() override;
  // Pass set-up, then the window framebuffer.
  void unbind() override;
  bool resize(const char* name, int width, int height, int count);
  // Releases the current images and makes new ones: name alone for one image, "<name>_t<i>" for
  // more; at most four. False (no images kept) when an image cannot be made or attached.
  bool createColorTargets(const char* name, int count);
  // Takes one reference to each image and attaches them in order; every image must match the first
  // one's description and load flags and have a texture. On a mismatch every reference taken here
  // is released again and the target keeps no colour images.
  bool attachColorTargets(ImageInterface** images, int count);
  // Uses another target's depth renderbuffer (not owned); it must not be larger than this target.
  bool attachDepthRenderbuffer(int renderbuffer);
  int getDepthRenderbuffer() const { return depthRenderbuffer_; }
  // "" when none or outside 0..3.
  const char* getColorTargetName(int index) const;
  ImageInterface* getColorTarget(int index) const override;
  // The status of this framebuffer (bound for the query, the previous binding restored); with print
  // an incomplete status is reported as "glCheckFramebufferStatusEXT returned <name>.".
  int checkStatus(bool print);
  static const char* statusName(int status);

  // An optional fifth image attached as stencil (one reference taken; null detaches).
  void setStencilImage(ImageInterface* image);
  ImageInterface* getStencilImage() const { return stencilImage_; }

  int targetWidth() const override { return width_; }
  int targetHeight() const override { return height_; }
  int pixelFormat() const { return pixelFormat_; }
  uint32_t imageFlags() const { return imageFlags_; }
  unsigned framebuffer() const { return framebuffer_; }
  bool ownsDepth() const { return ownsDepth_; }

  // Every live target, so a context restart can make their GL objects again.
  static void recreateAll();
  static int liveCount();

 private:
  void releaseColorImages();
  void deleteOwnDepth();
  bool makeOwnDepth();
  // Attaches image i of the colour slots (a depth-format image goes to the depth attachment).
  bool attachImage(int slot, ImageInterface* image);
  void forgetGLObjects();

  int32_t pixelFormat_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint32_t imageFlags_ = 0;
  unsigned framebuffer_ = 0;
  ImageInterface* colorImages_[kMaxColorTargets] = {};
  ImageInterface* stencilImage_ = nullptr;
  int32_t depthRenderbuffer_ = -1;
  bool ownsDepth_ = false;
  bool depthImageAttached_ = false;  // a depth-format colour image serves as the depth attachment

  FrameBufferOpenGL* nextLive_ = nullptr;
  FrameBufferOpenGL* prevLive_ = nullptr;
};
