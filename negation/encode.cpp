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
// the conjunction of the clauses and o is acc. Only the disjunctive reading of an empty set
// needs its own case (false); the conjunctive one falls out of acc = true.
//
// Sets that are not const are consumed: their memory goes back to the system as their
// gates are built, and they are left empty.
void countGateClauses(const AigAnd& gate, GateClauseSummary& summary);

template <class Sets>
std::uint32_t buildChains(AigStore& store, Sets& sets, bool conjunctive, AigLiteral defined,
                          std::uint32_t next, std::atomic<std::uint32_t>* built,
                          GateClauseSummary* summary) {
  constexpr bool consume = !std::is_const_v<Sets>;
  // Each gate is counted for the summary while it is at hand, instead of in a pass over the
  // whole store afterwards.
  const auto addAnd = [&store, summary](AigLiteral lhs, AigLiteral rhs0, AigLiteral rhs1) {
    store.addAnd(lhs, rhs0, rhs1);
    if (summary != nullptr) countGateClauses(AigAnd{lhs, rhs0, rhs1}, *summary);
  };
  constexpr std::size_t kDiscardEvery = std::size_t{1} << 16;
  if (!conjunctive && sets.empty()) {
    addAnd(defined, kFalse, kFalse);
    return next;
  }
  const AigLiteral literalFlip = conjunctive ? 1u : 0u;
  AigLiteral acc = kTrue;
  const std::size_t setCount = sets.size();
  for (std::size_t i = 0; i < setCount; ++i) {
    const std::span<const Literal> set = sets[i];
    AigLiteral complemented = kFalse;  // an empty cube is true, an empty clause false
    if (!set.empty()) {
      AigLiteral prev = kTrue;
      for (const Literal literal : set) {
        const AigLiteral gate = aigLiteral(next++);
        addAnd(gate, prev, aigOf(literal) ^ literalFlip);
        prev = gate;
      }
      complemented = prev ^ 1u;
    }
    const AigLiteral combined = aigLiteral(next++);
    addAnd(combined, acc, complemented);
    acc = combined;
    if constexpr (consume) {
      if ((i + 1) % kDiscardEvery == 0) {
        sets.discardBefore(i + 1);
        if (built != nullptr) built->store(store.andCount, std::memory_order_release);
      }
    }
  }
  if constexpr (consume) sets = Sets();
  const AigLiteral root = conjunctive ? acc : acc ^ 1u;
  addAnd(defined, root, root);
  return next;
}

}  // namespace

namespace {

template <class Index>
std::uint32_t buildGraph(Index& index, std::span<const std::uint32_t> inputVariables,
                         std::span<const std::uint32_t> outputVariables,
                         std::uint32_t firstFreshVariable, AigStore& store,
                         std::atomic<std::uint32_t>* built, GateClauseSummary* summary) {
  for (const std::uint32_t variable : inputVariables) {
    store.addInput(aigLiteral(variable), nullptr);
  }
  std::uint32_t next = firstFreshVariable;
  for (const std::uint32_t variable : outputVariables) {
    const AigLiteral defined = aigLiteral(variable);
    if (auto* clauses = index.findCnf(variable)) {
      store.addOutput(defined, nullptr);
      next = buildChains(store, *clauses, true, defined, next, built, summary);
    } else if (auto* cubes = index.findDnf(variable)) {
      store.addOutput(defined, nullptr);
      next = buildChains(store, *cubes, false, defined, next, built, summary);
    } else {
      // Nothing defines it: it stays a free input of the graph, constrained by no gate.
      store.addInput(defined, nullptr);
      store.addOutput(defined, nullptr);
    }
  }
  if (built != nullptr) built->store(store.andCount, std::memory_order_release);
  return next;
}

}  // namespace

std::uint32_t buildDefinitionGraph(const ClauseIndex& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store) {
  return buildGraph(index, inputVariables, outputVariables, firstFreshVariable, store, nullptr,
                    nullptr);
}

std::uint32_t buildDefinitionGraph(ClauseIndex&& index,
                                   std::span<const std::uint32_t> inputVariables,
                                   std::span<const std::uint32_t> outputVariables,
                                   std::uint32_t firstFreshVariable, AigStore& store,
                                   std::atomic<std::uint32_t>* built, GateClauseSummary* summary) {
  if (summary != nullptr) *summary = GateClauseSummary();
  return buildGraph(index, inputVariables, outputVariables, firstFreshVariable, store, built,
                    summary);
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

namespace {

// Adds a gate's clauses (those gateClauses gives, counted without building them) to summary.
void countGateClauses(const AigAnd& gate, GateClauseSummary& summary) {
  if (isUsualGate(gate)) {
    summary.count += 1 + (gate.rhs0 != kTrue ? 1 : 0) + (gate.rhs1 != kTrue ? 1 : 0);
    std::uint32_t largest = aigVariable(gate.lhs);
    if (gate.rhs0 != kTrue) largest = std::max(largest, aigVariable(gate.rhs0));
    if (gate.rhs1 != kTrue) largest = std::max(largest, aigVariable(gate.rhs1));
    summary.largestVariable = std::max(summary.largestVariable, largest);
    return;
  }
  forEachGateClause(gate, [&summary](const ShortClause& clause) {
    ++summary.count;
    for (unsigned i = 0; i < clause.size; ++i) {
      summary.largestVariable = std::max(summary.largestVariable, variableOf(clause.literals[i]));
    }
  });
}

}  // namespace

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
