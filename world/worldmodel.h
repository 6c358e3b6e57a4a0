// Map-file models as the world reads and writes them ("model" and "shadowModel" blocks shared by
// ".bsp" and ".kdt"): the block readers and writers (the records are in the sink's interface).
#pragma once

#include <string>
#include <vector>

#include "lib/interface/worldmodelsink.h"
#include "lib/vector.h"

class TokenParser;
class RenderModel;

// Caps that keep a hostile count from allocating before the text proves it holds the items.
constexpr int kMaxWorldCount = 1 << 24;

// Number readers that refuse text that is not a number (the token parser's own return 0).
bool worldReadInt(TokenParser& parser, int& out);
bool worldReadFloats(TokenParser& parser, float* out, int count);
// A count read from the file: refused when negative, above the cap, or above the characters left
// (each item takes at least `minChars`).
bool worldReadCount(TokenParser& parser, int& out, int minChars);
void worldSyntaxError(TokenParser& parser, const char* what);
// While the engine's loading screen is up: "map_loading" follows the parse through the text (the
// first quarter of the bar) and the screen draws a frame.
void worldSetLoadProgress(TokenParser& parser);

// Bodies of "model" and "shadowModel" after "{"; they stop before the closing "}".
bool parseWorldModel(TokenParser& parser, WorldModel& model);
bool parseWorldShadowModel(TokenParser& parser, WorldModel& model);
// Text of the blocks, as the map writers emit them.
void writeWorldModel(std::string& out, const WorldModel& model);
void writeWorldShadowModel(std::string& out, const WorldModel& model);
void appendFloats(std::string& out, const float* values, int count);
// Text as it can stand between quotes: a quote read inside an unquoted token becomes an apostrophe,
// so the written map always reads back.
std::string quotable(const char* text);
