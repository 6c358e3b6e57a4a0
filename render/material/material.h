// Materials: how a surface is drawn. Up to 8 stages (images, colour, texture-coordinate modifiers,
// blending, depth and alpha tests, GPU programs), material-wide surface and contents flags, sort,
// culling, deformation and an optional GUI surface. Materials are declarations of type "material"
// parsed from ".mtx" bodies by MtxLoader (mtxloader.h); animated values are expression registers
// (expression.h), images come from the texture manager. Main thread only.
//
// Callers hold Material* for as long as the declaration manager lives: a reload ("reloadDecls")
// or a purge re-parses the same object in place.
#pragma once

#include <cstdint>

#include "lib/interface/declsystem.h"
#include "lib/interface/materialsystem.h"  // ContentsFlags, MaterialFlags
#include "lib/str.h"

class ImageInterface;
class UserInterface;

constexpr int kMaterialMaxStages = 8;
constexpr int kMaterialMaxTexMods = 8;
constexpr int kMaterialMaxStageImages = 16;
constexpr int kMaterialMaxUniforms = 16;
constexpr int kMaterialImageNameSize = 32;

// Stage flags.
enum MaterialStageFlags : uint32_t {
  kStageMaskRed = 0x1,
  kStageMaskBlue = 0x2,
  kStageMaskGreen = 0x4,
  kStageMaskAlpha = 0x8,
  kStageMaskDepth = 0x10,
  kStageDepthWrite = 0x20,
  kStageBlendFuncGiven = 0x40,
  kStageAlphaFuncGiven = 0x80,
  kStageDepthFuncGiven = 0x100,
  kStageBump = 0x1000,
  kStageDiffuse = 0x2000,
  kStageSpecular = 0x4000,
  kStageBloom = 0x8000,
  kStageVideo = 0x10000,  // also set by "refractRenderMap"
  kStageMirror = 0x40000,
  kStageRenderMap = 0x80000,  // also a stage showing "_mirrorRenderMap"
  kStageProgram = 0x100000,
  kStageCurrentRender = 0x200000,  // shows "_currentRender"
  kStageLightInteraction = 0x400000,
  kStageBlendFactor = 0x800000,
};

// Material-wide flags of the loader.
enum MaterialExtraFlags : uint32_t {
  kExtraBlendLight = 0x2,
  kExtraPostLighting = 0x4,
  kExtraSortGiven = 0x8,
  kExtraNoLightmap = 0x10,
  kExtraNoInteraction = 0x20,  // no light-interaction stage
  kExtraPostProcess = 0x80,    // a stage shows "_currentRender"
  kExtraAmbient = 0x100,       // a stage outside the interaction classes
};

enum MaterialSort : int32_t {
  kSortNone = 0,
  kSortSubview = 1,
  kSortOpaque = 2,
  kSortDecal = 3,
  kSortFar = 4,
  kSortMedium = 5,
  kSortClose = 6,
  kSortAlmostNearest = 7,
  kSortNearest = 8,
  kSortPostProcess = 9,
};

// Cull values are the device's: kCullNone (two-sided), kCullFront, kCullBack.
enum MaterialDeform : int32_t {
  kDeformNone = 0,
  kDeformSprite = 1,
  kDeformSprite2 = 2,
  kDeformFlare = 3,
  kDeformExpand = 4,
  kDeformMove = 5,
  kDeformEyeball = 6,
  kDeformTurbulent = 7,
};

enum MaterialTexModType : int32_t {
  kTexModNone = 0,
  kTexModTranslate = 1,
  kTexModCenterScale = 2,
  kTexModScale = 3,
  kTexModShear = 4,
  kTexModRotate = 5,
};

enum MaterialTexGen : int32_t {
  kTexGenNormal = 0,
  kTexGenReflect = 1,
  kTexGenSkybox = 2,
  kTexGenView = 3,
};

struct MaterialTexMod {
  int32_t type;
  int32_t registers[4];
};

// ARB program pair: parameter slots 0-1 from "vertexParm" 0/1, 2-3 from "fragmentParm" 0/1.
struct MaterialProgramBlock {
  int32_t parms[4][4];  // expression registers, 0 none
  int32_t vertexProgram;    // shader-interface index, -1 none
  int32_t fragmentProgram;  // -1 none
};

struct MaterialGLSLUniform {
  char name[32];  // empty: slot free
  int32_t reg;    // expression register, 0 none
};

struct MaterialGLSLBlock {
  MaterialGLSLUniform uniforms[kMaterialMaxUniforms];
  int32_t program;  // -1 none
};

// One drawing pass of a material. Plain data: zeroed means empty.
struct MaterialStage {
  int32_t color[4];  // registers of red, green, blue, alpha
  MaterialTexMod texMods[kMaterialMaxTexMods];
  int32_t texModCount;
  ImageInterface* images[kMaterialMaxStageImages];  // image 0 is the stage's map
  char imageNames[kMaterialMaxStageImages][kMaterialImageNameSize];  // "fragmentMap"/"shaderTexture" units
  int32_t imageCount;
  MaterialProgramBlock* programs;  // made on first use; owned by the material
  MaterialGLSLBlock* glsl;         // made on first use; owned by the material
  float polygonOffset;             // "privatePolygonOffset"
  int32_t vertexColor;             // 1 after "vertexColor"
  int32_t blendSrc;                // device blend code (RenderBlendFactor)
  int32_t blendDst;
  int32_t depthFunc;  // device compare code (RenderCompareFunc)
  int32_t alphaFunc;
  int32_t alphaRef;  // register
  int32_t texGen;    // MaterialTexGen
  uint32_t flags;    // MaterialStageFlags
};

class Material : public DeclResource {
 public:
  Material();
  ~Material() override;
  Material(const Material&) = delete;
  Material& operator=(const Material&) = delete;

  // The image of the declaration's name when a file exists for it, else "_white", drawn through
  // buildDefaultText's stage.
  void makeDefault() override;
  // Frees the data, then parses the body; true on success.
  bool parse(const char* text, int length) override;
  // Releases every image and program block, the GUI; resets every field.
  void freeData() override;
  int memoryUsed() const override;

  // The implicit text of a material named after an image (or a ".ovid" video) file.
  static void buildDefaultText(String& out, const char* name);

  // Parses when the declaration is not parsed; true when it did.
  bool ensureLoaded();
  // Not translucent and some stage writes depth; otherwise the forceOpaque flag.
  bool isOpaque();
  bool hasInteractionStages() const { return (extraFlags & kExtraNoInteraction) == 0; }
  bool hasAmbientStages() const { return (extraFlags & (kExtraAmbient | kExtraNoInteraction)) != 0; }
  // False for "nodraw"; true when some stage's alpha exceeds its alpha reference (evaluated now).
  bool hasVisibleStage() const;
  bool hasDeform() const { return deformType != kDeformNone && deformType != kDeformFlare; }
  // First index from start whose flags hold a bit of include (or include is 0) and no bit of
  // exclude; the stage count when none.
  int findStage(uint32_t include, uint32_t exclude, int start) const;
  // Null outside 0..count-1.
  const MaterialStage* getStage(int index) const;
  ImageInterface* getStageImage(int stage, int image) const;
  // Null unless the bloom stage has flags and images.
  const MaterialStage* getBloomStage() const;
  // index + 3 for a bump stage (its triple), else index + 1; at most the count.
  int nextStage(int index) const;

  int getNumStages() const { return stageCount; }
  int getCull() const { return cull; }
  bool isTwoSided() const { return cull == 0; }
  int getSort() const { return sort; }
  uint32_t getMaterialFlags() const { return materialFlags; }
  uint32_t getSurfaceFlags() const { return materialFlags; }
  uint32_t getContentsFlags() const { return contentsFlags; }

  // The material of a declaration-manager resource (type "material"), else null.
  static Material* fromDecl(DeclResource* resource);

  // Fields, in the order of the language's description.
  MaterialStage stages[kMaterialMaxStages];
  MaterialStage bloomStage;
  ImageInterface* falloffImage = nullptr;  // "lightFalloffImage"
  int32_t guiEntity = -1;                  // "guiSurf entityN": N - 1 clamped to 0..2
  UserInterface* gui = nullptr;            // "guiSurf" with a file (already loaded), else null
  float lightFallback = 0.0f;              // 256 after every parse
  float subdivide = 0.0f;
  int32_t stageCount = 0;
  int32_t cull = 2;  // RenderCullMode
  int32_t sort = 0;  // MaterialSort
  uint32_t materialFlags = 0;  // MaterialFlags (the surface flags)
  uint32_t contentsFlags = 0;  // ContentsFlags
  uint32_t extraFlags = 0;     // MaterialExtraFlags
  float polygonOffset = 0.0f;
  int32_t surfaceType = 0;
  int32_t deformType = kDeformNone;  // MaterialDeform
  DeclTable* deformTable = nullptr;  // "turbulent"
  int32_t deformRegisters[4] = {};
};

// Allocator of the declaration kind (installed into g_declKindAllocators by this library).
DeclResource* allocMaterial();

// Shorthands over g_declSystem (null without a declaration manager).
Material* findMaterial(const char* name, bool makeDefault = true);
Material* defaultMaterial();
