// Helpers shared by the negation tests: owning stores, gate lists and signed clause lists.
#pragma once

#include <array>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "aiger/aiger.hpp"
#include "formula/clause.hpp"
#include "negation/encode.hpp"

namespace ZEFI::testing {

struct StoreRelease {
  void operator()(AigStore* store) const { store->destroy(); }
};
using StorePtr = std::unique_ptr<AigStore, StoreRelease>;
inline StorePtr newStore() {
  return StorePtr(AigStore::createDefault());
}

using Gate = std::array<AigLiteral, 3>;
inline std::vector<Gate> gatesOf(const AigStore& store) {
  std::vector<Gate> gates;
  for (std::uint32_t i = 0; i < store.andCount; ++i) {
    gates.push_back({store.ands[i].lhs, store.ands[i].rhs0, store.ands[i].rhs1});
  }
  return gates;
}
inline std::vector<AigLiteral> literalsOf(const AigSymbol* symbols, std::uint32_t count) {
  std::vector<AigLiteral> literals;
  for (std::uint32_t i = 0; i < count; ++i) literals.push_back(symbols[i].literal);
  return literals;
}

using SignedClauses = std::vector<std::vector<long>>;
inline long signedOf(Literal literal) {
  const long variable = static_cast<long>(variableOf(literal));
  return isNegated(literal) ? -variable : variable;
}
inline SignedClauses signedClauses(const ClauseArray& clauses) {
  SignedClauses result;
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    std::vector<long> clause;
    for (const Literal literal : clauses[i]) clause.push_back(signedOf(literal));
    result.push_back(clause);
  }
  return result;
}
inline SignedClauses signedClauses(const GateClauses& clauses) {
  SignedClauses result;
  for (unsigned i = 0; i < clauses.count; ++i) {
    std::vector<long> clause;
    for (const Literal literal : clauses[i]) clause.push_back(signedOf(literal));
    result.push_back(clause);
  }
  return result;
}

inline ClauseArray setOf(std::initializer_list<std::initializer_list<Literal>> sets) {
  ClauseArray array;
  for (const auto& set : sets) array.append(set);
  return array;
}

// A string buffer that remembers how much text it held at its last flush.
class FlushRecordingBuffer : public std::stringbuf {
 public:
  std::size_t flushes = 0;
  std::size_t sizeAtLastFlush = 0;

 protected:
  int sync() override {
    ++flushes;
    sizeAtLastFlush = str().size();
    return std::stringbuf::sync();
  }
};

// Collects what is written on standard output while it lives.
class StdoutCapture {
 public:
  StdoutCapture() : previous_(std::cout.rdbuf(&buffer_)) {}
  ~StdoutCapture() { std::cout.rdbuf(previous_); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string text() const { return buffer_.str(); }
  // True when nothing written stayed behind the last flush.
  bool flushed() const { return buffer_.sizeAtLastFlush == buffer_.str().size(); }

 private:
  FlushRecordingBuffer buffer_;
  std::streambuf* previous_;
};

}  // namespace ZEFI::testing
