// The AIGER reader: every message with its line or byte position, the accepted edge cases,
// and the same results through the callback, stream and path sources.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "aiger/tests/aiger_io_support.hpp"
#include "aiger/tests/store_test_support.hpp"

namespace ZEFI {
namespace {

using namespace io_test;

struct ReadCase {
  const char* what;
  std::string input;
  std::string message;  // "" for success
};

std::string binaryHeader(const char* header, std::initializer_list<int> tail) {
  return std::string(header) + bytes(tail);
}

const std::vector<ReadCase>& readCases() {
  static const std::vector<ReadCase> cases = {
      // Header shape.
      {"empty input", "", "line 1: expected 'a' as first character"},
      {"leading newline", "\naag 0 0 0 0 0\n", "line 2: expected 'a' as first character"},
      {"wrong first byte", "b", "line 1: expected 'a' as first character"},
      {"second byte", "ab", "line 1: expected 'i' or 'a' after 'a'"},
      {"end after a", "a", "line 1: expected 'i' or 'a' after 'a'"},
      {"third byte", "aax", "line 1: expected 'g' after 'a[ai]'"},
      {"fourth byte", "aig", "line 1: expected ' ' after 'a[ai]g'"},
      {"newline as fourth byte", "aag\n", "line 2: expected ' ' after 'a[ai]g'"},
      {"two spaces", "aag 0  0 0 0 0\n", "line 1: expected literal"},
      {"sign", "aag -1 0 0 0 0\n", "line 1: expected literal"},
      {"missing final newline", "aag 0 0 0 0 0", "line 1: expected new line after literal 0"},
      {"trailing space", "aag 0 0 0 0 0 \n", "line 1: expected new line after literal 0"},
      {"four numbers", "aag 0 0 0 0\n", "line 1: expected space after literal 0"},
      {"binary sum differs", "aig 3 2 0 1 2\n", "line 2: invalid maximal variable index"},
      // Inputs.
      {"odd input", "aag 1 1 0 0 0\n3\n", "line 2: literal 3 is not a valid input"},
      {"constant input", "aag 1 1 0 0 0\n0\n", "line 2: literal 0 is not a valid input"},
      {"input above M, more follows", "aag 1 1 0 0 0\n4\nmore",
       "line 2: literal 4 is not a valid input"},
      {"input twice", "aag 1 2 0 0 0\n2\n2\n", "line 3: literal 2 already defined as input"},
      {"input without newline", "aag 1 1 0 0 0\n2", "line 2: expected new line after literal 2"},
      {"input with trailing space", "aag 1 1 0 0 0\n2 \n",
       "line 2: expected new line after literal 2"},
      {"input after tab", "aag 1 1 0 0 0\n\t2\n", "line 2: expected literal"},
      {"input wraps to odd", "aag 1 1 0 0 0\n4294967299\n",
       "line 2: literal 3 is not a valid input"},
      {"M wraps", "aag 4294967297 1 0 0 0\n4\n", "line 2: literal 4 is not a valid input"},
      // Latches.
      {"odd latch", "aag 1 0 1 0 0\n3 0\n", "line 2: literal 3 is not a valid latch"},
      {"latch next above M", "aag 1 0 1 0 0\n2 4\n", "line 2: literal 4 is not a valid literal"},
      {"latch next above M, more follows", "aag 1 0 1 0 0\n2 4\nx",
       "line 2: literal 4 is not a valid literal"},
      {"latch over input", "aag 2 1 1 0 0\n2\n2 0\n", "line 3: literal 2 already defined as input"},
      {"latch twice", "aag 1 0 2 0 0\n2 0\n2 0\n", "line 3: literal 2 already defined as latch"},
      {"latch without next", "aag 1 0 1 0 0\n2\n", "line 2: expected space after literal 2"},
      {"binary latch next above M", "aig 1 0 1 0 0\n4\n",
       "line 2: literal 4 is not a valid literal"},
      // Outputs.
      {"output above M", "aag 1 0 0 1 0\n4\n", "line 2: literal 4 is not a valid output"},
      {"undefined output passes the parse", "aag 1 0 0 1 0\n3\n", "output 2 undefined"},
      // ASCII gates.
      {"odd lhs", "aag 1 0 0 0 1\n3 0 0\n", "line 2: literal 3 is not a valid LHS of AND"},
      {"constant lhs", "aag 1 0 0 0 1\n0 0 0\n", "line 2: literal 0 is not a valid LHS of AND"},
      {"lhs over input", "aag 2 1 0 0 1\n2\n2 0 0\n", "line 3: literal 2 already defined as input"},
      {"lhs over latch", "aag 1 0 1 0 1\n2 0\n2 0 0\n",
       "line 3: literal 2 already defined as latch"},
      {"gate twice", "aag 1 0 0 0 2\n2 0 0\n2 1 1\n", "line 3: literal 2 already defined as AND"},
      {"rhs0 above M", "aag 1 0 0 0 1\n2 4 0\n", "line 2: literal 4 is not a valid literal"},
      {"rhs1 above M", "aag 1 0 0 0 1\n2 0 5\n", "line 2: literal 5 is not a valid literal"},
      {"rhs1 above M, more follows", "aag 1 0 0 0 1\n2 0 5\nzz",
       "line 2: literal 5 is not a valid literal"},
      {"gate without newline", "aag 1 0 0 0 1\n2 0 0", "line 2: expected new line after literal 0"},
      {"undefined operand", "aag 3 1 0 0 1\n2\n4 2 6\n", "literal 6 in AND 4 undefined"},
      // Binary gates.
      {"no gate bytes", "aig 3 2 0 1 1\n6\n", "character 16: unexpected end of file"},
      {"cut inside delta0", binaryHeader("aig 3 2 0 1 1\n6\n", {0x82}),
       "character 17: unexpected end of file"},
      {"no delta1", binaryHeader("aig 3 2 0 1 1\n6\n", {0x02}),
       "character 17: unexpected end of file"},
      {"cut inside delta1", binaryHeader("aig 3 2 0 1 1\n6\n", {0x02, 0x82}),
       "character 18: unexpected end of file"},
      {"six continuation bytes",
       binaryHeader("aig 1 0 0 0 1\n", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}),
       "character 15: invalid code"},
      {"sixth byte above 7", binaryHeader("aig 1 0 0 0 1\n", {0x80, 0x80, 0x80, 0x80, 0x80, 0x08}),
       "character 15: invalid code"},
      {"delta0 above lhs", binaryHeader("aig 3 2 0 1 1\n6\n", {0x07, 0x00}),
       "character 17: invalid delta"},
      {"delta0 of two bytes", binaryHeader("aig 3 2 0 1 1\n6\n", {0x80, 0x01, 0x00}),
       "character 17: invalid delta"},
      {"delta1 above rhs0", binaryHeader("aig 3 2 0 1 1\n6\n", {0x02, 0x05}),
       "character 18: invalid delta"},
      {"second gate", binaryHeader("aig 4 2 0 1 2\n8\n", {0x02, 0x02, 0x09, 0x00}),
       "character 19: invalid delta"},
      {"delta0 of 0 is a cycle", binaryHeader("aig 1 0 0 0 1\n", {0x00, 0x00}),
       "cyclic definition for and gate 1"},
      {"tolerated six-byte code",
       binaryHeader("aig 1 0 0 0 1\n", {0x80, 0x80, 0x80, 0x80, 0x80, 0x07, 0x00}),
       "cyclic definition for and gate 1"},
      // Symbol table.
      {"symbol letter", "aag 0 0 0 0 0\nx\n", "line 2: invalid symbol table entry"},
      {"empty symbol line", "aag 0 0 0 0 0\n\n", "line 3: invalid symbol table entry"},
      {"line count through gate bytes", binaryHeader("aig 6 5 0 0 1\n", {0x0A, 0x00, 'x', '\n'}),
       "line 3: invalid symbol table entry"},
      {"input position too large", "aag 2 2 0 0 0\n2\n4\ni5 x\n",
       "line 4: input symbol table entry position 5 too large"},
      {"latch position too large", "aag 1 0 1 0 0\n2 0\nl1 x\n",
       "line 3: latch symbol table entry position 1 too large"},
      {"output position too large", "aag 0 0 0 1 0\n0\no1 x\n",
       "line 3: output symbol table entry position 1 too large"},
      {"position too large, empty name", "aag 0 0 0 1 0\n0\no1 \n",
       "line 3: output symbol table entry position 1 too large"},
      {"input named twice", "aag 1 1 0 0 0\n2\ni0 a\ni0 b\n",
       "line 4: input 0 has multiple symbols"},
      {"latch named twice", "aag 1 0 1 0 0\n2 0\nl0 a\nl0 b\n",
       "line 4: latch 0 has multiple symbols"},
      {"output named twice", "aag 0 0 0 1 0\n1\no0 a\no0 b\n",
       "line 4: output 0 has multiple symbols"},
      {"name without newline", "aag 1 1 0 0 0\n2\ni0 a", "line 3: new line missing"},
      {"position without name", "aag 1 1 0 0 0\n2\ni0\n", "line 3: expected space after literal 0"},
      {"letter without position", "aag 1 1 0 0 0\n2\ni x\n", "line 3: expected literal"},
      {"space before position", "aag 1 1 0 0 0\n2\ni 0 x\n", "line 3: expected literal"},
      // Comments.
      {"lone c", "aag 0 0 0 0 0\nc", "line 2: expected new line after 'c'"},
      {"c with text", "aag 0 0 0 0 0\ncx\n", "line 2: expected new line after 'c'"},
      {"comment without newline", "aag 0 0 0 0 0\nc\nhello",
       "line 3: new line after comment missing"},
      {"second comment without newline", "aag 0 0 0 0 0\nc\none\ntwo",
       "line 4: new line after comment missing"},
      // Accepted.
      {"empty ASCII graph", "aag 0 0 0 0 0\n", ""},
      {"empty binary graph", "aig 0 0 0 0 0\n", ""},
      {"larger M in ASCII", "aag 5 1 0 0 0\n2\n", ""},
      {"binary gate", binaryHeader("aig 3 2 0 1 1\n6\n", {0x02, 0x02}), ""},
      {"gates before the gates they use", "aag 3 1 0 1 2\n2\n6\n6 4 2\n4 2 3\n", ""},
      {"empty name, then a name", "aag 1 1 0 0 0\n2\ni0 \ni0 x\n", ""},
      {"comment section without lines", "aag 0 0 0 0 0\nc\n", ""},
      {"fifth byte with lost bits",
       binaryHeader("aig 1 0 0 0 1\n", {0x81, 0x80, 0x80, 0x80, 0x10, 0x00}), ""},
      {"largest M", "aag 4294967295 1 0 1 0\n4294967294\n4294967295\n", ""},
      {"leading zeros", "aag 0003 01 0 1 001\n002\n06\n006 03 02\n", ""},
  };
  return cases;
}

class ReaderTable : public ::testing::TestWithParam<Source> {};

TEST_P(ReaderTable, EveryCaseGivesItsMessage) {
  for (const ReadCase& c : readCases()) {
    CountingMemory memory;
    AigStore* store = memory.createStore();
    const std::string message = readInto(store, c.input, GetParam());
    EXPECT_EQ(message, c.message) << c.what << " via " << sourceName(GetParam());
    if (!c.message.empty()) {
      ASSERT_NE(store->errorText(), nullptr) << c.what;
      EXPECT_EQ(std::string(store->errorText()), c.message);
    } else {
      EXPECT_EQ(store->errorText(), nullptr) << c.what;
    }
    store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << c.what << ": " << memory.faults.front();
    EXPECT_TRUE(memory.live.empty()) << c.what << ": blocks left";
  }
}

INSTANTIATE_TEST_SUITE_P(AllSources, ReaderTable,
                         ::testing::Values(Source::callback, Source::stream, Source::path),
                         [](const auto& info) { return std::string(sourceName(info.param)); });

TEST(Reader, CallbackIsNotAskedAgainAfterTheEnd) {
  for (const ReadCase& c : readCases()) {
    AigStore* store = AigStore::createDefault();
    StringGet get{c.input};
    store->read(&get, StringGet::get);
    EXPECT_LE(get.callsAfterEnd, 1u) << c.what;
    store->destroy();
  }
}

// Reads text with the default manager and returns the store (or fails the test).
AigStore* readOk(const std::string& text) {
  AigStore* store = AigStore::createDefault();
  StringGet get{text};
  const char* error = store->read(&get, StringGet::get);
  EXPECT_EQ(error, nullptr) << error;
  return store;
}

TEST(Reader, BinaryGateHasImplicitLhsAfterInputsAndLatches) {
  AigStore* s = readOk(binaryHeader("aig 4 1 1 1 2\n5\n8\n", {0x02, 0x02, 0x03, 0x01}));
  EXPECT_EQ(describe(s),
            "M4 I1 L1 O1 A2\ni0 2 0 [(null)]\nl0 4 5 [(null)]\no0 8 0 [(null)]\n"
            "a0 6 4 2\na1 8 5 4\n");
  s->destroy();
}

TEST(Reader, AsciiKeepsFileOrderAndDeclaredMaximum) {
  AigStore* s = readOk("aag 7 1 1 2 2\n6\n8 11\n11\n0\n10 8 7\n4 6 6\ni0 in\no1 out\n");
  EXPECT_EQ(describe(s),
            "M7 I1 L1 O2 A2\ni0 6 0 [in]\nl0 8 11 [(null)]\no0 11 0 [(null)]\no1 0 0 [out]\n"
            "a0 10 8 7\na1 4 6 6\n");
  EXPECT_EQ(s->findAnd(11), &s->ands[0]);
  EXPECT_STREQ(s->symbolName(7), "in");
  s->destroy();
}

TEST(Reader, NamesKeepInnerAndTrailingSpaces) {
  AigStore* s = readOk("aag 1 1 0 1 0\n2\n2\ni0  a b \no0 x\ty\n");
  EXPECT_STREQ(s->inputs[0].name, " a b ");
  EXPECT_STREQ(s->outputs[0].name, "x\ty");
  s->destroy();
}

TEST(Reader, EmptyNameGivesNoNameAndAllowsALaterOne) {
  AigStore* s = readOk("aag 2 2 0 0 0\n2\n4\ni1 \ni0 first\ni1 second\n");
  EXPECT_STREQ(s->inputs[0].name, "first");
  EXPECT_STREQ(s->inputs[1].name, "second");
  s->destroy();
}

TEST(Reader, CommentsKeepEmptyLinesInOrder) {
  AigStore* s = readOk("aag 0 0 0 0 0\nc\n\nsecond\n\nc\n");
  EXPECT_EQ(commentsOf(s), (std::vector<std::string>{"", "second", "", "c"}));
  s->destroy();
  AigStore* t = readOk("aag 0 0 0 0 0\nc\n");
  EXPECT_EQ(t->comments[0], nullptr);
  t->destroy();
}

TEST(Reader, SymbolsAndCommentsAfterBinaryGates) {
  AigStore* s = readOk(binaryHeader("aig 3 2 0 1 1\n6\n", {0x02, 0x02}) + "i0 a\nc\nhello\n");
  EXPECT_STREQ(s->inputs[0].name, "a");
  EXPECT_EQ(s->inputs[1].name, nullptr);
  EXPECT_EQ(commentsOf(s), std::vector<std::string>{"hello"});
  s->destroy();
}

TEST(Reader, FifthDeltaByteKeepsTheLowThirtyTwoBits) {
  AigStore* s = readOk(binaryHeader("aig 1 0 0 0 1\n", {0x81, 0x80, 0x80, 0x80, 0x10, 0x00}));
  ASSERT_EQ(s->andCount, 1u);
  EXPECT_EQ(s->ands[0].rhs0, 1u);
  EXPECT_EQ(s->ands[0].rhs1, 1u);
  s->destroy();
}

TEST(Reader, HeaderCountsReserveExactRoom) {
  CountingMemory memory;
  AigStore* s = memory.createStore();
  StringGet get{"aag 9 3 2 1 3\n2\n4\n6\n8 0\n10 1\n16\n12 2 4\n14 12 6\n16 14 3\n"};
  ASSERT_EQ(s->read(&get, StringGet::get), nullptr);
  EXPECT_EQ(AigStoreTestAccess::inputCapacity(*s), 3u);
  EXPECT_EQ(AigStoreTestAccess::latchCapacity(*s), 2u);
  EXPECT_EQ(AigStoreTestAccess::outputCapacity(*s), 1u);
  EXPECT_EQ(AigStoreTestAccess::andCapacity(*s), 3u);
  EXPECT_EQ(s->maxVar, 9u);
  s->destroy();
  EXPECT_TRUE(memory.live.empty());
}

// A manager that refuses large blocks the way a real one would end the program.
struct LimitedMemory {
  static void* allocate(void*, std::size_t bytes) {
    if (bytes > (std::size_t{1} << 30)) {
      std::fprintf(stderr, "refused %zu bytes\n", bytes);
      std::_Exit(3);
    }
    return std::malloc(bytes == 0 ? 1 : bytes);
  }
  static void release(void*, void* block, std::size_t) { std::free(block); }
};

TEST(ReaderDeathTest, ReservationBeyondTheManagerFailsThroughIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // 4294967295 inputs of the binary form take no bytes of the file, so they are all made
  // and reserved in full: 16 bytes each, asked of the manager at once.
  EXPECT_EXIT(
      {
        AigStore* s = AigStore::create(nullptr, LimitedMemory::allocate, LimitedMemory::release);
        StringGet get{"aig 4294967295 4294967295 0 0 0\n"};
        s->read(&get, StringGet::get);
      },
      ::testing::ExitedWithCode(3), "refused 68719476720 bytes");
  // Inputs whose count wraps the binary sum: the inputs array is asked for in full.
  EXPECT_EXIT(
      {
        AigStore* s = AigStore::create(nullptr, LimitedMemory::allocate, LimitedMemory::release);
        StringGet get{"aig 0 4294967295 1 0 0\n"};
        s->read(&get, StringGet::get);
      },
      ::testing::ExitedWithCode(3), "refused");
}

TEST(Reader, StreamIsLeftRightAfterTheLastByteRead) {
  std::FILE* file = std::tmpfile();
  const std::string text = "aag 0 0 0 0 0\nx\nrest";
  std::fwrite(text.data(), 1, text.size(), file);
  std::rewind(file);
  AigStore* s = AigStore::createDefault();
  EXPECT_STREQ(s->readFromFile(file), "line 2: invalid symbol table entry");
  EXPECT_EQ(std::ftell(file), 15);  // the x was obtained, nothing after it
  s->destroy();
  std::fclose(file);
}

TEST(Reader, MissingFilesAndEmptyDecompression) {
  TempDir dir;
  const std::string missing = dir.file("missing.aag");
  AigStore* s = AigStore::createDefault();
  EXPECT_EQ(std::string(s->readFromPath(missing.c_str())), "can not read '" + missing + "'");
  s->destroy();
  // gunzip of a missing or uncompressed file yields nothing: an empty input.
  for (const std::string& name : {dir.file("missing.aag.gz"), dir.file("plain.aag.gz")}) {
    if (name.find("plain") != std::string::npos) writeWholeFile(name, "aag 0 0 0 0 0\n");
    AigStore* t = AigStore::createDefault();
    EXPECT_STREQ(t->readFromPath(name.c_str()), "line 1: expected 'a' as first character");
    t->destroy();
  }
}

TEST(Reader, LongNamesAndCommentsGrowTheTextBuffer) {
  std::string name(100000, 'n');
  std::string comment(70000, 'c');
  AigStore* s = readOk("aag 1 1 0 0 0\n2\ni0 " + name + "\nc\n" + comment + "\nshort\n");
  EXPECT_EQ(std::string(s->inputs[0].name), name);
  EXPECT_EQ(commentsOf(s), (std::vector<std::string>{comment, "short"}));
  s->destroy();
}

}  // namespace
}  // namespace ZEFI

namespace ZEFI {
namespace {

// Counts that a header announces but the file does not hold cost no memory up front.
TEST(AigReaderMemory, AnnouncedCountsAreNotReservedBeforeTheirBytesArrive) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"aag 200000000 100000000 0 0 100000000\n", "line 2: expected literal"},
      {"aig 200000000 0 0 0 200000000\n", "character 30: unexpected end of file"},
      {"aag 4294967295 0 100000000 100000000 100000000\n", "line 2: expected literal"},
  };
  for (const auto& c : cases) {
    CountingMemory memory;
    AigStore* store = memory.createStore();
    StringGet get{c.text};
    const char* result = store->read(&get, StringGet::get);
    EXPECT_STREQ(result, c.message) << c.text;
    EXPECT_LT(memory.peakBytes, std::size_t{64} << 20) << c.text;
    store->destroy();
    EXPECT_TRUE(memory.faults.empty()) << c.text;
    EXPECT_EQ(memory.liveBytes, 0u) << c.text;
  }
}

// A file with more records than are reserved up front reads completely all the same.
TEST(AigReaderMemory, FilesLargerThanTheReservationGrowAndReadCompletely) {
  AigStore* original = AigStore::createDefault();
  RandomGraphOptions options;
  options.ands = 300000;
  buildRandomGraph(original, 11, options);
  for (const AigWriteMode mode : {AigWriteMode{0}, ascii}) {
    const std::string text = writeWithCallback(original, mode);
    AigStore* back = AigStore::createDefault();
    StringGet get{text};
    ASSERT_EQ(back->read(&get, StringGet::get), nullptr);
    EXPECT_EQ(back->andCount, original->andCount);
    EXPECT_EQ(writeWithCallback(back, mode), text);
    back->destroy();
  }
  original->destroy();
}

}  // namespace
}  // namespace ZEFI
