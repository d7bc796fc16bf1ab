#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "formula/formula.hpp"

namespace ZEFI {

namespace {

// Room reserved on a bare count, whatever the count says: more is grown on demand.
constexpr std::uint64_t kReserveLimit = std::uint64_t{1} << 22;

}  // namespace

void Formula::reserveClauses(std::uint64_t count) {
  const auto room = static_cast<std::size_t>(std::min(count, kReserveLimit));
  if (room <= clauses.size()) return;
  try {
    clauses.reserve(room, 0);
  } catch (const std::bad_alloc&) {
    // Only a hint: the array grows as clauses arrive.
  } catch (const std::length_error&) {
  }
}

bool Formula::complementedClauses(CubeArray& out) const {
  CubeArray cubes(clauses);
  cubes.complementEach();
  out = std::move(cubes);
  return true;
}

bool Formula::setComplementedClauses(const CubeArray& cubes) {
  ClauseArray complemented(cubes);  // a copy first: cubes may be these very clauses
  complemented.complementEach();
  clauses = std::move(complemented);
  return true;
}

// Removing the innermost variable of the clause while it is universal, one variable per
// round, picks the variables in order of decreasing position (ties to the one that occurs
// first in the clause) and stops at the first that is not universal or has position 0.
// Sorting the variables once by that order gives the same result without a rescan per
// round.
void Formula::reduceUniversal(Clause& clause) const {
  if (clause.empty()) return;
  struct Candidate {
    std::uint32_t position;
    std::size_t first;  // index of the variable's first literal in the clause
    std::uint32_t variable;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(clause.size());
  for (std::size_t i = 0; i < clause.size(); ++i) {
    const std::uint32_t variable = variableOf(clause[i]);
    const std::uint32_t* position = positionOf.find(variable);
    candidates.push_back({position ? *position : 0u, i, variable});
  }
  // One candidate per variable, the one with its first occurrence.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.variable != b.variable ? a.variable < b.variable : a.first < b.first;
  });
  candidates.erase(
      std::unique(candidates.begin(), candidates.end(),
                  [](const Candidate& a, const Candidate& b) { return a.variable == b.variable; }),
      candidates.end());
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.position != b.position ? a.position > b.position : a.first < b.first;
  });
  std::vector<std::uint32_t> removed;
  for (const Candidate& candidate : candidates) {
    if (candidate.position == 0) break;
    const Quantification* q = quantifierOf.find(candidate.variable);
    if (q == nullptr || q->kind != Forall) break;
    removed.push_back(candidate.variable);
  }
  if (removed.empty()) return;
  if (removed.size() == 1) {
    removeVariable(clause, removed.front());
    return;
  }
  std::sort(removed.begin(), removed.end());
  std::vector<Literal> kept;
  kept.reserve(clause.size());
  for (Literal l : clause) {
    if (!std::binary_search(removed.begin(), removed.end(), variableOf(l))) kept.push_back(l);
  }
  clause = Clause(std::span<const Literal>(kept));
}

bool Formula::resolve(std::size_t first, std::size_t second, std::uint32_t variable) {
  if (first >= clauses.size() || second >= clauses.size()) return false;
  Clause a(clauses[first]);
  Clause b(clauses[second]);
  const Literal pivotA = findVariable(a, variable);
  const Literal pivotB = findVariable(b, variable);
  if (variableOf(pivotA) != variableOf(pivotB) || isNegated(pivotA) == isNegated(pivotB)) {
    return false;
  }
  removeLiteral(a, pivotA);
  removeLiteral(b, pivotB);
  addLiterals(a, b);
  reduceUniversal(a);
  clauses.append(a);
  return true;
}

}  // namespace ZEFI
