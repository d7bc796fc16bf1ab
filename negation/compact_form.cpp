// The compact clause form of the negation: QDIMACS with one selector per clause.
//
// The matrix C1 and ... and Cm is false exactly when some clause is false, so the negation is
// "y1 or ... or ym" over selectors yi with yi -> not Ci, that is the clause "-yi -l" for each
// literal l of Ci. A unit clause [l] needs no selector: "-l" stands in the long clause
// itself. Each selector is existential right after the innermost block that holds a
// variable of its clause (it depends on no variable after that), so it joins that block when
// it is existential, the next one (existential) when it is universal, or a block of its own
// at the end. The prefix is the input's, kinds exchanged, adjacent lines of one kind merged.
// Selectors are numbered from maxVar + 1 in the order of their clauses.
//
// An empty clause makes the negation true: then no clause is written at all.
#include <stdexcept>
#include <vector>

#include "negation/form_text.hpp"
#include "negation/forms.hpp"
#include "negation/negation_graph.hpp"

namespace ZEFI {

namespace {

class CompactNegation final : public OutputForm {
 public:
  explicit CompactNegation(Formula& input)
      : prefix_(input.prefix),
        maxVar_(input.maxVar),
        clauses_(std::move(input.clauses)),
        blocks_(exchangedBlocks(prefix_)) {
    input.clauses = ClauseArray();
    input.quantifierOf.clear();
    input.positionOf.clear();
    placeSelectors();
    if (std::uint64_t{maxVar_} + selectors_ > maxVariableIndex) {
      throw std::invalid_argument(kNegationTooLarge);
    }
  }

  bool bounded() const override { return false; }
  std::size_t pieceCount() const override { return 1; }

  void writePiece(std::size_t /*piece*/, QdimacsWriter& writer) const override {
    if (negationTrue_) {
      writer.header(maxVar_, 0);
    } else {
      writer.header(std::uint64_t{maxVar_} + selectors_,
                    clauses_.literalCount() - unitLiterals_ + 1);
    }
    // The blocks, each with the selectors placed in it, and a last one of selectors alone.
    for (std::size_t b = 0; b <= blocks_.size(); ++b) {
      const std::span<const std::uint32_t> selectors = selectorsOf(b);
      if (b == blocks_.size() && selectors.empty()) break;
      char* p = writer.room(32);
      p[0] = b < blocks_.size() && blocks_[b].kind == Forall ? 'a' : 'e';
      writer.advanceTo(p + 1);
      if (b < blocks_.size()) {
        for (std::size_t i = blocks_[b].first; i < blocks_[b].last; ++i) {
          if (prefix_[i].kind == None) continue;
          p = writer.room(32);
          *p = ' ';
          writer.advanceTo(QdimacsWriter::put(p + 1, QdimacsWriter::digitsOf(prefix_[i].variable)));
        }
      }
      for (const std::uint32_t selector : selectors) {
        p = writer.room(32);
        *p = ' ';
        writer.advanceTo(QdimacsWriter::put(p + 1, QdimacsWriter::digitsOf(selector)));
      }
      p = writer.room(32);
      std::memcpy(p, " 0\n", 3);
      writer.advanceTo(p + 3);
    }
    if (negationTrue_) return;
    writeSelectorClauses(writer);
    writeLongClause(writer);
  }

 private:
  std::span<const std::uint32_t> selectorsOf(std::size_t block) const {
    if (negationTrue_) return {};
    return std::span<const std::uint32_t>(placed_).subspan(
        placedStart_[block], placedStart_[block + 1] - placedStart_[block]);
  }

  // Finds each selector's block and lists them block by block (a counting sort: the
  // selectors of one block stay in the order of their clauses).
  void placeSelectors() {
    VariableMap<std::uint32_t> blockOf;  // block index + 1 of a variable's last occurrence
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      for (std::size_t i = blocks_[b].first; i < blocks_[b].last; ++i) {
        if (prefix_[i].kind != None)
          blockOf[prefix_[i].variable] = static_cast<std::uint32_t>(b + 1);
      }
    }
    const std::size_t blockCount = blocks_.size();
    std::vector<std::uint32_t> target;  // the block of each selector, in order
    for (const std::span<const Literal> clause : clauses_) {
      if (clause.empty()) negationTrue_ = true;
      if (clause.size() == 1) unitLiterals_ += 1;
      if (clause.size() < 2) continue;
      // A variable on no quantifier line counts as innermost.
      std::size_t innermost = 0;
      for (const Literal literal : clause) {
        const std::uint32_t* found = blockOf.find(variableOf(literal));
        innermost = std::max<std::size_t>(innermost, found != nullptr ? *found : blockCount + 1);
      }
      // innermost is 1-based: the block innermost - 1, or past the last.
      std::size_t block = innermost - 1;
      if (block < blockCount && blocks_[block].kind == Forall) ++block;
      target.push_back(static_cast<std::uint32_t>(std::min(block, blockCount)));
    }
    selectors_ = target.size();
    if (negationTrue_) return;
    placedStart_.assign(blockCount + 2, 0);
    for (const std::uint32_t block : target) ++placedStart_[block + 1];
    for (std::size_t b = 1; b < placedStart_.size(); ++b) placedStart_[b] += placedStart_[b - 1];
    placed_.resize(target.size());
    std::vector<std::size_t> next(placedStart_.begin(), placedStart_.end() - 1);
    for (std::size_t s = 0; s < target.size(); ++s) {
      placed_[next[target[s]]++] = static_cast<std::uint32_t>(maxVar_ + 1 + s);
    }
  }

  // "-y -l 0" for every literal l of the clause of each selector y.
  void writeSelectorClauses(QdimacsWriter& writer) const {
    QdimacsWriter::Digits selector;
    std::uint32_t number = maxVar_;
    for (const std::span<const Literal> clause : clauses_) {
      if (clause.size() < 2) continue;
      ++number;
      selector = number == maxVar_ + 1 ? QdimacsWriter::digitsOf(number)
                                       : QdimacsWriter::digitsAfter(selector, number);
      for (const Literal literal : clause) {
        char* p = writer.room(64);
        *p = '-';
        p = QdimacsWriter::put(p + 1, selector);
        *p = ' ';
        p = putLiteral(p + 1, complementOf(literal));
        std::memcpy(p, " 0\n", 4);
        writer.advanceTo(p + 3);
      }
    }
  }

  // The selectors and the complemented literals of the unit clauses, in clause order.
  void writeLongClause(QdimacsWriter& writer) const {
    std::uint32_t number = maxVar_;
    bool first = true;
    for (const std::span<const Literal> clause : clauses_) {
      char* p = writer.room(32);
      if (!first) *p++ = ' ';
      first = false;
      if (clause.size() == 1) {
        writer.advanceTo(putLiteral(p, complementOf(clause[0])));
      } else {
        writer.advanceTo(QdimacsWriter::put(p, QdimacsWriter::digitsOf(++number)));
      }
    }
    char* p = writer.room(32);
    if (!first) *p++ = ' ';
    std::memcpy(p, "0\n", 2);
    writer.advanceTo(p + 2);
  }

  const std::vector<Quantification>& prefix_;
  std::uint32_t maxVar_;
  ClauseArray clauses_;
  std::vector<PrefixBlock> blocks_;
  bool negationTrue_ = false;
  std::uint64_t selectors_ = 0;
  std::uint64_t unitLiterals_ = 0;
  std::vector<std::uint32_t> placed_;     // selectors, block by block
  std::vector<std::size_t> placedStart_;  // where block b's start in placed_ (one past: end)
};

}  // namespace

std::unique_ptr<OutputForm> makeCompactNegation(Formula& input) {
  return std::make_unique<CompactNegation>(input);
}

}  // namespace ZEFI
