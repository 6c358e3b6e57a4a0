// The material language: line reading and splitting, the material, shortcut-stage and stage
// keyword tables with their handlers, and the finishing pass (bloom, sort, interaction triples).
#include "render/material/mtxloader.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/assert.h"
#include "lib/interface/cmdsystem.h"
#include "lib/interface/convarsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/interface/renderinterface.h"
#include "lib/interface/texmanager.h"
#include "lib/interface/userinterfacesystem.h"
#include "lib/tokenparser.h"
#include "render/material/expression.h"

namespace {

constexpr int kLineSize = 512;
constexpr int kKeywordSize = 32;
constexpr int kMaxArgs = 16;

// Image-load flags of the running parse: the material's defaults and the current stage's.
uint32_t s_defaultImageFlags = 0;
uint32_t s_imageFlags = 0;

// ---------------------------------------------------------------------------------------------
// Lines and words

class LineReader {
 public:
  LineReader(const char* text, int length) : text_(text), p_(text), end_(text + (text ? length : 0)) {}

  // The next line without comments; false at the end of the text. Longer lines are cut.
  bool next(char* line) {
    if (!p_ || p_ >= end_ || *p_ == '\0')
      return false;
    ++line_;
    int n = 0;
    bool quoted = false;
    while (p_ < end_ && *p_ != '\0' && *p_ != '\n') {
      const char c = *p_;
      const char c1 = (p_ + 1 < end_) ? p_[1] : '\0';
      if (inComment_) {
        if (c == '*' && c1 == '/') {
          inComment_ = false;
          p_ += 2;
        } else {
          ++p_;
        }
        continue;
      }
      if (!quoted && c == '/' && c1 == '/') {
        while (p_ < end_ && *p_ != '\0' && *p_ != '\n')
          ++p_;
        break;
      }
      if (!quoted && c == '/' && c1 == '*') {
        inComment_ = true;
        p_ += 2;
        continue;
      }
      if (c == '"')
        quoted = !quoted;
      if (n < kLineSize - 1)
        line[n++] = c;
      ++p_;
    }
    if (p_ < end_ && *p_ == '\n')
      ++p_;
    line[n] = '\0';
    return true;
  }

  // Warns, naming the file and line, about a number out of range on the line just read.
  void checkNumbers(const char* line) const { TokenParserSource::warnNumberRange(line, text_, line_); }

 private:
  const char* text_;
  int line_ = 0;  // of the line last read, 1 for the first
  const char* p_;
  const char* end_;
  bool inComment_ = false;
};

struct Words {
  char keyword[kKeywordSize] = {};
  char args[kMaxArgs][kLineSize] = {};
  int argc = 0;
};

// Copies at most size - 1 characters (names are cut, never overflow).
void copyCut(char* out, size_t size, const char* in) {
  size_t n = std::strlen(in);
  if (n >= size)
    n = size - 1;
  std::memcpy(out, in, n);
  out[n] = '\0';
}

bool isSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '(' || c == ')';
}

// The first word is the keyword (31 characters at most); up to 16 further words are arguments.
// False for a line without words.
bool splitLine(const char* line, Words& words) {
  words.keyword[0] = '\0';
  words.argc = 0;
  int count = 0;
  const char* p = line;
  char word[kLineSize];
  while (*p) {
    while (*p && isSeparator(*p))
      ++p;
    if (!*p)
      break;
    int n = 0;
    if (*p == '"') {
      ++p;
      while (*p && *p != '"') {
        if (n < kLineSize - 1)
          word[n++] = *p;
        ++p;
      }
      if (*p == '"')
        ++p;
    } else {
      while (*p && !isSeparator(*p)) {
        if (n < kLineSize - 1)
          word[n++] = *p;
        ++p;
      }
    }
    word[n] = '\0';
    if (count == 0) {
      copyCut(words.keyword, sizeof(words.keyword), word);
    } else if (words.argc < kMaxArgs) {
      std::memcpy(words.args[words.argc], word, size_t(n) + 1);
      ++words.argc;
    }
    ++count;
  }
  return count > 0;
}

bool parseInt(const char* text, int* out) {
  const char* p = text;
  if (*p == '+')
    ++p;
  long long value = 0;
  auto [end, ec] = std::from_chars(p, p + std::strlen(p), value);
  if (ec != std::errc() || end == p)
    return false;
  *out = value > 1000000000 ? 1000000000 : (value < -1000000000 ? -1000000000 : int(value));
  return true;
}

float parseFloat(const char* text) {
  const char* p = text;
  if (*p == '+')
    ++p;
  float value = 0.0f;
  std::from_chars(p, p + std::strlen(p), value);
  return value;
}

// ---------------------------------------------------------------------------------------------
// Word tables

struct WordValue {
  const char* word;
  int value;
};

constexpr WordValue kSortWords[] = {
    {"subview", 1}, {"opaque", 2},        {"decal", 3},   {"far", 4},         {"medium", 5},
    {"close", 6},   {"almostNearest", 7}, {"nearest", 8}, {"postProcess", 9},
};

// Blend factors, compare functions and cull words.
constexpr WordValue kWords[] = {
    {"zero", 1},
    {"one", 2},
    {"src_color", 3},
    {"one_minus_src_color", 4},
    {"src_alpha", 5},
    {"one_minus_src_alpha", 6},
    {"dst_alpha", 7},
    {"one_minus_dst_alpha", 8},
    {"dst_color", 9},
    {"one_minus_dst_color", 10},
    {"never", 1},
    {"less", 2},
    {"equal", 3},
    {"lequal", 4},
    {"greater", 5},
    {"notequal", 6},
    {"gequal", 7},
    {"always", 8},
    {"none", 0},
    {"disable", 0},
    {"front", 1},
    {"back", 2},
};

struct ImageOption {
  const char* word;
  uint32_t set;
  uint32_t clear;
};

constexpr ImageOption kImageOptions[] = {
    {"bumpMap", 0x10, 0},      {"diffuseMap", 0x8, 0},     {"specMap", 0x20, 0},
    {"specularmap", 0x20, 0},  {"cubeMap", 0x100, 0},      {"cameraCubeMap", 0x300, 0},
    {"nearest", 0x8000, 0},    {"clamp", 0x40, 0},         {"zeroclamp", 0xC0, 0},
    {"alphazeroclamp", 0, 0},  {"forceHighQuality", 0x6, 0}, {"uncompressed", 0, 0},
    {"highquality", 0, 0},     {"nopicmip", 0x4, 0},       {"linear", 0, 0x8000},
    {"noclamp", 0, 0x40},
};

struct SurfaceParm {
  const char* name;
  uint32_t materialValue;
  uint32_t contentsValue;
};

// Material-flag names and the contents names the world and collision read.
constexpr SurfaceParm kSurfaceParms[] = {
    {"antiportal", 0x2, 0x200000},
    {"areaportal", 0x4, 0x100000},
    {"vertexInteraction", 0x40, 0},
    {"collision", 0x100, 0x103},
    {"nosteps", 0x200, 0},
    {"nodamage", 0x400, 0},
    {"nodraw", 0x800, 0},
    {"noimpact", 0x1000, 0},
    {"nomarks", 0x2000, 0},
    {"nonsolid", 0x4000, 0},
    {"playerclip", 0x8000, 0x8},
    {"slick", 0x10000, 0},
    {"translucent", 0x20000, 0x4000},
    {"ladder", 0x100000, 0},
    {"discrete", 0x200000, 0},
    {"noShadows", 0x400000, 0},
    {"noSelfShadow", 0x800000, 0},
    {"forceOpaque", 0x2000000, 0},
    {"forceOverlay", 0x8000000, 0},
    {"forceShadow", 0x10000000, 0},
    {"trigger", 0x405800, 0x1000},
    {"water", 0, 0x4},
    {"npcclip", 0, 0x10},
    {"moveableclip", 0, 0x20},
    {"navsolid", 0, 0x800000},
};

int lookupIn(const WordValue* table, size_t count, const char* word, bool* found) {
  for (size_t i = 0; i < count; ++i) {
    if (String::icmp(table[i].word, word) == 0) {
      *found = true;
      return table[i].value;
    }
  }
  *found = false;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Messages

void materialLine(const Material* mtx) {
  cmdPrintf("\tmaterial: %s\n", mtx->getName());
}

bool countError(const char* keyword, const Material* mtx) {
  cmdPrintf("ERROR: invalid parameter count for '%s'\n", keyword);
  materialLine(mtx);
  return false;
}

bool notFound(const char* kind, const char* word, const Material* mtx) {
  cmdPrintf("WARNING: %s '%s' was not found\n", kind, word);
  materialLine(mtx);
  return false;
}

int expressionRegister(const char* text) {
  return registerExpression(text);
}

// ---------------------------------------------------------------------------------------------
// Stages

void releaseImage(ImageInterface*& image) {
  if (image && g_texManager)
    g_texManager->releaseImage(image);
  image = nullptr;
}

ImageInterface* findImage(const char* name, uint32_t flags) {
  return g_texManager ? g_texManager->findImage(name, flags) : nullptr;
}

// Releases what a stage holds and zeroes it.
void clearStage(MaterialStage& stage) {
  for (ImageInterface*& image : stage.images)
    releaseImage(image);
  delete stage.programs;
  delete stage.glsl;
  std::memset(&stage, 0, sizeof(stage));
}

void initStage(MaterialStage& stage) {
  clearStage(stage);
  const int one = expressionRegister("1.0");
  for (int& c : stage.color)
    c = one;
  stage.blendSrc = kBlendOne;
  stage.blendDst = kBlendZero;
  stage.depthFunc = kCompareLessEqual;
  stage.alphaFunc = kCompareAlways;
}

MaterialProgramBlock* programBlock(MaterialStage& stage) {
  if (!stage.programs) {
    stage.programs = new MaterialProgramBlock;
    std::memset(stage.programs, 0, sizeof(*stage.programs));
    stage.programs->vertexProgram = -1;
    stage.programs->fragmentProgram = -1;
  }
  return stage.programs;
}

MaterialGLSLBlock* glslBlock(MaterialStage& stage) {
  if (!stage.glsl) {
    stage.glsl = new MaterialGLSLBlock;
    std::memset(stage.glsl, 0, sizeof(*stage.glsl));
    stage.glsl->program = -1;
  }
  return stage.glsl;
}

ShaderInterface* shaders() {
  return g_renderInterface ? g_renderInterface->getShaderInterface() : nullptr;
}

uint32_t classBits(const MaterialStage& stage) {
  uint32_t bits = 0;
  if (stage.flags & kStageBump)
    bits |= kImageBump;
  if (stage.flags & kStageDiffuse)
    bits |= kImageDiffuse;
  if (stage.flags & kStageSpecular)
    bits |= kImageSpecular;
  return bits;
}

bool showsImage(const MaterialStage& stage, const char* name) {
  return stage.images[0] && String::icmp(stage.images[0]->name, name) == 0;
}

struct StageContext {
  Material* mtx;
  MaterialStage* stage;
  const Words* words;
};

using StageHandler = bool (*)(StageContext& c);

bool stageNothing(StageContext&) {
  return true;
}

bool stageProgram(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 1)
    return countError(w.keyword, c.mtx);
  ShaderInterface* si = shaders();
  const char* name = w.args[0];
  if (String::icmp(w.keyword, "glslProgram") == 0) {
    glslBlock(*c.stage)->program = si ? si->loadGLSLProgram(name) : -1;
    return true;
  }
  MaterialProgramBlock* block = programBlock(*c.stage);
  const bool vertex = String::icmp(w.keyword, "fragmentProgram") != 0;
  const bool fragment = String::icmp(w.keyword, "vertexProgram") != 0;
  if (vertex)
    block->vertexProgram = si ? si->loadVertexProgram(name) : -1;
  if (fragment)
    block->fragmentProgram = si ? si->loadFragmentProgram(name) : -1;
  return true;
}

bool stageProgramParm(StageContext& c) {
  const Words& w = *c.words;
  int index = -1;
  if (w.argc < 2 || !parseInt(w.args[0], &index))
    return countError(w.keyword, c.mtx);
  if (index < 0 || index > 1) {
    cmdPrintf("ERROR: invalid program parameter index %d for '%s' (0 or 1)\n", index, w.keyword);
    materialLine(c.mtx);
    return false;
  }
  if (w.argc > 5) {
    cmdPrintf("ERROR: more than four expressions for '%s'\n", w.keyword);
    materialLine(c.mtx);
    return false;
  }
  const int slot = String::icmp(w.keyword, "fragmentParm") == 0 ? index + 2 : index;
  MaterialProgramBlock* block = programBlock(*c.stage);
  int regs[4] = {};
  for (int i = 1; i < w.argc; ++i) {
    regs[i - 1] = expressionRegister(w.args[i]);
    if (!regs[i - 1]) {
      cmdPrintf("ERROR: invalid expression (%s) for '%s'\n", w.args[i], w.keyword);
      materialLine(c.mtx);
      return false;
    }
  }
  std::memcpy(block->parms[slot], regs, sizeof(regs));
  return true;
}

bool stageShaderParm(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 1)
    return countError(w.keyword, c.mtx);
  MaterialGLSLBlock* block = glslBlock(*c.stage);
  MaterialGLSLUniform* target = nullptr;
  char name[32];
  copyCut(name, sizeof(name), w.args[0]);
  for (MaterialGLSLUniform& u : block->uniforms)
    if (u.name[0] && String::icmp(u.name, name) == 0) {
      target = &u;
      break;
    }
  if (!target)
    for (MaterialGLSLUniform& u : block->uniforms)
      if (!u.name[0]) {
        target = &u;
        break;
      }
  if (!target) {
    cmdPrintf("ERROR: more than %d shader parameters\n", kMaterialMaxUniforms);
    materialLine(c.mtx);
    return false;
  }
  int reg = 0;
  if (w.argc > 1) {
    reg = expressionRegister(w.args[1]);
    if (!reg) {
      cmdPrintf("ERROR: invalid expression (%s) for '%s'\n", w.args[1], w.keyword);
      materialLine(c.mtx);
      return false;
    }
  }
  std::memcpy(target->name, name, sizeof(name));
  target->reg = reg;
  return true;
}

// fragmentMap name [options] image / shaderTexture unit [options] image.
bool stageNamedMap(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 2)
    return countError(w.keyword, c.mtx);
  MaterialStage& stage = *c.stage;
  int slot = -1;
  char name[31];
  copyCut(name, sizeof(name), w.args[0]);
  if (String::icmp(w.keyword, "shaderTexture") == 0) {
    if (!parseInt(w.args[0], &slot) || slot < 0 || slot >= kMaterialMaxStageImages) {
      cmdPrintf("ERROR: texture unit '%s' outside 0..%d\n", w.args[0], kMaterialMaxStageImages - 1);
      materialLine(c.mtx);
      return false;
    }
  } else {
    for (int i = 0; i < kMaterialMaxStageImages && slot < 0; ++i)
      if (stage.imageNames[i][0] && String::icmp(stage.imageNames[i], name) == 0)
        slot = i;
    for (int i = 0; i < kMaterialMaxStageImages && slot < 0; ++i)
      if (!stage.imageNames[i][0] && !stage.images[i])
        slot = i;
    if (slot < 0) {
      cmdPrintf("ERROR: more than %d images in a stage\n", kMaterialMaxStageImages);
      materialLine(c.mtx);
      return false;
    }
  }
  uint32_t flags = s_defaultImageFlags;
  for (int i = 1; i < w.argc - 1; ++i)
    MtxLoader::applyImageOption(w.args[i], &flags);
  releaseImage(stage.images[slot]);
  std::memcpy(stage.imageNames[slot], name, sizeof(name));
  stage.images[slot] = findImage(w.args[w.argc - 1], flags);
  if (stage.imageCount < slot + 1)
    stage.imageCount = slot + 1;
  return true;
}

bool stagePolygonOffset(StageContext& c) {
  if (c.words->argc != 1) {
    printWarning("(pMtx != NULL) && (argc == 1) && \"MtxLoader::parsePrivatePolygonOffset\"", __FILE__, __LINE__);
    return false;
  }
  c.stage->polygonOffset = parseFloat(c.words->args[0]);
  return true;
}

bool setImage0(MaterialStage& stage, ImageInterface* image) {
  releaseImage(stage.images[0]);
  stage.images[0] = image;
  if (stage.imageCount < 1)
    stage.imageCount = 1;
  return true;
}

// "map" and the class maps: image 0 with the current flags and the stage's class bits.
bool stageMap(StageContext& c) {
  if (c.words->argc != 1) {
    printWarning("(pMtx != NULL) && (argc == 1) && \"MtxLoader::parseTexMap\"", __FILE__, __LINE__);
    return false;
  }
  uint32_t flags = s_imageFlags | classBits(*c.stage);
  if (String::icmp(c.words->keyword, "cubeMap") == 0)
    flags |= kImageCube;
  else if (String::icmp(c.words->keyword, "cameraCubeMap") == 0)
    flags |= kImageCameraCube;
  return setImage0(*c.stage, findImage(c.words->args[0], flags));
}

bool stageVideoMap(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 1)
    return countError(w.keyword, c.mtx);
  uint32_t flags = s_imageFlags | classBits(*c.stage) | 0x6;
  int loop = 0;
  for (int i = 0; i < w.argc - 1; ++i) {
    if (String::icmp(w.args[i], "loop") == 0)
      loop = 1;
    else
      MtxLoader::applyImageOption(w.args[i], &flags);
  }
  ImageInterface* image = findImage(w.args[w.argc - 1], flags);
  setImage0(*c.stage, image);
  if (image) {
    image->setLoop(loop);
    if (image->flags & kImageGenerated)  // missing file: a still image, not a video
      c.stage->flags &= ~uint32_t(kStageVideo);
  }
  return true;
}

bool stageRenderMap(StageContext& c) {
  const Words& w = *c.words;
  int width = 0, height = 0;
  if (w.argc < 2 || !parseInt(w.args[0], &width) || !parseInt(w.args[1], &height))
    return countError(w.keyword, c.mtx);
  const int x = MtxLoader::renderMapSize(width, conVarInt("r_viewwidth", 800), 640);
  const int y = MtxLoader::renderMapSize(height, conVarInt("r_viewheight", 600), 480);
  ImageInterface* image =
      g_texManager ? g_texManager->createRGBImage(x, y, s_imageFlags, w.argc > 2 ? w.args[2] : nullptr) : nullptr;
  setImage0(*c.stage, image);
  if (String::icmp(w.keyword, "mirrorRenderMap") == 0)
    c.stage->texGen = kTexGenView;
  return true;
}

bool stageColor(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 1)
    return countError(w.keyword, c.mtx);
  const int reg = expressionRegister(w.args[0]);
  if (!reg) {
    cmdPrintf("ERROR: invalid expression (%s) for '%s'\n", w.args[0], w.keyword);
    materialLine(c.mtx);
    return false;
  }
  int* color = c.stage->color;
  const char* k = w.keyword;
  if (String::icmp(k, "rgb") == 0) {
    color[0] = color[1] = color[2] = reg;
  } else if (String::icmp(k, "rgba") == 0) {
    color[0] = color[1] = color[2] = color[3] = reg;
  } else if (String::icmp(k, "red") == 0) {
    color[0] = reg;
  } else if (String::icmp(k, "green") == 0) {
    color[1] = reg;
  } else if (String::icmp(k, "blue") == 0) {
    color[2] = reg;
  } else {
    color[3] = reg;
  }
  return true;
}

bool stageColored(StageContext& c) {
  c.stage->color[0] = expressionRegister("parm0");
  c.stage->color[1] = expressionRegister("parm1");
  c.stage->color[2] = expressionRegister("parm2");
  return true;
}

bool stageVertexColor(StageContext& c) {
  c.stage->vertexColor = 1;
  return true;
}

bool stageTexMod(StageContext& c) {
  const Words& w = *c.words;
  static constexpr WordValue kTypes[] = {
      {"translate", kTexModTranslate}, {"centerScale", kTexModCenterScale}, {"scale", kTexModScale},
      {"shear", kTexModShear},         {"rotate", kTexModRotate},
  };
  if (w.argc < 1) {
    cmdPrintf("MtxLoader::parseTCMod - invalid parameters for func '%s' (argc = %d)\n", w.keyword, w.argc);
    materialLine(c.mtx);
    return false;
  }
  bool found = false;
  const int type = lookupIn(kTypes, sizeof(kTypes) / sizeof(kTypes[0]), w.keyword, &found);
  if (!found) {
    cmdPrintf("MtxLoader::parseTCMod - invalid type (%s)\n", w.keyword);
    materialLine(c.mtx);
    return false;
  }
  MaterialStage& stage = *c.stage;
  if (stage.texModCount >= kMaterialMaxTexMods) {
    cmdPrintf("ERROR: more than %d texture-coordinate modifiers in a stage\n", kMaterialMaxTexMods);
    materialLine(c.mtx);
    return false;
  }
  MaterialTexMod mod = {};
  mod.type = type;
  for (int i = 0; i < w.argc && i < 4; ++i) {
    mod.registers[i] = expressionRegister(w.args[i]);
    if (!mod.registers[i]) {
      cmdPrintf("MtxLoader::parseTCMod - invalid expression (%s)\n", w.args[i]);
      materialLine(c.mtx);
      return false;
    }
  }
  stage.texMods[stage.texModCount++] = mod;
  return true;
}

bool stageBlendFunc(StageContext& c) {
  const Words& w = *c.words;
  MaterialStage& stage = *c.stage;
  int src = 0, dst = 0;
  if (w.argc == 1) {
    const char* mode = w.args[0];
    if (String::icmp(mode, "blend") == 0) {
      src = kBlendSrcAlpha;
      dst = kBlendOneMinusSrcAlpha;
    } else if (String::icmp(mode, "add") == 0) {
      src = dst = kBlendOne;
    } else if (String::icmp(mode, "filter") == 0 || String::icmp(mode, "modulate") == 0) {
      src = kBlendDstColor;
      dst = kBlendZero;
    } else if (String::icmp(mode, "none") == 0) {
      src = kBlendOne;
      dst = kBlendZero;
    }
  } else if (w.argc == 2) {
    bool found1 = false, found2 = false;
    src = lookupIn(kWords, 10, w.args[0], &found1);
    dst = lookupIn(kWords, 10, w.args[1], &found2);
    if (!found1 || !found2)
      src = dst = 0;
  }
  if (!src || !dst) {
    stage.blendSrc = kBlendOne;
    stage.blendDst = kBlendZero;
    cmdPrintf("ERROR: invalid blendfunc\n");
    materialLine(c.mtx);
    return false;
  }
  stage.blendSrc = src;
  stage.blendDst = dst;
  return true;
}

bool stageBlendFactor(StageContext& c) {
  cmdPrintf("ERROR: blendfactor is not supported\n");
  materialLine(c.mtx);
  return false;
}

bool stageTexGen(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc != 1)
    return countError(w.keyword, c.mtx);
  static constexpr WordValue kGens[] = {
      {"normal", kTexGenNormal}, {"reflect", kTexGenReflect}, {"skybox", kTexGenSkybox}, {"view", kTexGenView}};
  bool found = false;
  const int gen = lookupIn(kGens, 4, w.args[0], &found);
  if (!found)
    return notFound("texGen", w.args[0], c.mtx);
  c.stage->texGen = gen;
  if (gen == kTexGenSkybox)
    c.mtx->materialFlags |= kMaterialSkybox;
  return true;
}

int compareWord(const char* word, bool* found) {
  const int value = lookupIn(kWords + 10, 8, word, found);
  return value;
}

bool stageDepthFunc(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc != 1)
    return countError(w.keyword, c.mtx);
  bool found = false;
  const int func = compareWord(w.args[0], &found);
  if (!found)
    return notFound("compare function", w.args[0], c.mtx);
  c.stage->depthFunc = func;
  return true;
}

bool stageAlphaFunc(StageContext& c) {
  const Words& w = *c.words;
  if (w.argc < 1 || w.argc > 2)
    return countError(w.keyword, c.mtx);
  bool found = false;
  const int func = compareWord(w.args[0], &found);
  if (!found)
    return notFound("compare function", w.args[0], c.mtx);
  if (w.argc == 1 && func != kCompareNever && func != kCompareAlways) {
    cmdPrintf("ERROR: alphaFunc %s needs a reference value\n", w.args[0]);
    materialLine(c.mtx);
    return false;
  }
  const int reg = expressionRegister(w.argc == 2 ? w.args[1] : "0.001");
  if (!reg) {
    cmdPrintf("ERROR: invalid expression (%s) for '%s'\n", w.args[1], w.keyword);
    materialLine(c.mtx);
    return false;
  }
  c.stage->alphaFunc = func;
  c.stage->alphaRef = reg;
  return true;
}

struct StageKeyword {
  const char* keyword;
  uint32_t flags;
  StageHandler handler;
};

constexpr StageKeyword kStageKeywords[] = {
    {"lightInteraction", kStageLightInteraction, stageNothing},
    {"vertexProgram", kStageProgram, stageProgram},
    {"fragmentProgram", kStageProgram, stageProgram},
    {"glslProgram", kStageProgram, stageProgram},
    {"program", kStageProgram, stageProgram},
    {"vertexParm", 0, stageProgramParm},
    {"fragmentParm", 0, stageProgramParm},
    {"shaderParm", 0, stageShaderParm},
    {"fragmentMap", 0, stageNamedMap},
    {"shaderTexture", 0, stageNamedMap},
    {"privatePolygonOffset", 0, stagePolygonOffset},
    {"map", 0, stageMap},
    {"diffusemap", kStageDiffuse, stageMap},
    {"bumpmap", kStageBump | kStageMaskDepth, stageMap},
    {"specmap", kStageSpecular, stageMap},
    {"specularmap", kStageSpecular, stageMap},
    {"bloommap", kStageBloom, stageMap},
    {"videoMap", kStageVideo, stageVideoMap},
    {"cubeMap", 0, stageMap},
    {"cameraCubeMap", 0, stageMap},
    {"mirrorRenderMap", kStageMirror | kStageRenderMap, stageRenderMap},
    {"refractRenderMap", kStageVideo | kStageRenderMap, stageRenderMap},
    {"remoteRenderMap", kStageRenderMap, stageRenderMap},
    {"maskRed", kStageMaskRed, stageNothing},
    {"maskBlue", kStageMaskBlue, stageNothing},
    {"maskGreen", kStageMaskGreen, stageNothing},
    {"maskAlpha", kStageMaskAlpha, stageNothing},
    {"maskColor", kStageMaskRed | kStageMaskBlue | kStageMaskGreen, stageNothing},
    {"maskDepth", kStageMaskDepth, stageNothing},
    {"rgb", 0, stageColor},
    {"rgba", 0, stageColor},
    {"red", 0, stageColor},
    {"green", 0, stageColor},
    {"blue", 0, stageColor},
    {"alpha", 0, stageColor},
    {"colored", 0, stageColored},
    {"vertexColor", 0, stageVertexColor},
    {"translate", 0, stageTexMod},
    {"scale", 0, stageTexMod},
    {"centerScale", 0, stageTexMod},
    {"shear", 0, stageTexMod},
    {"rotate", 0, stageTexMod},
    {"blendfunc", kStageBlendFuncGiven, stageBlendFunc},
    {"blendfactor", kStageBlendFactor, stageBlendFactor},
    {"texGen", 0, stageTexGen},
    {"depthFunc", kStageDepthFuncGiven, stageDepthFunc},
    {"alphaFunc", kStageAlphaFuncGiven, stageAlphaFunc},
    {"depthWrite", kStageDepthWrite, stageNothing},
};

const StageKeyword* findStageKeyword(const char* keyword) {
  for (const StageKeyword& k : kStageKeywords)
    if (String::icmp(k.keyword, keyword) == 0)
      return &k;
  return nullptr;
}

// Runs one stage line; false when its handler fails.
bool stageLine(Material* mtx, MaterialStage& stage, const Words& words) {
  if (const StageKeyword* k = findStageKeyword(words.keyword)) {
    stage.flags |= k->flags;
    StageContext c{mtx, &stage, &words};
    return k->handler(c);
  }
  MtxLoader::applyImageOption(words.keyword, &s_imageFlags);  // anything else is ignored
  return true;
}

bool tooManyStages(Material* mtx) {
  cmdPrintf("ERROR: more than %d stages\n", kMaterialMaxStages);
  materialLine(mtx);
  return false;
}

// After a "{" line: reads the stage up to its "}".
bool parseStage(Material* mtx, LineReader& reader) {
  s_imageFlags = s_defaultImageFlags;
  if (mtx->stageCount >= kMaterialMaxStages)
    return tooManyStages(mtx);
  MaterialStage& stage = mtx->stages[mtx->stageCount];
  initStage(stage);
  char line[kLineSize];
  Words words;
  while (reader.next(line)) {
    if (std::strchr(line, '}'))
      break;
    if (!splitLine(line, words))
      continue;
    reader.checkNumbers(line);
    if (!stageLine(mtx, stage, words))
      return false;
  }
  ++mtx->stageCount;  // a text that ends inside a stage still counts it
  return true;
}

bool parseShortcutStage(Material* mtx, const Words& words, uint32_t stageFlags) {
  ImageInterface* white = findImage("_white", 0);
  if (!MtxLoader::insertStage(mtx, mtx->stageCount, white, false))
    return tooManyStages(mtx);
  MaterialStage& stage = mtx->stages[mtx->stageCount];
  stage.flags |= stageFlags;
  s_imageFlags = s_defaultImageFlags;
  const StageKeyword* k = findStageKeyword(words.keyword);
  StageContext c{mtx, &stage, &words};
  if (!k || !k->handler(c))
    return false;
  ++mtx->stageCount;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Material keywords

using MaterialHandler = bool (*)(Material* mtx, const Words& w);

bool mtxNothing(Material*, const Words&) {
  return true;
}

bool mtxSurfaceType(Material* mtx, const Words& w) {
  // A bare word on its own line comes here as the keyword itself.
  const bool bare = String::icmp(w.keyword, "surfaceType") != 0;
  if (!bare && w.argc < 1) {
    cmdPrintf("ERROR: invalid parameter count for '%s'\n", w.keyword);
    return false;
  }
  const char* name = bare ? w.keyword : w.args[0];
  DeclResource* found = g_declSystem ? g_declSystem->findType(kDeclEntityDef, "suface_type_names", false) : nullptr;
  const DeclEntityDef* def = static_cast<const DeclEntityDef*>(found);
  if (!def || def->getState() == kDeclUnparsed) {
    cmdPrintf("ERROR: 'suface_type_names' was not found\n");
    return false;
  }
  for (int i = 0; i < def->dict.num(); ++i) {
    if (String::icmp(def->dict.keyAt(i), name) == 0) {
      mtx->surfaceType = i;
      return true;
    }
  }
  mtx->surfaceType = 0;
  cmdPrintf("ERROR: %s was not found as a valid surface type\n", name);
  return false;
}

bool mtxGuiSurf(Material* mtx, const Words& w) {
  if (w.argc < 1) {
    cmdPrintf("ERROR: invalid parameter count for '%s'(%d)\n", w.keyword, w.argc);
    return false;
  }
  const char* arg = w.args[0];
  if (String::icmpn(arg, "entity", 6) == 0) {
    int n = 0;
    parseInt(arg + 6, &n);
    int entity = n - 1;
    mtx->guiEntity = entity < 0 ? 0 : (entity > 2 ? 2 : entity);
    return true;
  }
  if (!g_ioSystem || !g_ioSystem->fileExists(arg)) {
    cmdPrintf("ERROR: gui '%s' was not found\n", arg);
    materialLine(mtx);
    return false;
  }
  // An interface the manager already holds; the material never owns it.
  mtx->gui = g_uiSystem ? g_uiSystem->findGui(arg, false, false) : nullptr;
  return true;
}

bool mtxCull(Material* mtx, const Words& w) {
  if (w.argc != 1)
    return countError(w.keyword, mtx);
  bool found = false;
  const int value = lookupIn(kWords + 18, 4, w.args[0], &found);
  if (!found)
    return notFound("cull", w.args[0], mtx);
  mtx->cull = value;
  if (value == kCullNone)
    mtx->materialFlags |= kMaterialNoShadows;
  return true;
}

bool mtxTwoSided(Material* mtx, const Words&) {
  mtx->cull = kCullNone;
  mtx->materialFlags |= kMaterialNoShadows;
  return true;
}

bool mtxDeform(Material* mtx, const Words& w) {
  static constexpr WordValue kDeforms[] = {
      {"none", kDeformNone},     {"sprite", kDeformSprite}, {"sprite2", kDeformSprite2}, {"flare", kDeformFlare},     {"expand", kDeformExpand},
      {"move", kDeformMove},     {"eyeball", kDeformEyeball}, {"turbulent", kDeformTurbulent},
  };
  if (w.argc < 1)
    return countError(w.keyword, mtx);
  bool found = false;
  const int type = lookupIn(kDeforms, sizeof(kDeforms) / sizeof(kDeforms[0]), w.args[0], &found);
  if (!found)
    return notFound("deform", w.args[0], mtx);
  mtx->deformType = type;
  int first = 1;
  if (type == kDeformFlare || type == kDeformExpand || type == kDeformMove) {
    const int zero = expressionRegister("0");
    mtx->deformRegisters[0] = mtx->deformRegisters[1] = mtx->deformRegisters[2] = zero;
    if (w.argc < 2) {
      cmdPrintf("MtxLoader::parseDeform - invalid parameter count (%d)\n", w.argc);
      materialLine(mtx);
    }
  } else if (type == kDeformTurbulent) {
    if (w.argc != 5) {
      cmdPrintf("MtxLoader::parseDeform:MTX_DFRM_TURB - invalid parameter count (%d)\n", w.argc);
      materialLine(mtx);
      return false;
    }
    mtx->deformTable = g_declSystem ? g_declSystem->findTable(w.args[1], true) : nullptr;
    first = 2;
  }
  for (int i = first, r = 0; i < w.argc && r < 4; ++i, ++r) {
    const int reg = expressionRegister(w.args[i]);
    if (!reg) {
      cmdPrintf("MtxLoader::parseDeform:MTX_DFRM_TURB - invalid expression (%s)\n", w.args[i]);
      materialLine(mtx);
      return false;
    }
    mtx->deformRegisters[r] = reg;
  }
  if (type == kDeformExpand && w.argc == 2)
    mtx->deformRegisters[1] = mtx->deformRegisters[2] = mtx->deformRegisters[0];
  return true;
}

bool mtxPolygonOffset(Material* mtx, const Words& w) {
  mtx->polygonOffset = w.argc > 0 ? parseFloat(w.args[0]) : 0.0f;
  return true;
}

bool mtxSort(Material* mtx, const Words& w) {
  if (w.argc != 1)
    return countError(w.keyword, mtx);
  const int value = MtxLoader::lookupSort(w.args[0]);
  if (!value)
    return notFound("sort", w.args[0], mtx);
  mtx->sort = value;
  return true;
}

bool mtxSurfaceParm(Material* mtx, const Words& w) {
  if (w.argc != 1)
    return countError(w.keyword, mtx);
  uint32_t materialValue = 0, contentsValue = 0;
  if (!MtxLoader::lookupSurfaceParm(w.args[0], &materialValue, &contentsValue))
    return notFound("surfaceparm", w.args[0], mtx);
  mtx->materialFlags |= materialValue;
  mtx->contentsFlags |= contentsValue;
  return true;
}

bool mtxFalloff(Material* mtx, const Words& w) {
  if (w.argc != 1)
    return countError(w.keyword, mtx);
  releaseImage(mtx->falloffImage);
  mtx->falloffImage = findImage(w.args[0], 0x46);
  return true;
}

bool mtxSubdivide(Material* mtx, const Words& w) {
  if (w.argc != 1)
    return countError(w.keyword, mtx);
  mtx->subdivide = parseFloat(w.args[0]);
  return true;
}

struct MaterialKeyword {
  const char* keyword;
  uint32_t extraFlags;
  MaterialHandler handler;
};

constexpr MaterialKeyword kMaterialKeywords[] = {
    {"surfaceType", 0, mtxSurfaceType},
    {"guiSurf", 0, mtxGuiSurf},
    {"cull", 0, mtxCull},
    {"twoSided", 0, mtxTwoSided},
    {"deform", 0, mtxDeform},
    {"polygonOffset", 0, mtxPolygonOffset},
    {"sort", kExtraSortGiven, mtxSort},
    {"surfaceparm", 0, mtxSurfaceParm},
    {"postLighting", kExtraPostLighting, mtxNothing},
    {"nolightmap", kExtraNoLightmap, mtxNothing},
    {"lightFalloffImage", 0, mtxFalloff},
    {"blendLight", kExtraBlendLight, mtxNothing},
    {"subdivide", 0, mtxSubdivide},
};

struct ShortcutStage {
  const char* keyword;
  uint32_t flags;
};

constexpr ShortcutStage kShortcutStages[] = {
    {"bumpmap", kStageBump | kStageMaskDepth},
    {"diffusemap", kStageDiffuse},
    {"specmap", kStageSpecular},
    {"specularmap", kStageSpecular},
    {"bloommap", kStageBloom},
    {"videoMap", kStageVideo},
};

bool anyStageHas(const Material* mtx, uint32_t flags) {
  for (int i = 0; i < mtx->stageCount; ++i)
    if (mtx->stages[i].flags & flags)
      return true;
  return false;
}

// Removes stage index (its contents already moved elsewhere or released).
void removeStage(Material* mtx, int index) {
  for (int i = index; i < mtx->stageCount - 1; ++i)
    mtx->stages[i] = mtx->stages[i + 1];
  std::memset(&mtx->stages[mtx->stageCount - 1], 0, sizeof(MaterialStage));
  --mtx->stageCount;
}

void swapStages(Material* mtx, int a, int b) {
  if (a == b)
    return;
  MaterialStage t = mtx->stages[a];
  mtx->stages[a] = mtx->stages[b];
  mtx->stages[b] = t;
}

// The first stage with flag at or after from, or -1.
int firstWith(const Material* mtx, int from, uint32_t flag) {
  for (int i = from; i < mtx->stageCount; ++i)
    if (mtx->stages[i].flags & flag)
      return i;
  return -1;
}

// Puts a stage of class flag at index: swapped in from later, else a built-in image inserted.
// False when a stage cannot be inserted (8 stages).
bool placeClass(Material* mtx, int index, uint32_t flag, const char* fallback) {
  if (index < mtx->stageCount && (mtx->stages[index].flags & flag))
    return true;
  const int found = firstWith(mtx, index, flag);
  if (found >= 0) {
    swapStages(mtx, index, found);
    return true;
  }
  if (!MtxLoader::insertStage(mtx, index, findImage(fallback, 0), true))
    return false;
  mtx->stages[index].flags |= flag;
  return true;
}

void groupInteractions(Material* mtx) {
  int o = 0;
  while (o < mtx->stageCount) {
    const int open = [&] {
      for (int i = o; i < mtx->stageCount; ++i)
        if (mtx->stages[i].flags & (kStageBump | kStageDiffuse | kStageSpecular))
          return i;
      return -1;
    }();
    if (open < 0)
      return;
    o = open;
    // Never past the 8 stages: a group that cannot be completed is left as it stands.
    if (!placeClass(mtx, o, kStageBump, "_flatbump") || !placeClass(mtx, o + 1, kStageDiffuse, "_white") ||
        !placeClass(mtx, o + 2, kStageSpecular, "_black")) {
      cmdPrintf("WARNING: no room for a bump/diffuse/specular group\n");
      materialLine(mtx);
      return;
    }
    MaterialStage* group[3] = {&mtx->stages[o], &mtx->stages[o + 1], &mtx->stages[o + 2]};
    MaterialStage& bump = *group[0];
    MaterialStage& diffuse = *group[1];
    MaterialStage& specular = *group[2];
    specular.flags = (specular.flags & ~0x3Fu) | (diffuse.flags & 0x3Fu);

    int alphaFunc = kCompareAlways;
    int alphaRef = 0;
    bool alphaGiven = false;
    for (MaterialStage* s : group)
      if (!alphaGiven && (s->flags & kStageAlphaFuncGiven)) {
        alphaFunc = s->alphaFunc;
        alphaRef = s->alphaRef;
        alphaGiven = true;
      }
    if (!alphaGiven) {
      ImageInterface* image = diffuse.images[0];
      if (image && !image->loaded)
        image->load();
      if (image && imageFormatComponents(image->info.pixelFormat) == 4) {
        alphaFunc = kCompareGreater;
        alphaRef = expressionRegister("0.5");
      } else {
        alphaFunc = kCompareAlways;
        alphaRef = 0;
      }
    }
    int depthFunc = kCompareEqual;
    for (MaterialStage* s : group)
      if (s->flags & kStageDepthFuncGiven) {
        depthFunc = s->depthFunc;
        break;
      }
    bump.flags |= kStageMaskAlpha | kStageMaskDepth;
    bump.depthFunc = depthFunc;
    bump.alphaFunc = alphaFunc;
    bump.alphaRef = alphaRef;
    diffuse.depthFunc = kCompareLessEqual;
    diffuse.alphaFunc = alphaFunc;
    diffuse.alphaRef = alphaRef;
    specular.depthFunc = depthFunc;
    o += 3;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// MtxLoader

int MtxLoader::lookupSort(const char* word) {
  bool found = false;
  return lookupIn(kSortWords, sizeof(kSortWords) / sizeof(kSortWords[0]), word, &found);
}

int MtxLoader::lookupWord(const char* word) {
  bool found = false;
  return lookupIn(kWords, sizeof(kWords) / sizeof(kWords[0]), word, &found);
}

bool MtxLoader::applyImageOption(const char* word, uint32_t* flags) {
  for (const ImageOption& o : kImageOptions) {
    if (String::icmp(o.word, word) == 0) {
      *flags = (*flags | o.set) & ~o.clear;
      return true;
    }
  }
  return false;
}

bool MtxLoader::lookupSurfaceParm(const char* word, uint32_t* materialValue, uint32_t* contentsValue) {
  for (const SurfaceParm& p : kSurfaceParms) {
    if (String::icmp(p.name, word) == 0) {
      *materialValue = p.materialValue;
      *contentsValue = p.contentsValue;
      return true;
    }
  }
  return false;
}

int MtxLoader::renderMapSize(int requested, int viewSize, int baseSize) {
  const long long scaled = (long long)viewSize * requested / baseSize;
  if (scaled <= 2)
    return 1;
  int size = 1;
  while ((long long)size * 2 < scaled && size * 2 <= kMaterialMaxRenderMapSize)
    size *= 2;
  return size;
}

bool MtxLoader::insertStage(Material* mtx, int index, ImageInterface* image, bool countIt) {
  if (index < 0 || index > mtx->stageCount || mtx->stageCount >= kMaterialMaxStages) {
    releaseImage(image);
    return false;
  }
  // The slot past the count may hold a stage that was never counted.
  clearStage(mtx->stages[kMaterialMaxStages - 1]);
  for (int i = kMaterialMaxStages - 1; i > index; --i)
    mtx->stages[i] = mtx->stages[i - 1];
  std::memset(&mtx->stages[index], 0, sizeof(MaterialStage));
  MaterialStage& stage = mtx->stages[index];
  initStage(stage);
  stage.images[0] = image;
  stage.imageCount = 1;
  if (countIt)
    ++mtx->stageCount;
  return true;
}

void MtxLoader::finishMaterial(Material* mtx) {
  for (int i = mtx->stageCount - 1; i >= 0; --i) {
    MaterialStage& stage = mtx->stages[i];
    if (showsImage(stage, "_currentRender")) {
      stage.flags |= kStageCurrentRender;
      mtx->extraFlags |= kExtraPostProcess;
    }
    if (showsImage(stage, "_mirrorRenderMap"))
      stage.flags |= kStageRenderMap;
    if (stage.flags & kStageBloom) {
      clearStage(mtx->bloomStage);
      mtx->bloomStage = stage;
      std::memset(&stage, 0, sizeof(stage));
      removeStage(mtx, i);
    }
  }
  if (!(mtx->extraFlags & kExtraSortGiven)) {
    if (mtx->extraFlags & kExtraPostProcess)
      mtx->sort = kSortPostProcess;
    else if (mtx->materialFlags & kMaterialTranslucent)
      mtx->sort = kSortFar;
    else
      mtx->sort = kSortOpaque;
  }
  if (mtx->materialFlags & kMaterialNonSolid)
    mtx->contentsFlags &= ~uint32_t(kContentsSolid);
  if (mtx->extraFlags & kExtraNoInteraction)
    return;
  mtx->materialFlags |= kMaterialForceOpaque;
  mtx->extraFlags &= ~uint32_t(kExtraPostLighting);
  if (!anyStageHas(mtx, kStageLightInteraction))
    groupInteractions(mtx);
  for (int i = 0; i < mtx->stageCount; ++i) {
    MaterialStage& stage = mtx->stages[i];
    if (stage.imageCount > 0 && (stage.flags & (kStageLightInteraction | kStageBump)) &&
        !(stage.flags & kStageBlendFuncGiven)) {
      stage.blendSrc = kBlendOne;
      stage.blendDst = kBlendOne;
    }
  }
}

bool MtxLoader::parseBody(Material* mtx, const char* text, int length) {
  mtx->lightFallback = 256.0f;
  mtx->contentsFlags = kContentsSolid;
  s_defaultImageFlags = 0;
  s_imageFlags = 0;
  LineReader reader(text, length);
  char line[kLineSize];
  Words words;
  while (reader.next(line)) {
    if (std::strchr(line, '}'))
      break;
    if (std::strchr(line, '{')) {
      if (!parseStage(mtx, reader))
        return false;
      continue;
    }
    if (!splitLine(line, words))
      continue;
    reader.checkNumbers(line);
    const char* keyword = words.keyword;
    uint32_t materialValue = 0, contentsValue = 0;
    if (lookupSurfaceParm(keyword, &materialValue, &contentsValue) && (materialValue || contentsValue)) {
      mtx->materialFlags |= materialValue;
      mtx->contentsFlags |= contentsValue;
      continue;
    }
    const MaterialKeyword* found = nullptr;
    for (const MaterialKeyword& k : kMaterialKeywords)
      if (String::icmp(k.keyword, keyword) == 0)
        found = &k;
    if (found) {
      mtx->extraFlags |= found->extraFlags;
      if (!found->handler(mtx, words))
        return false;
      continue;
    }
    const ShortcutStage* shortcut = nullptr;
    for (const ShortcutStage& s : kShortcutStages)
      if (String::icmp(s.keyword, keyword) == 0)
        shortcut = &s;
    if (shortcut) {
      if (!parseShortcutStage(mtx, words, shortcut->flags))
        return false;
      continue;
    }
    if (applyImageOption(keyword, &s_defaultImageFlags))
      continue;
    if (words.argc == 0) {
      if (!mtxSurfaceType(mtx, words))
        return false;
      continue;
    }
    cmdPrintf("ERROR: unknown material keyword '%s'\n", keyword);
    materialLine(mtx);
    return false;
  }
  if (!anyStageHas(mtx, kStageBump | kStageDiffuse | kStageLightInteraction))
    mtx->extraFlags |= kExtraNoInteraction | kExtraPostLighting;
  finishMaterial(mtx);
  for (int i = 0; i < mtx->stageCount; ++i)
    if (!(mtx->stages[i].flags & (kStageBump | kStageDiffuse | kStageSpecular | kStageLightInteraction)))
      mtx->extraFlags |= kExtraAmbient;
  return true;
}

// Used by Material::freeData.
void materialClearStage(MaterialStage& stage) {
  clearStage(stage);
}
