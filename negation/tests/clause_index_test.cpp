#include "negation/clause_index.hpp"

#include <gtest/gtest.h>

#include <utility>

namespace ZEFI {
namespace {

ClauseArray setOf(std::initializer_list<std::initializer_list<Literal>> sets) {
  ClauseArray array;
  for (const auto& set : sets) array.append(set);
  return array;
}

TEST(ClauseIndex, NewIndexFindsNothing) {
  const ClauseIndex index;
  EXPECT_EQ(index.findCnf(1), nullptr);
  EXPECT_EQ(index.findDnf(1), nullptr);
  EXPECT_TRUE(index.cnfDefinitions.empty());
  EXPECT_TRUE(index.dnfDefinitions.empty());
}

TEST(ClauseIndex, DnfAfterCnfLeavesOnlyTheDnf) {
  ClauseIndex index;
  index.defineCnf(5, setOf({{2, 4}}));
  index.defineDnf(5, setOf({{3}, {6, 7}}));
  EXPECT_EQ(index.findCnf(5), nullptr);
  EXPECT_EQ(index.cnfDefinitions.count(5), 0u);
  ASSERT_NE(index.findDnf(5), nullptr);
  EXPECT_EQ(*index.findDnf(5), setOf({{3}, {6, 7}}));
}

TEST(ClauseIndex, CnfAfterDnfLeavesOnlyTheCnf) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{3}, {6, 7}}));
  index.defineCnf(5, setOf({{2, 4}}));
  EXPECT_EQ(index.findDnf(5), nullptr);
  EXPECT_EQ(index.dnfDefinitions.count(5), 0u);
  ASSERT_NE(index.findCnf(5), nullptr);
  EXPECT_EQ(*index.findCnf(5), setOf({{2, 4}}));
}

TEST(ClauseIndex, SecondDefinitionReplacesTheFirst) {
  ClauseIndex index;
  index.defineDnf(5, setOf({{2}}));
  index.defineDnf(5, setOf({{4, 6}, {}}));
  EXPECT_EQ(index.dnfDefinitions.size(), 1u);
  EXPECT_EQ(*index.findDnf(5), setOf({{4, 6}, {}}));
  index.defineCnf(5, setOf({{8}}));
  index.defineCnf(5, setOf({{9}}));
  EXPECT_EQ(index.cnfDefinitions.size(), 1u);
  EXPECT_EQ(*index.findCnf(5), setOf({{9}}));
}

TEST(ClauseIndex, OtherVariablesAreLeftAlone) {
  ClauseIndex index;
  index.defineCnf(4, setOf({{2}}));
  index.defineDnf(6, setOf({{3}}));
  index.defineDnf(4, setOf({{5}}));
  EXPECT_EQ(*index.findDnf(6), setOf({{3}}));
  EXPECT_EQ(*index.findDnf(4), setOf({{5}}));
  EXPECT_EQ(index.findCnf(6), nullptr);
}

TEST(ClauseIndex, StoredSetIsACopyOfTheCallersLvalue) {
  ClauseIndex index;
  ClauseArray cubes = setOf({{2, 5}, {7}});
  index.defineDnf(3, cubes);
  cubes.clear();
  cubes.append({9});
  EXPECT_EQ(*index.findDnf(3), setOf({{2, 5}, {7}}));

  ClauseArray clauses = setOf({{4}});
  index.defineCnf(8, clauses);
  clauses = setOf({{10, 12}});
  EXPECT_EQ(*index.findCnf(8), setOf({{4}}));
}

TEST(ClauseIndex, MovedInSetKeepsItsStorage) {
  // The pipeline hands over the whole complemented matrix; it must not be copied.
  ClauseIndex index;
  ClauseArray cubes;
  for (Literal l = 2; l < 2000; ++l) cubes.append({l, l + 2});
  const Literal* const data = cubes[0].data();
  const CubeArray& stored = index.defineDnf(7, std::move(cubes));
  EXPECT_EQ(stored[0].data(), data);
  EXPECT_EQ(stored.size(), 1998u);
}

TEST(ClauseIndex, ReturnedSetIsTheStoredOne) {
  ClauseIndex index;
  const CubeArray& cubes = index.defineDnf(2, setOf({{4}}));
  EXPECT_EQ(&cubes, index.findDnf(2));
  const ClauseArray& clauses = index.defineCnf(3, setOf({{6}}));
  EXPECT_EQ(&clauses, index.findCnf(3));
}

TEST(ClauseIndex, EmptySetIsADefinitionNotAnAbsence) {
  ClauseIndex index;
  index.defineDnf(5, ClauseArray{});
  ASSERT_NE(index.findDnf(5), nullptr);
  EXPECT_TRUE(index.findDnf(5)->empty());
  index.defineCnf(6, ClauseArray{});
  ASSERT_NE(index.findCnf(6), nullptr);
  EXPECT_TRUE(index.findCnf(6)->empty());
}

TEST(ClauseIndex, KeysAreWalkedInAscendingUnsignedOrder) {
  ClauseIndex index;
  index.defineDnf(0x80000000u, ClauseArray{});
  index.defineDnf(3, ClauseArray{});
  index.defineDnf(0xFFFFFFFFu, ClauseArray{});
  std::vector<std::uint32_t> keys;
  for (const auto& [key, cubes] : index.dnfDefinitions) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::uint32_t>{3, 0x80000000u, 0xFFFFFFFFu}));
}

}  // namespace
}  // namespace ZEFI
