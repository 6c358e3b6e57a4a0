// The render device's GPU programs: ARB assembly vertex and fragment programs from "glprogs/" and GLSL
// pairs, kept in one list whose positions are the program indices handed to callers. Main thread only;
// GL objects are made and freed with the device's main context current.
#pragma once

#include "lib/interface/renderinterface.h"
#include "lib/list.h"

class RenderOpenGL;

struct ShaderProgramRecord {
  char name[64];  // the last 63 characters of the program name; compared case-insensitively
  int glId;       // ARB program name or GLSL program object; -1 when not loaded
  int kind;       // 1 ARB vertex, 2 ARB fragment, 3 GLSL
  int vertexShader;
  int fragmentShader;
  // The program may read generic vertex attributes (always assumed for GLSL).
  bool readsGenericAttribs;
  // A vertex program whose texture coordinates, if it reads any, only go unchanged to the same
  // output ("MOV result.texcoord[n], vertex.texcoord[n];"): they matter only to fragments.
  bool passesTexCoords;
};

class OpenGLShaderInterface : public ShaderInterface {
 public:
  enum Kind { kKindNone = 0, kKindVertex = 1, kKindFragment = 2, kKindGLSL = 3 };
  // The built-in programs, in member order.
  enum Builtin {
    kInteractionVP,
    kInteractionNosVP,
    kInteractionFP,
    kInteractionNobFP,
    kInteractionNosFP,
    kInteractionNobsFP,
    kVertexInteractionVP,
    kVertexInteractionFP,
    kAmbientInteractionVP,
    kAmbientInteractionFP,
    kUnlitVP,
    kShadowVP,
    kBuiltinCount
  };
  static constexpr int kFileBufferSize = 8192;

  explicit OpenGLShaderInterface(RenderOpenGL* device);
  ~OpenGLShaderInterface() override;

  bool init() override;
  void shutdown() override;
  void unloadAll() override;
  int loadVertexProgram(const char* name) override;
  int loadFragmentProgram(const char* name) override;
  int loadGLSLProgram(const char* name) override;
  void bind(int index) override;
  void setEnvParam(int index, int reg, const float vec[4]) override;
  void setEnvParams(int index, int reg, int count, const float (*vecs)[4]) override;
  void setLocalParam(int index, int reg, const float vec[4]) override;
  void setUniformFloat(int index, const char* name, float value) override;
  void setUniformVec4(int index, const char* name, const float vec[4]) override;
  int getBoundProgram(int kind) override;
  void unbindAll() override;

  int loadARBProgram(const char* name, int kind);
  // Index of the first record of `kind` named like the last 63 characters of `name`, or -1.
  int findProgram(const char* name, int kind) const;
  int builtinProgram(int which) const { return which >= 0 && which < kBuiltinCount ? builtin_[which] : -1; }
  int programCount() const { return programs_.num(); }
  const ShaderProgramRecord* program(int index) const;
  // Whether the bound ARB vertex program may read generic attributes (true when none is known).
  bool boundVertexProgramReadsAttribs() const;
  // The bound ARB vertex program hands texture coordinates on unchanged, if it reads them at all.
  bool boundVertexProgramPassesTexCoords() const;

  // Cuts an ARB program out of file text: from its header up to and including the first "END" token
  // (the rest of the text without one). False when the header is missing. Shared with the tests.
  static bool extractProgramText(const char* text, const char* header, const char** start, int* length);

 private:
  ShaderProgramRecord* loadedRecord(int index) const {
    if (index < 0 || index >= programs_.num() || programs_[index] == nullptr || programs_[index]->glId < 0) {
      return nullptr;
    }
    return programs_[index];
  }
  int newRecord(int kind);
  void dropNewRecord(int index);
  void freeProgramObjects(ShaderProgramRecord* record);
  bool printShaderLog(unsigned shader, const char* name);
  bool printProgramLog(unsigned program, const char* name);

  RenderOpenGL* device_;
  int builtin_[kBuiltinCount];
  List<ShaderProgramRecord*> programs_;
  int boundProgram_[4];
};

// Prints the pending GL errors with the file and line (GL_INVALID_OPERATION as the first error is
// taken as expected and ignored).
void checkGLError(const char* file, int line);
