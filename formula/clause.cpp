#include <algorithm>
#include <utility>

#include "formula/formula.hpp"
#include "formula/literal_set.hpp"

namespace ZEFI {

namespace {
// Up to this many literals a linear scan beats hashing; beyond it the clause keeps an index.
constexpr std::size_t kIndexThreshold = 16;
}  // namespace

struct Clause::Index {
  LiteralSet set;
};

Clause::Clause() = default;

Clause::Clause(std::initializer_list<Literal> literals) {
  for (Literal literal : literals) addLiteral(*this, literal);
}

Clause::Clause(std::span<const Literal> literals) {
  for (Literal literal : literals) addLiteral(*this, literal);
}

Clause::Clause(const Clause& other)
    : literals_(other.literals_),
      index_(other.index_ ? std::make_unique<Index>(*other.index_) : nullptr) {}

Clause::Clause(Clause&& other) noexcept
    : literals_(std::move(other.literals_)), index_(std::move(other.index_)) {
  other.literals_.clear();
}

Clause& Clause::operator=(const Clause& other) {
  if (this != &other) {
    literals_ = other.literals_;
    index_ = other.index_ ? std::make_unique<Index>(*other.index_) : nullptr;
  }
  return *this;
}

Clause& Clause::operator=(Clause&& other) noexcept {
  if (this != &other) {
    literals_ = std::move(other.literals_);
    index_ = std::move(other.index_);
    other.literals_.clear();
  }
  return *this;
}

Clause::~Clause() = default;

bool clauseContains(const Clause& clause, Literal literal) {
  if (clause.index_) return clause.index_->set.contains(literal);
  for (Literal l : clause.literals_) {
    if (l == literal) return true;
  }
  return false;
}

void addLiteral(Clause& clause, Literal literal) {
  if (clause.index_) {
    if (!clause.index_->set.insert(literal)) return;
  } else {
    for (Literal l : clause.literals_) {
      if (l == literal) return;
    }
    if (clause.literals_.size() >= kIndexThreshold) {
      clause.index_ = std::make_unique<Clause::Index>();
      clause.index_->set.reset(clause.literals_.size() + 1);
      for (Literal l : clause.literals_) clause.index_->set.insert(l);
      clause.index_->set.insert(literal);
    }
  }
  clause.literals_.push_back(literal);
}

void addLiterals(Clause& clause, const Clause& other) {
  if (&clause == &other) return;  // every literal is already present
  for (Literal literal : other.literals()) addLiteral(clause, literal);
}

namespace {
// After a removal the index would hold stale members: rebuild it for a long clause, drop it
// for a short one. Either way the cost is linear, like the removal itself.
template <class Index>
void refreshIndex(std::vector<Literal>& literals, std::unique_ptr<Index>& index) {
  if (literals.size() <= kIndexThreshold) {
    index.reset();
    return;
  }
  if (!index) index = std::make_unique<Index>();
  index->set.reset(literals.size());
  for (Literal l : literals) index->set.insert(l);
}
}  // namespace

void removeLiteral(Clause& clause, Literal literal) {
  const auto removed = std::erase(clause.literals_, literal);
  if (removed != 0 && clause.index_) refreshIndex(clause.literals_, clause.index_);
}

void removeVariable(Clause& clause, std::uint32_t variable) {
  const auto removed =
      std::erase_if(clause.literals_, [variable](Literal l) { return variableOf(l) == variable; });
  if (removed != 0 && clause.index_) refreshIndex(clause.literals_, clause.index_);
}

Literal findVariable(const Clause& clause, std::uint32_t variable) {
  for (Literal l : clause.literals()) {
    if (variableOf(l) == variable) return l;
  }
  return Literal{};
}

bool isTautology(const Clause& clause) {
  const auto literals = clause.literals();
  if (literals.size() <= kIndexThreshold) {
    for (std::size_t i = 0; i < literals.size(); ++i) {
      for (std::size_t j = i; j < literals.size(); ++j) {
        if (literals[j] == complementOf(literals[i])) return true;
      }
    }
    return false;
  }
  LiteralSet seen;
  seen.reset(literals.size());
  for (Literal l : literals) seen.insert(l);
  for (Literal l : literals) {
    if (seen.contains(complementOf(l))) return true;
  }
  return false;
}

std::size_t clauseSize(const Clause& clause) {
  return clause.size();
}

bool clauseIsEmpty(const Clause& clause) {
  return clause.empty();
}

void clearClause(Clause& clause) {
  clause.literals_.clear();
  clause.index_.reset();
}

bool complementClause(const Clause& clause, Clause& out) {
  if (&clause == &out) {
    const Clause copy(clause);
    return complementClause(copy, out);
  }
  clearClause(out);
  for (Literal l : clause.literals()) addLiteral(out, complementOf(l));
  return true;
}

void ClauseArray::append(std::span<const Literal> literals) {
  const Literal* data = literals_.data();
  if (!literals.empty() && literals.data() >= data && literals.data() < data + literals_.size()) {
    // A clause of this very array: growing could move it before it is copied.
    const std::vector<Literal> copy(literals.begin(), literals.end());
    append(copy);
    return;
  }
  literals_.insert(literals_.end(), literals.begin(), literals.end());
  ends_.push_back(literals_.size());
}

void ClauseArray::complementEach() {
  // Literals only ever move towards the front, so the clauses are compacted where they are.
  LiteralSet seen;
  std::size_t kept = 0;
  std::size_t first = 0;
  for (std::size_t& end : ends_) {
    const auto start = static_cast<std::ptrdiff_t>(kept);
    const bool indexed = end - first > kIndexThreshold;
    if (indexed) seen.reset(end - first);
    for (std::size_t k = first; k < end; ++k) {
      const Literal complement = complementOf(literals_[k]);
      const bool fresh =
          indexed ? seen.insert(complement)
                  : std::find(literals_.begin() + start,
                              literals_.begin() + static_cast<std::ptrdiff_t>(kept),
                              complement) == literals_.begin() + static_cast<std::ptrdiff_t>(kept);
      if (fresh) literals_[kept++] = complement;
    }
    first = end;
    end = kept;
  }
  literals_.resize(kept);
}

bool ClauseArray::repeatsLiteral() const {
  LiteralSet seen;
  std::size_t first = 0;
  for (const std::size_t end : ends_) {
    if (end - first > kIndexThreshold) {
      seen.reset(end - first);
      for (std::size_t k = first; k < end; ++k) {
        if (!seen.insert(literals_[k])) return true;
      }
    } else {
      for (std::size_t k = first + 1; k < end; ++k) {
        for (std::size_t j = first; j < k; ++j) {
          if (literals_[j] == literals_[k]) return true;
        }
      }
    }
    first = end;
  }
  return false;
}

void ClauseArray::discardBefore(std::size_t clause) {
  if (clause == 0 || clause > ends_.size()) return;
  using Literals = BulkAllocator<Literal>;
  using Ends = BulkAllocator<std::size_t>;
  Literals::discard(literals_.data(), literals_.capacity(), ends_[clause - 1]);
  Ends::discard(ends_.data(), ends_.capacity(), clause - 1);  // ends_[clause - 1] starts the next
}

void ClauseArray::clear() {
  literals_.clear();
  ends_.clear();
}

void ClauseArray::reserve(std::size_t clauses, std::size_t literals) {
  ends_.reserve(clauses);
  literals_.reserve(literals);
}

}  // namespace ZEFI
