// Window event handler records: one "eventDef" line naming an event, an optional parameter and
// the Lua method of the window's table that handles it.
#pragma once

#include <cstdint>

class TokenParser;

class UIEvent {
 public:
  static constexpr int kTextSize = 32;  // at most 31 characters of each text
  static constexpr uint8_t kFlagNamed = 0x1;

  UIEvent() { clear(); }
  explicit UIEvent(const char* name) {
    clear();
    setName(name);
  }

  void clear();
  // Sets or clears the named-event flag by whether the name is "onNamedEvent" (any case).
  void setName(const char* text);
  // Also sets the value: the decimal number at the start of the text, else 0.
  void setParam(const char* text);
  void setMethod(const char* text);
  void copy(const UIEvent& other);
  bool equals(const UIEvent& other) const;
  // Reads the rest of one "eventDef" line after the event name: [parameter] method.
  bool parse(TokenParser& parser, const char* name);

  const char* name() const { return name_; }
  const char* param() const { return param_; }
  const char* method() const { return method_; }
  int value() const { return value_; }
  uint8_t flags() const { return flags_; }
  bool isNamed() const { return (flags_ & kFlagNamed) != 0; }

  // Sort order: name, value, param, method (names and texts without case).
  static int compare(const UIEvent& a, const UIEvent& b);
  // One of the twelve event names an "eventDef" line may start with.
  static bool isEventName(const char* name);

 private:
  char name_[kTextSize];
  char param_[kTextSize];
  char method_[kTextSize];
  int32_t value_;
  uint8_t flags_;
};
