// Command-line joining and option lookup.
#include "system/commandline.h"

#include <cstring>
#include <string>

#include "lib/str.h"

namespace {
// Reads one token (a quoted text or a run of non-blanks) into out, keeping at
// most size - 1 characters; the rest of an over-long token is skipped. Returns
// the position after it, or null at the end of the text.
const char* readToken(const char* text, char* out, size_t size) {
  while (*text && (unsigned char)*text <= ' ')
    ++text;
  if (!*text)
    return nullptr;
  size_t length = 0;
  if (*text == '"') {
    ++text;
    while (*text && *text != '"') {
      if (length + 1 < size)
        out[length++] = *text;
      ++text;
    }
    if (*text == '"')
      ++text;
  } else {
    while (*text && (unsigned char)*text > ' ') {
      if (length + 1 < size)
        out[length++] = *text;
      ++text;
    }
  }
  out[length] = '\0';
  return text;
}
}  // namespace

const char* buildCommandLine(int argc, const char* const* argv) {
  static std::string line;
  line.clear();
  for (int i = 1; i < argc; ++i) {
    if (!argv[i])
      continue;
    if (!line.empty())
      line += ' ';
    bool quote = argv[i][0] == '\0' || std::strpbrk(argv[i], " \t") != nullptr;
    if (quote)
      line += '"';
    line += argv[i];
    if (quote)
      line += '"';
  }
  return line.c_str();
}

const char* getCommandLineOption(const char* commandLine, const char* name) {
  static char result[256];
  char token[256];
  result[0] = '\0';
  if (!commandLine || !name)
    return result;
  const char* text = commandLine;
  while ((text = readToken(text, token, sizeof(token))) != nullptr) {
    if (String::icmp(token, name) == 0) {
      if (!readToken(text, result, sizeof(result)))
        result[0] = '\0';
      return result;
    }
  }
  return result;
}

std::string removeEngineOptions(const char* commandLine) {
  std::string kept;
  if (!commandLine)
    return kept;
  char token[256];
  const char* text = commandLine;
  bool skipNext = false;
  for (;;) {
    const char* start = text;
    while (*start && (unsigned char)*start <= ' ')
      ++start;
    const char* end = readToken(text, token, sizeof(token));
    if (!end)
      break;
    const bool option = String::icmp(token, "-guionly") == 0 || String::icmp(token, "-wndname") == 0;
    if (skipNext) {
      skipNext = false;
    } else if (option) {
      skipNext = true;
    } else {
      if (!kept.empty())
        kept += ' ';
      kept.append(start, size_t(end - start));
    }
    text = end;
  }
  return kept;
}
