// A RenderInterface and ShaderInterface that record every call as text ("setDepthFunc(4)",
// "shader.bind(3)"), so the back end's device-call sequences can be compared with expected lists.
// Floats print as %g, bools as 0/1, pointers as "p" (non-null) or "0".
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "lib/interface/renderinterface.h"
#include "support/nulldevice.h"

namespace rec {

inline void appendOne(std::string& out, double v) {
  char text[48];
  std::snprintf(text, sizeof(text), "%g", v);
  out += text;
}
inline void appendOne(std::string& out, float v) {
  appendOne(out, static_cast<double>(v));
}
inline void appendOne(std::string& out, bool v) {
  out += v ? "1" : "0";
}
inline void appendOne(std::string& out, int v) {
  out += std::to_string(v);
}
inline void appendOne(std::string& out, unsigned v) {
  out += std::to_string(v);
}
inline void appendOne(std::string& out, const char* v) {
  out += v ? v : "null";
}
template <typename T>
void appendOne(std::string& out, T* v) {
  out += v ? "p" : "0";
}
inline void appendArgs(std::string&) {}
template <typename T, typename... Rest>
void appendArgs(std::string& out, T first, Rest... rest) {
  appendOne(out, first);
  if constexpr (sizeof...(rest) > 0) {
    out += ",";
    appendArgs(out, rest...);
  }
}
template <typename... A>
std::string call(const char* name, A... args) {
  std::string text = name;
  text += "(";
  appendArgs(text, args...);
  text += ")";
  return text;
}

}  // namespace rec

class RecordingShaders : public ShaderInterface {
 public:
  explicit RecordingShaders(std::vector<std::string>* log) : log_(log) {}
  bool init() override { return true; }
  void shutdown() override {}
  void unloadAll() override {}
  // "unlit.vp" is program 7, "shadow.vp" program 8; any other name gets 20 + its first letter.
  int loadVertexProgram(const char* name) override { return programId(name); }
  int loadFragmentProgram(const char* name) override { return programId(name); }
  int loadGLSLProgram(const char* name) override { return programId(name); }
  void bind(int index) override { add(rec::call("shader.bind", index)); }
  void setEnvParam(int index, int reg, const float v[4]) override {
    add(rec::call("shader.env", index, reg, v[0], v[1], v[2], v[3]));
  }
  void setLocalParam(int index, int reg, const float v[4]) override {
    add(rec::call("shader.local", index, reg, v[0], v[1], v[2], v[3]));
  }
  void setUniformFloat(int index, const char* name, float value) override {
    add(rec::call("shader.uniform", index, name, value));
  }
  void setUniformVec4(int index, const char* name, const float v[4]) override {
    add(rec::call("shader.uniform4", index, name, v[0], v[1], v[2], v[3]));
  }
  int getBoundProgram(int) override { return -1; }
  void unbindAll() override { add("shader.unbindAll()"); }

  static int programId(const char* name) {
    const std::string n = name ? name : "";
    if (n == "unlit.vp")
      return 7;
    if (n == "shadow.vp")
      return 8;
    // The interaction programs get ids of their own (a vertex and a fragment program of one
    // ".vfp" file share one).
    const char* const interaction[] = {"interaction.vfp",    "interaction_nos.vp",  "interaction_nob.fp",
                                       "interaction_nos.fp", "interaction_nobs.fp", "ambientInteraction.vfp"};
    for (int i = 0; i < 6; i++)
      if (n == interaction[i])
        return 40 + i;
    return n.empty() ? -1 : 20 + (n[0] - 'a');
  }

 private:
  void add(std::string s) { log_->push_back(std::move(s)); }
  std::vector<std::string>* log_;
};

class RecordingDevice : public NullDevice {
 public:
  RecordingDevice() : shaders(&log) {}

  std::vector<std::string> log;
  RecordingShaders shaders;
  bool bindVertexBufferResult = true;

  // The calls recorded so far, then cleared.
  std::vector<std::string> take() {
    std::vector<std::string> out;
    out.swap(log);
    return out;
  }

  const char* getVersionName() override { return "OpenGL20"; }
  void createContext(void*, void*, int) override { add("createContext()"); }
  void swapBuffers() override { add("swapBuffers()"); }
  void setMatrixMode(int mode) override { add(rec::call("setMatrixMode", mode)); }
  void loadMatrix(const Mat4* m) override;
  void loadIdentity() override { add("loadIdentity()"); }
  void pushMatrix() override { add("pushMatrix()"); }
  void popMatrix() override { add("popMatrix()"); }
  void enableClipPlane(int i) override { add(rec::call("enableClipPlane", i)); }
  void setClipPlane(int i, const Plane*, const Mat3*, const Vec3*) override {
    add(rec::call("setClipPlane", i));
  }
  void disableClipPlane(int i) override { add(rec::call("disableClipPlane", i)); }
  void setScissor(int x, int y, int w, int h) override { add(rec::call("setScissor", x, y, w, h)); }
  void setPolygonMode(int m) override { add(rec::call("setPolygonMode", m)); }
  void setBlendFunc(int s, int d) override { add(rec::call("setBlendFunc", s, d)); }
  void setDepthFunc(int c) override { add(rec::call("setDepthFunc", c)); }
  void setAlphaFunc(int c, float r) override { add(rec::call("setAlphaFunc", c, r)); }
  void setStencilFunc(int c, int r, unsigned m) override { add(rec::call("setStencilFunc", c, r, m)); }
  void setStencilMask(unsigned m) override { add(rec::call("setStencilMask", m)); }
  void setStencilOp(int f, int zf, int zp) override { add(rec::call("setStencilOp", f, zf, zp)); }
  void setStencilOpFace(int face, int f, int zf, int zp) override {
    add(rec::call("setStencilOpFace", face, f, zf, zp));
  }
  void setColorMask(bool r, bool g, bool b, bool a) override { add(rec::call("setColorMask", r, g, b, a)); }
  void setDepthMask(bool w) override { add(rec::call("setDepthMask", w)); }
  void setCullMode(int m) override { add(rec::call("setCullMode", m)); }
  void setViewport(int x, int y, int w, int h) override { add(rec::call("setViewport", x, y, w, h)); }
  void setPolygonOffset(float f, float u, int m) override { add(rec::call("setPolygonOffset", f, u, m)); }
  void clear(int flags) override { add(rec::call("clear", flags)); }
  void setClearStencil(int v) override { add(rec::call("setClearStencil", v)); }
  void setDepthRange(float n, float f) override { add(rec::call("setDepthRange", n, f)); }
  void setClearColor(float r, float g, float b, float a) override {
    add(rec::call("setClearColor", r, g, b, a));
  }
  void setLineWidth(float w) override { add(rec::call("setLineWidth", w)); }
  void freeVertexBuffer(VertexBufferHandle**) override {}
  bool bindVertexBuffer(VertexBufferHandle* h, int flags) override {
    add(rec::call("bindVertexBuffer", h, flags));
    return bindVertexBufferResult && h != nullptr;
  }
  void unbindVertexBuffer() override { add("unbindVertexBuffer()"); }
  bool setTexCoordPointer(VertexBufferHandle* h, int flags) override {
    add(rec::call("setTexCoordPointer", h, flags));
    return h != nullptr;
  }
  void setVertexAttribPointers(VertexBufferHandle* h, int flags) override {
    add(rec::call("setVertexAttribPointers", h, flags));
  }
  void disableVertexAttribArrays() override { add("disableVertexAttribArrays()"); }
  void drawTriangles(const unsigned*, int count) override { add(rec::call("drawTriangles", count)); }
  // Bit 1 << kind of each stencil feature the device claims (wrap, two-sided).
  int stencilFeatures = 3;
  bool hasStencilFeature(int kind) override { return (stencilFeatures >> kind) & 1; }
  ShaderInterface* getShaderInterface() override { return &shaders; }
  void selectTextureUnit(int unit, int) override { add(rec::call("selectTextureUnit", unit)); }
  void resetTextureUnits() override { add("resetTextureUnits()"); }
  unsigned createTexture() override { return 1; }
  void bindTexture(int type, unsigned name) override { add(rec::call("bindTexture", type, name)); }

 private:
  void add(std::string s) { log.push_back(std::move(s)); }
};
