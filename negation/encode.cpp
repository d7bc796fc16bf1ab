#include "negation/encode.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <type_traits>

namespace ZEFI {

namespace {

constexpr AigLiteral kFalse = 0;
constexpr AigLiteral kTrue = 1;

// The graph store's literals share the formulas' encoding but not their type: where the two
// meet, the crossing is spelled out.
constexpr AigLiteral aigLiteral(std::uint32_t variable) {  // positive
  return variable << 1;
}
constexpr AigLiteral aigOf(Literal literal) {
  return codeOf(literal);
}
constexpr Literal literalOf(AigLiteral literal) {
  return literalWithCode(literal);
}
constexpr std::uint32_t aigVariable(AigLiteral literal) {
  return literal >> 1;
}

// The chains of one definition, then the gate of the defined literal itself.
//
// Disjunctive (o = C1 or ... or Ck): each cube becomes a chain of gates whose last one is
// the cube; its complement joins a running conjunction acc of complemented cubes, and o is
// the complement of acc. Conjunctive (o = D1 and ... and Dk): the chain runs over the
// complemented literals, so the complement of its last gate is the clause itself; acc is
// the conjunction of the clauses and o is acc. A negated conjunction builds the chains of
// the conjunction, which are those of the disjunction of the clauses' complements, and
// takes the complement of acc. An empty set leaves acc true: the empty conjunction is true,
// the empty disjunction false.
//
// Sets that are not const are consumed: their memory goes back to the system as their
// gates are built, and they are left empty.
enum class Reading { Conjunctive, Disjunctive, NegatedConjunctive };

template <class Sets>
std::uint32_t buildChains(AigStore& store, Sets& sets, Reading reading, AigLiteral defined,
                          std::uint32_t next, BuildProgress* built) {
  constexpr bool consume = !std::is_const_v<Sets>;
  // The gates are formed in the store's room and added so many at a time, and their count
  // told then (also inside a long set, so that a reader of the gates follows closely); the
  // sets' memory goes back in larger steps.
  constexpr std::size_t kAddEvery = std::size_t{1} << 14;
  constexpr std::size_t kDiscardEvery = std::size_t{1} << 16;
  const AigLiteral literalFlip = reading == Reading::Disjunctive ? 0u : 1u;
  AigLiteral acc = kTrue;
  const std::size_t setCount = sets.size();
  AigAnd* const room = store.andRoom(static_cast<std::uint32_t>(sets.literalCount() + setCount));
  std::size_t filled = 0;  // records of room filled
  std::size_t added = 0;   // and added to the store
  const auto addFilled = [&] {
    store.addAnds(static_cast<std::uint32_t>(filled - added));
    added = filled;
    if (built != nullptr) built->publish(store.andCount);
  };
  for (std::size_t i = 0; i < setCount; ++i) {
    const std::span<const Literal> set = sets[i];
    AigLiteral complemented = kFalse;  // an empty cube is true, an empty clause false
    if (!set.empty()) {
      AigLiteral prev = kTrue;
      // A long set's chain is added a stretch at a time.
      for (std::size_t k = 0; k < set.size();) {
        const std::size_t end = std::min(set.size(), k + kAddEvery);
        for (; k < end; ++k) {
          const AigLiteral own = aigLiteral(next++);
          room[filled++] = AigAnd{own, prev, aigOf(set[k]) ^ literalFlip};
          prev = own;
        }
        if (filled - added >= kAddEvery) addFilled();
      }
      complemented = prev ^ 1u;
    }
    const AigLiteral combined = aigLiteral(next++);
    room[filled++] = AigAnd{combined, acc, complemented};
    acc = combined;
    if constexpr (consume) {
      if ((i + 1) % kDiscardEvery == 0) sets.discardBefore(i + 1);
    }
  }
  addFilled();
  if constexpr (consume) sets = Sets();
  const AigLiteral root = reading == Reading::Conjunctive ? acc : acc ^ 1u;
  store.addAnd(defined, root, root);
  return next;
}

}  // namespace

namespace {

template <class Index>
std::uint32_t buildGraph(Index& index, std::span<const std::uint32_t> inputVariables,
                         std::span<const std::uint32_t> outputVariables,
                         std::uint32_t firstFreshVariable, AigStore& store, BuildProgress* built) {
  for (const std::uint32_t variable : inputVariables) {
    store.addInput(aigLiteral(variable), nullptr);
  }
  std::uint32_t next = firstFreshVariable;
  for (const std::uint32_t variable : outputVariables) {
    const AigLiteral defined = aigLiteral(variable);
    if (auto* clauses = index.findCnf(variable)) {
      store.addOutput(defined, nullptr);
      next = buildChains(store, *clauses, Reading::Conjunctive, defined, next, built);
    } else if (auto* cubes = index.findDnf(variable)) {
      store.addOutput(defined, nullptr);
      next = buildChains(store, *cubes, Reading::Disjunctive, defined, next, built);
    } else if (auto* negated = index.findNegatedCnf(variable)) {
      store.addOutput(defined, nullptr);
      next = buildChains(store, *negated, Reading::NegatedConjunctive, defined, next, built);
    } else {
      // Nothing defines it: it stays a free input of the graph, constrained by no gate.
      store.addInput(defined, nullptr);
      store.addOutput(defined, nullptr);
    }
  }
  if (built != nullptr) built->publish(store.andCount);
  return next;
}

}  // namespace

std::uint32_t buildDefinitionGraph(const ClauseIndex& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store) {
  return buildGraph(index, inputVariables, outputVariables, firstFreshVariable, store, nullptr);
}

std::uint32_t buildDefinitionGraph(ClauseIndex&& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store,
                                   BuildProgress* built) {
  return buildGraph(index, inputVariables, outputVariables, firstFreshVariable, store, built);
}

namespace {

// A clause of at most three literals, built as addLiteral builds one: a literal it already
// holds is not added again.
struct ShortClause {
  Literal literals[3];
  unsigned size = 0;
  void add(Literal literal) {
    for (unsigned i = 0; i < size; ++i) {
      if (literals[i] == literal) return;
    }
    literals[size++] = literal;
  }
};

// The Tseitin clauses of g = rhs0 and rhs1, with constant operands folded away: emit is
// called with each clause in order.
template <class Emit>
void forEachGateClause(const AigAnd& gate, Emit&& emit) {
  const Literal positive = makeLiteral(aigVariable(gate.lhs), false);
  const Literal negative = makeLiteral(aigVariable(gate.lhs), true);
  const AigLiteral rhs0 = gate.rhs0;
  const AigLiteral rhs1 = gate.rhs1;
  if (rhs0 == kFalse || rhs1 == kFalse) {
    ShortClause clause;
    clause.add(negative);
    emit(clause);
    return;
  }
  if (rhs0 == kTrue && rhs1 == kTrue) return;
  if (rhs0 != kTrue) {
    ShortClause clause;
    clause.add(negative);
    clause.add(literalOf(rhs0));
    emit(clause);
  }
  if (rhs1 != kTrue && rhs1 != rhs0) {
    ShortClause clause;
    clause.add(negative);
    clause.add(literalOf(rhs1));
    emit(clause);
  }
  ShortClause last;
  last.add(positive);
  if (rhs0 != kTrue) last.add(complementOf(literalOf(rhs0)));
  if (rhs1 != kTrue) last.add(complementOf(literalOf(rhs1)));
  emit(last);
}

}  // namespace

GateClauses gateClauses(const AigAnd& gate) {
  GateClauses result;
  forEachGateClause(gate, [&result](const ShortClause& clause) {
    for (unsigned i = 0; i < clause.size; ++i)
      result.literals[result.count][i] = clause.literals[i];
    result.sizes[result.count] = static_cast<std::uint8_t>(clause.size);
    ++result.count;
  });
  return result;
}

void writeGateClauses(const AigAnd& gate, QdimacsWriter& writer, FormedVariable first,
                      FormedVariable second) {
  // A gate's clauses name at most three variables, most of them several times: each one's
  // digits are formed once, unless they were handed in.
  const std::uint32_t variables[3] = {aigVariable(gate.lhs), aigVariable(gate.rhs0),
                                      aigVariable(gate.rhs1)};
  QdimacsWriter::Digits digits[3];
  const QdimacsWriter::Digits* formed[3] = {nullptr, nullptr, nullptr};
  const auto form = [&](unsigned which) {
    const std::uint32_t variable = variables[which];
    if (first.digits != nullptr && first.variable == variable) return first.digits;
    if (second.digits != nullptr && second.variable == variable) return second.digits;
    digits[which] = QdimacsWriter::digitsOf(variable);
    return static_cast<const QdimacsWriter::Digits*>(&digits[which]);
  };

  const AigLiteral rhs0 = gate.rhs0;
  const AigLiteral rhs1 = gate.rhs1;
  if (isUsualGate(gate)) {
    // The operands that are not true, in order: rhs0 is true only where rhs1 is not.
    const bool two = rhs0 != kTrue && rhs1 != kTrue;
    const bool firstIsRhs1 = rhs0 == kTrue;
    writeAndDefinition(writer, *form(0), *form(firstIsRhs1 ? 2 : 1),
                       (firstIsRhs1 ? rhs1 : rhs0) & 1u, *form(2), rhs1 & 1u, two);
    return;
  }

  forEachGateClause(gate, [&](const ShortClause& clause) {
    const QdimacsWriter::Digits* line[3];
    bool negated[3];
    for (unsigned i = 0; i < clause.size; ++i) {
      const std::uint32_t variable = variableOf(clause.literals[i]);
      const unsigned which = variable == variables[0] ? 0 : variable == variables[1] ? 1 : 2;
      if (formed[which] == nullptr) formed[which] = form(which);
      line[i] = formed[which];
      negated[i] = isNegated(clause.literals[i]);
    }
    writer.clause(line, negated, clause.size);
  });
}

void encodeDefinitions(const ClauseIndex& index, const std::vector<std::uint32_t>& inputVariables,
                       const std::vector<std::uint32_t>& outputVariables,
                       std::uint32_t firstFreshVariable, Formula& output) {
  const AigStorePtr store(AigStore::createDefault());
  buildDefinitionGraph(index, inputVariables, outputVariables, firstFreshVariable, *store);

  // A problem in the graph is worth telling but not worth losing the encoding over.
  if (store->check() != nullptr) {
    std::cout << "AIGER ERROR: " << store->errorText() << std::endl;
  }

  output.clauses.clear();
  output.maxVar = 0;
  const AigAnd* const gates = store->ands;
  const std::uint32_t gateCount = store->andCount;

  // Size the output exactly first, so that a large matrix is never reallocated midway.
  std::size_t clauseCount = 0;
  std::size_t literalCount = 0;
  for (std::uint32_t i = 0; i < gateCount; ++i) {
    const GateClauses clauses = gateClauses(gates[i]);
    clauseCount += clauses.count;
    for (unsigned k = 0; k < clauses.count; ++k) literalCount += clauses.sizes[k];
  }
  output.clauses.reserve(clauseCount, literalCount);

  std::uint32_t maxVar = 0;
  for (std::uint32_t i = 0; i < gateCount; ++i) {
    const GateClauses clauses = gateClauses(gates[i]);
    for (unsigned k = 0; k < clauses.count; ++k) {
      for (const Literal literal : clauses[k]) maxVar = std::max(maxVar, variableOf(literal));
      output.clauses.append(clauses[k]);
    }
  }
  output.maxVar = maxVar;
}

}  // namespace ZEFI
