#include "negation/negation_graph.hpp"

#include <algorithm>
#include <ostream>
#include <stdexcept>

#include "negation/clause_index.hpp"
#include "negation/encode.hpp"
#include "negation/form_text.hpp"
#include "negation/forms.hpp"

namespace ZEFI {

namespace {

// Replaces every variable of the sets by its rank among the input variables; false, with
// the sets unchanged, when some variable is not among them (the reader never leaves one
// out, but a formula built by other means may).
bool renumberSets(ClauseArray& sets, const std::vector<std::uint32_t>& inputVariables) {
  VariableMap<std::uint32_t> rank;
  for (std::uint32_t i = 0; i < inputVariables.size(); ++i) rank[inputVariables[i]] = i + 1;
  ClauseArray result;
  result.reserve(sets.size(), sets.literalCount());
  for (const std::span<const Literal> set : sets) {
    for (const Literal literal : set) {
      const std::uint32_t* position = rank.find(variableOf(literal));
      if (position == nullptr) return false;
      result.pushLiteral(makeLiteral(*position, isNegated(literal)));
    }
    result.closeClause();
  }
  sets = std::move(result);
  return true;
}

}  // namespace

bool negationFits(const Formula& input) {
  const std::uint64_t largest = std::uint64_t{input.maxVar} + 1 +
                                std::uint64_t{input.clauses.literalCount()} +
                                std::uint64_t{input.clauses.size()};
  return largest <= maxVariableIndex;
}

NegationGraph::NegationGraph(Formula& input, AigStore& store, bool renumber)
    : NegationGraph(input, store, renumber, Deferred{}) {
  build();
}

NegationGraph::NegationGraph(Formula& input, AigStore& store, bool renumber, Deferred)
    : store_(store), n_(input.maxVar + 1) {
  inputVariables_ = input.quantifierOf.sortedKeys();
  const auto inputCount = static_cast<std::uint32_t>(inputVariables_.size());
  renumbered_ =
      renumber && input.maxVar > 4 * std::uint64_t{inputCount} + AigStore::kVariablesPerPage;
  graphN_ = renumbered_ ? inputCount + 1 : n_;
  // The matrix's negation is the disjunction of the clauses' complements (cubes), which the
  // builder forms as it goes where no clause repeats a literal (the reader's never do);
  // otherwise the cubes are formed first, in place, each literal once. Either way the sets
  // carry everything of the matrix that is still needed, and have the cubes' lengths.
  sets_ = std::move(input.clauses);
  input.clauses = ClauseArray();
  cubesFormed_ = sets_.repeatsLiteral();
  if (cubesFormed_) sets_.complementEach();
  if (renumbered_ && renumberSets(sets_, inputVariables_)) {
    originalInputs_ = std::move(inputVariables_);
    inputVariables_.resize(inputCount);
    for (std::uint32_t i = 0; i < inputCount; ++i) inputVariables_[i] = i + 1;
  } else {
    renumbered_ = false;
    graphN_ = n_;
  }

  shape_ = NegationShape(n_, sets_, input.prefix.size());

  // Sized once instead of growing by doubling.
  store_.reserve(graphN_ + shape_.gateCount() - 1, inputCount, 0, 1, shape_.gateCount());
}

void NegationGraph::build(BuildProgress* progress) {
  ClauseIndex index;
  if (cubesFormed_) {
    index.defineDnf(graphN_, std::move(sets_));
  } else {
    index.defineNegatedCnf(graphN_, std::move(sets_));
  }
  sets_ = ClauseArray();
  const std::uint32_t outputVariables[] = {graphN_};
  buildDefinitionGraph(std::move(index), inputVariables_, outputVariables, graphN_ + 1, store_,
                       progress);
  std::vector<std::uint32_t>().swap(inputVariables_);
  // The text's numbers were taken from the shape the gates were to have.
  if (store_.andCount != shape_.gateCount())
    throw std::logic_error(
        "Internal error: the negation graph is not of the size its text was counted for.");
}

void NegationGraph::writePiece(std::size_t piece, const Formula& input,
                               QdimacsWriter& writer) const {
  const NegationShape::Piece at = shape_.piece(piece);
  if (at.section == NegationShape::Section::Prefix) {
    if (piece == 0) writer.header(shape_.maxVar(), shape_.clauseCount());
    for (std::uint64_t i = at.first; i < at.last; ++i) {
      writer.quantifier(exchanged(input.prefix[i].kind), input.prefix[i].variable);
    }
    return;
  }
  if (at.section == NegationShape::Section::Fresh) {
    writer.quantifiers(Exists, static_cast<std::uint32_t>(at.first),
                       static_cast<std::uint32_t>(at.last));
    return;
  }
  const auto firstGate = static_cast<std::size_t>(at.first);
  const auto endGate = static_cast<std::size_t>(at.last);
  // Gates are numbered one after the other and mostly use the gate before: the digits of
  // the last gate variable are kept, and a gate's own are counted up from them. Digits are
  // held in registers where the compiler can.
  QdimacsWriter::Digits last;
  std::uint32_t lastVariable = 0;  // none yet
  for (std::size_t i = firstGate; i < endGate; ++i) {
    const AigAnd& stored = store_.ands[i];
    // Numbering back keeps constants, signs and equalities, so the clauses of the gate
    // numbered back are the clauses of the gate, numbered back.
    const AigAnd gate =
        renumbered_ ? AigAnd{original(stored.lhs), original(stored.rhs0), original(stored.rhs1)}
                    : stored;
    const std::uint32_t variable = gate.lhs >> 1;
    const QdimacsWriter::Digits own = lastVariable != 0 && variable == lastVariable + 1
                                          ? QdimacsWriter::digitsAfter(last, variable)
                                          : QdimacsWriter::digitsOf(variable);
    if (isUsualGate(gate)) {
      // The operands that are not true, in order: rhs0 is true only where rhs1 is not. A
      // gate mostly uses the gate before, whose digits are at hand.
      const AigLiteral first = gate.rhs0 == 1 ? gate.rhs1 : gate.rhs0;
      const bool two = gate.rhs0 != 1 && gate.rhs1 != 1;
      const auto digitsOf = [&](AigLiteral literal) {
        return (literal >> 1) == lastVariable ? last : QdimacsWriter::digitsOf(literal >> 1);
      };
      writeAndDefinition(writer, own, digitsOf(first), first & 1u, two ? digitsOf(gate.rhs1) : own,
                         gate.rhs1 & 1u, two);
    } else {
      // Copies whose addresses are taken, so that own and last can stay in registers.
      const QdimacsWriter::Digits ownDigits = own;
      const QdimacsWriter::Digits lastDigits = last;
      writeGateClauses(gate, writer, FormedVariable{variable, &ownDigits},
                       FormedVariable{lastVariable, lastVariable != 0 ? &lastDigits : nullptr});
    }
    last = own;
    lastVariable = variable;
  }
  if (endGate == shape_.gateCount()) {
    const Literal unit = makeLiteral(n_, false);
    writer.clause(std::span<const Literal>(&unit, 1));
  }
}

void NegationGraph::write(const Formula& input, QdimacsWriter& writer) const {
  for (std::size_t piece = 0; piece < pieceCount(); ++piece) writePiece(piece, input, writer);
}

AigLiteral NegationGraph::original(AigLiteral literal) const {
  if (!renumbered_) return literal;
  const std::uint32_t variable = literal >> 1;
  if (variable == 0) return literal;
  const std::uint32_t back =
      variable < graphN_ ? originalInputs_[variable - 1] : variable - graphN_ + n_;
  return (back << 1) | (literal & 1u);
}

bool writeNegation(Formula& input, std::ostream& out) {
  if (!negationFits(input)) throw std::invalid_argument(kNegationTooLarge);
  const AigStorePtr store(AigStore::createDefault());
  const NegationGraph graph(input, *store, true);
  QdimacsWriter writer(out);
  graph.write(input, writer);
  return writer.finish();
}

namespace {

// The default form: the graph's text in pieces of bounded size, those of the gates formed as
// soon as their gates are built. The check of the graph runs beside the writing: it marks
// the store's table of variables, the pieces read only the gates.
class QdimacsNegation final : public OutputForm {
 public:
  explicit QdimacsNegation(Formula& input)
      : input_(input),
        store_(AigStore::createDefault()),
        graph_(input, *store_, true, NegationGraph::Deferred{}),
        pieces_(graph_.pieceCount()) {
    // The text needs nothing more of the input than its prefix: the maps of the prefix go
    // before the graph's memory comes.
    input.quantifierOf.clear();
    input.positionOf.clear();
  }

  bool bounded() const override { return true; }
  std::size_t pieceCount() const override { return pieces_; }
  std::uint32_t progressNeededBy(std::size_t piece) const override {
    return graph_.gatesNeededBy(piece);
  }
  void build(BuildProgress* progress) override { graph_.build(progress); }
  void writePiece(std::size_t piece, QdimacsWriter& writer) const override {
    graph_.writePiece(piece, input_, writer);
  }
  bool checked() const override { return true; }
  std::string check() const override {
    const char* problem = store_->check();
    return problem == nullptr ? std::string() : std::string("AIGER ERROR: ") + problem;
  }

 private:
  const Formula& input_;
  AigStorePtr store_;
  NegationGraph graph_;
  std::size_t pieces_;
};

}  // namespace

std::unique_ptr<OutputForm> makeQdimacsNegation(Formula& input) {
  if (!negationFits(input)) throw std::invalid_argument(kNegationTooLarge);
  return std::make_unique<QdimacsNegation>(input);
}

}  // namespace ZEFI
