// Full-screen video playback as the engine core drives it (the intro video): a video image opened
// by name, played once, drawn stretched over the screen. The texture and render libraries provide
// it; null until they do, and then no video plays.
#pragma once

class VideoPlayer {
 public:
  virtual ~VideoPlayer() = default;

  // The image of the name found with the load flags. A handle when it exists, loads and is a
  // video image, which then stops at its last frame and has its clock restarted; null otherwise,
  // with nothing left referenced.
  virtual void* open(const char* name, int loadFlags) = 0;
  // True once the last frame has been reached.
  virtual bool isAtEnd(void* video) = 0;
  // Draws the current frame stretched over x, y, w, h (640 x 480 units) with the texture
  // coordinates s0, t0 to s1, t1.
  virtual void draw(void* video, float x, float y, float w, float h, float s0, float t0, float s1,
                    float t1) = 0;
  // The twelve expression parameters materials read while the video plays; null restores them.
  virtual void setExpressionParms(const float* parms) = 0;
  // Releases the image.
  virtual void close(void* video) = 0;
};

inline VideoPlayer* g_videoPlayer = nullptr;
