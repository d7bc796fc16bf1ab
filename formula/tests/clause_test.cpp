#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "formula/formula.hpp"

namespace ZEFI {
namespace {

std::vector<Literal> lits(const Clause& c) {
  return {c.begin(), c.end()};
}

TEST(LiteralTest, PacksVariableAndSign) {
  EXPECT_EQ(makeLiteral(3, false), 6u);
  EXPECT_EQ(makeLiteral(3, true), 7u);
  EXPECT_EQ(complementOf(7u), 6u);
  EXPECT_EQ(variableOf(11u), 5u);
  EXPECT_TRUE(isNegated(11u));
  EXPECT_EQ(makeLiteral(maxVariableIndex, true), 0xFFFFFFFFu);
}

TEST(ClauseTest, AddLiteralDropsRepeatsButKeepsComplement) {
  Clause c;
  for (Literal l : {6u, 7u, 6u}) addLiteral(c, l);
  EXPECT_EQ(lits(c), (std::vector<Literal>{6, 7}));
  EXPECT_EQ(clauseSize(c), 2u);
  EXPECT_FALSE(clauseIsEmpty(c));
}

struct TautologyCase {
  std::vector<Literal> literals;
  bool tautology;
};

TEST(ClauseTest, IsTautologyShortAndLong) {
  std::vector<TautologyCase> cases = {{{6, 7}, true}, {{6, 8}, false}, {{}, false}, {{1, 0}, true}};
  // Long clauses go through the hashed path: the clashing pair at both ends, and none.
  std::vector<Literal> longNo, longYes;
  for (Literal v = 1; v <= 100; ++v) longNo.push_back(makeLiteral(v, v % 3 == 0));
  longYes = longNo;
  longYes.push_back(complementOf(longNo.front()));
  cases.push_back({longNo, false});
  cases.push_back({longYes, true});
  for (const auto& tc : cases) {
    EXPECT_EQ(isTautology(Clause(std::span<const Literal>(tc.literals))), tc.tautology)
        << tc.literals.size() << " literals";
  }
}

TEST(ClauseTest, FindRemoveComplementAndUnion) {
  EXPECT_EQ(findVariable(Clause{6, 9}, 4), 9u);
  EXPECT_EQ(findVariable(Clause{6, 9}, 7), 0u);
  EXPECT_EQ(findVariable(Clause{6, 9, 7}, 3), 6u);  // first match from the front

  Clause r{6, 9, 7};
  removeVariable(r, 3);
  EXPECT_EQ(lits(r), (std::vector<Literal>{9}));

  Clause rl{6, 9, 7};
  removeLiteral(rl, 9);
  EXPECT_EQ(lits(rl), (std::vector<Literal>{6, 7}));

  Clause out{100, 101};
  EXPECT_TRUE(complementClause(Clause{6, 9}, out));
  EXPECT_EQ(lits(out), (std::vector<Literal>{7, 8}));
  EXPECT_TRUE(complementClause(Clause{}, out));
  EXPECT_TRUE(clauseIsEmpty(out));

  Clause u{6, 8};
  addLiterals(u, Clause{8, 11, 6});
  EXPECT_EQ(lits(u), (std::vector<Literal>{6, 8, 11}));

  Clause self{2, 4};
  addLiterals(self, self);
  EXPECT_EQ(lits(self), (std::vector<Literal>{2, 4}));

  clearClause(u);
  EXPECT_TRUE(clauseIsEmpty(u));
  addLiteral(u, 6);
  EXPECT_EQ(lits(u), (std::vector<Literal>{6}));
}

// Past the length where the clause switches to an index, the no-repeat rule, removals and
// copies must behave exactly as for a short clause.
TEST(ClauseTest, LongClauseKeepsSemanticsAcrossIndexThreshold) {
  for (std::size_t n : {15u, 16u, 17u, 40u, 1000u}) {
    Clause c;
    std::vector<Literal> expected;
    for (std::size_t i = 0; i < n; ++i) {
      const Literal l = makeLiteral(static_cast<std::uint32_t>(i + 1), i % 2 == 1);
      addLiteral(c, l);
      addLiteral(c, l);  // repeat at once
      expected.push_back(l);
    }
    for (Literal l : expected) addLiteral(c, l);  // every literal once more
    ASSERT_EQ(lits(c), expected) << n;
    for (Literal l : expected) EXPECT_TRUE(clauseContains(c, l));
    EXPECT_FALSE(clauseContains(c, makeLiteral(5000, false)));

    // Remove the first half by variable and by literal; the index must forget them.
    for (std::size_t i = 0; i < n / 2; ++i) {
      if (i % 2 == 0) {
        removeVariable(c, variableOf(expected[i]));
      } else {
        removeLiteral(c, expected[i]);
      }
    }
    std::vector<Literal> rest(expected.begin() + static_cast<std::ptrdiff_t>(n / 2),
                              expected.end());
    ASSERT_EQ(lits(c), rest) << n;
    EXPECT_FALSE(n / 2 > 0 && clauseContains(c, expected[0]));
    addLiteral(c, expected[0]);  // allowed again once removed
    rest.push_back(expected[0]);
    for (Literal l : expected) addLiteral(c, l);  // the removed others come back, in order
    for (std::size_t i = 1; i < n / 2; ++i) rest.push_back(expected[i]);
    ASSERT_EQ(lits(c), rest) << n;

    Clause copy(c);
    Clause assigned;
    assigned = c;
    for (const Clause* k : {&copy, &assigned}) {
      Clause x = *k;
      for (Literal l : expected) addLiteral(x, l);
      EXPECT_EQ(lits(x), rest) << n;
    }
    Clause moved(std::move(copy));
    addLiteral(moved, makeLiteral(9999, true));
    EXPECT_EQ(moved.size(), rest.size() + 1);
  }
}

TEST(ClauseTest, MillionDistinctLiteralsIsFast) {
  const auto start = std::chrono::steady_clock::now();
  Clause c;
  std::mt19937 rng(7);
  std::vector<std::uint32_t> vars(1000000);
  for (std::uint32_t i = 0; i < vars.size(); ++i) vars[i] = i + 1;
  std::shuffle(vars.begin(), vars.end(), rng);
  for (std::uint32_t v : vars) addLiteral(c, makeLiteral(v, v & 1));
  for (std::uint32_t v : vars) addLiteral(c, makeLiteral(v, v & 1));
  EXPECT_EQ(c.size(), 1000000u);
  EXPECT_FALSE(isTautology(c));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);  // quadratic behaviour would take hours
}

TEST(ClauseArrayTest, FlatStorageAndSelfAppend) {
  ClauseArray a;
  a.append({2, 5});
  a.append(std::span<const Literal>());
  a.pushLiteral(8);
  a.closeClause();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a.literalCount(), 3u);
  EXPECT_EQ(std::vector<Literal>(a[0].begin(), a[0].end()), (std::vector<Literal>{2, 5}));
  EXPECT_TRUE(a[1].empty());
  for (int i = 0; i < 100; ++i) a.append(a[0]);  // a clause of the same array, while growing
  EXPECT_EQ(a.size(), 103u);
  EXPECT_EQ(std::vector<Literal>(a[102].begin(), a[102].end()), (std::vector<Literal>{2, 5}));
  std::size_t count = 0;
  for (auto clause : a) count += clause.size();
  EXPECT_EQ(count, a.literalCount());
  a.clear();
  EXPECT_TRUE(a.empty());
}

TEST(VariableMapTest, InsertFindAndSortedKeys) {
  VariableMap<std::uint32_t> m;
  EXPECT_EQ(m.find(1), nullptr);
  EXPECT_FALSE(m.contains(0));
  std::mt19937 rng(3);
  std::vector<std::uint32_t> keys;
  for (int i = 0; i < 5000; ++i) keys.push_back(rng() | 1u);
  keys.push_back(0xFFFFFFFFu);
  keys.push_back(0);
  for (std::uint32_t k : keys) m[k] = k ^ 0x55u;
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  EXPECT_EQ(m.size(), keys.size());
  EXPECT_EQ(m.sortedKeys(), keys);
  for (std::uint32_t k : keys) {
    ASSERT_NE(m.find(k), nullptr);
    EXPECT_EQ(*m.find(k), k ^ 0x55u);
  }
  EXPECT_FALSE(m.contains(2));  // even numbers other than 0 were never inserted
  auto [value, inserted] = m.tryEmplace(2);
  EXPECT_TRUE(inserted);
  EXPECT_EQ(*value, 0u);
  EXPECT_FALSE(m.tryEmplace(2).second);
  m.clear();
  EXPECT_TRUE(m.empty());
  EXPECT_TRUE(m.sortedKeys().empty());
}

// Dense small keys, sparse huge ones and keys that the dense part takes over later, inserted
// in mixed order: the map agrees with an ordered reference at every step's end.
TEST(VariableMapTest, DenseAndSparseKeysAgreeWithAnOrderedMap) {
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    VariableMap<std::uint32_t> m;
    std::map<std::uint32_t, std::uint32_t> reference;
    std::mt19937 rng(seed);
    for (int i = 0; i < 200000; ++i) {
      std::uint32_t key = 0;
      switch (rng() % 4) {
        case 0:
          key = rng();
          break;  // anywhere
        case 1:
          key = 1 + rng() % 4096;
          break;  // small
        default:
          key = 1 + static_cast<std::uint32_t>(i) * 2;
          break;  // a growing dense run
      }
      const std::uint32_t value = rng();
      auto [entry, inserted] = m.tryEmplace(key);
      EXPECT_EQ(inserted, reference.count(key) == 0) << key;
      *entry = value;
      reference[key] = value;
    }
    ASSERT_EQ(m.size(), reference.size());
    std::vector<std::uint32_t> keys;
    for (const auto& [key, value] : reference) {
      keys.push_back(key);
      const std::uint32_t* found = m.find(key);
      ASSERT_NE(found, nullptr) << key;
      EXPECT_EQ(*found, value) << key;
    }
    EXPECT_EQ(m.sortedKeys(), keys);
    EXPECT_EQ(m.find(0), nullptr);
  }
}

// Keys a few apart keep the array just short of what its entries justify, so that each new
// key would widen it a little; it must grow by doubling, not once per key.
TEST(VariableMapTest, KeysSpacedJustBeyondTheArrayStayLinear) {
  const auto start = std::chrono::steady_clock::now();
  VariableMap<std::uint32_t> m;
  // Far keys fill the hash table, which a widening array takes its keys out of.
  for (std::uint32_t i = 0; i < 500000; ++i) m[4000000000u - i] = i;
  for (std::uint32_t i = 0; i < 2000000; ++i) m[1 + 4 * i] = i;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  ASSERT_EQ(m.size(), 2500000u);
  EXPECT_EQ(*m.find(1 + 4 * 1999999u), 1999999u);
  EXPECT_EQ(m.find(3), nullptr);
}

}  // namespace
}  // namespace ZEFI
