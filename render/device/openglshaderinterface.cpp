// GPU programs of the render device: ARB programs cut out of "glprogs/" files, GLSL pairs, and their
// parameters. A failed load prints the driver's text and gives -1; no program failure stops the engine.
#include "render/device/openglshaderinterface.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/iosystem.h"
#include "lib/str.h"
#include "lib/tokenparser.h"
#include "render/device/glextensions.h"
#include "render/device/renderopengl.h"

namespace {

// The last 63 characters of a name.
const char* storedName(const char* name) {
  const size_t length = std::strlen(name);
  return length > 63 ? name + (length - 63) : name;
}

bool containsNoCase(const char* text, const char* part) {
  const size_t partLength = std::strlen(part);
  for (const char* p = text; *p != '\0'; ++p) {
    if (String::icmpn(p, part, static_cast<int>(partLength)) == 0) {
      return true;
    }
  }
  return false;
}

// Generic attributes are bound as "vertex.attrib[n]"; the lower-case word appears nowhere else in
// program text but in comments, where a match only costs the attribute set-up.
bool readsGenericAttribs(const char* text, int length) {
  static const char kWord[] = "attrib";
  const int wordLength = static_cast<int>(sizeof(kWord) - 1);
  for (int i = 0; i + wordLength <= length; ++i) {
    if (std::memcmp(text + i, kWord, wordLength) == 0) {
      return true;
    }
  }
  return false;
}

// Mesa (22.x) reads 4 bytes 0x120 into a fragment program's instruction array when it first draws
// with the program's textures (the array's pointer shares a union with GLSL program data). Under 8
// instructions (END counted) the array ends before that, and the read runs into whatever follows:
// a crash whenever that is unmapped.
constexpr int kMinFragmentInstructions = 8;

// Reloads the bound fragment program, just compiled from `text`, with dead moves before its END until
// it has `kMinFragmentInstructions`. A longer text that fails leaves the program as it was.
void padShortFragmentProgram(const char* text, int length) {
  GLint instructions = 0;
  qgl::glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_INSTRUCTIONS_ARB, &instructions);
  int end = length - 3;
  while (end >= 0 && String::icmpn(text + end, "END", 3) != 0) {
    --end;
  }
  if (instructions <= 0 || instructions >= kMinFragmentInstructions || end < 0) {
    return;
  }
  // A name the program does not use.
  char name[32] = "quillPad";
  for (int n = 0; std::strstr(text, name) != nullptr && n < 1000; ++n) {
    std::snprintf(name, sizeof(name), "quillPad%d", n);
  }
  static char padded[OpenGLShaderInterface::kFileBufferSize + 512];
  int used = std::snprintf(padded, sizeof(padded), "%.*s\nTEMP %s;\n", end, text, name);
  for (int i = instructions; i < kMinFragmentInstructions && used > 0 && used < int(sizeof(padded)); ++i) {
    used += std::snprintf(padded + used, sizeof(padded) - size_t(used), "MOV %s, {0, 0, 0, 0};\n", name);
  }
  if (used <= 0 || used + 4 >= int(sizeof(padded))) {
    return;
  }
  used += std::snprintf(padded + used, sizeof(padded) - size_t(used), "END");
  qgl::glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, used, padded);
  GLint errorPosition = -1;
  qgl::glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &errorPosition);
  if (errorPosition != -1) {
    qgl::glGetError();  // the driver kept the program as first loaded: nothing went wrong for us
  }
}

// True when every statement that names "vertex.texcoord" is a plain copy to the same-numbered
// output. Anything else (a swizzle, an ATTRIB alias, arithmetic) counts as reading them.
bool passesTexCoords(const char* text, int length) {
  std::string code;
  code.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    if (text[i] == '#') {
      while (i < length && text[i] != '\n') {
        ++i;
      }
      continue;
    }
    if (static_cast<unsigned char>(text[i]) > ' ') {
      code.push_back(text[i]);
    } else {
      code.push_back(' ');
    }
  }
  const std::string header = "!!ARBvp1.0";
  if (code.compare(0, header.size(), header) == 0) {
    code.erase(0, header.size());
  }
  static const std::string kInput = "vertex.texcoord";
  size_t start = 0;
  while (start < code.size()) {
    size_t end = code.find(';', start);
    if (end == std::string::npos) {
      end = code.size();
    }
    const std::string statement = code.substr(start, end - start);
    start = end + 1;
    if (statement.find(kInput) == std::string::npos) {
      continue;
    }
    std::string packed;
    for (char c : statement) {
      if (c != ' ') {
        packed.push_back(c);
      }
    }
    static const std::string kOutput = "MOVresult.texcoord";
    if (packed.compare(0, kOutput.size(), kOutput) != 0) {
      return false;
    }
    const size_t comma = packed.find(',');
    if (comma == std::string::npos) {
      return false;
    }
    const std::string out = packed.substr(kOutput.size(), comma - kOutput.size());
    const std::string in = packed.substr(comma + 1);
    if (in.compare(0, kInput.size(), kInput) != 0 || in.substr(kInput.size()) != out) {
      return false;
    }
    // "" or "[n]" only: no swizzle, no relative index.
    const bool plainIndex = out.empty() || (out.size() >= 3 && out.front() == '[' && out.back() == ']' &&
                                            out.find_first_not_of("0123456789", 1) == out.size() - 1);
    if (!plainIndex) {
      return false;
    }
  }
  return true;
}

GLenum targetOfKind(int kind) {
  return kind == OpenGLShaderInterface::kKindVertex ? GL_VERTEX_PROGRAM_ARB : GL_FRAGMENT_PROGRAM_ARB;
}

}  // namespace

OpenGLShaderInterface::OpenGLShaderInterface(RenderOpenGL* device) : device_(device), programs_(16) {
  for (int& index : builtin_) {
    index = -1;
  }
  for (int& index : boundProgram_) {
    index = -1;
  }
}

OpenGLShaderInterface::~OpenGLShaderInterface() {
  shutdown();
}

bool OpenGLShaderInterface::init() {
  builtin_[kInteractionFP] = loadFragmentProgram("interaction.vfp");
  builtin_[kInteractionNobFP] = loadFragmentProgram("interaction_nob.fp");
  builtin_[kInteractionNosFP] = loadFragmentProgram("interaction_nos.fp");
  builtin_[kInteractionNobsFP] = loadFragmentProgram("interaction_nobs.fp");
  builtin_[kVertexInteractionFP] = loadFragmentProgram("vertexInteraction.vfp");
  builtin_[kAmbientInteractionFP] = loadFragmentProgram("ambientInteraction.vfp");
  builtin_[kInteractionVP] = loadVertexProgram("interaction.vfp");
  builtin_[kInteractionNosVP] = loadVertexProgram("interaction_nos.vp");
  builtin_[kVertexInteractionVP] = loadVertexProgram("vertexInteraction.vfp");
  builtin_[kAmbientInteractionVP] = loadVertexProgram("ambientInteraction.vfp");
  builtin_[kUnlitVP] = loadVertexProgram("unlit.vp");
  builtin_[kShadowVP] = loadVertexProgram("shadow.vp");

  // Programs unloaded by unloadAll (a context remade) come back under their old indices.
  for (int i = 0; i < programs_.num(); ++i) {
    ShaderProgramRecord* record = programs_[i];
    if (record == nullptr || record->glId >= 0 || record->name[0] == '\0') {
      continue;
    }
    char name[64];
    std::memcpy(name, record->name, sizeof(name));
    if (record->kind == kKindGLSL) {
      loadGLSLProgram(name);
    } else {
      loadARBProgram(name, record->kind);
    }
  }
  return true;
}

void OpenGLShaderInterface::shutdown() {
  unloadAll();
  for (int i = 0; i < programs_.num(); ++i) {
    delete programs_[i];
  }
  programs_.clear();
  for (int& index : builtin_) {
    index = -1;
  }
}

void OpenGLShaderInterface::unloadAll() {
  if (programs_.num() == 0) {
    return;
  }
  unbindAll();
  for (int i = 0; i < programs_.num(); ++i) {
    if (programs_[i] != nullptr) {
      freeProgramObjects(programs_[i]);
    }
  }
}

bool OpenGLShaderInterface::boundVertexProgramPassesTexCoords() const {
  const ShaderProgramRecord* record = loadedRecord(boundProgram_[kKindVertex]);
  return record != nullptr && record->kind == kKindVertex && record->passesTexCoords;
}

bool OpenGLShaderInterface::boundVertexProgramReadsAttribs() const {
  const ShaderProgramRecord* record = loadedRecord(boundProgram_[kKindVertex]);
  return record == nullptr || record->kind != kKindVertex || record->readsGenericAttribs;
}

const ShaderProgramRecord* OpenGLShaderInterface::program(int index) const {
  return index >= 0 && index < programs_.num() ? programs_[index] : nullptr;
}

int OpenGLShaderInterface::findProgram(const char* name, int kind) const {
  if (name == nullptr) {
    return -1;
  }
  const char* key = storedName(name);
  for (int i = 0; i < programs_.num(); ++i) {
    const ShaderProgramRecord* record = programs_[i];
    if (record != nullptr && record->kind == kind && String::icmp(record->name, key) == 0) {
      return i;
    }
  }
  return -1;
}

int OpenGLShaderInterface::newRecord(int kind) {
  ShaderProgramRecord* record = new ShaderProgramRecord{};
  record->glId = -1;
  record->kind = kind;
  record->vertexShader = -1;
  record->fragmentShader = -1;
  record->readsGenericAttribs = true;
  record->passesTexCoords = false;
  for (int i = 0; i < programs_.num(); ++i) {
    if (programs_[i] == nullptr) {
      programs_[i] = record;
      return i;
    }
  }
  return programs_.append(record);
}

void OpenGLShaderInterface::dropNewRecord(int index) {
  delete programs_[index];
  if (index == programs_.num() - 1) {
    programs_.removeIndex(index);
  } else {
    programs_[index] = nullptr;  // an earlier hole it filled; positions of later records stay
  }
}

bool OpenGLShaderInterface::extractProgramText(const char* text, const char* header, const char** start,
                                               int* length) {
  const char* begin = text != nullptr && header != nullptr ? std::strstr(text, header) : nullptr;
  if (begin == nullptr) {
    return false;
  }
  const char* end = begin + std::strlen(begin);
  TokenParser parser;
  parser.pushText(begin);
  while (const char* token = parser.nextToken()) {
    if (String::icmp(token, "END") == 0) {
      end = parser.textPosition();
      break;
    }
  }
  *start = begin;
  *length = static_cast<int>(end - begin);
  return true;
}

int OpenGLShaderInterface::loadVertexProgram(const char* name) {
  if (name == nullptr || containsNoCase(name, ".glsl")) {
    return -1;
  }
  return loadARBProgram(name, kKindVertex);
}

int OpenGLShaderInterface::loadFragmentProgram(const char* name) {
  if (name == nullptr || containsNoCase(name, ".glsl")) {
    return -1;
  }
  return loadARBProgram(name, kKindFragment);
}

int OpenGLShaderInterface::loadARBProgram(const char* name, int kind) {
  if (name == nullptr || (kind != kKindVertex && kind != kKindFragment) ||
      qgl::glProgramStringARB == nullptr) {
    return -1;
  }
  const GLenum target = targetOfKind(kind);
  const char* header = kind == kKindVertex ? "!!ARBvp" : "!!ARBfp";

  int index = findProgram(name, kind);
  if (index >= 0 && programs_[index]->glId >= 0) {
    return index;
  }
  if (g_ioSystem == nullptr) {
    return -1;
  }
  char path[512];
  std::snprintf(path, sizeof(path), "glprogs/%s", name);
  static char buffer[kFileBufferSize];
  const int bytes = g_ioSystem->readFileToBuffer(path, buffer, kFileBufferSize);
  if (bytes <= 0 || bytes >= kFileBufferSize) {
    if (g_ioSystem->fileExists(path))
      cmdPrintf("WARNING: %s(%s): '%s' is empty or larger than %d bytes\n", header, name, path, kFileBufferSize - 1);
    return -1;
  }
  buffer[bytes] = '\0';

  const char* text = nullptr;
  int length = 0;
  if (!extractProgramText(buffer, header, &text, &length)) {
    // Without its header the driver would be handed text from the wrong place.
    cmdPrintf("WARNING: %s(%s): no program header in '%s'\n", header, name, path);
    return -1;
  }

  const bool isNew = index < 0;
  if (isNew) {
    index = newRecord(kind);
  }
  ShaderProgramRecord* record = programs_[index];

  device_->pushContext();
  device_->makeMainContextCurrent();
  GLuint id = 0;
  qgl::glGenProgramsARB(1, &id);
  record->glId = static_cast<int>(id);
  qgl::glBindProgramARB(target, id);
  device_->forgetProgramBindings();
  qgl::glProgramStringARB(target, GL_PROGRAM_FORMAT_ASCII_ARB, length, text);
  GLint errorPosition = -1;
  GLint underNativeLimits = 0;
  qgl::glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &errorPosition);
  qgl::glGetProgramivARB(target, GL_PROGRAM_UNDER_NATIVE_LIMITS_ARB, &underNativeLimits);
  const char* errorText = reinterpret_cast<const char*>(qgl::glGetString(GL_PROGRAM_ERROR_STRING_ARB));
  char error[512];
  std::snprintf(error, sizeof(error), "%s", errorText != nullptr ? errorText : "");
  if (kind == kKindFragment && errorPosition == -1 && underNativeLimits == 1) {
    padShortFragmentProgram(text, length);
  }
  device_->popContext();

  if (errorPosition == -1 && underNativeLimits == 1) {
    cmdPrintf("%s(%s): worked\n", header, name);
    record->readsGenericAttribs = readsGenericAttribs(text, length);
    record->passesTexCoords =
        kind == kKindVertex && !record->readsGenericAttribs && passesTexCoords(text, length);
    std::snprintf(record->name, sizeof(record->name), "%s", storedName(name));
    return index;
  }
  cmdPrintf("WARNING: %s(%s): '%s' failed to compile: %s\n", header, name, path, error);
  freeProgramObjects(record);
  if (isNew) {
    dropNewRecord(index);
  }
  return -1;
}

bool OpenGLShaderInterface::printShaderLog(unsigned shader, const char* name) {
  if (!qgl::glIsShader(shader)) {
    return false;
  }
  GLint length = 0;
  qgl::glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  char log[4096] = "";
  if (length > 0) {
    qgl::glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
  }
  if (log[0] == '\0') {
    cmdPrintf("%s: worked\n", name);
    return true;
  }
  cmdPrintf("%s: %s\n", name, log);
  return false;
}

bool OpenGLShaderInterface::printProgramLog(unsigned program, const char* name) {
  if (!qgl::glIsProgram(program)) {
    return false;
  }
  GLint length = 0;
  qgl::glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
  char log[4096] = "";
  if (length > 0) {
    qgl::glGetProgramInfoLog(program, sizeof(log), nullptr, log);
  }
  if (log[0] == '\0') {
    cmdPrintf("GLSL : '%s': worked\n", name);
    return true;
  }
  cmdPrintf("GLSL : %s: %s\n", name, log);
  return false;
}

int OpenGLShaderInterface::loadGLSLProgram(const char* name) {
  if (name == nullptr || !qgl::version_2_0 || qgl::glCreateShader == nullptr) {
    return -1;
  }
  int index = findProgram(name, kKindGLSL);
  if (index >= 0 && programs_[index]->glId >= 0) {
    return index;
  }
  if (g_ioSystem == nullptr) {
    return -1;
  }
  char paths[2][512];
  std::snprintf(paths[0], sizeof(paths[0]), "glprogs/%svp", name);
  std::snprintf(paths[1], sizeof(paths[1]), "glprogs/%sfp", name);
  IOData* files[2] = {g_ioSystem->loadFile(paths[0]), g_ioSystem->loadFile(paths[1])};
  if (files[0] == nullptr && files[1] == nullptr) {
    return -1;
  }

  const bool isNew = index < 0;
  if (isNew) {
    index = newRecord(kKindGLSL);
  }
  ShaderProgramRecord* record = programs_[index];

  device_->pushContext();
  device_->makeMainContextCurrent();
  bool ok = true;
  const GLenum stages[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  int* shaderIds[2] = {&record->vertexShader, &record->fragmentShader};
  for (int i = 0; i < 2; ++i) {
    if (files[i] == nullptr) {
      continue;
    }
    const GLuint shader = qgl::glCreateShader(stages[i]);
    *shaderIds[i] = static_cast<int>(shader);
    const GLchar* source = files[i]->buffer;
    const GLint sourceLength = files[i]->length;
    qgl::glShaderSource(shader, 1, &source, &sourceLength);
    qgl::glCompileShader(shader);
    GLint compiled = GL_FALSE;
    qgl::glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    // The log is printed whatever it says; a warning in it does not fail the shader.
    printShaderLog(shader, paths[i]);
    if (compiled != GL_TRUE) {
      ok = false;
    }
  }
  const GLuint program = qgl::glCreateProgram();
  record->glId = static_cast<int>(program);
  for (int i = 0; i < 2; ++i) {
    if (*shaderIds[i] >= 0) {
      qgl::glAttachShader(program, static_cast<GLuint>(*shaderIds[i]));
    }
  }
  GLint linked = GL_FALSE;
  if (ok) {
    qgl::glLinkProgram(program);
    qgl::glGetProgramiv(program, GL_LINK_STATUS, &linked);
    printProgramLog(program, name);
  }
  device_->popContext();

  for (IOData* file : files) {
    if (file != nullptr) {
      g_ioSystem->freeFile(file);
    }
  }
  if (ok && linked == GL_TRUE) {
    std::snprintf(record->name, sizeof(record->name), "%s", storedName(name));
    return index;
  }
  freeProgramObjects(record);
  if (isNew) {
    dropNewRecord(index);
  }
  return -1;
}

void OpenGLShaderInterface::freeProgramObjects(ShaderProgramRecord* record) {
  if (record->glId < 0 && record->vertexShader < 0 && record->fragmentShader < 0) {
    return;
  }
  device_->pushContext();
  device_->makeMainContextCurrent();
  if (qgl::glDeleteShader != nullptr) {
    if (record->vertexShader >= 0) {
      qgl::glDeleteShader(static_cast<GLuint>(record->vertexShader));
    }
    if (record->fragmentShader >= 0) {
      qgl::glDeleteShader(static_cast<GLuint>(record->fragmentShader));
    }
  }
  if (record->glId >= 0) {
    if (record->kind == kKindGLSL) {
      if (qgl::glDeleteProgram != nullptr) {
        qgl::glDeleteProgram(static_cast<GLuint>(record->glId));
      }
    } else if (qgl::glDeleteProgramsARB != nullptr) {
      const GLuint id = static_cast<GLuint>(record->glId);
      qgl::glDeleteProgramsARB(1, &id);
    }
  }
  device_->forgetProgramBindings();
  device_->popContext();
  record->glId = -1;
  record->vertexShader = -1;
  record->fragmentShader = -1;
}

void OpenGLShaderInterface::bind(int index) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr) {
    return;
  }
  if (record->kind == kKindGLSL) {
    device_->useProgramGL(static_cast<GLuint>(record->glId), false);
  } else {
    const GLenum target = targetOfKind(record->kind);
    device_->setProgramEnable(target, true);
    device_->bindProgramGL(target, static_cast<GLuint>(record->glId));
  }
  boundProgram_[record->kind] = index;
}

void OpenGLShaderInterface::unbindAll() {
  if (qgl::ARB_vertex_program) {
    device_->setProgramEnable(GL_VERTEX_PROGRAM_ARB, false);
  }
  if (qgl::ARB_fragment_program) {
    device_->setProgramEnable(GL_FRAGMENT_PROGRAM_ARB, false);
  }
  if (qgl::version_2_0 && qgl::glUseProgram != nullptr) {
    device_->useProgramGL(0, true);
  }
  for (int& index : boundProgram_) {
    index = -1;
  }
}

void OpenGLShaderInterface::setEnvParam(int index, int reg, const float vec[4]) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr || vec == nullptr) {
    return;
  }
  if (record->kind == kKindGLSL) {
    char uniform[32];
    std::snprintf(uniform, sizeof(uniform), "program_env%d", reg);
    setUniformVec4(index, uniform, vec);
    return;
  }
  device_->envParamGL(targetOfKind(record->kind), reg, vec);
}

void OpenGLShaderInterface::setEnvParams(int index, int reg, int count, const float (*vecs)[4]) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr || vecs == nullptr) {
    return;
  }
  if (record->kind == kKindGLSL) {
    for (int i = 0; i < count; ++i) {
      setEnvParam(index, reg + i, vecs[i]);
    }
    return;
  }
  const unsigned target = targetOfKind(record->kind);
  for (int i = 0; i < count; ++i) {
    device_->envParamGL(target, reg + i, vecs[i]);
  }
}

void OpenGLShaderInterface::setLocalParam(int index, int reg, const float vec[4]) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr || vec == nullptr || record->kind == kKindGLSL) {
    return;
  }
  qgl::glProgramLocalParameter4fvARB(targetOfKind(record->kind), static_cast<GLuint>(reg), vec);
}

void OpenGLShaderInterface::setUniformFloat(int index, const char* name, float value) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr || name == nullptr || record->kind != kKindGLSL) {
    return;
  }
  const GLint location = qgl::glGetUniformLocation(static_cast<GLuint>(record->glId), name);
  if (location >= 0) {
    qgl::glUniform1f(location, value);
  }
}

void OpenGLShaderInterface::setUniformVec4(int index, const char* name, const float vec[4]) {
  ShaderProgramRecord* record = loadedRecord(index);
  if (record == nullptr || name == nullptr || vec == nullptr || record->kind != kKindGLSL) {
    return;
  }
  const GLint location = qgl::glGetUniformLocation(static_cast<GLuint>(record->glId), name);
  if (location >= 0) {
    qgl::glUniform4fv(location, 1, vec);
  }
}

int OpenGLShaderInterface::getBoundProgram(int kind) {
  return kind >= kKindVertex && kind <= kKindGLSL ? boundProgram_[kind] : -1;
}

void checkGLError(const char* file, int line) {
  GLenum error = qgl::glGetError();
  if (error == GL_NO_ERROR || error == GL_INVALID_OPERATION) {
    return;
  }
  cmdPrintf("\n*** OPENGL ERROR in \"%s\" at line %d ***\n", file, line);
  while (error != GL_NO_ERROR) {
    const char* name = "Unknown error";
    switch (error) {
      case GL_INVALID_ENUM:
        name = "GL_INVALID_ENUM";
        break;
      case GL_INVALID_VALUE:
        name = "GL_INVALID_VALUE";
        break;
      case GL_INVALID_OPERATION:
        name = "GL_INVALID_OPERATION";
        break;
      case GL_STACK_OVERFLOW:
        name = "GL_STACK_OVERFLOW";
        break;
      case GL_STACK_UNDERFLOW:
        name = "GL_STACK_UNDERFLOW";
        break;
      case GL_OUT_OF_MEMORY:
        name = "GL_OUT_OF_MEMORY";
        break;
      case GL_INVALID_FRAMEBUFFER_OPERATION_EXT:
        name = "GL_INVALID_FRAMEBUFFER_OPERATION_EXT";
        break;
      case GL_TABLE_TOO_LARGE:
        name = "GL_TABLE_TOO_LARGE";
        break;
      default:
        break;
    }
    cmdPrintf("glGetError returned %s.\n", name);
    error = qgl::glGetError();
  }
}
