// Recorders for the qgl pointers and the context hooks: one template instance per entry point.
#include "render/device/support/fakegl.h"

#include <cassert>
#include <cstring>

#include "platform/gl.h"

namespace {

FakeGL* g_fake = nullptr;

template <size_t N>
struct FixedName {
  char text[N];
  constexpr FixedName(const char (&name)[N]) {
    for (size_t i = 0; i < N; ++i) {
      text[i] = name[i];
    }
  }
};

template <FixedName Name, typename F>
struct Recorder;

template <FixedName Name, typename R, typename... A>
struct Recorder<Name, R (*)(A...)> {
  static R call(A... args) {
    g_fake->record(fakegl::call(Name.text, args...));
    if constexpr (!std::is_void_v<R>) {
      return R{};
    }
  }
};

const GLubyte* fakeGetString(GLenum name) {
  g_fake->record(fakegl::call("glGetString", name));
  if (name == GL_VERSION) {
    return reinterpret_cast<const GLubyte*>(g_fake->version.c_str());
  }
  if (name == GL_EXTENSIONS) {
    return reinterpret_cast<const GLubyte*>(g_fake->extensions.c_str());
  }
  return reinterpret_cast<const GLubyte*>("");
}

void fakeGetIntegerv(GLenum name, GLint* out) {
  g_fake->record(fakegl::call("glGetIntegerv", name));
  auto it = g_fake->integers.find(name);
  *out = it != g_fake->integers.end() ? it->second : 0;
}

void fakeGenNames(GLsizei count, GLuint* out) {
  for (GLsizei i = 0; i < count; ++i) {
    out[i] = g_fake->nextName++;
  }
}
void fakeGenTextures(GLsizei count, GLuint* out) {
  g_fake->record(fakegl::call("glGenTextures", count));
  fakeGenNames(count, out);
}
void fakeGenBuffers(GLsizei count, GLuint* out) {
  g_fake->record(fakegl::call("glGenBuffersARB", count));
  fakeGenNames(count, out);
}
void fakeClipPlane(GLenum plane, const GLdouble* equation) {
  g_fake->record(fakegl::call("glClipPlane", plane));
  std::memcpy(g_fake->lastClipPlane, equation, sizeof(g_fake->lastClipPlane));
}

void dummyEntryPoint() {}

void* fakeCreateContext(void* window, void* share) {
  g_fake->record(fakegl::call("createContext", window, share));
  if (g_fake->failContextCreation) {
    return nullptr;
  }
  void* context = reinterpret_cast<void*>(uintptr_t{0x1000} + uintptr_t(++g_fake->contextsCreated));
  // As the platform layer does: a new context is current afterwards.
  g_fake->currentContext = context;
  g_fake->currentWindow = window;
  return context;
}
void fakeDeleteContext(void* context) {
  g_fake->record(fakegl::call("deleteContext", context));
  if (g_fake->currentContext == context) {
    g_fake->currentContext = nullptr;
    g_fake->currentWindow = nullptr;
  }
}
bool fakeMakeCurrent(void* window, void* context) {
  g_fake->record(fakegl::call("makeCurrent", window, context));
  g_fake->currentContext = context;
  g_fake->currentWindow = context != nullptr ? window : nullptr;
  return true;
}
void* fakeCurrentContext() {
  return g_fake->currentContext;
}
void* fakeCurrentWindow() {
  return g_fake->currentWindow;
}
bool fakeQueryAttributes(PlatformGLAttributes* out) {
  if (g_fake->currentContext == nullptr) {
    return false;
  }
  *out = PlatformGLAttributes{8, 8, 8, 8, 24, 8, g_fake->doubleBuffer};
  return true;
}
void fakeSwapWindow(void* window) {
  g_fake->record(fakegl::call("swapWindow", window));
}
bool fakeSetSwapInterval(int interval) {
  g_fake->record(fakegl::call("setSwapInterval", interval));
  return true;
}
bool fakeSwapIntervalSupported() {
  return g_fake->swapControl;
}
void* fakeGetProcAddress(const char* name) {
  g_fake->procsRequested.push_back(name);
  return reinterpret_cast<void*>(&dummyEntryPoint);
}

}  // namespace

FakeGL::FakeGL() {
  assert(g_fake == nullptr && "FakeGL: one at a time");
  g_fake = this;
  integers[GL_MAX_CLIP_PLANES] = 6;
#define FAKE_CORE(name) qgl::name = &Recorder<#name, decltype(qgl::name)>::call;
  QGL_CORE_FUNCTIONS(FAKE_CORE)
#undef FAKE_CORE
  qgl::glGetString = fakeGetString;
  qgl::glGetIntegerv = fakeGetIntegerv;
  qgl::glGenTextures = fakeGenTextures;
  qgl::glClipPlane = fakeClipPlane;
  qgl::ctx.createContext = fakeCreateContext;
  qgl::ctx.deleteContext = fakeDeleteContext;
  qgl::ctx.makeCurrent = fakeMakeCurrent;
  qgl::ctx.currentContext = fakeCurrentContext;
  qgl::ctx.currentWindow = fakeCurrentWindow;
  qgl::ctx.queryAttributes = fakeQueryAttributes;
  qgl::ctx.swapWindow = fakeSwapWindow;
  qgl::ctx.setSwapInterval = fakeSetSwapInterval;
  qgl::ctx.swapIntervalSupported = fakeSwapIntervalSupported;
  qgl::ctx.getProcAddress = fakeGetProcAddress;
}

FakeGL::~FakeGL() {
#define RESTORE_CORE(name) qgl::name = &::name;
  QGL_CORE_FUNCTIONS(RESTORE_CORE)
#undef RESTORE_CORE
  clearGlExtensions();
  qgl::ctx = qgl::platformContextHooks();
  g_fake = nullptr;
}

FakeGL& FakeGL::instance() {
  return *g_fake;
}

void FakeGL::recordExtensions() {
#define FAKE_EXT(type, name) \
  if (qgl::name != nullptr)  \
    qgl::name = &Recorder<#name, type>::call;
  QGL_EXTENSION_FUNCTIONS(FAKE_EXT)
#undef FAKE_EXT
  if (qgl::glGenBuffersARB != nullptr) {
    qgl::glGenBuffersARB = fakeGenBuffers;
  }
}

int FakeGL::count(const std::string& prefix) const {
  int n = 0;
  for (const std::string& text : calls) {
    if (text.compare(0, prefix.size(), prefix) == 0) {
      ++n;
    }
  }
  return n;
}

bool FakeGL::has(const std::string& text) const {
  for (const std::string& recorded : calls) {
    if (recorded == text) {
      return true;
    }
  }
  return false;
}

std::string FakeGL::dump() const {
  std::string text;
  for (const std::string& recorded : calls) {
    text += recorded;
    text += "\n";
  }
  return text;
}
