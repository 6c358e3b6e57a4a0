// What the render device last told GL in the current context, so a call that would set what is
// already set never reaches the driver. Program enables, texture-target enables and the texture
// matrices of the first units are also deferred: the device records what it wants and applies the
// difference just before a draw, so the back end's per-surface "everything off, then on again"
// sequences (unbind all programs, reset every texture unit) cost nothing when the next surface
// wants the same state. The generic attribute arrays 8..12 wait for a draw whose vertex program reads
// them: the back end points them at every surface's buffer, while most programs never look. Turning
// client arrays off and the array buffer's release wait too: the back end unbinds every surface's
// buffer after its draw and the next surface binds the same arrays again. Every entry starts unknown;
// a context switch or restart forgets them all.
#pragma once

#include <cstdint>

struct GLStateCache {
  static constexpr int kUnits = 8;       // texture units with cached and deferred state
  static constexpr int kMatrixDepth = 8; // software texture-matrix stack of those units
  static constexpr int kTargets = 3;     // 2D, 3D, cube
  static constexpr int kEnvParams = 32;  // program environment registers cached per ARB target

  enum Cap { kCapBlend, kCapAlphaTest, kCapCullFace, kCapOffsetFill, kCapOffsetLine, kCapCount };

  // Where generic attributes 8..12 read from: the buffer, and attribute 8's size and offset (the
  // others have fixed fields).
  struct AttribPointers {
    int64_t buffer;  // -1 unknown
    int size8;
    int offset8;
    bool operator==(const AttribPointers& o) const {
      return buffer == o.buffer && size8 == o.size8 && offset8 == o.offset8;
    }
  };

  struct Unit {
    int8_t enabled[kTargets];  // what GL has: -1 unknown
    int8_t wanted[kTargets];   // what the device asked for: -1 nothing asked
    int64_t bound[kTargets];   // texture names; -1 unknown
    float lodBias;
    bool lodBiasKnown;
    float stack[kMatrixDepth][16];  // the texture matrix stack as the device sees it
    int depth;
    float loaded[16];  // what GL's texture matrix holds
    bool loadedKnown;
  };

  int8_t cap[kCapCount];
  int blendSrc, blendDst;  // GL factors; -1 unknown
  int depthFunc;
  int8_t depthMask;
  int alphaFunc;
  float alphaRef;
  int cullFace;
  int colorMask;  // bits r 1, g 2, b 4, a 8; -1 unknown
  int polygonMode;
  bool offsetKnown;
  float offsetFactor, offsetUnits;
  bool depthRangeKnown;
  float depthNear, depthFar;
  int matrixMode;   // GL enum; -1 unknown
  int activeUnit;   // -1 unknown
  int clientUnit;   // -1 unknown
  int64_t arrayBuffer;
  bool arrayBufferReleased;  // the device released its buffer; GL may still have it bound
  int8_t vertexArray, colorArray;
  int8_t texCoordArray[kUnits];
  // Client arrays the device turned off while GL still has them on (applied before the next draw).
  bool vertexArrayOff, colorArrayOff;
  bool texCoordArrayOff[kUnits];
  bool clientArraysPending;
  // Texture coordinate arrays a surface binding asked for, not yet given to GL (bit per unit): they
  // wait for a draw whose fragments read that unit's coordinates, or a full flush. A draw that reads
  // none runs with the unit's array off.
  struct TexCoordPointer {
    int64_t buffer;
    int size;
    int offset;
  };
  TexCoordPointer texCoordWanted[kUnits];
  uint32_t texCoordPending;
  // Programs: ARB enables are deferred, bindings immediate; the GLSL program is deferred when
  // turned off and immediate when one is used (uniforms need it bound).
  int8_t vertexProgramEnabled, fragmentProgramEnabled;
  int8_t vertexProgramWanted, fragmentProgramWanted;
  int64_t vertexProgramBound, fragmentProgramBound;
  int64_t glslProgram;  // GL's; -1 unknown
  int64_t glslWanted;   // -1 nothing asked
  // Environment parameters of the vertex (0) and fragment (1) targets; shared by every program.
  float envParams[2][kEnvParams][4];
  bool envKnown[2][kEnvParams];
  // Generic attribute arrays 8..12: GL's enable (-1 unknown) and pointers, and what the device was
  // asked for (-1 nothing asked).
  int8_t attribEnabled;
  int8_t attribWanted;
  AttribPointers attribGL;
  AttribPointers attribWantedPointers;
  // Units whose enables or texture matrix may differ from GL's (bit per unit).
  uint32_t dirtyUnits;

  GLStateCache() { forgetAll(true); }

  // Everything GL holds becomes unknown. With `resetMatrices` the software texture stacks are
  // emptied to identity too (a new device, or filtering switched on).
  void forgetAll(bool resetMatrices) {
    for (int8_t& c : cap)
      c = -1;
    blendSrc = blendDst = depthFunc = alphaFunc = cullFace = colorMask = polygonMode = -1;
    depthMask = -1;
    alphaRef = 0.0f;
    offsetKnown = false;
    offsetFactor = offsetUnits = 0.0f;
    depthRangeKnown = false;
    depthNear = depthFar = 0.0f;
    matrixMode = activeUnit = clientUnit = -1;
    arrayBuffer = -1;
    arrayBufferReleased = false;
    vertexArray = colorArray = -1;
    for (int8_t& t : texCoordArray)
      t = -1;
    vertexArrayOff = colorArrayOff = false;
    for (bool& t : texCoordArrayOff)
      t = false;
    clientArraysPending = false;
    texCoordPending = 0;
    for (Unit& u : units) {
      for (int k = 0; k < kTargets; k++) {
        u.enabled[k] = -1;
        u.wanted[k] = -1;
        u.bound[k] = -1;
      }
      u.lodBiasKnown = false;
      u.lodBias = 0.0f;
      u.loadedKnown = false;
      if (resetMatrices) {
        u.depth = 0;
        setIdentity(u.stack[0]);
      }
    }
    vertexProgramEnabled = fragmentProgramEnabled = -1;
    vertexProgramWanted = fragmentProgramWanted = -1;
    vertexProgramBound = fragmentProgramBound = -1;
    glslProgram = -1;
    glslWanted = -1;
    for (auto& target : envKnown)
      for (bool& known : target)
        known = false;
    attribEnabled = attribWanted = -1;
    attribGL = AttribPointers{-1, 0, 0};
    attribWantedPointers = AttribPointers{-1, 0, 0};
    dirtyUnits = (1u << kUnits) - 1;
  }

  void markUnit(int unit) { dirtyUnits |= 1u << unit; }

  static void setIdentity(float m[16]) {
    for (int i = 0; i < 16; i++)
      m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
  }

  Unit units[kUnits];
};
