// The output checks used against the solver runs must themselves reject broken outputs;
// otherwise a passing semantic test would prove little about the output's form.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

#include "tests/semantic/semantic_support.hpp"

namespace ZEFI::semantic {
namespace {

const char* const kInput = "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n";

// The negation of kInput: prefix exchanged, n = 3 and six gate variables, gate clauses, unit n.
const char* const kNegation =
    "p cnf 9 18\n"
    "e 1 0\na 2 0\ne 3 0\ne 4 0\ne 5 0\ne 6 0\ne 7 0\ne 8 0\ne 9 0\n"
    "-4 -1 0\n4 1 0\n-5 4 0\n-5 -2 0\n5 -4 2 0\n-6 -5 0\n6 5 0\n-7 1 0\n7 -1 0\n"
    "-8 7 0\n-8 2 0\n8 -7 -2 0\n-9 6 0\n-9 -8 0\n9 -6 8 0\n-3 -9 0\n3 9 0\n3 0\n";

std::optional<std::string> check(const std::string& inputText, const std::string& outputText) {
  Qdimacs input;
  Qdimacs output;
  if (auto error = parseQdimacs(inputText, input)) return "input: " + *error;
  if (auto error = parseNormalForm(outputText, output)) return error;
  return checkNegationShape(input, output);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(NegationShapeCheck, AcceptsACorrectNegation) {
  const auto error = check(kInput, kNegation);
  EXPECT_FALSE(error) << *error;
}

struct Broken {
  const char* what;
  const char* from;
  const char* to;
};

class NegationShapeCheckRejects : public ::testing::TestWithParam<Broken> {};

TEST_P(NegationShapeCheckRejects, BrokenOutput) {
  const Broken& broken = GetParam();
  EXPECT_TRUE(check(kInput, replaced(kNegation, broken.from, broken.to)))
      << "accepted output with " << broken.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NegationShapeCheckRejects,
    ::testing::Values(Broken{"a kind not exchanged", "e 1 0\n", "a 1 0\n"},
                      Broken{"prefix lines swapped", "e 1 0\na 2 0\n", "a 2 0\ne 1 0\n"},
                      Broken{"a gate variable unquantified", "e 9 0\n", ""},
                      Broken{"a gate variable universal", "e 9 0\n", "a 9 0\n"},
                      Broken{"a variable quantified twice", "e 9 0\n", "e 9 0\ne 9 0\n"},
                      Broken{"a clause count too high", "p cnf 9 18", "p cnf 9 19"},
                      Broken{"a clause count too low", "p cnf 9 18", "p cnf 9 17"},
                      Broken{"a variable count too low", "p cnf 9 18", "p cnf 8 18"},
                      Broken{"a variable count too high", "p cnf 9 18", "p cnf 10 18"},
                      Broken{"the unit clause missing", "3 9 0\n3 0\n", "3 9 0\n"},
                      Broken{"the unit clause negated", "3 9 0\n3 0\n", "3 9 0\n-3 0\n"},
                      Broken{"a clause line without its 0", "-4 -1 0\n", "-4 -1\n"},
                      Broken{"a trailing blank", "4 1 0\n", "4 1 0 \n"},
                      Broken{"a double blank", "4 1 0\n", "4  1 0\n"},
                      Broken{"a tab", "4 1 0\n", "4\t1 0\n"},
                      Broken{"a comment line", "p cnf 9 18\n", "p cnf 9 18\nc note\n"},
                      Broken{"a blank line", "e 1 0\n", "\ne 1 0\n"},
                      Broken{"two variables on one quantifier line", "e 3 0\ne 4 0\n", "e 3 4 0\n"},
                      Broken{"a quantifier line after a clause", "3 0\n", "3 0\ne 9 0\n"},
                      Broken{"a missing final newline", "3 0\n", "3 0"},
                      Broken{"a leading zero", "-4 -1 0\n", "-04 -1 0\n"}),
    [](const ::testing::TestParamInfo<Broken>& info) {
      std::string name;
      for (const char* c = info.param.what; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

TEST(NegationShapeCheck, FreeVariablesComeOutUniversalBeforeN) {
  // Variable 2 is free in the input: zefi reads it as innermost existential.
  const std::string input = "p cnf 2 1\ne 1 0\n1 2 0\n";
  const std::string good = "p cnf 3 3\na 1 0\na 2 0\ne 3 0\n-3 -1 0\n-3 -2 0\n3 0\n";
  const auto error = check(input, good);
  EXPECT_FALSE(error) << *error;
  EXPECT_TRUE(check(input, replaced(good, "a 2 0\n", "e 2 0\n")));
  EXPECT_TRUE(check(input, replaced(good, "a 2 0\ne 3 0\n", "e 3 0\na 2 0\n")));
  EXPECT_TRUE(check(input, replaced(good, "a 2 0\n", "")));
}

TEST(NegationShapeCheck, ClosingFreeVariablesPutsThemInnermostExistential) {
  Qdimacs input;
  ASSERT_FALSE(parseQdimacs("c x\np cnf 1 1\na 2 0\n3 -2 1\n0\n", input));
  EXPECT_EQ(closeFreeVariables(input).toText(), "p cnf 3 1\na 2 0\ne 3 0\ne 1 0\n3 -2 1 0\n");
  EXPECT_EQ(closeFreeVariables(input).toText(true), "p cnf 3 1\na 2 0\ne 3 1 0\n3 -2 1 0\n");
}

}  // namespace
}  // namespace ZEFI::semantic
