// Render targets over EXT_framebuffer_object, their push/pop stack and the source of
// "_mirrorRenderMap". The one file outside the device that calls GL: framebuffer objects have no
// device codes, and the calls go through the device's qgl pointers so a context restart and the
// recording fakes see them.
#include "render/backend/framebufferopengl.h"

#include <cstdio>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/texmanager.h"
#include "render/backend/renderbackend.h"
#include "render/device/glextensions.h"

static ConVar r_skipDynamicTextures("r_skipDynamicTextures", "0", 0x20011,
                                    "skip all dynamic mirror rendering");

namespace {

struct RenderTargetStackEntry {
  int32_t viewport[4];
  int32_t renderWidth;
  int32_t renderHeight;
  FrameBufferObject* target;
  bool setViewport;
};

RenderTargetStackEntry g_stack[FrameBufferObject::kStackSize];
int g_stackTop = -1;

FrameBufferOpenGL* g_liveTargets = nullptr;

bool haveFramebuffers() {
  return qgl::EXT_framebuffer_object != 0 && qgl::glBindFramebufferEXT != nullptr &&
         qgl::glGenFramebuffersEXT != nullptr && qgl::glFramebufferTexture2DEXT != nullptr;
}

// "_mirrorRenderMap" shows colour image 0 of the current target; "_black" when dynamic textures are
// skipped or nothing is bound.
ImageInterface* mirrorSource() {
  if (r_skipDynamicTextures.getBool()) {
    return nullptr;
  }
  FrameBufferObject* target = FrameBufferObject::currentTarget();
  return target ? target->getColorTarget(0) : nullptr;
}

// A lost context takes every framebuffer with it: the stack empties and the targets remake theirs.
void contextRestored() {
  FrameBufferObject::clearStack();
  FrameBufferOpenGL::recreateAll();
}

struct Installer {
  Installer() {
    RenderImage::currentTargetImage = &mirrorSource;
    g_renderContextHooks.contextRestored = &contextRestored;
    // Until a render manager installs its own (which frees and re-creates its targets), rebuilding
    // the live targets is what "reloadDecls" can do for them.
    if (g_renderContextHooks.recreateRenderTargets == nullptr) {
      g_renderContextHooks.recreateRenderTargets = &contextRestored;
    }
  }
} g_installer;

void addReference(ImageInterface* image) {
  ++image->refCount;
}

void releaseReference(ImageInterface* image) {
  if (image != nullptr && g_texManager != nullptr) {
    g_texManager->releaseImage(image);
  }
}

bool sameDescription(const ImageInfo& a, const ImageInfo& b) {
  return a.width == b.width && a.height == b.height && a.depth == b.depth && a.pixelFormat == b.pixelFormat &&
         a.textureType == b.textureType && (a.quality & 0xFF) == (b.quality & 0xFF);
}

GLenum textureTargetOf(const ImageInterface* image) {
  // A cube image attaches its +x face; 3D images are not render targets here (their first layer
  // would need glFramebufferTexture3DEXT) and are refused by attachImage.
  return image->info.textureType == kTextureTypeCube ? GL_TEXTURE_CUBE_MAP_POSITIVE_X : GL_TEXTURE_2D;
}

}  // namespace

// ---------------------------------------------------------------- the stack

bool FrameBufferObject::pushRenderTarget(bool setViewport) {
  if (g_stackTop >= kStackSize - 1) {
    return false;
  }
  if (!bind()) {
    return false;
  }
  RenderTargetStackEntry& entry = g_stack[++g_stackTop];
  g_renderBackEnd.getViewport(entry.viewport);
  entry.renderWidth = g_renderBackEnd.renderWidth();
  entry.renderHeight = g_renderBackEnd.renderHeight();
  entry.target = this;
  entry.setViewport = setViewport;
  if (setViewport || depthClearPending_) {
    g_renderBackEnd.setViewport(0, 0, targetWidth(), targetHeight());
    g_renderBackEnd.setRenderSize(targetWidth(), targetHeight());
    g_renderBackEnd.applyViewport();
  }
  if (depthClearPending_) {
    depthClearPending_ = false;
    g_renderBackEnd.clear(false, true);
    if (!setViewport) {
      g_renderBackEnd.setViewport(entry.viewport[0], entry.viewport[1], entry.viewport[2], entry.viewport[3]);
      g_renderBackEnd.setRenderSize(entry.renderWidth, entry.renderHeight);
      g_renderBackEnd.applyViewport();
    }
  }
  return true;
}

void FrameBufferObject::popRenderTarget() {
  if (g_stackTop < 0) {
    return;
  }
  const RenderTargetStackEntry popped = g_stack[g_stackTop--];
  if (g_stackTop < 0) {
    popped.target->unbind();
    g_renderBackEnd.setViewport(popped.viewport[0], popped.viewport[1], popped.viewport[2],
                                popped.viewport[3]);
    g_renderBackEnd.setRenderSize(popped.renderWidth, popped.renderHeight);
    g_renderBackEnd.applyViewport();
    return;
  }
  // Bind the new top again through a push, then drop the entry that push added.
  const RenderTargetStackEntry& top = g_stack[g_stackTop];
  if (top.target->pushRenderTarget(top.setViewport)) {
    --g_stackTop;
  }
}

FrameBufferObject* FrameBufferObject::currentTarget() {
  return g_stackTop >= 0 ? g_stack[g_stackTop].target : nullptr;
}

int FrameBufferObject::stackDepth() {
  return g_stackTop + 1;
}

void FrameBufferObject::clearStack() {
  g_stackTop = -1;
}

// ---------------------------------------------------------------- FrameBufferOpenGL

FrameBufferOpenGL::FrameBufferOpenGL(const char* name, int width, int height, int count, int pixelFormat,
                                     uint32_t imageFlags)
    : width_(width), height_(height), imageFlags_(imageFlags) {
  nextLive_ = g_liveTargets;
  if (g_liveTargets) {
    g_liveTargets->prevLive_ = this;
  }
  g_liveTargets = this;
  if (pixelFormat < kPixelFormatNone || pixelFormat >= kPixelFormatCount) {
    cmdPrintf("WARNING: render target '%s': pixel format %d is not a pixel format (0..%d)\n",
              name ? name : "", pixelFormat, kPixelFormatCount - 1);
    pixelFormat_ = kPixelFormatNone;
    return;
  }
  pixelFormat_ = pixelFormat;
  createColorTargets(name, count);
}

FrameBufferOpenGL::FrameBufferOpenGL(ImageInterface* image) {
  nextLive_ = g_liveTargets;
  if (g_liveTargets) {
    g_liveTargets->prevLive_ = this;
  }
  g_liveTargets = this;
  ImageInterface* images[1] = {image};
  attachColorTargets(images, 1);
}

FrameBufferOpenGL::~FrameBufferOpenGL() {
  // A target destroyed while on the stack must not be bound again by a later pop.
  for (int i = 0; i <= g_stackTop; ++i) {
    if (g_stack[i].target == this) {
      g_stackTop = i - 1;
      break;
    }
  }
  deleteOwnDepth();
  releaseColorImages();
  if (framebuffer_ != 0 && qgl::glDeleteFramebuffersEXT != nullptr) {
    qgl::glDeleteFramebuffersEXT(1, &framebuffer_);
  }
  framebuffer_ = 0;
  releaseReference(stencilImage_);
  stencilImage_ = nullptr;
  if (prevLive_) {
    prevLive_->nextLive_ = nextLive_;
  } else if (g_liveTargets == this) {
    g_liveTargets = nextLive_;
  }
  if (nextLive_) {
    nextLive_->prevLive_ = prevLive_;
  }
}

void FrameBufferOpenGL::releaseColorImages() {
  for (ImageInterface*& image : colorImages_) {
    releaseReference(image);
    image = nullptr;
  }
  depthImageAttached_ = false;
}

void FrameBufferOpenGL::deleteOwnDepth() {
  if (ownsDepth_ && depthRenderbuffer_ >= 0 && qgl::glDeleteRenderbuffersEXT != nullptr) {
    const GLuint name = static_cast<GLuint>(depthRenderbuffer_);
    qgl::glDeleteRenderbuffersEXT(1, &name);
  }
  if (ownsDepth_) {
    depthRenderbuffer_ = -1;
  }
  ownsDepth_ = false;
}

bool FrameBufferOpenGL::makeOwnDepth() {
  deleteOwnDepth();
  if (qgl::glGenRenderbuffersEXT == nullptr) {
    return false;
  }
  GLuint name = 0;
  qgl::glGenRenderbuffersEXT(1, &name);
  qgl::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, name);
  qgl::glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, width_, height_);
  qgl::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, name);
  depthRenderbuffer_ = static_cast<int32_t>(name);
  ownsDepth_ = true;
  return true;
}

bool FrameBufferOpenGL::attachImage(int slot, ImageInterface* image) {
  const int id = image->getTextureId();
  if (id < 1 || image->info.textureType == kTextureType3D) {
    return false;
  }
  if (imageFormatIsDepth(image->info.pixelFormat)) {
    // A depth image (shadow maps) is the depth attachment: the target draws no colour.
    qgl::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_TEXTURE_2D, id, 0);
    qgl::glDrawBuffer(GL_NONE);
    qgl::glReadBuffer(GL_NONE);
    depthImageAttached_ = true;
    return true;
  }
  qgl::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT + slot, textureTargetOf(image),
                                 id, 0);
  return true;
}

bool FrameBufferOpenGL::createColorTargets(const char* name, int count) {
  if (name == nullptr || count < 1 || g_texManager == nullptr) {
    return false;
  }
  const ImageInfo desc = {
      width_, height_, 0, pixelFormat_, (imageFlags_ & kImageCube) ? kTextureTypeCube : kTextureType2D, 99};
  releaseColorImages();
  if (count > kMaxColorTargets) {
    count = kMaxColorTargets;
  }
  ImageInterface* images[kMaxColorTargets] = {};
  bool created[kMaxColorTargets] = {};
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    char imageName[160];
    if (count == 1) {
      std::snprintf(imageName, sizeof(imageName), "%s", name);
    } else {
      std::snprintf(imageName, sizeof(imageName), "%s_t%d", name, i);
    }
    // An image of that name is re-specified in place without a new reference.
    created[i] = g_texManager->findLoadedImage(imageName, kImageAny) == nullptr;
    images[i] = g_texManager->createImage(&desc, imageFlags_, imageName);
    if (images[i] == nullptr) {
      cmdPrintf("WARNING: render target '%s': could not create image '%s'\n", name, imageName);
      created[i] = false;
      ok = false;
      break;
    }
  }
  if (ok) {
    ok = attachColorTargets(images, count);
  }
  // The target holds the references attachColorTargets took; the creation references go, which on
  // failure frees the images just made.
  for (int i = 0; i < count; ++i) {
    if (created[i]) {
      releaseReference(images[i]);
    }
  }
  return ok;
}

bool FrameBufferOpenGL::attachColorTargets(ImageInterface** images, int count) {
  if (images == nullptr || count <= 0 || !haveFramebuffers()) {
    return false;
  }
  if (count > kMaxColorTargets) {
    count = kMaxColorTargets;
  }
  if (count == 1 && images[0] != nullptr && images[0] == colorImages_[0] && colorImages_[1] == nullptr) {
    return true;
  }
  for (int i = 0; i < count; ++i) {
    if (images[i] == nullptr) {
      cmdPrintf("WARNING: render target: colour image %d is missing\n", i);
      return false;
    }
  }
  ImageInterface* first = images[0];
  first->load();
  const ImageInfo reference = first->info;
  const uint32_t flags = first->flags;
  for (int i = 0; i < count; ++i) {
    addReference(images[i]);
  }
  releaseColorImages();
  pixelFormat_ = reference.pixelFormat;
  width_ = reference.width;
  height_ = reference.height;
  imageFlags_ = flags;

  if (framebuffer_ == 0) {
    GLuint name = 0;
    qgl::glGenFramebuffersEXT(1, &name);
    framebuffer_ = name;
  }
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  for (int i = 0; i < count; ++i) {
    ImageInterface* image = images[i];
    image->load();
    const bool matches =
        sameDescription(image->info, reference) && image->flags == flags && attachImage(i, image);
    if (!matches) {
      cmdPrintf("WARNING: render target: colour image %d ('%s') does not match the first\n", i, image->name);
      // Every reference taken here goes again; the target keeps no colour images.
      for (int j = 0; j < kMaxColorTargets; ++j) {
        colorImages_[j] = nullptr;
      }
      for (int j = 0; j < count; ++j) {
        releaseReference(images[j]);
      }
      depthImageAttached_ = false;
      qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
      return false;
    }
    colorImages_[i] = image;
  }
  if (!depthImageAttached_) {
    makeOwnDepth();
  }
  checkStatus(true);
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return true;
}

bool FrameBufferOpenGL::attachDepthRenderbuffer(int renderbuffer) {
  deleteOwnDepth();
  if (renderbuffer == -1) {
    return false;
  }
  if (renderbuffer == depthRenderbuffer_) {
    return true;
  }
  if (!haveFramebuffers() || qgl::glGetRenderbufferParameterivEXT == nullptr || framebuffer_ == 0) {
    return false;
  }
  GLint width = 0;
  GLint height = 0;
  qgl::glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, static_cast<GLuint>(renderbuffer));
  qgl::glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, GL_RENDERBUFFER_WIDTH_EXT, &width);
  qgl::glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, GL_RENDERBUFFER_HEIGHT_EXT, &height);
  if (width > width_ || height > height_) {
    return false;
  }
  GLint previous = 0;
  qgl::glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previous);
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  qgl::glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                    static_cast<GLuint>(renderbuffer));
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, static_cast<GLuint>(previous));
  depthRenderbuffer_ = renderbuffer;
  ownsDepth_ = false;
  return true;
}

const char* FrameBufferOpenGL::getColorTargetName(int index) const {
  if (index < 0 || index >= kMaxColorTargets || colorImages_[index] == nullptr) {
    return "";
  }
  return colorImages_[index]->name;
}

ImageInterface* FrameBufferOpenGL::getColorTarget(int index) const {
  return index >= 0 && index < kMaxColorTargets ? colorImages_[index] : nullptr;
}

void FrameBufferOpenGL::setStencilImage(ImageInterface* image) {
  if (image != nullptr) {
    addReference(image);
  }
  releaseReference(stencilImage_);
  stencilImage_ = image;
}

bool FrameBufferOpenGL::bind() {
  if (!haveFramebuffers() || framebuffer_ == 0) {
    return false;
  }
  g_renderBackEnd.setupPass();
  qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  for (int i = 0; i < kMaxColorTargets && colorImages_[i] != nullptr; ++i) {
    attachImage(i, colorImages_[i]);
  }
  if (stencilImage_ != nullptr) {
    qgl::glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_STENCIL_ATTACHMENT_EXT, GL_TEXTURE_2D,
                                   stencilImage_->getTextureId(), 0);
  }
  checkStatus(true);
  return true;
}

void FrameBufferOpenGL::unbind() {
  g_renderBackEnd.setupPass();
  if (haveFramebuffers()) {
    qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  }
}

bool FrameBufferOpenGL::resize(const char* name, int width, int height, int count) {
  width_ = width;
  height_ = height;
  return createColorTargets(name, count);
}

int FrameBufferOpenGL::checkStatus(bool print) {
  if (!haveFramebuffers() || qgl::glCheckFramebufferStatusEXT == nullptr) {
    return 0;
  }
  GLint previous = 0;
  qgl::glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previous);
  const bool rebind = static_cast<unsigned>(previous) != framebuffer_;
  if (rebind) {
    qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  }
  const int status = static_cast<int>(qgl::glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT));
  if (print && status != GL_FRAMEBUFFER_COMPLETE_EXT) {
    cmdPrintf("glCheckFramebufferStatusEXT returned %s.\n", statusName(status));
  }
  if (rebind) {
    qgl::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, static_cast<GLuint>(previous));
  }
  return status;
}

const char* FrameBufferOpenGL::statusName(int status) {
  switch (status) {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT_EXT";
    case 0x8CD8:  // GL_FRAMEBUFFER_INCOMPLETE_DUPLICATE_ATTACHMENT_EXT, gone from newer headers
      return "GL_FRAMEBUFFER_INCOMPLETE_DUPLICATE_ATTACHMENT_EXT";
    case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT";
    case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT:
      return "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT";
    case GL_FRAMEBUFFER_UNSUPPORTED_EXT:
      return "GL_FRAMEBUFFER_UNSUPPORTED_EXT";
    default:
      return "Unknown error";
  }
}

// ---------------------------------------------------------------- context restart

void FrameBufferOpenGL::forgetGLObjects() {
  framebuffer_ = 0;
  if (ownsDepth_) {
    depthRenderbuffer_ = -1;
  }
}

void FrameBufferOpenGL::recreateAll() {
  // The old names died with the context; the images survive in the texture manager (same objects,
  // new texture ids). Targets with their own depth come first so lenders have new renderbuffers.
  struct Lent {
    FrameBufferOpenGL* target;
    FrameBufferOpenGL* lender;
  };
  Lent lent[64];
  int lentCount = 0;
  for (FrameBufferOpenGL* t = g_liveTargets; t != nullptr; t = t->nextLive_) {
    if (!t->ownsDepth_ && t->depthRenderbuffer_ >= 0) {
      FrameBufferOpenGL* lender = nullptr;
      for (FrameBufferOpenGL* o = g_liveTargets; o != nullptr; o = o->nextLive_) {
        if (o != t && o->ownsDepth_ && o->depthRenderbuffer_ == t->depthRenderbuffer_) {
          lender = o;
        }
      }
      if (lender != nullptr && lentCount < 64) {
        lent[lentCount++] = {t, lender};
      }
    }
  }
  for (FrameBufferOpenGL* t = g_liveTargets; t != nullptr; t = t->nextLive_) {
    t->forgetGLObjects();
    if (!t->ownsDepth_) {
      t->depthRenderbuffer_ = -1;
    }
    ImageInterface* images[kMaxColorTargets] = {};
    int count = 0;
    while (count < kMaxColorTargets && t->colorImages_[count] != nullptr) {
      images[count] = t->colorImages_[count];
      ++count;
    }
    if (count == 0) {
      continue;
    }
    // The target's references move to this loop; attach takes fresh ones, then ours go.
    for (ImageInterface*& slot : t->colorImages_) {
      slot = nullptr;
    }
    t->attachColorTargets(images, count);
    for (int i = 0; i < count; ++i) {
      releaseReference(images[i]);
    }
  }
  for (int i = 0; i < lentCount; ++i) {
    lent[i].target->attachDepthRenderbuffer(lent[i].lender->depthRenderbuffer_);
  }
}

int FrameBufferOpenGL::liveCount() {
  int n = 0;
  for (FrameBufferOpenGL* t = g_liveTargets; t != nullptr; t = t->nextLive_) {
    ++n;
  }
  return n;
}
