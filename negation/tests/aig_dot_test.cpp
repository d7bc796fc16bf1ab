#include "negation/aig_dot.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "negation/encode.hpp"
#include "negation/tests/test_support.hpp"

namespace ZEFI {
namespace {

using testing::newStore;
using testing::setOf;

const std::string kHead =
    "digraph G {\n"
    "color=black;orientation=portrait;fontsize=20;\n"
    "subgraph \"cluster_1\" {\n"
    "label=\"AIG\";\n"
    "Node_0 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"0\"];\n";
const std::string kTail = "}\n}\n";

// Also checks that the stream was flushed after the last line.
std::string dotOf(const AigStore& store) {
  testing::FlushRecordingBuffer buffer;
  std::ostream out(&buffer);
  std::ostream& returned = writeAigDot(store, out);
  EXPECT_EQ(&returned, &out);
  EXPECT_GE(buffer.flushes, 1u);
  EXPECT_EQ(buffer.sizeAtLastFlush, buffer.str().size());
  return buffer.str();
}

TEST(WriteAigDot, EmptyStoreGivesNineLines) {
  const auto store = newStore();
  EXPECT_EQ(dotOf(*store), kHead + "{ rank=same; }\n{ rank=same; }\n" + kTail);
}

TEST(WriteAigDot, InputsGateAndNegatedOutput) {
  const auto store = newStore();
  store->addInput(2, nullptr);
  store->addInput(4, "named");
  store->addAnd(6, 2, 5);
  store->addOutput(7, "out");
  EXPECT_EQ(dotOf(*store),
            kHead +
                "Node_1 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"1\"];\n"
                "Node_2 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"2\"];\n"
                "{ rank=same; \"1\"; \"2\"; }\n"
                "Node_3 [shape=circle,fontsize=22,label=\"3\"];\n"
                "Node_1 -> Node_3 [fontsize=20,color=blue];\n"
                "Node_2 -> Node_3 [fontsize=20,color=red];\n"
                "Node_3 [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"3\"];\n"
                "{ rank=same; \"3\"; }\n" +
                kTail);
}

TEST(WriteAigDot, GateOverAnInputVariableGetsOnlyItsEdges) {
  const auto store = newStore();
  store->addInput(2, nullptr);
  store->addAnd(2, 0, 1);
  EXPECT_EQ(dotOf(*store),
            kHead +
                "Node_1 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"1\"];\n"
                "{ rank=same; \"1\"; }\n"
                "Node_0 -> Node_1 [fontsize=20,color=blue];\n"
                "Node_0 -> Node_1 [fontsize=20,color=red];\n"
                "{ rank=same; }\n" +
                kTail);
}

TEST(WriteAigDot, LatchesUndefinedOperandsAndConstantOutputsGetNoStatement) {
  const auto store = newStore();
  store->addLatch(4, 3, "l");
  store->addAnd(6, 4, 9);
  store->addOutput(1, nullptr);
  store->addOutput(6, nullptr);
  EXPECT_EQ(dotOf(*store),
            kHead +
                "{ rank=same; }\n"
                "Node_3 [shape=circle,fontsize=22,label=\"3\"];\n"
                "Node_2 -> Node_3 [fontsize=20,color=blue];\n"
                "Node_4 -> Node_3 [fontsize=20,color=red];\n"
                "Node_0 [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"0\"];\n"
                "Node_3 [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"3\"];\n"
                "{ rank=same; \"0\"; \"3\"; }\n" +
                kTail);
}

TEST(WriteAigDot, GraphOfANegatedMatrix) {
  ClauseIndex index;
  index.defineDnf(3, setOf({{3}}));
  const auto store = newStore();
  const std::vector<std::uint32_t> inputs{1, 2};
  const std::vector<std::uint32_t> outputs{3};
  buildDefinitionGraph(index, inputs, outputs, 4, *store);
  EXPECT_EQ(dotOf(*store),
            kHead +
                "Node_1 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"1\"];\n"
                "Node_2 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"2\"];\n"
                "{ rank=same; \"1\"; \"2\"; }\n"
                "Node_4 [shape=circle,fontsize=22,label=\"4\"];\n"
                "Node_0 -> Node_4 [fontsize=20,color=red];\n"
                "Node_1 -> Node_4 [fontsize=20,color=red];\n"
                "Node_5 [shape=circle,fontsize=22,label=\"5\"];\n"
                "Node_0 -> Node_5 [fontsize=20,color=red];\n"
                "Node_4 -> Node_5 [fontsize=20,color=red];\n"
                "Node_3 [shape=circle,fontsize=22,label=\"3\"];\n"
                "Node_5 -> Node_3 [fontsize=20,color=red];\n"
                "Node_5 -> Node_3 [fontsize=20,color=red];\n"
                "Node_3 [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"3\"];\n"
                "{ rank=same; \"3\"; }\n" +
                kTail);
}

TEST(WriteAigDot, LargeGraphKeepsEveryLineInOrder) {
  // More text than one internal block, so the pieces cross block boundaries.
  const auto store = newStore();
  constexpr std::uint32_t kGates = 20000;
  store->addInput(2, nullptr);
  for (std::uint32_t i = 0; i < kGates; ++i) store->addAnd(2 * (i + 2), 2 * (i + 1) + (i & 1), 1);
  const std::string text = dotOf(*store);
  std::istringstream lines(text);
  std::string line;
  std::size_t count = 0;
  std::size_t edges = 0;
  while (std::getline(lines, line)) {
    ++count;
    if (line.find(" -> ") != std::string::npos) ++edges;
  }
  EXPECT_EQ(count, 9u + 1 + 3 * kGates);
  EXPECT_EQ(edges, 2 * kGates);
  EXPECT_NE(text.find("Node_20000 -> Node_20001 [fontsize=20,color=red];\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), kTail);
}

TEST(WriteAigDot, OutputIsAcceptedByGraphviz) {
  if (std::system("command -v dot >/dev/null 2>&1") != 0) GTEST_SKIP() << "dot not installed";
  const auto store = newStore();
  store->addInput(2, nullptr);
  store->addInput(4, nullptr);
  store->addAnd(6, 2, 5);
  store->addAnd(8, 7, 0);
  store->addOutput(9, nullptr);
  const std::string path = ::testing::TempDir() + "negation_dot_test.dot";
  {
    std::ofstream file(path);
    writeAigDot(*store, file);
  }
  const std::string command = "dot -Tsvg '" + path + "' -o /dev/null 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace ZEFI
