// Window event handler records.
#include "ui/uievent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/str.h"
#include "lib/tokenparser.h"

namespace {

void copyCut(char* out, const char* text) {
  std::snprintf(out, UIEvent::kTextSize, "%s", text ? text : "");
}

const char* const kEventNames[] = {"onTime",       "onMouseEnter", "onMouseExit",     "onAction",
                                   "onActionRelease", "onNamedEvent", "onActivate",    "onDeactivate",
                                   "onTrigger",    "onEsc",        "onTab",           "onKeyPress"};

}  // namespace

void UIEvent::clear() {
  name_[0] = param_[0] = method_[0] = '\0';
  value_ = 0;
  flags_ = 0;
}

void UIEvent::setName(const char* text) {
  copyCut(name_, text);
  if (String::icmp(name_, "onNamedEvent") == 0)
    flags_ |= kFlagNamed;
  else
    flags_ &= uint8_t(~kFlagNamed);
}

void UIEvent::setParam(const char* text) {
  copyCut(param_, text);
  // atoi's reading without its overflow: digits after an optional sign, saturated.
  const char* p = param_;
  while (*p == ' ' || *p == '\t')
    ++p;
  bool negative = false;
  if (*p == '-' || *p == '+')
    negative = *p++ == '-';
  long long v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p++ - '0');
    if (v > 0x7fffffffLL)
      v = 0x7fffffffLL;
  }
  value_ = int32_t(negative ? -v : v);
}

void UIEvent::setMethod(const char* text) {
  copyCut(method_, text);
}

void UIEvent::copy(const UIEvent& other) {
  setName(other.name_);
  setParam(other.param_);
  setMethod(other.method_);
  flags_ = other.flags_;
}

bool UIEvent::equals(const UIEvent& other) const {
  return String::icmp(name_, other.name_) == 0 && String::icmp(param_, other.param_) == 0 &&
         String::icmp(method_, other.method_) == 0 && flags_ == other.flags_;
}

bool UIEvent::parse(TokenParser& parser, const char* name) {
  setName(name);
  setParam("");
  char token[64];
  if (!parser.readToken(token, sizeof(token), false))
    token[0] = '\0';
  if (parser.peekTokenOnLine()) {
    setParam(token);
    if (!parser.readToken(token, sizeof(token), false))
      token[0] = '\0';
  }
  setMethod(token);
  return true;
}

int UIEvent::compare(const UIEvent& a, const UIEvent& b) {
  int c = String::icmp(a.name_, b.name_);
  if (c != 0)
    return c;
  if (a.value_ != b.value_)
    return a.value_ < b.value_ ? -1 : 1;
  c = String::icmp(a.param_, b.param_);
  if (c != 0)
    return c;
  return String::icmp(a.method_, b.method_);
}

bool UIEvent::isEventName(const char* name) {
  for (const char* known : kEventNames)
    if (String::icmp(name, known) == 0)
      return true;
  return false;
}
