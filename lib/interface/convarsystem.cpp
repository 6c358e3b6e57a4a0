// ConVar declarations: the process-wide list of declarations and the text conversions they share
// with the registry. Declarations are made by static initialisers, before main, single-threaded.
#include "lib/interface/convarsystem.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {
// Constant-initialised, so declarations in any translation unit may link in before main runs.
constinit ConVar* s_declarations = nullptr;
constinit bool s_registryOpen = false;

const char* skipBlanks(const char* text) {
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n')
    ++text;
  return text;
}
}  // namespace

ConVar::ConVar(const char* name, const char* defaultValue, uint32_t flags, const char* description,
               float minimum, float maximum)
    : name_(name ? name : ""),
      description_(description ? description : ""),
      value_(defaultValue ? defaultValue : ""),
      intValue_(textToInt(value_)),
      floatValue_(textToFloat(value_)),
      flags_(flags),
      minimum_(minimum),
      maximum_(maximum),
      registered_(this),
      next_(s_declarations),
      prev_(nullptr),
      declaration_(true) {
  if (s_declarations)
    s_declarations->prev_ = this;
  s_declarations = this;
  if (s_registryOpen && g_conVarSystem)
    g_conVarSystem->registerVar(this);
}

ConVar::ConVar(uint32_t flags)
    : name_(""),
      description_(""),
      value_(""),
      intValue_(0),
      floatValue_(0.0f),
      flags_(flags),
      minimum_(1.0f),
      maximum_(-1.0f),
      registered_(this),
      next_(nullptr),
      prev_(nullptr),
      declaration_(false) {}

ConVar::~ConVar() {
  if (!declaration_)
    return;
  if (prev_)
    prev_->next_ = next_;
  else if (s_declarations == this)
    s_declarations = next_;
  if (next_)
    next_->prev_ = prev_;
  next_ = prev_ = nullptr;
}

void ConVar::setValue(const char*) {}

void ConVar::setInt(int value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  registered_->setValue(text);
}

void ConVar::setFloat(float value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof(text) - 1, value);
  *result.ptr = '\0';
  registered_->setValue(text);
}

ConVar* ConVar::firstDeclaration() {
  return s_declarations;
}

void ConVar::setRegistryOpen(bool open) {
  s_registryOpen = open;
}

bool ConVar::isRegistryOpen() {
  return s_registryOpen;
}

void ConVar::registerAll() {
  if (g_conVarSystem) {
    for (ConVar* declaration = s_declarations; declaration; declaration = declaration->next_) {
      if (!declaration->isRegistered())
        g_conVarSystem->registerVar(declaration);
    }
  }
  s_registryOpen = true;
}

void ConVar::detachAll() {
  s_registryOpen = false;
  for (ConVar* declaration = s_declarations; declaration; declaration = declaration->next_) {
    declaration->attach(nullptr);
  }
}

int ConVar::textToInt(const char* text) {
  if (!text)
    return 0;
  text = skipBlanks(text);
  if (*text == '+')
    ++text;
  long long value = 0;
  auto result = std::from_chars(text, text + std::strlen(text), value);
  if (result.ec == std::errc::result_out_of_range)
    return *text == '-' ? INT_MIN : INT_MAX;
  if (result.ec != std::errc())
    return 0;
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return static_cast<int>(value);
}

float ConVar::textToFloat(const char* text, bool* ok) {
  if (ok)
    *ok = false;
  if (!text)
    return 0.0f;
  text = skipBlanks(text);
  if (*text == '+' && text[1] != '-')
    ++text;
  // "nan", "inf" and "infinity" are words, not numbers: they read as 0 like any other word.
  const char* digits = *text == '-' ? text + 1 : text;
  if (!((*digits >= '0' && *digits <= '9') || (*digits == '.' && digits[1] >= '0' && digits[1] <= '9')))
    return 0.0f;
  double value = 0.0;
  auto result = std::from_chars(text, text + std::strlen(text), value);
  const bool negative = *text == '-';
  if (result.ec == std::errc::result_out_of_range) {
    // Too large clamps to the largest float of the sign, too small (underflow) gives zero.
    if (result.ptr == text)
      return 0.0f;
    const char* exponent = text;
    while (exponent < result.ptr && *exponent != 'e' && *exponent != 'E')
      ++exponent;
    bool tiny = exponent < result.ptr && exponent[1] == '-';
    if (ok)
      *ok = true;
    if (tiny)
      return negative ? -0.0f : 0.0f;
    return negative ? -FLT_MAX : FLT_MAX;
  }
  if (result.ec != std::errc())
    return 0.0f;
  if (ok)
    *ok = true;
  // Beyond the float range (a double still holds it): clamp rather than become infinite.
  if (value > FLT_MAX)
    return FLT_MAX;
  if (value < -FLT_MAX)
    return -FLT_MAX;
  return static_cast<float>(value);
}

int ConVar::floatToInt(float value) {
  if (value != value)
    return 0;
  if (value >= 2147483648.0f)
    return INT_MAX;
  if (value < -2147483648.0f)
    return INT_MIN;
  return static_cast<int>(value);
}

int conVarInt(const char* name, int fallback) {
  ConVar* var = g_conVarSystem ? g_conVarSystem->find(name) : nullptr;
  return var ? var->getInt() : fallback;
}
