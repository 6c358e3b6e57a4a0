// The argument list that command handlers receive: statement splitting and word access.
#include "lib/interface/cmdsystem.h"

#include <cstdarg>
#include <cstring>

CmdArgs& CmdArgs::operator=(const CmdArgs& other) {
  if (this == &other)
    return *this;
  std::memcpy(buffer_, other.buffer_, other.used_);
  used_ = other.used_;
  count_ = other.count_;
  for (int i = 0; i < count_; ++i)
    words_[i] = buffer_ + (other.words_[i] - other.buffer_);
  return *this;
}

void CmdArgs::clear() {
  count_ = 0;
  used_ = 0;
  buffer_[0] = '\0';
}

bool CmdArgs::addWord(const char* word) {
  size_t length = std::strlen(word);
  if (count_ >= kMaxArgs || used_ + length + 1 > sizeof(buffer_))
    return false;
  std::memcpy(buffer_ + used_, word, length);
  buffer_[used_ + length] = '\0';
  words_[count_++] = buffer_ + used_;
  used_ += length + 1;
  return true;
}

size_t CmdArgs::tokenize(const char* text) {
  clear();
  if (!text)
    return 0;
  const char* p = text;
  bool full = false;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r')
      ++p;
    if (*p == '\0')
      break;
    if (*p == ';' || *p == '\n') {
      ++p;
      break;
    }
    const char* start;
    const char* end;
    if (*p == '"') {
      start = ++p;
      while (*p && *p != '"' && *p != '\n')
        ++p;
      end = p;
      if (*p == '"')
        ++p;
    } else {
      start = p;
      while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != ';' && *p != '\n' && *p != '"')
        ++p;
      end = p;
    }
    size_t length = static_cast<size_t>(end - start);
    if (full || count_ >= kMaxArgs || used_ + length + 1 > sizeof(buffer_)) {
      full = true;  // keep consuming up to the separator, drop the rest of the words
      continue;
    }
    std::memcpy(buffer_ + used_, start, length);
    buffer_[used_ + length] = '\0';
    words_[count_++] = buffer_ + used_;
    used_ += length + 1;
  }
  return static_cast<size_t>(p - text);
}

const char* CmdArgs::join(int first, char* out, size_t size) const {
  if (!out || size == 0)
    return "";
  size_t used = 0;
  out[0] = '\0';
  int start = first < 0 ? 0 : first;
  for (int i = start; i < count_; ++i) {
    const char* word = words_[i];
    if (i > start && used + 1 < size)
      out[used++] = ' ';
    for (; *word && used + 1 < size; ++word)
      out[used++] = *word;
    out[used] = '\0';
  }
  return out;
}

void cmdPrintf(const char* format, ...) {
  if (!g_cmdSystem)
    return;
  va_list args;
  va_start(args, format);
  g_cmdSystem->vprintf(format, args);
  va_end(args);
}
