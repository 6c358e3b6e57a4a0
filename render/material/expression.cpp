// Expression registers: compiling infix text into postfix lists (shunting-yard), sharing equal
// lists, evaluating with the current parameters and view, and "listExpressions".
#include "render/material/expression.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "lib/interface/cmdsystem.h"
#include "lib/interface/declsystem.h"
#include "lib/interface/materialsystem.h"

namespace {

List<ExpressionRegister*> s_registers{16};
float* s_parms = nullptr;
bool s_hasView = false;
float s_viewOrigin[3] = {};
int s_viewTime = 0;
uint32_t s_randState = 0x2545F491u;

struct VariableName {
  const char* name;
  int32_t code;
};

// Looked up in this order over the token's own length ("tim" selects time).
constexpr VariableName kVariables[] = {
    {"time", kExprTime},           {"distance", kExprDistance},     {"rand", kExprRand},
    {"viewOriginX", 0x004},        {"viewOriginY", 0x104},          {"viewOriginZ", 0x204},
    {"parm0", 0x005},              {"parm1", 0x105},                {"parm2", 0x205},
    {"parm3", 0x305},              {"parm4", 0x405},                {"parm5", 0x505},
    {"parm6", 0x605},              {"parm7", 0x705},                {"parm8", 0x805},
    {"parm9", 0x905},              {"parm10", 0xA05},               {"parm11", 0xB05},
    {"parm12", 0xC05},
};

bool findVariable(const char* token, int32_t* code) {
  const int length = int(std::strlen(token));
  if (length == 0)
    return false;
  for (const VariableName& v : kVariables) {
    if (String::icmpn(token, v.name, length) == 0) {
      *code = v.code;
      return true;
    }
  }
  return false;
}

DeclTable* findTableNamed(const char* token) {
  if (!g_declSystem || !*token)
    return nullptr;
  return g_declSystem->findTable(token, false);
}

bool isOperatorChar(char c) {
  return c == '+' || c == '-' || c == '*' || c == '/' || c == '%';
}

bool isSplitChar(char c) {
  return c == '[' || c == ']' || c == '(' || c == ')' || isOperatorChar(c);
}

// An optional sign, then only digits and "."; a one-character token must be a digit.
bool isNumber(const char* token) {
  const size_t length = std::strlen(token);
  if (length == 0)
    return false;
  if (length == 1)
    return token[0] >= '0' && token[0] <= '9';
  const char* p = token;
  if (*p == '+' || *p == '-')
    ++p;
  if (!*p)
    return false;
  for (; *p; ++p)
    if (!((*p >= '0' && *p <= '9') || *p == '.'))
      return false;
  return true;
}

float numberValue(const char* token) {
  const char* p = token;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  float value = 0.0f;
  std::from_chars(p, p + std::strlen(p), value);  // locale-independent; a lone "." reads 0
  return negative ? -value : value;
}

int precedence(char op) {
  return (op == '*' || op == '/' || op == '%') ? 2 : 1;
}

float variableValue(int32_t code) {
  const int kind = code & 0xFF;
  const int index = (code >> 8) & 0xFF;
  switch (kind) {
    case kExprTime: {
      if (!s_parms)
        return 0.0f;
      const float viewSeconds = s_hasView ? float(s_viewTime) * 0.001f : 0.0f;
      return (s_parms[4] + viewSeconds) * s_parms[3];
    }
    case kExprRand:
      s_randState ^= s_randState << 13;
      s_randState ^= s_randState >> 17;
      s_randState ^= s_randState << 5;
      return float(s_randState & 0x7FFF) / 32767.0f;
    case kExprViewOrigin:
      return (s_hasView && index < 3) ? s_viewOrigin[index] : 0.0f;
    case kExprParm:
      return (s_parms && index < kExpressionParmCount) ? s_parms[index] : 0.0f;
    default:  // distance has no source
      return 0.0f;
  }
}

float operandValue(const ExpressionItem& item) {
  if (item.kind == 'N')
    return item.number;
  if (item.kind == 'V')
    return variableValue(item.variable);
  return 0.0f;
}

bool sameItems(const List<ExpressionItem>& a, const List<ExpressionItem>& b) {
  if (a.num() != b.num())
    return false;
  for (int i = 0; i < a.num(); ++i) {
    const ExpressionItem& x = a[i];
    const ExpressionItem& y = b[i];
    if (x.kind != y.kind)
      return false;
    switch (x.kind) {
      case 'N':
        if (std::fabs(x.number - y.number) > 1e-6f)
          return false;
        break;
      case 'O':
        if (x.op != y.op)
          return false;
        break;
      case 'V':
        if (x.variable != y.variable)
          return false;
        break;
      default:
        if (x.table != y.table)
          return false;
        break;
    }
  }
  return true;
}

void listExpressionsCommand(const CmdArgs&) {
  for (int i = 0; i < s_registers.num(); ++i)
    if (s_registers[i]->items.num() > 0)
      cmdPrintf("register[%02d] = %s\n", i + 1, s_registers[i]->text.c_str());
}

const struct InstallHooks {
  InstallHooks() {
    g_expressionHooks.clear = clearExpressions;
    g_expressionHooks.registerCommands = registerExpressionCommands;
    g_expressionHooks.registerText = registerExpression;
    g_expressionHooks.evaluate = evaluateExpression;
    g_expressionHooks.setParms = setExpressionParms;
    g_expressionHooks.getParms = getExpressionParms;
  }
} s_installHooks;

}  // namespace

void splitExpressionTokens(const char* text, List<String>& tokens) {
  tokens.clear();
  if (!text)
    return;
  String current;
  for (const char* p = text; *p; ++p) {
    if (isSplitChar(*p)) {
      if (!current.isEmpty()) {
        tokens.append(current);
        current.clear();
      }
      const char single[2] = {*p, '\0'};
      tokens.append(String(single));
    } else {
      current += *p;
    }
  }
  if (!current.isEmpty())
    tokens.append(current);
}

bool compileExpression(ExpressionRegister& reg, const char* text) {
  reg.items.clear();
  reg.text = text ? text : "";
  String compact;
  for (const char* p = reg.text.c_str(); *p; ++p)
    if (!(*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f'))
      compact += *p;

  List<String> tokens(64);
  splitExpressionTokens(compact.c_str(), tokens);

  // Each name is asked of the declaration manager once per compile: a miss searches the files.
  List<String> askedNames(16);
  List<DeclTable*> askedTables(16);
  auto tableNamed = [&askedNames, &askedTables](const char* token) -> DeclTable* {
    if (isSplitChar(token[0]) && token[1] == '\0')
      return nullptr;
    for (int i = 0; i < askedNames.num(); ++i)
      if (String::icmp(askedNames[i].c_str(), token) == 0)
        return askedTables[i];
    DeclTable* table = findTableNamed(token);
    askedNames.append(String(token));
    askedTables.append(table);
    return table;
  };
  if (tokens.num() > kExpressionMaxTokens) {
    cmdPrintf("WARNING: expression '%.64s' has more than %d tokens\n", reg.text.c_str(), kExpressionMaxTokens);
    return false;
  }

  // Unary signs, from the last token to the first. A sign before a name becomes the number 1 and
  // a product ("-time" reads as "-1*time").
  int signedNames = 0;
  for (int i = tokens.num() - 1; i >= 0; --i) {
    const char* t = tokens[i].c_str();
    if (!((t[0] == '+' || t[0] == '-') && t[1] == '\0'))
      continue;
    if (i > 0) {
      const char* before = tokens[i - 1].c_str();
      if (!(isOperatorChar(before[0]) && before[1] == '\0'))
        continue;
    }
    if (i + 1 >= tokens.num())
      continue;
    const char* next = tokens[i + 1].c_str();
    const bool negative = t[0] == '-';
    if (isNumber(next)) {
      // Signs combine, so "- -5" stays a number.
      const char* digits = next;
      bool nextNegative = false;
      if (*digits == '+' || *digits == '-') {
        nextNegative = *digits == '-';
        ++digits;
      }
      String joined(negative != nextNegative ? "-" : "");
      joined += digits;
      tokens[i] = joined;
      tokens.removeIndex(i + 1);
      continue;
    }
    int32_t code;
    if (findVariable(next, &code) || tableNamed(next)) {
      if (++signedNames > kExpressionMaxSignedNames) {
        cmdPrintf("WARNING: expression '%.64s' has more than %d signed names\n", reg.text.c_str(),
                  kExpressionMaxSignedNames);
        return false;
      }
      tokens[i] = negative ? "-1" : "1";
      tokens.insert(String("*"), i + 1);
      if (tokens.num() > kExpressionMaxTokens) {
        cmdPrintf("WARNING: expression '%.64s' has more than %d tokens\n", reg.text.c_str(),
                  kExpressionMaxTokens);
        return false;
      }
    }
  }

  // Shunting-yard. The operator stack never holds more than the token count.
  char stack[kExpressionMaxTokens + 1];
  int depth = 0;
  auto emitOperator = [&reg](char op) {
    ExpressionItem item;
    item.kind = 'O';
    item.op = op;
    reg.items.append(item);
  };
  for (const String& token : tokens) {
    const char* t = token.c_str();
    const char c = t[0];
    const bool single = t[1] == '\0';
    if (isNumber(t)) {
      ExpressionItem item;
      item.kind = 'N';
      item.number = numberValue(t);
      reg.items.append(item);
    } else if (single && (c == '(' || c == '[')) {
      stack[depth++] = c;
    } else if (single && (c == ')' || c == ']')) {
      const char open = c == ')' ? '(' : '[';
      while (depth > 0 && stack[depth - 1] != '(' && stack[depth - 1] != '[')
        emitOperator(stack[--depth]);
      if (depth > 0 && stack[depth - 1] == open) {
        --depth;
        if (open == '[')
          emitOperator('T');
      }
    } else if (single && isOperatorChar(c)) {
      while (depth > 0 && stack[depth - 1] != '(' && stack[depth - 1] != '[' &&
             precedence(c) <= precedence(stack[depth - 1]))
        emitOperator(stack[--depth]);
      stack[depth++] = c;
    } else {
      int32_t code;
      if (findVariable(t, &code)) {
        ExpressionItem item;
        item.kind = 'V';
        item.variable = code;
        reg.items.append(item);
      } else if (DeclTable* table = tableNamed(t)) {
        ExpressionItem item;
        item.kind = 'T';
        item.table = table;
        reg.items.append(item);
      }
      // Anything else is dropped.
    }
  }
  while (depth > 0) {
    const char op = stack[--depth];
    if (op != '(' && op != '[')  // unmatched brackets leave nothing behind
      emitOperator(op);
  }
  return true;
}

float evaluatePostfix(const ExpressionItem* items, int count) {
  // Operands are reduced to values as they are pushed (a table keeps its pointer beside a 0), so
  // an operator reads two floats. Pushes past the storage are dropped.
  static float values[kExpressionStackSize];
  static DeclTable* tables[kExpressionStackSize];
  int depth = 0;
  for (int i = 0; i < count; ++i) {
    const ExpressionItem& item = items[i];
    if (item.kind != 'O') {
      if (depth < kExpressionStackSize) {
        values[depth] = operandValue(item);
        tables[depth] = item.kind == 'T' ? item.table : nullptr;
        ++depth;
      }
      continue;
    }
    // A missing operand counts as 0 (a missing table as none).
    float b = 0.0f, a = 0.0f;
    DeclTable* table = nullptr;
    if (depth > 0)
      b = values[--depth];
    if (depth > 0) {
      --depth;
      a = values[depth];
      table = tables[depth];
    }
    float result;
    switch (item.op) {
      case '+':
        result = a + b;
        break;
      case '-':
        result = a - b;
        break;
      case '*':
        result = a * b;
        break;
      case '/':
        result = b == 0.0f ? 1e36f : a / b;
        break;
      case '%':
        result = std::fmod(a, b);
        break;
      case 'T':
        result = table ? table->lookup(b) : 0.0f;
        break;
      default:
        result = 0.0f;
        break;
    }
    values[depth] = result;
    tables[depth] = nullptr;
    ++depth;
  }
  return depth > 0 ? values[depth - 1] : 0.0f;
}

int registerExpression(const char* text) {
  if (!text)
    return 0;
  ExpressionRegister* reg = new ExpressionRegister;
  if (!compileExpression(*reg, text)) {
    delete reg;
    return 0;
  }
  // An empty list shares only with another empty list: handing an empty register to a later,
  // different expression would change what its first owner reads.
  for (int i = 0; i < s_registers.num(); ++i) {
    if (sameItems(s_registers[i]->items, reg->items)) {
      delete reg;
      return i + 1;
    }
  }
  reg->value = 0.0f;
  reg->constant = true;
  for (const ExpressionItem& item : reg->items) {
    reg->constant = reg->constant && (item.kind == 'N' || item.kind == 'O');
  }
  if (reg->constant) {
    reg->constantValue = evaluatePostfix(reg->items.ptr(), reg->items.num());
  }
  return s_registers.append(reg) + 1;
}

void evaluateExpressionRegister(int index) {
  if (index < 1 || index > s_registers.num())
    return;
  ExpressionRegister* reg = s_registers[index - 1];
  reg->value = reg->constant ? reg->constantValue : evaluatePostfix(reg->items.ptr(), reg->items.num());
}

float getExpressionRegister(int index) {
  if (index < 1 || index > s_registers.num())
    return 0.0f;
  return s_registers[index - 1]->value;
}

float evaluateExpression(int index) {
  evaluateExpressionRegister(index);
  return getExpressionRegister(index);
}

bool expressionIsConstant(int index) {
  return index < 1 || index > s_registers.num() || s_registers[index - 1]->constant;
}

void setExpressionParms(float* parms) {
  s_parms = parms;
}

float* getExpressionParms() {
  return s_parms;
}

void setExpressionView(const float* origin, int timeMs) {
  s_hasView = origin != nullptr;
  s_viewOrigin[0] = origin ? origin[0] : 0.0f;
  s_viewOrigin[1] = origin ? origin[1] : 0.0f;
  s_viewOrigin[2] = origin ? origin[2] : 0.0f;
  s_viewTime = origin ? timeMs : 0;
}

void clearExpressions() {
  for (ExpressionRegister* reg : s_registers)
    delete reg;
  s_registers.clear();
  s_parms = nullptr;
  setExpressionView(nullptr, 0);
}

void registerExpressionCommands() {
  if (g_cmdSystem)
    g_cmdSystem->addCommand("listExpressions", listExpressionsCommand, 0x1 | kCmdFlagEngine, "lists expressions");
}

int numExpressionRegisters() {
  return s_registers.num();
}

const ExpressionRegister* getExpressionRegisterRecord(int index) {
  if (index < 1 || index > s_registers.num())
    return nullptr;
  return s_registers[index - 1];
}
