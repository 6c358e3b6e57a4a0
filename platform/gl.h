// OpenGL contexts on the engine's windows (SDL2 GL underneath): framebuffer attributes, compatibility-
// profile contexts, shared contexts, the current context, buffer swaps, the swap interval and entry-
// point lookup. Windows and contexts are opaque handles (a window is the handle of platform/window.h).
#pragma once

// The framebuffer a context actually got (the stand-in for a described pixel format).
struct PlatformGLAttributes {
  int redBits;
  int greenBits;
  int blueBits;
  int alphaBits;
  int depthBits;
  int stencilBits;
  bool doubleBuffer;
};

// Sets the framebuffer attributes for windows created after this call: 16 colour bits ask for 5-5-5
// colour with 2 alpha bits, anything else for 8-8-8-8; always 24 depth and 8 stencil bits, double
// buffering and a compatibility profile. SDL picks the framebuffer configuration when the window is
// made, so the window code calls this after the video subsystem starts and before it creates the
// window (with SDL_WINDOW_OPENGL). False when the video subsystem is not running.
bool platformGLSetAttributes(int colorBits);

// Creates a compatibility-profile context on a window and makes it current on the calling thread. With
// `shareWith` the new context joins that context's share group (textures, buffers, programs): the share
// context is made current on the window first, as the driver requires. Null on failure.
void* platformGLCreateContext(void* window, void* shareWith);
// Deletes a context; a context current on this thread is released first.
void platformGLDeleteContext(void* context);

// Makes a context current on a window for the calling thread; (null, null) releases the current one.
bool platformGLMakeCurrent(void* window, void* context);
void* platformGLCurrentContext();
void* platformGLCurrentWindow();

// Framebuffer attributes of the current context; false without one.
bool platformGLQueryAttributes(PlatformGLAttributes* out);

void platformGLSwapWindow(void* window);
// 0 immediate, 1 wait for the vertical blank; false when the driver refused.
bool platformGLSetSwapInterval(int interval);
// True when the driver lets the swap interval be set (probed by setting the current value again).
bool platformGLSwapIntervalSupported();

// The entry point of a GL function for the current context, or null. On some drivers a non-null
// pointer does not mean the function exists: test the extension first.
void* platformGLGetProcAddress(const char* name);

// Text of the last failure of this layer (SDL's error text).
const char* platformGLError();

// A hidden window able to carry GL contexts, for tests and tools that need a context without the
// engine's window. Starts the video subsystem (reference-counted) and sets the attributes above with
// `colorBits`. Null on failure. Destroy it with platformGLDestroyHiddenWindow after its contexts.
void* platformGLCreateHiddenWindow(int width, int height, int colorBits);
void platformGLDestroyHiddenWindow(void* window);
