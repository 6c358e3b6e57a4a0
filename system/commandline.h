// The process command line as the engine reads it: one text (the arguments
// joined, quoted where they hold blanks), options looked up by name, and the
// whole text executed as console commands.
#pragma once

#include <string>

// Joins argv[1..] with blanks; an argument holding a blank is quoted (a lone
// ";" stays a statement separator).
// The result lives until the next call.
const char* buildCommandLine(int argc, const char* const* argv);

// The token that follows the first token equal to `name` (case-insensitive);
// a quoted text is one token. At most 255 characters are kept. "" when `name`
// does not occur. The result stays valid until the next call.
const char* getCommandLineOption(const char* commandLine, const char* name);

// The command line without the options the engine consumes itself ("-guionly" and "-wndname",
// each with the token after it), so they are never run as console text.
std::string removeEngineOptions(const char* commandLine);
