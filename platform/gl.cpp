// OpenGL contexts through SDL2's GL functions. The render device is the only caller; it caches what it
// made current, so these functions stay thin.
#include "platform/gl.h"

#include <SDL2/SDL.h>

bool platformGLSetAttributes(int colorBits) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    return false;
  }
  const bool lowColor = colorBits == 16;
  const int colorSize = lowColor ? 5 : 8;
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, colorSize);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, colorSize);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, colorSize);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, lowColor ? 2 : 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  return true;
}

void* platformGLCreateContext(void* window, void* shareWith) {
  if (window == nullptr) {
    SDL_SetError("no window for the GL context");
    return nullptr;
  }
  SDL_Window* sdlWindow = static_cast<SDL_Window*>(window);
  // The fixed-function pipeline and ARB programs need a compatibility context; a core request left
  // behind by someone else would silently remove them.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  if (shareWith != nullptr) {
    if (SDL_GL_MakeCurrent(sdlWindow, static_cast<SDL_GLContext>(shareWith)) != 0) {
      return nullptr;
    }
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
  } else {
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  }
  SDL_GLContext context = SDL_GL_CreateContext(sdlWindow);
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  return context;
}

void platformGLDeleteContext(void* context) {
  if (context == nullptr) {
    return;
  }
  if (SDL_GL_GetCurrentContext() == context) {
    SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
  }
  SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context));
}

bool platformGLMakeCurrent(void* window, void* context) {
  if (context == nullptr) {
    // SDL wants a window even to release; any window (or none) will do then.
    SDL_Window* current = SDL_GL_GetCurrentWindow();
    return SDL_GL_MakeCurrent(window ? static_cast<SDL_Window*>(window) : current, nullptr) == 0;
  }
  return SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window), static_cast<SDL_GLContext>(context)) == 0;
}

void* platformGLCurrentContext() {
  return SDL_GL_GetCurrentContext();
}

void* platformGLCurrentWindow() {
  return SDL_GL_GetCurrentWindow();
}

bool platformGLQueryAttributes(PlatformGLAttributes* out) {
  if (out == nullptr || SDL_GL_GetCurrentContext() == nullptr) {
    return false;
  }
  int doubleBuffer = 0;
  SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &out->redBits);
  SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &out->greenBits);
  SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &out->blueBits);
  SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &out->alphaBits);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &out->depthBits);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &out->stencilBits);
  SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffer);
  out->doubleBuffer = doubleBuffer != 0;
  return true;
}

void platformGLSwapWindow(void* window) {
  if (window != nullptr) {
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(window));
  }
}

bool platformGLSetSwapInterval(int interval) {
  return SDL_GL_SetSwapInterval(interval) == 0;
}

bool platformGLSwapIntervalSupported() {
  if (SDL_GL_GetCurrentContext() == nullptr) {
    return false;
  }
  return SDL_GL_SetSwapInterval(SDL_GL_GetSwapInterval()) == 0;
}

void* platformGLGetProcAddress(const char* name) {
  if (name == nullptr) {
    return nullptr;
  }
  return SDL_GL_GetProcAddress(name);
}

const char* platformGLError() {
  return SDL_GetError();
}

void* platformGLCreateHiddenWindow(int width, int height, int colorBits) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return nullptr;
  }
  platformGLSetAttributes(colorBits);
  SDL_Window* window = SDL_CreateWindow("Quillmere GL", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                        width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (window == nullptr) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
  return window;
}

void platformGLDestroyHiddenWindow(void* window) {
  if (window == nullptr) {
    return;
  }
  if (SDL_GL_GetCurrentWindow() == window) {
    SDL_GL_MakeCurrent(static_cast<SDL_Window*>(window), nullptr);
  }
  SDL_DestroyWindow(static_cast<SDL_Window*>(window));
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
