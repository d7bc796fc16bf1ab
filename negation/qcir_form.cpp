// The circuit form of the negation: prenex, cleansed QCIR-G14.
//
//   #QCIR-G14
//   forall(1, 2)            the prefix, kinds exchanged, adjacent lines of one kind merged
//   exists(3)
//   output(-7)              the negation of the matrix ...
//   5 = or(1, -3)           ... one "or" per clause of two or more literals,
//   6 = or(-2, 3)
//   7 = and(5, 6, -1)       ... joined by one "and" (a unit clause stands as its literal)
//
// Constants are folded, since readers of the format differ on empty gates and on gates that
// hold a literal and its complement: a clause with both drops out, a literal repeated in a
// clause is written once, and only where the whole negation is a constant does an empty gate
// appear (an empty clause, or two unit clauses of opposite signs: "g = or()", the negation is
// true; no clause left: "g = and()", it is false).
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "negation/form_text.hpp"
#include "negation/forms.hpp"
#include "negation/negation_graph.hpp"

namespace ZEFI {

namespace {

enum class Role : std::uint8_t {
  Dropped,          // always true: holds a literal and its complement, or repeats a unit clause
  Unit,             // stands as its first literal
  Gate,             // an "or" gate
  GateWithRepeats,  // an "or" gate whose repeated literals are written once
};

// Short clauses are compared pair by pair, longer ones sorted.
constexpr std::size_t kPairwiseUpTo = 16;

struct Shape {
  bool tautology = false;
  bool repeats = false;
  std::size_t distinct = 0;
};

Shape shapeOf(std::span<const Literal> clause, std::vector<Literal>& scratch) {
  Shape shape;
  if (clause.size() <= kPairwiseUpTo) {
    for (std::size_t j = 0; j < clause.size(); ++j) {
      bool seen = false;
      for (std::size_t i = 0; i < j; ++i) {
        seen = seen || clause[i] == clause[j];
        shape.tautology = shape.tautology || clause[i] == complementOf(clause[j]);
      }
      shape.repeats = shape.repeats || seen;
      shape.distinct += seen ? 0 : 1;
    }
    return shape;
  }
  scratch.assign(clause.begin(), clause.end());
  std::sort(scratch.begin(), scratch.end());
  shape.distinct = 1;
  for (std::size_t i = 1; i < scratch.size(); ++i) {
    if (scratch[i] == scratch[i - 1]) {
      shape.repeats = true;
    } else {
      ++shape.distinct;
      // A literal and its complement are neighbours: 2v, then 2v + 1.
      shape.tautology = shape.tautology || complementOf(scratch[i]) == scratch[i - 1];
    }
  }
  return shape;
}

// A variable stands on one quantifier line only in this form: where the input quantifies
// one twice, its last quantifier counts, as it does for the reader's quantifierOf.
std::vector<Quantification> lastOccurrences(const std::vector<Quantification>& prefix) {
  VariableMap<std::uint32_t> last;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    last[prefix[i].variable] = static_cast<std::uint32_t>(i + 1);
  }
  std::vector<Quantification> kept;
  kept.reserve(prefix.size());
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (*last.find(prefix[i].variable) == i + 1) kept.push_back(prefix[i]);
  }
  return kept;
}

class QcirNegation final : public OutputForm {
 public:
  explicit QcirNegation(Formula& input)
      : prefix_(lastOccurrences(input.prefix)),
        maxVar_(input.maxVar),
        clauses_(std::move(input.clauses)) {
    input.clauses = ClauseArray();
    input.quantifierOf.clear();
    input.positionOf.clear();
    classify();
    // A constant negation is one gate alone.
    const std::uint64_t gate = std::uint64_t{maxVar_} + (constant() ? 0 : gates_) + 1;
    if (gate > maxVariableIndex) throw std::invalid_argument(kNegationTooLarge);
    andGate_ = static_cast<std::uint32_t>(gate);
  }

  bool bounded() const override { return false; }
  std::size_t pieceCount() const override { return 1; }

  void writePiece(std::size_t /*piece*/, QdimacsWriter& writer) const override {
    writeText(writer, "#QCIR-G14\n");
    for (const PrefixBlock& block : exchangedBlocks(prefix_)) {
      writeText(writer, block.kind == Forall ? "forall(" : "exists(");
      bool first = true;
      for (std::size_t i = block.first; i < block.last; ++i) {
        if (prefix_[i].kind == None) continue;
        char* p = writer.room(32);
        if (!first) *p++ = ',', *p++ = ' ';
        writer.advanceTo(QdimacsWriter::put(p, QdimacsWriter::digitsOf(prefix_[i].variable)));
        first = false;
      }
      writeText(writer, ")\n");
    }
    char* p = writer.room(64);
    std::memcpy(p, "output(-", 8);
    p = QdimacsWriter::put(p + 8, QdimacsWriter::digitsOf(andGate_));
    std::memcpy(p, ")\n", 2);
    writer.advanceTo(p + 2);
    if (constant()) {
      p = QdimacsWriter::put(writer.room(64), QdimacsWriter::digitsOf(andGate_));
      const char* gate = constantTrue_ ? " = or()\n" : " = and()\n";
      std::memcpy(p, gate, std::strlen(gate));
      writer.advanceTo(p + std::strlen(gate));
      return;
    }
    writeOrGates(writer);
    writeAndGate(writer);
  }

 private:
  bool constant() const { return constantTrue_ || gates_ + units_ == 0; }

  static void writeText(QdimacsWriter& writer, const char* text) {
    const std::size_t length = std::strlen(text);
    char* p = writer.room(length);
    std::memcpy(p, text, length);
    writer.advanceTo(p + length);
  }

  // Which clause is what, and whether the whole negation is true.
  void classify() {
    roles_.resize(clauses_.size());
    VariableMap<std::uint8_t> unitSigns;  // bit 1: seen positive, bit 2: negative
    std::vector<Literal> scratch;
    for (std::size_t i = 0; i < clauses_.size(); ++i) {
      const std::span<const Literal> clause = clauses_[i];
      if (clause.empty()) constantTrue_ = true;
      const Shape shape = shapeOf(clause, scratch);
      Role role = Role::Dropped;
      if (shape.tautology) {
        role = Role::Dropped;
      } else if (shape.distinct == 1) {
        std::uint8_t& signs = unitSigns[variableOf(clause[0])];
        const std::uint8_t sign = isNegated(clause[0]) ? 2 : 1;
        if ((signs & (3 - sign)) != 0) constantTrue_ = true;
        role = (signs & sign) != 0 ? Role::Dropped : Role::Unit;
        signs |= sign;
      } else if (shape.distinct > 1) {
        role = shape.repeats ? Role::GateWithRepeats : Role::Gate;
      }
      roles_[i] = role;
      gates_ += role == Role::Gate || role == Role::GateWithRepeats ? 1 : 0;
      units_ += role == Role::Unit ? 1 : 0;
    }
  }

  // "g = or(l, l, ...)" of each gate clause, numbered from maxVar + 1 in order.
  void writeOrGates(QdimacsWriter& writer) const {
    std::uint32_t gate = maxVar_;
    std::vector<Literal> written;
    for (std::size_t i = 0; i < clauses_.size(); ++i) {
      if (roles_[i] != Role::Gate && roles_[i] != Role::GateWithRepeats) continue;
      char* p = QdimacsWriter::put(writer.room(64), QdimacsWriter::digitsOf(++gate));
      std::memcpy(p, " = or(", 6);
      writer.advanceTo(p + 6);
      const std::span<const Literal> clause = clauses_[i];
      if (roles_[i] == Role::Gate) {
        writeList(writer, clause);
      } else {
        writeList(writer, withoutRepeats(clause, written));
      }
      writeText(writer, ")\n");
    }
  }

  // "g = and(...)": each gate and each unit literal, in the order of the clauses.
  void writeAndGate(QdimacsWriter& writer) const {
    char* p = QdimacsWriter::put(writer.room(64), QdimacsWriter::digitsOf(andGate_));
    std::memcpy(p, " = and(", 7);
    writer.advanceTo(p + 7);
    std::uint32_t gate = maxVar_;
    bool first = true;
    for (std::size_t i = 0; i < clauses_.size(); ++i) {
      if (roles_[i] == Role::Dropped) continue;
      p = writer.room(32);
      if (!first) *p++ = ',', *p++ = ' ';
      first = false;
      if (roles_[i] == Role::Unit) {
        writer.advanceTo(putLiteral(p, clauses_[i][0]));
      } else {
        writer.advanceTo(QdimacsWriter::put(p, QdimacsWriter::digitsOf(++gate)));
      }
    }
    writeText(writer, ")\n");
  }

  static void writeList(QdimacsWriter& writer, std::span<const Literal> literals) {
    for (std::size_t k = 0; k < literals.size(); ++k) {
      char* p = writer.room(32);
      if (k > 0) *p++ = ',', *p++ = ' ';
      writer.advanceTo(putLiteral(p, literals[k]));
    }
  }

  // The clause's literals, each at its first place only.
  static std::span<const Literal> withoutRepeats(std::span<const Literal> clause,
                                                 std::vector<Literal>& kept) {
    std::vector<std::pair<Literal, std::size_t>> sorted;
    sorted.reserve(clause.size());
    for (std::size_t k = 0; k < clause.size(); ++k) sorted.emplace_back(clause[k], k);
    std::sort(sorted.begin(), sorted.end());
    std::vector<bool> repeat(clause.size(), false);
    for (std::size_t k = 1; k < sorted.size(); ++k) {
      if (sorted[k].first == sorted[k - 1].first) repeat[sorted[k].second] = true;
    }
    kept.clear();
    for (std::size_t k = 0; k < clause.size(); ++k) {
      if (!repeat[k]) kept.push_back(clause[k]);
    }
    return kept;
  }

  std::vector<Quantification> prefix_;
  std::uint32_t maxVar_;
  ClauseArray clauses_;
  std::vector<Role> roles_;
  std::uint64_t gates_ = 0;
  std::uint64_t units_ = 0;
  bool constantTrue_ = false;
  std::uint32_t andGate_ = 0;
};

}  // namespace

std::unique_ptr<OutputForm> makeQcirNegation(Formula& input) {
  return std::make_unique<QcirNegation>(input);
}

}  // namespace ZEFI
