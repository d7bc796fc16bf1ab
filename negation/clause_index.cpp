#include "negation/clause_index.hpp"

#include <utility>

namespace ZEFI {

// A variable has one reading at most: recording one drops the others. The set is moved into
// the map, so a caller that hands over an rvalue pays for no copy of a large matrix.
const CubeArray& ClauseIndex::defineDnf(std::uint32_t variable, CubeArray cubes) {
  cnfDefinitions.erase(variable);
  negatedCnfDefinitions.erase(variable);
  return dnfDefinitions.insert_or_assign(variable, std::move(cubes)).first->second;
}

const ClauseArray& ClauseIndex::defineCnf(std::uint32_t variable, ClauseArray clauses) {
  dnfDefinitions.erase(variable);
  negatedCnfDefinitions.erase(variable);
  return cnfDefinitions.insert_or_assign(variable, std::move(clauses)).first->second;
}

const ClauseArray& ClauseIndex::defineNegatedCnf(std::uint32_t variable, ClauseArray clauses) {
  cnfDefinitions.erase(variable);
  dnfDefinitions.erase(variable);
  return negatedCnfDefinitions.insert_or_assign(variable, std::move(clauses)).first->second;
}

const ClauseArray* ClauseIndex::findCnf(std::uint32_t variable) const {
  const auto found = cnfDefinitions.find(variable);
  return found == cnfDefinitions.end() ? nullptr : &found->second;
}

const CubeArray* ClauseIndex::findDnf(std::uint32_t variable) const {
  const auto found = dnfDefinitions.find(variable);
  return found == dnfDefinitions.end() ? nullptr : &found->second;
}

ClauseArray* ClauseIndex::findCnf(std::uint32_t variable) {
  return const_cast<ClauseArray*>(std::as_const(*this).findCnf(variable));
}

CubeArray* ClauseIndex::findDnf(std::uint32_t variable) {
  return const_cast<CubeArray*>(std::as_const(*this).findDnf(variable));
}

const ClauseArray* ClauseIndex::findNegatedCnf(std::uint32_t variable) const {
  const auto found = negatedCnfDefinitions.find(variable);
  return found == negatedCnfDefinitions.end() ? nullptr : &found->second;
}

ClauseArray* ClauseIndex::findNegatedCnf(std::uint32_t variable) {
  return const_cast<ClauseArray*>(std::as_const(*this).findNegatedCnf(variable));
}

}  // namespace ZEFI
