// Expression registers: small infix expressions ("sintable[time * 2] * parm3") compiled once into
// postfix lists kept in one process-wide table. Users keep the 1-based register index (0 none),
// set the current parameter array and view, and evaluate when they draw. Main thread only.
#pragma once

#include <cstdint>

#include "lib/list.h"
#include "lib/str.h"

class DeclTable;

// Variable codes: low byte the kind, next byte the index.
enum ExpressionVariable : int32_t {
  kExprTime = 0x1,        // (parm[4] + view time in ms x 0.001) x parm[3]
  kExprDistance = 0x2,    // 0
  kExprRand = 0x3,        // (random & 0x7FFF) / 32767
  kExprViewOrigin = 0x4,  // + 0x100 x component
  kExprParm = 0x5,        // + 0x100 x N, N 0..12
};

// One postfix item. Kinds: 'N' number, 'V' variable, 'T' table, 'O' operator ('+', '-', '*',
// '/', '%', or 'T' for a table lookup).
struct ExpressionItem {
  char kind = 'N';
  union {
    float number;
    int32_t variable;
    DeclTable* table;
    char op;
  };
  ExpressionItem() : table(nullptr) {}
};

struct ExpressionRegister {
  String text;
  List<ExpressionItem> items{16};
  float value = 0.0f;
  // Numbers and operators only: the result never changes, so evaluating only stores it (stages
  // evaluate their colour and alpha registers for every surface they draw).
  bool constant = false;
  float constantValue = 0.0f;
};

// Limits: longer texts fail to compile with a message.
constexpr int kExpressionMaxTokens = 1023;
constexpr int kExpressionMaxSignedNames = 16;
constexpr int kExpressionStackSize = 256;
// The parameter arrays hold twelve floats (a draw surface's shader parameters): "parm12" is
// accepted and reads 0 rather than the float behind the array.
constexpr int kExpressionParmCount = 12;

// The 1-based register of the text: an equal compiled list shares its register. 0 when the text
// does not compile (over the limits) or is null.
int registerExpression(const char* text);
// Recomputes the register with the current parameters and view; indices outside 1..count ignored.
void evaluateExpressionRegister(int index);
// The last value computed; 0 outside 1..count.
float getExpressionRegister(int index);
// Evaluates and returns the new value (0 outside 1..count).
float evaluateExpression(int index);
// Whether the register evaluates the same whatever the parameters, view and time (numbers and
// operators only; indices outside 1..count always read 0).
bool expressionIsConstant(int index);
// The parameter array (12 floats) the variables parm0..parm11 and time read (null: they read 0).
// The caller keeps it alive while it is set.
void setExpressionParms(float* parms);
float* getExpressionParms();
// The current view (the back end's): origin and time in milliseconds. Null origin: no view, and
// the view-dependent values read 0.
void setExpressionView(const float* origin, int timeMs);
// Frees every register and clears the parameter pointer and the view.
void clearExpressions();
// "listExpressions".
void registerExpressionCommands();

int numExpressionRegisters();
// Null outside 1..count.
const ExpressionRegister* getExpressionRegisterRecord(int index);

// Compiles text into reg's postfix list (the text is stored too); false with a message when the
// text is over the limits (the list is then empty).
bool compileExpression(ExpressionRegister& reg, const char* text);
// Whitespace-free text split at "[", "]", "(", ")", "+", "-", "/", "*", "%".
void splitExpressionTokens(const char* text, List<String>& tokens);
// The value of a postfix list with the current parameters and view. Missing operands count as 0.
float evaluatePostfix(const ExpressionItem* items, int count);
