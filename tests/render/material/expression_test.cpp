// Expression registers: compiling (precedence, signs, brackets, tables), sharing equal lists,
// evaluation with and without parameters and a view, the limits and "listExpressions".
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "render/material/support/materialenv.h"
#include "system/declmanager.h"

namespace {

using mattest::MaterialTest;

class ExpressionTest : public MaterialTest {
 protected:
  void SetUp() override {
    MaterialTest::SetUp();
    for (int i = 0; i < 12; ++i)
      parms_[i] = float(i) + 0.5f;
    parms_[3] = 1.0f;
    parms_[4] = 0.0f;
    setExpressionParms(parms_);
    const float origin[3] = {10.0f, 20.0f, 30.0f};
    setExpressionView(origin, 1500);
    // A table of 0 and 10 (wraps) and a clamped one, each in the file named after it.
    setFile("ramp.mtx", "table ramp { 0, 10 }\n");
    setFile("ramp_c.mtx", "table ramp_c { clamp 0, 10 }\n");
  }
  float eval(const char* text) {
    const int reg = registerExpression(text);
    EXPECT_GT(reg, 0) << text;
    evaluateExpressionRegister(reg);
    return getExpressionRegister(reg);
  }
  float parms_[12] = {};
};

TEST_F(ExpressionTest, EvaluatesByPrecedenceSignsAndVariables) {
  struct Case {
    const char* text;
    float expected;
  };
  const Case cases[] = {
      {"2+3*4", 14.0f},
      {"(2+3)*4", 20.0f},
      {"8-4-2", 2.0f},
      {"16/4/2", 2.0f},
      {"2*(3+4)*2", 28.0f},
      {"7%4", 3.0f},
      {"-7%4", -3.0f},
      {"1/0", 1e36f},
      {"-parm0", -0.5f},
      {"3*-2", -6.0f},
      {"- -5", 5.0f},
      {"-5+2", -3.0f},
      {"+4", 4.0f},
      {"(-2)", -2.0f},  // a minus after "(" is binary: 0 - 2
      {"time", 1.5f},   // (parm4 + 1.5 s) x parm3
      {"tim", 1.5f},    // a prefix selects the first variable it begins
      {"TIME * 2", 3.0f},
      {"-time", -1.5f},
      {"distance", 0.0f},
      {"parm1", 1.5f},
      {"parm10", 10.5f},
      {"parm11", 11.5f},
      {"parm12", 0.0f},  // beyond the twelve parameters
      {"viewOriginX + viewOriginY + viewOriginZ", 60.0f},
      {"ramp[0.25]", 2.5f},
      {"ramp[1.25]", 7.5f},
      {"ramp_c[1.25]", 10.0f},
      {"-ramp[0.25]", -2.5f},
      {"ramp[time*0.5] * 2", 15.0f},  // position 0.75
      {"5[0.5]", 0.0f},               // not a table
      {"nosuchname + 1", 1.0f},       // unknown words are dropped
      {"2*", 0.0f},                   // a missing operand counts as 0
      {"*", 0.0f},
      {")(", 0.0f},
      {"((1+2)", 3.0f},
      {"", 0.0f},
      {"1.5", 1.5f},
      {".5 + 5.", 5.5f},
  };
  for (const Case& c : cases)
    EXPECT_FLOAT_EQ(eval(c.text), c.expected) << c.text;
}

TEST_F(ExpressionTest, CompilesToPostfixWithTableLookups) {
  setFile("sintable.mtx", "table sintable { 0 1 0 -1 }\n");
  const int reg = registerExpression("sintable[time * 2] * parm3");
  const ExpressionRegister* r = getExpressionRegisterRecord(reg);
  ASSERT_NE(r, nullptr);
  const std::string expected = "TVNOOVO";
  ASSERT_EQ(r->items.num(), int(expected.size()));
  for (int i = 0; i < r->items.num(); ++i)
    EXPECT_EQ(r->items[i].kind, expected[size_t(i)]) << i;
  EXPECT_EQ(r->items[0].table, g_declSystem->findTable("sintable", false));
  EXPECT_EQ(r->items[1].variable, kExprTime);
  EXPECT_FLOAT_EQ(r->items[2].number, 2.0f);
  EXPECT_EQ(r->items[3].op, '*');
  EXPECT_EQ(r->items[4].op, 'T');
  EXPECT_EQ(r->items[5].variable, 0x305);
  EXPECT_EQ(r->items[6].op, '*');
  EXPECT_EQ(r->text, "sintable[time * 2] * parm3");
}

TEST_F(ExpressionTest, EqualListsShareOneRegister) {
  const int a = registerExpression("time*2");
  EXPECT_EQ(registerExpression("time * 2"), a);
  EXPECT_EQ(registerExpression("TIME*2.0000001"), a);
  EXPECT_NE(registerExpression("time*3"), a);
  EXPECT_NE(registerExpression("2*time"), a);
  EXPECT_EQ(registerExpression("1"), registerExpression("1.0"));
  EXPECT_EQ(numExpressionRegisters(), 4);
}

TEST_F(ExpressionTest, EmptyListsShareOnlyWithEmptyLists) {
  const int empty = registerExpression("");
  EXPECT_EQ(registerExpression("unknownword"), empty);
  // A different expression registered later never takes the empty register over.
  const int five = registerExpression("5");
  EXPECT_NE(five, empty);
  evaluateExpressionRegister(empty);
  EXPECT_FLOAT_EQ(getExpressionRegister(empty), 0.0f);
  EXPECT_FLOAT_EQ(eval("5"), 5.0f);
}

TEST_F(ExpressionTest, OutOfRangeIndicesReadZeroAndAreIgnored) {
  const int reg = registerExpression("parm1");
  evaluateExpressionRegister(reg);
  for (int index : {0, -1, reg + 1, 1 << 30}) {
    evaluateExpressionRegister(index);  // ignored
    EXPECT_FLOAT_EQ(getExpressionRegister(index), 0.0f) << index;
    EXPECT_EQ(getExpressionRegisterRecord(index), nullptr);
  }
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 1.5f);
  EXPECT_EQ(registerExpression(nullptr), 0);
}

TEST_F(ExpressionTest, WithoutParametersOrViewEverythingReadsZero) {
  setExpressionParms(nullptr);
  setExpressionView(nullptr, 5000);
  EXPECT_EQ(getExpressionParms(), nullptr);
  for (const char* text : {"time", "parm0", "parm11", "viewOriginX", "viewOriginZ + 1"})
    EXPECT_FLOAT_EQ(eval(text), std::string(text) == "viewOriginZ + 1" ? 1.0f : 0.0f) << text;
  // With parameters but no view, time is the entity's own offset.
  setExpressionParms(parms_);
  parms_[4] = 2.0f;
  parms_[3] = 0.5f;
  EXPECT_FLOAT_EQ(eval("time"), 1.0f);
}

TEST_F(ExpressionTest, KeepsTheLastValueUntilEvaluatedAgain) {
  const int reg = registerExpression("parm0 * 2");
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 0.0f);  // 0 after registration
  evaluateExpressionRegister(reg);
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 1.0f);
  parms_[0] = 4.0f;
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 1.0f);
  EXPECT_FLOAT_EQ(evaluateExpression(reg), 8.0f);
}

TEST_F(ExpressionTest, OnlyNumbersAndOperatorsAreConstantAndTheyStillReadZeroUntilEvaluated) {
  struct Case {
    const char* text;
    bool constant;
  };
  const Case cases[] = {
      {"5", true},
      {"2+3*4", true},
      {"-(1/0)", true},
      {"parm0", false},
      {"time * 0", false},
      {"rand", false},
      {"viewOriginX", false},
      {"ramp[0.5]", false},
      {"ramp[0] * 0", false},
  };
  for (const Case& c : cases) {
    const int reg = registerExpression(c.text);
    ASSERT_GT(reg, 0) << c.text;
    EXPECT_EQ(expressionIsConstant(reg), c.constant) << c.text;
  }
  EXPECT_TRUE(expressionIsConstant(0)) << "no register reads 0";
  const int reg = registerExpression("6 / 4 + 1");
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 0.0f);
  parms_[0] = 100.0f;
  EXPECT_FLOAT_EQ(evaluateExpression(reg), 2.5f);
  EXPECT_FLOAT_EQ(getExpressionRegister(reg), 2.5f);
}

TEST_F(ExpressionTest, RandomStaysInTheUnitRange) {
  const int reg = registerExpression("rand");
  float low = 1.0f, high = 0.0f;
  for (int i = 0; i < 200; ++i) {
    const float v = evaluateExpression(reg);
    ASSERT_GE(v, 0.0f);
    ASSERT_LE(v, 1.0f);
    low = std::min(low, v);
    high = std::max(high, v);
  }
  EXPECT_LT(low, 0.25f);
  EXPECT_GT(high, 0.75f);
}

std::string repeat(const std::string& piece, int count, const std::string& glue) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += (i ? glue : "") + piece;
  return out;
}

TEST_F(ExpressionTest, TextsOverTheLimitsFailWithAMessage) {
  // 512 ones joined by 511 pluses: 1023 tokens compile, one more pair does not.
  EXPECT_FLOAT_EQ(eval(repeat("1", 512, "+").c_str()), 512.0f);
  cmd_.text.clear();
  EXPECT_EQ(registerExpression(repeat("1", 513, "+").c_str()), 0);
  EXPECT_NE(cmd_.text.find("more than 1023 tokens"), std::string::npos) << cmd_.text;

  EXPECT_FLOAT_EQ(eval(repeat("-parm3", 16, "*").c_str()), 1.0f);
  cmd_.text.clear();
  EXPECT_EQ(registerExpression(repeat("-parm3", 17, "*").c_str()), 0);
  EXPECT_NE(cmd_.text.find("signed names"), std::string::npos) << cmd_.text;
}

TEST_F(ExpressionTest, DeepStacksStayInsideTheirStorage) {
  // 400 operands without operators ("0(1(2(...399"): the value stack keeps the first 256.
  std::string operands;
  for (int i = 0; i < 400; ++i)
    operands += (i ? "(" : "") + std::to_string(i);
  EXPECT_FLOAT_EQ(eval(operands.c_str()), 255.0f);
  // 300 table operands before the first lookup.
  std::string tables = repeat("ramp[", 300, "") + "0" + std::string(300, ']');
  const int reg = registerExpression(tables.c_str());
  ASSERT_EQ(getExpressionRegisterRecord(reg)->items[0].kind, 'T');
  EXPECT_TRUE(std::isfinite(evaluateExpression(reg)));
  // Brackets nested 500 deep around one number.
  std::string deep = std::string(500, '(') + "7" + std::string(500, ')');
  EXPECT_FLOAT_EQ(eval(deep.c_str()), 7.0f);
}

TEST_F(ExpressionTest, ListExpressionsShowsEveryNonEmptyRegister) {
  registerExpression("time * 2");
  registerExpression("");
  registerExpression("parm0");
  cmd_.text.clear();
  cmd_.run("listExpressions");
  EXPECT_EQ(cmd_.text, "register[01] = time * 2\nregister[03] = parm0\n");
  EXPECT_EQ(cmd_.commands["listExpressions"].flags, 3u);
  EXPECT_EQ(cmd_.commands["listExpressions"].description, "lists expressions");
}

TEST_F(ExpressionTest, ClearFreesEveryRegisterAndTheParameters) {
  registerExpression("time");
  registerExpression("parm1");
  clearExpressions();
  EXPECT_EQ(numExpressionRegisters(), 0);
  EXPECT_EQ(getExpressionParms(), nullptr);
  EXPECT_EQ(registerExpression("parm1"), 1);
}

}  // namespace
