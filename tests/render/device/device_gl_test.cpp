// The render device on a real context (llvmpipe through SDL's offscreen driver): drawing from a vertex
// buffer through ARB and GLSL programs, compressed and cube uploads, shared sub-contexts, two-sided
// stencil, and program loading through the file system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/gl.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"
#include "tests/support/capturecmdsystem.h"
#include "tests/support/gldevice.h"
#include "tests/support/memoryiosystem.h"

namespace {

constexpr int kSize = 64;

const char* kColorProgram =
    "# st comes in through generic attribute 8 and leaves as the colour\n"
    "!!ARBvp1.0\n"
    "ATTRIB st = vertex.attrib[8];\n"
    "MOV result.position, vertex.position;\n"
    "MOV result.texcoord[0], st;\n"
    "END\n"
    "!!ARBfp1.0\n"
    "MOV result.color, fragment.texcoord[0];\n"
    "END\n";

const char* kPassVertex = "!!ARBvp1.0\nMOV result.position, vertex.position;\nEND\n";

const char* kGlslVertex = "#version 110\nvoid main() { gl_Position = gl_Vertex; }\n";
const char* kGlslFragment =
    "#version 110\nuniform vec4 program_env3;\nvoid main() { gl_FragColor = program_env3; }\n";

class DeviceGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    io.addFile("glprogs/color.vfp", kColorProgram);
    io.addFile("glprogs/pass.vp", kPassVertex);
    io.addFile("glprogs/bad.vp", "!!ARBvp1.0\nMOV result.position, nonsense.value;\nEND\n");
    io.addFile("glprogs/noheader.vp", "MOV result.position, vertex.position;\nEND\n");
    io.addFile("glprogs/envvp", kGlslVertex);
    io.addFile("glprogs/envfp", kGlslFragment);
    io.addFile("glprogs/fragonlyfp", "#version 110\nvoid main() { gl_FragColor = vec4(1.0); }\n");
    io.addFile("glprogs/brokenvp", "#version 110\nvoid main() { gl_Position = undeclared; }\n");

    gltest::openDevice(kSize, kSize, &window, &device);
    if (IsSkipped() || HasFatalFailure())
      return;
    device->setViewport(0, 0, kSize, kSize);
    device->setScissor(0, 0, kSize, kSize);
  }

  void TearDown() override {
    device.reset();
    platformGLDestroyHiddenWindow(window);
  }

  // A triangle of DrawVertex records (positions in clip space, z 0) drawn through a vertex buffer.
  void drawTriangle(const float (&xy)[3][2], float s, float t, int flags) {
    DrawVertex vertices[3] = {};
    for (int i = 0; i < 3; ++i) {
      vertices[i].xyz[0] = xy[i][0];
      vertices[i].xyz[1] = xy[i][1];
      vertices[i].st[0] = s;
      vertices[i].st[1] = t;
      std::memset(vertices[i].color, 255, 4);
    }
    VertexBufferHandle* buffer = device->createVertexBuffer();
    ASSERT_NE(buffer, nullptr);
    device->uploadVertexBuffer(buffer, vertices, sizeof(vertices), true);
    ASSERT_TRUE(device->bindVertexBuffer(buffer, flags));
    const unsigned indices[3] = {0, 1, 2};
    device->drawTriangles(indices, 3);
    device->unbindVertexBuffer();
    device->freeVertexBuffer(&buffer);
  }

  void pixel(int x, int y, unsigned char out[4]) { device->readPixels(out, x, y, 1, 1, kPixelFormatRGBA); }

  int stencilAt(int x, int y) {
    unsigned char value = 0;
    qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
    qgl::glReadPixels(x, y, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &value);
    return value;
  }

  MemoryIOSystem io;
  CaptureCmdSystem console;
  void* window = nullptr;
  std::unique_ptr<RenderOpenGL> device;
};

const float kLowerLeft[3][2] = {{-1, -1}, {1, -1}, {-1, 1}};

TEST_F(DeviceGLTest, InitFindsTheRequiredExtensions) {
  EXPECT_TRUE(device->isReady());
  EXPECT_STREQ(device->getVersionName(), "OpenGL20");
  EXPECT_EQ(qgl::ARB_vertex_program, 1);
  EXPECT_EQ(qgl::ARB_fragment_program, 1);
  EXPECT_EQ(qgl::ARB_multitexture, 1);
  EXPECT_EQ(qgl::ARB_vertex_buffer_object, 1);
  EXPECT_EQ(qgl::ARB_texture_compression, 1);
  EXPECT_EQ(qgl::EXT_texture_compression_s3tc, 1);
  EXPECT_EQ(qgl::EXT_stencil_wrap, 1);
  EXPECT_EQ(qgl::EXT_stencil_two_side, 1);
  EXPECT_EQ(qgl::EXT_framebuffer_object, 1);
  EXPECT_NE(qgl::glProgramStringARB, nullptr);
  EXPECT_NE(qgl::glBindFramebufferEXT, nullptr);
  EXPECT_TRUE(glExtensionSupported("GL_ARB_vertex_program"));
  EXPECT_GE(device->clipPlaneCount(), 6);
  EXPECT_EQ(device->pixelFormat().stencilBits, 8);
  EXPECT_GE(device->pixelFormat().depthBits, 24);
}

TEST_F(DeviceGLTest, TriangleFromAVertexBufferThroughAnARBProgram) {
  OpenGLShaderInterface& shader = device->shader();
  const int vp = shader.loadVertexProgram("color.vfp");
  const int fp = shader.loadFragmentProgram("color.vfp");
  ASSERT_GE(vp, 0);
  ASSERT_GE(fp, 0);
  EXPECT_NE(vp, fp);
  device->setClearColor(0, 0, 1, 1);
  device->clear(kClearColor | kClearDepth | kClearStencil);
  shader.bind(vp);
  shader.bind(fp);
  EXPECT_EQ(shader.getBoundProgram(1), vp);
  EXPECT_EQ(shader.getBoundProgram(2), fp);
  // st = (1, 0.5) reaches the program only through generic attribute 8, which binding the buffer
  // sets up beside the fixed-function arrays.
  drawTriangle(kLowerLeft, 1.0f, 0.5f, kVertexArrayPosition | kVertexArrayTexCoord);
  shader.unbindAll();
  device->finish();

  unsigned char inside[4];
  unsigned char outside[4];
  pixel(5, 5, inside);
  pixel(kSize - 5, kSize - 5, outside);
  EXPECT_EQ(inside[0], 255);
  EXPECT_NEAR(inside[1], 128, 1);
  EXPECT_EQ(inside[2], 0);
  EXPECT_EQ(outside[0], 0);
  EXPECT_EQ(outside[2], 255);

  // Packed RGB rows read back without padding (3 x 3 pixels, 9-byte rows).
  unsigned char rgb[27 + 4];
  std::memset(rgb, 0xEE, sizeof(rgb));
  device->readPixels(rgb, 0, 0, 3, 3, kPixelFormatRGB);
  EXPECT_EQ(rgb[24], 255);
  EXPECT_EQ(rgb[27], 0xEE) << "nothing written past the caller's rows";
}

// Mesa reads 0x120 bytes into a fragment program's instruction array when it binds the program's
// textures; a program shorter than 8 instructions (the sample fog's) ended before that and the read
// ran into the next heap block, a crash whenever that block was not mapped. Short programs are
// handed over padded and sample as written; long ones go as they are.
TEST_F(DeviceGLTest, ShortTexturingFragmentProgramsReachTheDriverLongEnough) {
  struct Case {
    const char* file;
    const char* text;
    int minInstructions;
    int maxInstructions;
  };
  const Case cases[] = {
      {"tex.fp", "!!ARBfp1.0\nTEX result.color, fragment.texcoord[0], texture[0], 2D;\nEND\n", 8, 8},
      {"named.fp",
       "!!ARBfp1.0\nTEMP quillPad;\nTEX quillPad, fragment.texcoord[0], texture[0], 2D;\n"
       "MOV result.color, quillPad;\nEND\n",
       8, 8},
      {"long.fp",
       "!!ARBfp1.0\nTEMP t;\nTEX t, fragment.texcoord[0], texture[0], 2D;\nMOV t, t;\nMOV t, t;\nMOV t, t;\n"
       "MOV t, t;\nMOV t, t;\nMOV t, t;\nMOV result.color, t;\nEND\n",
       9, 9},
  };
  io.addFile("glprogs/st.vp",
             "!!ARBvp1.0\nMOV result.position, vertex.position;\nMOV result.texcoord[0], vertex.texcoord[0];\nEND\n");
  for (const Case& c : cases)
    io.addFile((std::string("glprogs/") + c.file).c_str(), c.text);
  OpenGLShaderInterface& shader = device->shader();
  const int vp = shader.loadVertexProgram("st.vp");
  ASSERT_GE(vp, 0);
  const unsigned texture = device->createTexture();
  device->selectTextureUnit(0, 0);
  device->bindTexture(kTextureType2D, texture);
  const unsigned char texel[4] = {200, 100, 50, 255};
  ImageInfo info{1, 1, 0, kPixelFormatRGBA, kTextureType2D, 99};
  device->uploadTexImage(&info, 0, texel, 0);
  device->setTextureFilter(kTextureType2D, kFilterLinear, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const int fp = shader.loadFragmentProgram(c.file);
    ASSERT_GE(fp, 0) << console.output;
    device->setClearColor(0, 0, 1, 1);
    device->clear(kClearColor | kClearDepth);
    shader.bind(vp);
    shader.bind(fp);
    GLint instructions = 0;
    qgl::glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_INSTRUCTIONS_ARB, &instructions);
    EXPECT_GE(instructions, c.minInstructions);
    EXPECT_LE(instructions, c.maxInstructions);
    drawTriangle(kLowerLeft, 0.5f, 0.5f, kVertexArrayPosition | kVertexArrayTexCoord);
    shader.unbindAll();
    device->finish();
    unsigned char inside[4];
    pixel(5, 5, inside);
    EXPECT_NEAR(inside[0], 200, 1);
    EXPECT_NEAR(inside[1], 100, 1);
    EXPECT_NEAR(inside[2], 50, 1);
  }
  device->deleteTexture(texture);
}

// Every fragment program of the sample content (the fog's among them) reaches the driver long enough.
TEST_F(DeviceGLTest, EverySampleFragmentProgramReachesTheDriverLongEnough) {
  const std::filesystem::path dir = std::filesystem::path(QUILL_SOURCE_ROOT) / "demo/media/glprogs";
  OpenGLShaderInterface& shader = device->shader();
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("!!ARBfp") == std::string::npos)
      continue;
    const std::string file = entry.path().filename().string();
    SCOPED_TRACE(file);
    io.addFile("glprogs/" + file, text.str());
    const int fp = shader.loadFragmentProgram(file.c_str());
    ASSERT_GE(fp, 0) << console.output;
    shader.bind(fp);
    GLint instructions = 0;
    qgl::glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_INSTRUCTIONS_ARB, &instructions);
    EXPECT_GE(instructions, 8);
    shader.unbindAll();
    ++checked;
  }
  EXPECT_GT(checked, 5) << "the sample's fog, interaction and post-process programs";
}

TEST_F(DeviceGLTest, Dxt1UploadReadsBackDecompressed) {
  // 5 x 5 texels in 2 x 2 blocks: red, green / blue, white; colour 0 > colour 1, every index 0.
  const uint16_t colors[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  unsigned char blocks[32] = {};
  for (int b = 0; b < 4; ++b) {
    blocks[b * 8 + 0] = colors[b] & 0xFF;
    blocks[b * 8 + 1] = colors[b] >> 8;
  }
  const unsigned texture = device->createTexture();
  ASSERT_NE(texture, 0u);
  device->bindTexture(kTextureType2D, texture);
  ImageInfo info{5, 5, 0, kPixelFormatDXT1, kTextureType2D, 99};
  device->uploadCompressedTexImage(&info, 0, blocks, sizeof(blocks), 0);
  device->setTextureFilter(kTextureType2D, kFilterLinear, false);
  unsigned char rgb[5 * 5 * 3 + 8];
  std::memset(rgb, 0xEE, sizeof(rgb));
  device->getTexImage(kTextureType2D, kPixelFormatRGB, rgb);
  auto at = [&](int x, int y) { return rgb + (y * 5 + x) * 3; };
  const unsigned char expected[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      const int block = (y / 4) * 2 + (x / 4);
      EXPECT_EQ(std::memcmp(at(x, y), expected[block], 3), 0) << x << "," << y;
    }
  }
  EXPECT_EQ(rgb[75], 0xEE);
  device->deleteTexture(texture);
}

TEST_F(DeviceGLTest, VolumeSubImageAndFramebufferCopies) {
  // A 2 x 2 x 2 volume of luminance texels, read back as they went up.
  const unsigned volume = device->createTexture();
  device->bindTexture(kTextureType3D, volume);
  const unsigned char layers[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  ImageInfo info3d{2, 2, 2, kPixelFormatI8, kTextureType3D, 99};
  device->uploadTexImage(&info3d, 0, layers, 0);
  unsigned char luminance[8] = {};
  qgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  qgl::glGetTexImage(GL_TEXTURE_3D, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, luminance);
  EXPECT_EQ(std::memcmp(luminance, layers, sizeof(layers)), 0);
  device->deleteTexture(volume);

  // A 3 x 1 RGB image replaced in place, then its first texel copied from the framebuffer.
  const unsigned texture = device->createTexture();
  device->bindTexture(kTextureType2D, texture);
  ImageInfo info{3, 1, 0, kPixelFormatRGB, kTextureType2D, 99};
  const unsigned char zero[9] = {};
  device->uploadTexImage(&info, 0, zero, 0);
  const unsigned char texels[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  device->uploadTexSubImage(&info, texels);
  unsigned char out[9 + 3];
  std::memset(out, 0xEE, sizeof(out));
  device->getTexImage(kTextureType2D, kPixelFormatRGB, out);
  EXPECT_EQ(std::memcmp(out, texels, sizeof(texels)), 0);
  EXPECT_EQ(out[9], 0xEE);

  device->setClearColor(1, 0, 0, 1);
  device->clear(kClearColor);
  device->copyTexSubImage(0, 0, 1, 0, 1, 1);
  device->getTexImage(kTextureType2D, kPixelFormatRGB, out);
  EXPECT_EQ(out[0], 1) << "texel 0 untouched";
  EXPECT_EQ(out[3], 255) << "texel 1 took the red framebuffer";
  EXPECT_EQ(out[4], 0);
  device->deleteTexture(texture);
}

TEST_F(DeviceGLTest, CubeFacesGoToTheirTargets) {
  const unsigned texture = device->createTexture();
  device->bindTexture(kTextureTypeCube, texture);
  ImageInfo info{1, 1, 0, kPixelFormatRGBA, kTextureTypeCube, 99};
  for (int face = 0; face < 6; ++face) {
    const unsigned char color[4] = {static_cast<unsigned char>(10 * (face + 1)), 0, 0, 255};
    device->uploadTexImage(&info, 0, color, face);
  }
  const GLenum targets[6] = {GL_TEXTURE_CUBE_MAP_POSITIVE_X, GL_TEXTURE_CUBE_MAP_NEGATIVE_X,
                             GL_TEXTURE_CUBE_MAP_POSITIVE_Y, GL_TEXTURE_CUBE_MAP_NEGATIVE_Y,
                             GL_TEXTURE_CUBE_MAP_POSITIVE_Z, GL_TEXTURE_CUBE_MAP_NEGATIVE_Z};
  for (int face = 0; face < 6; ++face) {
    unsigned char out[4] = {};
    qgl::glGetTexImage(targets[face], 0, GL_RGBA, GL_UNSIGNED_BYTE, out);
    EXPECT_EQ(out[0], 10 * (face + 1)) << face;
  }
  device->deleteTexture(texture);
}

TEST_F(DeviceGLTest, TextureMadeInASubContextIsVisibleInTheMainOne) {
  RenderContextRecord* sub = device->allocSubContext(window);
  ASSERT_NE(sub, nullptr);
  device->makeCurrent(sub);
  ASSERT_EQ(platformGLCurrentContext(), sub->glContext);

  const unsigned texture = device->createTexture();
  EXPECT_EQ(platformGLCurrentContext(), sub->glContext) << "creation restores the caller's context";
  device->bindTexture(kTextureType2D, texture);
  const unsigned char texels[2 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ImageInfo info{2, 2, 0, kPixelFormatRGBA, kTextureType2D, 99};
  device->uploadTexImage(&info, 0, texels, 0);
  device->finish();

  device->makeMainContextCurrent();
  EXPECT_EQ(platformGLCurrentContext(), device->context(0)->glContext);
  EXPECT_TRUE(qgl::glIsTexture(texture));
  device->bindTexture(kTextureType2D, texture);
  unsigned char out[16] = {};
  device->getTexImage(kTextureType2D, kPixelFormatRGBA, out);
  EXPECT_EQ(std::memcmp(out, texels, sizeof(out)), 0);

  // Push, switch, pop: the main context is back.
  device->pushContext();
  device->makeCurrent(sub);
  device->popContext();
  EXPECT_EQ(platformGLCurrentContext(), device->context(0)->glContext);

  device->deleteTexture(texture);
  device->freeSubContext(sub);
  EXPECT_EQ(device->contextCount(), 1);
  EXPECT_EQ(platformGLCurrentContext(), device->context(0)->glContext);
}

TEST_F(DeviceGLTest, TwoSidedStencilCountsFrontUpAndBackDown) {
  ASSERT_TRUE(device->hasStencilFeature(kStencilFeatureTwoSided));
  ASSERT_TRUE(device->hasStencilFeature(kStencilFeatureWrap));
  device->setClearStencil(128);
  device->clear(kClearColor | kClearDepth | kClearStencil);
  device->setStencilFunc(kCompareAlways, 128, 255);
  device->setStencilOpFace(kStencilFaceFront, kStencilKeep, kStencilKeep, kStencilIncrWrap);
  device->setStencilOpFace(kStencilFaceBack, kStencilKeep, kStencilKeep, kStencilDecrWrap);
  device->setCullMode(kCullNone);
  device->setDepthFunc(kCompareAlways);  // the overlapping back triangles both pass
  device->setColorMask(false, false, false, false);
  const float front[3][2] = {{-1, -1}, {-0.1f, -1}, {-1, 1}};  // counter-clockwise: front
  const float back[3][2] = {{0.1f, -1}, {0.1f, 1}, {1, -1}};   // clockwise: back
  drawTriangle(front, 0, 0, kVertexArrayPosition);
  drawTriangle(back, 0, 0, kVertexArrayPosition);
  drawTriangle(back, 0, 0, kVertexArrayPosition);
  device->setStencilOpFace(kStencilFaceBoth, kStencilKeep, kStencilKeep, kStencilKeep);
  device->setColorMask(true, true, true, true);
  device->finish();
  EXPECT_EQ(stencilAt(3, 3), 129);
  EXPECT_EQ(stencilAt(kSize / 2 + 6, 3), 126);
  EXPECT_EQ(stencilAt(kSize / 2 - 6, kSize - 3), 128) << "outside both triangles";
}

TEST_F(DeviceGLTest, GlslPairLinksAndTakesEnvironmentUniforms) {
  OpenGLShaderInterface& shader = device->shader();
  const int program = shader.loadGLSLProgram("env");
  ASSERT_GE(program, 0);
  EXPECT_EQ(shader.loadGLSLProgram("env"), program);
  EXPECT_GE(shader.loadGLSLProgram("fragonly"), 0) << "a fragment shader alone links";
  console.output.clear();
  EXPECT_EQ(shader.loadGLSLProgram("broken"), -1);
  EXPECT_NE(console.output.find("glprogs/brokenvp: "), std::string::npos) << console.output;
  EXPECT_EQ(shader.loadGLSLProgram("absent"), -1);
  EXPECT_EQ(shader.loadVertexProgram("env.glsl"), -1);

  device->clear(kClearColor | kClearDepth);
  shader.bind(program);
  const float green[4] = {0, 1, 0, 1};
  shader.setEnvParam(program, 3, green);
  drawTriangle(kLowerLeft, 0, 0, kVertexArrayPosition);
  shader.unbindAll();
  EXPECT_EQ(shader.getBoundProgram(3), -1);
  unsigned char color[4];
  pixel(4, 4, color);
  EXPECT_EQ(color[0], 0);
  EXPECT_EQ(color[1], 255);
}

TEST_F(DeviceGLTest, ARBProgramFailuresGiveMinusOne) {
  OpenGLShaderInterface& shader = device->shader();
  const int before = shader.programCount();
  EXPECT_EQ(shader.loadVertexProgram("bad.vp"), -1);
  EXPECT_EQ(shader.loadVertexProgram("noheader.vp"), -1);
  EXPECT_EQ(shader.loadFragmentProgram("pass.vp"), -1) << "a vertex file has no fragment header";
  EXPECT_EQ(shader.loadVertexProgram("missing.vp"), -1);
  EXPECT_EQ(shader.programCount(), before) << "failed loads leave no record";
  EXPECT_NE(console.output.find("!!ARBvp(bad.vp): 'glprogs/bad.vp' failed to compile: "), std::string::npos)
      << console.output;
  EXPECT_EQ(console.output.find("!!ARBvp(bad.vp): worked"), std::string::npos);
  EXPECT_NE(console.output.find("WARNING: !!ARBvp(noheader.vp): no program header in 'glprogs/noheader.vp'\n"),
            std::string::npos);
  console.output.clear();
  EXPECT_GE(shader.loadVertexProgram("pass.vp"), 0);
  EXPECT_EQ(console.output, "!!ARBvp(pass.vp): worked\n");
  // Operations on -1 are ignored.
  const float v[4] = {0, 0, 0, 0};
  shader.bind(-1);
  shader.setEnvParam(-1, 0, v);
  shader.setLocalParam(99, 0, v);
}

TEST_F(DeviceGLTest, LoadingANameTwiceReadsTheFileOnce) {
  OpenGLShaderInterface& shader = device->shader();
  const int first = shader.loadVertexProgram("pass.vp");
  ASSERT_GE(first, 0);
  EXPECT_EQ(shader.loadVertexProgram("PASS.VP"), first) << "names compare without case";
  EXPECT_EQ(io.readsOf("glprogs/pass.vp"), 1);

  // A long name is kept as its last 63 characters and still found by the full name.
  const std::string longName = std::string(80 - 3, 'x') + ".vp";
  io.addFile("glprogs/" + longName, kPassVertex);
  const int longIndex = shader.loadVertexProgram(longName.c_str());
  ASSERT_GE(longIndex, 0);
  EXPECT_EQ(std::strlen(shader.program(longIndex)->name), 63u);
  EXPECT_EQ(shader.loadVertexProgram(longName.c_str()), longIndex);
  EXPECT_EQ(io.readsOf("glprogs/" + longName), 1);
}

TEST_F(DeviceGLTest, UnloadAndInitKeepEveryIndex) {
  OpenGLShaderInterface& shader = device->shader();
  const int vp = shader.loadVertexProgram("pass.vp");
  const int glsl = shader.loadGLSLProgram("env");
  ASSERT_GE(vp, 0);
  ASSERT_GE(glsl, 0);
  shader.unloadAll();
  EXPECT_EQ(shader.program(vp)->glId, -1);
  EXPECT_TRUE(shader.init());
  EXPECT_GE(shader.program(vp)->glId, 0);
  EXPECT_GE(shader.program(glsl)->glId, 0);
  EXPECT_EQ(shader.loadVertexProgram("pass.vp"), vp);
  EXPECT_EQ(shader.loadGLSLProgram("env"), glsl);
}

TEST_F(DeviceGLTest, ContextRemadeReloadsThePrograms) {
  OpenGLShaderInterface& shader = device->shader();
  const int vp = shader.loadVertexProgram("pass.vp");
  ASSERT_GE(vp, 0);
  // A video restart: every context goes, then the main one is made again.
  device->freeAllContexts();
  EXPECT_EQ(shader.program(vp)->glId, -1) << "ids of a destroyed share group are forgotten";
  device->createContext(window, nullptr, 32);
  ASSERT_EQ(device->contextCount(), 1);
  shader.init();
  EXPECT_GE(shader.program(vp)->glId, 0);
  EXPECT_TRUE(qgl::glIsProgramARB(static_cast<GLuint>(shader.program(vp)->glId)));
}

// The sample content's built-in programs compile on this driver.
TEST_F(DeviceGLTest, BuiltinProgramsOfTheSampleContentLoad) {
  const std::string root = QUILL_SOURCE_ROOT;
  const char* files[] = {"interaction.vfp",        "interaction_nob.fp", "interaction_nos.fp",
                         "interaction_nobs.fp",    "interaction_nos.vp", "vertexInteraction.vfp",
                         "ambientInteraction.vfp", "unlit.vp",           "shadow.vp"};
  for (const char* file : files) {
    std::ifstream in(root + "demo/media/glprogs/" + file);
    ASSERT_TRUE(in.good()) << file;
    std::stringstream text;
    text << in.rdbuf();
    io.addFile(std::string("glprogs/") + file, text.str());
  }
  OpenGLShaderInterface& shader = device->shader();
  shader.init();
  for (int i = 0; i < OpenGLShaderInterface::kBuiltinCount; ++i) {
    EXPECT_GE(shader.builtinProgram(i), 0) << "built-in " << i;
  }
}

}  // namespace
