#include "negation/aig_dot.hpp"

#include <charconv>
#include <string>
#include <string_view>

namespace ZEFI {

namespace {

// Collects the text and hands it to the stream in large blocks: a graph of millions of
// gates would otherwise cost one stream call per piece.
class DotText {
 public:
  explicit DotText(std::ostream& out) : out_(out) { buffer_.reserve(kBlock + 256); }

  DotText& operator<<(std::string_view text) {
    buffer_.append(text);
    return *this;
  }
  DotText& operator<<(std::uint32_t number) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    buffer_.append(digits, end);
    return *this;
  }
  // Ends a line; the block goes out once it is large enough.
  void endLine() {
    buffer_.push_back('\n');
    if (buffer_.size() >= kBlock) drain();
  }
  void finish() {
    drain();
    out_.flush();
  }

 private:
  static constexpr std::size_t kBlock = 1 << 16;
  void drain() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }
  std::ostream& out_;
  std::string buffer_;
};

void rankLine(DotText& text, const AigSymbol* symbols, std::uint32_t count) {
  text << "{ rank=same; ";
  for (std::uint32_t i = 0; i < count; ++i) text << "\"" << (symbols[i].literal >> 1) << "\"; ";
  text << "}";
  text.endLine();
}

void edge(DotText& text, AigLiteral operand, std::uint32_t gate) {
  text << "Node_" << (operand >> 1) << " -> Node_" << gate
       << " [fontsize=20,color=" << ((operand & 1u) != 0 ? "red" : "blue") << "];";
  text.endLine();
}

}  // namespace

std::ostream& writeAigDot(const AigStore& store, std::ostream& out) {
  DotText text(out);
  text << "digraph G {";
  text.endLine();
  text << "color=black;orientation=portrait;fontsize=20;";
  text.endLine();
  text << "subgraph \"cluster_1\" {";
  text.endLine();
  text << "label=\"AIG\";";
  text.endLine();
  text << "Node_0 [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\"0\"];";
  text.endLine();

  for (std::uint32_t i = 0; i < store.inputCount; ++i) {
    const std::uint32_t variable = store.inputs[i].literal >> 1;
    text << "Node_" << variable << " [shape=invhouse,fontsize=22,color=blue,rank=\"min\",label=\""
         << variable << "\"];";
    text.endLine();
  }
  rankLine(text, store.inputs, store.inputCount);

  for (std::uint32_t i = 0; i < store.andCount; ++i) {
    const AigAnd& gate = store.ands[i];
    const std::uint32_t variable = gate.lhs >> 1;
    // A gate over an input variable keeps the input's shape; only its edges are drawn.
    if (store.findInput(gate.lhs) == nullptr) {
      text << "Node_" << variable << " [shape=circle,fontsize=22,label=\"" << variable << "\"];";
      text.endLine();
    }
    edge(text, gate.rhs0, variable);
    edge(text, gate.rhs1, variable);
  }

  for (std::uint32_t i = 0; i < store.outputCount; ++i) {
    const std::uint32_t variable = store.outputs[i].literal >> 1;
    text << "Node_" << variable
         << " [shape=invtriangle,fontsize=22,color=green,rank=\"max\",label=\"" << variable
         << "\"];";
    text.endLine();
  }
  rankLine(text, store.outputs, store.outputCount);

  text << "}";
  text.endLine();
  text << "}";
  text.endLine();
  text.finish();
  return out;
}

}  // namespace ZEFI
