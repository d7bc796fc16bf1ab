// Definitions of variables by sets of clauses (conjunctive) or cubes (disjunctive).
#pragma once

#include <cstdint>
#include <map>

#include "formula/clause.hpp"

namespace ZEFI {

class ClauseIndex {
 public:
  std::map<std::uint32_t, ClauseArray> cnfDefinitions;  // variable = AND of its clauses
  std::map<std::uint32_t, CubeArray> dnfDefinitions;    // variable = OR of its cubes
  // variable = NOT (AND of its clauses): the OR of the clauses' complements, taken as they are
  std::map<std::uint32_t, ClauseArray> negatedCnfDefinitions;

  // Each drops any definition of the other readings and stores the given set (taken by
  // value: pass an rvalue to hand over a large matrix without copying it). Returns the
  // stored set.
  const CubeArray& defineDnf(std::uint32_t variable, CubeArray cubes);
  const ClauseArray& defineCnf(std::uint32_t variable, ClauseArray clauses);
  const ClauseArray& defineNegatedCnf(std::uint32_t variable, ClauseArray clauses);

  const ClauseArray* findCnf(std::uint32_t variable) const;  // null when none
  const CubeArray* findDnf(std::uint32_t variable) const;
  const ClauseArray* findNegatedCnf(std::uint32_t variable) const;
  ClauseArray* findCnf(std::uint32_t variable);
  CubeArray* findDnf(std::uint32_t variable);
  ClauseArray* findNegatedCnf(std::uint32_t variable);
};

}  // namespace ZEFI
