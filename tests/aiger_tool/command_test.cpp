// The zefi-aiger command line: statuses, messages and the exact bytes it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "aiger_model.hpp"
#include "tool_support.hpp"

namespace zefi_test {
namespace {

namespace fs = std::filesystem;

// inputs 2 and 4, gate 6 = 4 AND 2, output 6, input 0 named "a", comment "hello".
const std::string kBinaryAnd = std::string("aig 3 2 0 1 1\n6\n\x02\x02", 18) + "i0 a\nc\nhello\n";
const std::string kAsciiAnd = "aag 3 2 0 1 1\n2\n4\n6\n6 4 2\ni0 a\nc\nhello\n";
const std::string kAsciiAndStripped = "aag 3 2 0 1 1\n2\n4\n6\n6 4 2\n";

std::string usageText() {
  const RunResult help = runTool({"--help"});
  return help.out;
}

TEST(ZefiAigerCommand, HelpPrintsUsageOnStandardOutputWithStatusZero) {
  for (const char* flag : {"--help", "-h"}) {
    const RunResult result = runTool({flag});
    EXPECT_EQ(result.status, 0) << flag;
    EXPECT_EQ(result.out.rfind("Usage: zefi-aiger convert IN OUT [--strip]\n", 0), 0u) << flag;
    EXPECT_NE(result.out.find("zefi-aiger graph IN.qdimacs OUT"), std::string::npos);
    EXPECT_EQ(result.err, "") << flag;
  }
}

TEST(ZefiAigerCommand, HelpWinsOverOtherArguments) {
  const RunResult result = runTool({"check", "/nonexistent/file.aag", "--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, usageText());
}

TEST(ZefiAigerCommand, WrongArgumentsPrintUsageOnStandardErrorWithStatusTwo) {
  const std::string usage = usageText();
  ASSERT_FALSE(usage.empty());
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"convert"},
      {"convert", "in.aag"},
      {"convert", "in.aag", "out.aig", "extra"},
      {"check"},
      {"check", "a.aag", "b.aag"},
      {"check", "--strip", "a.aag"},  // --strip belongs to convert
      {"dot"},
      {"dot", "a.aag", "b.aag"},
      {"graph", "f.qdimacs"},
      {"graph", "f.qdimacs", "out.aig", "more"},
      {"frobnicate", "a.aag"},
      {"check", "--bogus", "a.aag"},
      {"-x"},
  };
  for (const auto& arguments : cases) {
    std::string shown;
    for (const auto& argument : arguments) shown += " " + argument;
    const RunResult result = runTool(arguments);
    EXPECT_EQ(result.status, 2) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_EQ(result.err, usage) << shown;
  }
}

TEST(ZefiAigerCommand, MissingInputIsReportedByTheReaderWithStatusOne) {
  TempDir dir;
  const std::string missing = dir.file("missing.aag");
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"check", missing},
                                                    {"dot", missing},
                                                    {"convert", missing, dir.file("out.aig")}}) {
    const RunResult result = runTool(arguments);
    EXPECT_EQ(result.status, 1) << arguments[0];
    EXPECT_EQ(result.out, "") << arguments[0];
    EXPECT_EQ(result.err, "zefi-aiger: can not read '" + missing + "'\n") << arguments[0];
  }
  EXPECT_FALSE(fs::exists(dir.file("out.aig")));
}

struct BadFile {
  const char* name;
  std::string bytes;
  const char* message;
};

TEST(ZefiAigerCommand, MalformedFilesGiveTheReaderOrCheckMessage) {
  const std::vector<BadFile> cases = {
      {"empty", "", "line 1: expected 'a' as first character"},
      {"no final newline", "aag 0 0 0 0 0", "line 1: expected new line after literal 0"},
      {"odd input", "aag 1 1 0 1 0\n3\n2\n", "line 2: literal 3 is not a valid input"},
      {"input twice", "aag 2 2 0 0 0\n2\n2\n", "line 3: literal 2 already defined as input"},
      {"binary max index", "aig 3 2 0 1 2\n", "line 2: invalid maximal variable index"},
      {"binary cut in a gate", std::string("aig 3 2 0 1 1\n6\n\x02", 17),
       "character 17: unexpected end of file"},
      {"bad symbol line", "aag 1 1 0 0 0\n2\nx\n", "line 3: invalid symbol table entry"},
      {"undefined output", "aag 3 1 0 1 0\n2\n7\n", "output 6 undefined"},
      {"self loop", "aag 2 1 0 1 1\n2\n4\n4 4 2\n", "cyclic definition for and gate 2"},
  };
  TempDir dir;
  for (const BadFile& bad : cases) {
    const std::string in = dir.file("bad.aag");
    writeFile(in, bad.bytes);
    const std::string expected = std::string("zefi-aiger: ") + bad.message + "\n";
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"check", in},
                                                      {"dot", in},
                                                      {"convert", in, "-"},
                                                      {"convert", in, dir.file("out.aag")}}) {
      const RunResult result = runTool(arguments);
      EXPECT_EQ(result.status, 1) << bad.name << " / " << arguments[0];
      EXPECT_EQ(result.out, "") << bad.name << " / " << arguments[0];
      EXPECT_EQ(result.err, expected) << bad.name << " / " << arguments[0];
    }
    EXPECT_FALSE(fs::exists(dir.file("out.aag"))) << bad.name;
  }
}

TEST(ZefiAigerCommand, CheckPrintsTheHeaderCounts) {
  TempDir dir;
  // M larger than needed is kept as declared; the latch's next state is the gate.
  const std::string in = dir.file("counts.aag");
  writeFile(in, "aag 9 2 1 2 1\n2\n4\n6 8\n8\n1\n8 6 3\n");
  const RunResult result = runTool({"check", in});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "9 2 1 2 1\n");
  EXPECT_EQ(result.err, "");

  writeFile(in, "aag 0 0 0 0 0\n");
  EXPECT_EQ(runTool({"check", in}).out, "0 0 0 0 0\n");
}

TEST(ZefiAigerCommand, CheckPrintsTheHeaderOfEveryCorpusFile) {
  const fs::path corpus = fs::path(corpusDir()) / "aiger";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "AIGER corpus not found at " << corpus;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() == ".md") continue;
    const std::string bytes = readFile(entry.path().string());
    const std::string header = bytes.substr(0, bytes.find('\n'));
    const RunResult result = runTool({"check", entry.path().string()});
    EXPECT_EQ(result.status, 0) << entry.path() << ": " << result.err;
    EXPECT_EQ(result.out, header.substr(4) + "\n") << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(ZefiAigerCommand, ConvertToStandardOutputWritesAscii) {
  TempDir dir;
  const std::string in = dir.file("and.aig");
  writeFile(in, kBinaryAnd);
  RunResult result = runTool({"convert", in, "-"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kAsciiAnd);
  EXPECT_EQ(result.err, "");

  result = runTool({"convert", in, "-", "--strip"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, kAsciiAndStripped);
  result = runTool({"convert", "--strip", in, "-"});  // the option may stand anywhere
  EXPECT_EQ(result.out, kAsciiAndStripped);
}

TEST(ZefiAigerCommand, ConvertChoosesTheFormByTheOutputName) {
  TempDir dir;
  const std::string in = dir.file("and.aag");
  writeFile(in, kAsciiAnd);
  struct Case {
    const char* name;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"out.aig", kBinaryAnd}, {"out", kBinaryAnd},     {"out.AAG", kBinaryAnd},
      {"out.aag", kAsciiAnd},  {"out.txt", kBinaryAnd},
  };
  for (const Case& c : cases) {
    const RunResult result = runTool({"convert", in, dir.file(c.name)});
    EXPECT_EQ(result.status, 0) << c.name << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.name;
    EXPECT_EQ(readFile(dir.file(c.name)), c.expected) << c.name;
  }
  const RunResult stripped = runTool({"convert", in, dir.file("s.aag"), "--strip"});
  EXPECT_EQ(stripped.status, 0);
  EXPECT_EQ(readFile(dir.file("s.aag")), kAsciiAndStripped);
}

TEST(ZefiAigerCommand, ConvertRenumbersForTheBinaryForm) {
  TempDir dir;
  // Gates listed before the gates they use, operands in ascending order, and a gate that
  // nothing uses: the binary form numbers 8 = 4 AND 2 as 6, the output gate as 8, and
  // drops the unused gate.
  const std::string in = dir.file("scrambled.aag");
  writeFile(in, "aag 7 2 0 1 3\n2\n4\n10\n10 2 8\n14 2 4\n8 2 4\n");
  const RunResult result = runTool({"convert", in, dir.file("out.aig")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(dir.file("out.aig")), std::string("aig 4 2 0 1 2\n8\n\x02\x02\x02\x04", 20));
}

TEST(ZefiAigerCommand, ConvertReadsAndWritesGzip) {
  ZEFI_REQUIRE_PROGRAM("gzip");
  ZEFI_REQUIRE_PROGRAM("gunzip");
  TempDir dir;
  const std::string in = dir.file("and.aag");
  writeFile(in, kAsciiAnd);
  ASSERT_EQ(runTool({"convert", in, dir.file("and.aig.gz")}).status, 0);
  ASSERT_EQ(runTool({"convert", in, dir.file("and.aag.gz")}).status, 0);
  RunResult unpacked = run({"gunzip", "-c", dir.file("and.aig.gz")});
  EXPECT_EQ(unpacked.out, kBinaryAnd);
  unpacked = run({"gunzip", "-c", dir.file("and.aag.gz")});
  EXPECT_EQ(unpacked.out, kAsciiAnd);
  // And back: a ".gz" input goes through gunzip whatever form it holds.
  const RunResult back = runTool({"convert", dir.file("and.aig.gz"), "-"});
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.out, kAsciiAnd);
}

TEST(ZefiAigerCommand, WriteFailuresAreReportedWithStatusOne) {
  TempDir dir;
  const std::string in = dir.file("and.aag");
  writeFile(in, kAsciiAnd);

  const std::string noDirectory = dir.file("no/such/dir/out.aig");
  RunResult result = runTool({"convert", in, noDirectory});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zefi-aiger: cannot write " + noDirectory + "\n");

  // gzip cannot create the file: its failure status is the write's failure. (The shell
  // that runs gzip may say why on standard error first.)
  const std::string noDirectoryGz = dir.file("no/such/dir/out.aig.gz");
  result = runTool({"convert", in, noDirectoryGz});
  EXPECT_EQ(result.status, 1);
  const std::string gzipMessage = "zefi-aiger: cannot write " + noDirectoryGz + "\n";
  EXPECT_TRUE(result.err.ends_with(gzipMessage)) << result.err;

  result = runTool({"convert", in, dir.path().string()});  // a directory
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zefi-aiger: cannot write " + dir.path().string() + "\n");

  if (fs::exists("/dev/full")) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"convert", in, "-"}, {"check", in}, {"dot", in}}) {
      result = runTool(arguments, "/dev/full");
      EXPECT_EQ(result.status, 1) << arguments[0];
      EXPECT_EQ(result.err, "zefi-aiger: cannot write standard output\n") << arguments[0];
    }
  }
}

TEST(ZefiAigerCommand, AReaderThatGoesAwayIsAWriteErrorNotASignal) {
  ZEFI_REQUIRE_PROGRAM("bash");
  TempDir dir;
  // A graph whose text is far larger than a pipe's buffer.
  std::mt19937 rng(5);
  writeFile(dir.file("big.aag"), writeAscii(randomGraph(rng, 10, 0, 20000)));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"dot", dir.file("big.aag")},
        {"convert", dir.file("big.aag"), "-"}}) {
    std::vector<std::string> argv{"bash", "-c",
                                  "\"$0\" \"$@\" | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}",
                                  ZEFI_AIGER_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const RunResult result = run(argv);
    EXPECT_EQ(result.out, "1\n") << arguments[0];
    EXPECT_EQ(result.err, "zefi-aiger: cannot write standard output\n") << arguments[0];
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif

TEST(ZefiAigerCommand, ExhaustedMemoryIsReportedWithStatusOne) {
  if (kSanitizer) GTEST_SKIP() << "no address-space limit can be set under a sanitizer";
  ZEFI_REQUIRE_PROGRAM("bash");
  TempDir dir;
  // Twenty million implicit inputs from a 29-byte file, under a 200 MB address-space limit.
  writeFile(dir.file("huge.aig"), "aig 20000000 20000000 0 0 0\n");
  const RunResult result = run({"bash", "-c", "ulimit -v 200000 && exec \"$0\" \"$@\"",
                                ZEFI_AIGER_BINARY, "check", dir.file("huge.aig")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "zefi-aiger: out of memory\n");
}

TEST(ZefiAigerCommand, DotPrintsTheGraphvizTextOfTheGraph) {
  TempDir dir;
  const std::string in = dir.file("g.aag");
  writeFile(in, "aag 3 2 0 1 1\n2\n4\n7\n6 2 5\n");
  const RunResult result = runTool({"dot", in});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "digraph G {\n"
            "color=black;orientation=portrait;fontsize=20;\n"
            "subgraph \"cluster_1\" {\n"
            "label=\"AIG\";\n"
            "Node_0 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"0\"];\n"
            "Node_1 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"1\"];\n"
            "Node_2 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"2\"];\n"
            "{ rank=same; \"1\"; \"2\"; }\n"
            "Node_3 [shape=circle,fontsize=22,label=\"3\"];\n"
            "Node_1 -> Node_3 [fontsize=20,color=blue];\n"
            "Node_2 -> Node_3 [fontsize=20,color=red];\n"
            "Node_3 [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"3\"];\n"
            "{ rank=same; \"3\"; }\n"
            "}\n"
            "}\n");
}

TEST(ZefiAigerCommand, GraphWritesTheNegationGraphOfTheWorkedExample) {
  TempDir dir;
  const std::string in = dir.file("example.qdimacs");
  writeFile(in, "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n");
  // n = 3; gates from 4 upward: two cube chains, their combining gates, and n itself.
  const std::string ascii =
      "aag 9 2 0 1 7\n2\n4\n6\n"
      "8 1 3\n10 8 5\n12 1 11\n14 1 2\n16 14 4\n18 12 17\n6 19 19\n";
  RunResult result = runTool({"graph", in, "-"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, ascii);
  EXPECT_EQ(result.err, "");

  result = runTool({"graph", in, dir.file("example.aag")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readFile(dir.file("example.aag")), ascii);

  result = runTool({"graph", in, dir.file("example.aig")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(runTool({"check", dir.file("example.aig")}).out, "9 2 0 1 7\n");
}

TEST(ZefiAigerCommand, GraphReportsTheFormulaReadersMessages) {
  TempDir dir;
  const std::string in = dir.file("f.qdimacs");
  struct Case {
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"1 0\n", "QBF File does not start with a p line."},
      {"p dnf 1 1\n", "QBF File does not have a cnf argument."},
      {"p cnf 1 1\n1 3000000000 0\n", "QBF File: Bogus clause."},
      // The negation variable and one fresh variable per literal and per clause must fit.
      {"p cnf 2147483645 1\n1 2 0\n", "QBF File: Number of variables is bogus."},
      {"p cnf 2147483647 0\n", "QBF File: Number of variables is bogus."},
  };
  for (const Case& c : cases) {
    writeFile(in, c.text);
    const RunResult result = runTool({"graph", in, dir.file("out.aig")});
    EXPECT_EQ(result.status, 1) << c.text;
    EXPECT_EQ(result.out, "") << c.text;
    EXPECT_EQ(result.err, std::string("zefi-aiger: ") + c.message + "\n") << c.text;
    EXPECT_FALSE(fs::exists(dir.file("out.aig"))) << c.text;
  }
  const RunResult missing = runTool({"graph", dir.file("missing.qdimacs"), "-"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "zefi-aiger: QBF File not open.\n");
}

TEST(ZefiAigerCommand, GraphAcceptsTheLargestVariablesThatFit) {
  TempDir dir;
  const std::string in = dir.file("edge.qdimacs");
  // 2147483644 + 1 (n) + 1 literal + 1 clause = 2147483647: exactly the last index.
  writeFile(in, "p cnf 2147483644 1\n-1 0\n");
  const RunResult result = runTool({"graph", in, "-"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "aag 2147483647 1 0 1 3\n2\n4294967290\n"
            "4294967292 1 2\n4294967294 1 4294967293\n4294967290 4294967295 4294967295\n");
}

}  // namespace
}  // namespace zefi_test
