// Clauses (disjunctions) and cubes (conjunctions) of literals, and flat arrays of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

#include "formula/bulk_allocator.hpp"
#include "formula/literal.hpp"

namespace ZEFI {

// A clause keeps its literals in insertion order, contiguously. Built through addLiteral it
// holds no literal twice; a literal and its complement may stand together. The duplicate
// test is a scan while the clause is short and a hashed lookup once it is long, so building
// a clause of n distinct literals costs O(n) expected time, never O(n^2).
class Clause {
 public:
  Clause();
  Clause(std::initializer_list<Literal> literals);     // appended through addLiteral
  explicit Clause(std::span<const Literal> literals);  // appended through addLiteral
  Clause(const Clause& other);
  Clause(Clause&& other) noexcept;
  Clause& operator=(const Clause& other);
  Clause& operator=(Clause&& other) noexcept;
  ~Clause();

  std::span<const Literal> literals() const { return {literals_.data(), literals_.size()}; }
  std::size_t size() const { return literals_.size(); }
  bool empty() const { return literals_.empty(); }
  Literal operator[](std::size_t i) const { return literals_[i]; }
  auto begin() const { return literals_.begin(); }
  auto end() const { return literals_.end(); }
  bool operator==(const Clause& other) const { return literals_ == other.literals_; }

 private:
  struct Index;  // open-addressing set of the literals, built once the clause is long
  std::vector<Literal> literals_;
  std::unique_ptr<Index> index_;

  friend bool clauseContains(const Clause&, Literal);
  friend void addLiteral(Clause&, Literal);
  friend void removeLiteral(Clause&, Literal);
  friend void removeVariable(Clause&, std::uint32_t);
  friend void clearClause(Clause&);
};

// Read as a conjunction where the negation needs it; the same container.
using Cube = Clause;

bool clauseContains(const Clause& clause, Literal literal);
void addLiteral(Clause& clause, Literal literal);             // appends unless already present
void addLiterals(Clause& clause, const Clause& other);        // addLiteral of each, in order
void removeLiteral(Clause& clause, Literal literal);          // every equal element
void removeVariable(Clause& clause, std::uint32_t variable);  // either polarity
Literal findVariable(const Clause& clause, std::uint32_t variable);  // first match, or 0
bool isTautology(const Clause& clause);  // some literal together with its complement
std::size_t clauseSize(const Clause& clause);
bool clauseIsEmpty(const Clause& clause);
void clearClause(Clause& clause);
bool complementClause(const Clause& clause, Clause& out);  // out = complements, in order

// A sequence of clauses stored flat: all literals in one contiguous array and the end
// offset of each clause in another. This is the matrix of a formula, the cubes of a
// negated matrix, and a definition in the clause index. Literals of an appended clause are
// stored as given (the reader and the negation deduplicate before appending).
class ClauseArray {
 public:
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::size_t literalCount() const { return literals_.size(); }
  std::size_t clauseCapacity() const { return ends_.capacity(); }  // clauses room is kept for
  std::span<const Literal> operator[](std::size_t i) const {
    const std::size_t first = i == 0 ? 0 : ends_[i - 1];
    return {literals_.data() + first, ends_[i] - first};
  }

  // The literals from position first (of all, in order) to the end.
  std::span<const Literal> literalsFrom(std::size_t first) const {
    return {literals_.data() + first, literals_.size() - first};
  }

  void append(std::span<const Literal> literals);
  void append(const Clause& clause) { append(clause.literals()); }
  void append(std::initializer_list<Literal> literals) {
    append(std::span<const Literal>(literals.begin(), literals.size()));
  }
  // Appends literals to the clause being built; closeClause ends it.
  void pushLiteral(Literal literal) { literals_.push_back(literal); }
  void closeClause() { ends_.push_back(literals_.size()); }
  void clear();
  void reserve(std::size_t clauses, std::size_t literals);
  // Replaces each clause by its complement, in place and in order: every literal
  // complemented, a literal the clause already holds not kept a second time.
  void complementEach();
  // Whether some clause holds a literal twice (complementEach would drop it).
  bool repeatsLiteral() const;
  // For an array consumed front to back: hands the memory under the clauses before clause
  // back to the system where it can (whole pages of large arrays). Those clauses must not
  // be read again; the array keeps its size until it is cleared or goes.
  void discardBefore(std::size_t clause);

  class Iterator {
   public:
    Iterator(const ClauseArray* array, std::size_t i) : array_(array), i_(i) {}
    std::span<const Literal> operator*() const { return (*array_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return i_ == other.i_; }

   private:
    const ClauseArray* array_;
    std::size_t i_;
  };
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, size()}; }

  bool operator==(const ClauseArray& other) const = default;

 private:
  std::vector<Literal, BulkAllocator<Literal>> literals_;
  std::vector<std::size_t, BulkAllocator<std::size_t>> ends_;
};

using CubeArray = ClauseArray;

}  // namespace ZEFI
