// Writing and reading together: random graphs through both forms and gzip, file names that
// hold shell syntax, failing destinations, and the real circuits of the corpus.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "aiger/tests/aiger_io_support.hpp"

namespace ZEFI {
namespace {

using namespace io_test;

AigStore* readText(const std::string& text) {
  AigStore* store = AigStore::createDefault();
  StringGet get{text};
  const char* error = store->read(&get, StringGet::get);
  EXPECT_EQ(error, nullptr) << error;
  return store;
}

std::vector<std::uint64_t> randomWords(std::mt19937_64& rng, std::size_t count) {
  std::vector<std::uint64_t> words(count);
  for (auto& w : words) w = rng();
  return words;
}

void expectSameFunctions(const AigStore* a, const AigStore* b, std::uint64_t seed) {
  ASSERT_EQ(a->inputCount, b->inputCount);
  ASSERT_EQ(a->latchCount, b->latchCount);
  std::mt19937_64 rng(seed);
  for (int round = 0; round < 4; ++round) {
    const auto inputs = randomWords(rng, a->inputCount);
    const auto latches = randomWords(rng, a->latchCount);
    ASSERT_EQ(simulate(a, inputs, latches), simulate(b, inputs, latches)) << "round " << round;
  }
}

void expectSameInterface(const AigStore* a, const AigStore* b) {
  EXPECT_EQ(a->inputCount, b->inputCount);
  EXPECT_EQ(a->latchCount, b->latchCount);
  EXPECT_EQ(a->outputCount, b->outputCount);
  EXPECT_EQ(namesOf(a->inputs, a->inputCount), namesOf(b->inputs, b->inputCount));
  EXPECT_EQ(namesOf(a->latches, a->latchCount), namesOf(b->latches, b->latchCount));
  EXPECT_EQ(namesOf(a->outputs, a->outputCount), namesOf(b->outputs, b->outputCount));
  EXPECT_EQ(commentsOf(a), commentsOf(b));
}

// ASCII -> binary -> ASCII -> binary: the binary bytes agree, the interface and the
// functions survive, and an ASCII text read and written again is the same text.
TEST(RoundTrip, RandomGraphsThroughBothForms) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(seed);
    RandomGraphOptions options;
    options.inputs = 1 + seed % 9;
    options.latches = seed % 4;
    options.outputs = 1 + seed % 5;
    options.ands = (seed * 53) % 400;
    options.shuffleGates = seed % 3 != 0;
    AigStore* original = AigStore::createDefault();
    buildRandomGraph(original, seed, options);

    const std::string ascii1 = writeWithCallback(original, ascii);
    AigStore* fromAscii = readText(ascii1);
    EXPECT_EQ(describe(fromAscii), describe(original));
    EXPECT_EQ(writeWithCallback(fromAscii, ascii), ascii1);

    const std::string binary1 = writeWithCallback(fromAscii, 0);
    AigStore* fromBinary = readText(binary1);
    expectSameInterface(original, fromBinary);
    EXPECT_LE(fromBinary->andCount, original->andCount);
    EXPECT_EQ(fromBinary->maxVar,
              fromBinary->inputCount + fromBinary->latchCount + fromBinary->andCount);
    expectSameFunctions(original, fromBinary, seed);

    const std::string ascii2 = writeWithCallback(fromBinary, ascii);
    AigStore* again = readText(ascii2);
    EXPECT_EQ(writeWithCallback(again, 0), binary1);
    EXPECT_EQ(writeWithCallback(fromBinary, 0), binary1);

    for (AigStore* s : {original, fromAscii, fromBinary, again}) s->destroy();
  }
}

// A gate over two constant-false operands is written with a first delta equal to its lhs
// (the renumbered operands are 0 and 0); reading it back must give the same gate.
TEST(RoundTrip, GateOverTwoFalseOperandsComesBackFromBinaryForm) {
  AigStore* s = readText("aag 1 0 0 1 1\n2\n2 0 0\n");
  EXPECT_EQ(writeWithCallback(s, ascii), "aag 1 0 0 1 1\n2\n2 0 0\n");
  const std::string binary = writeWithCallback(s, 0);
  EXPECT_EQ(binary, "aig 1 0 0 1 1\n2\n" + bytes({0x02, 0x00}));
  AigStore* back = AigStore::createDefault();
  StringGet get{binary};
  EXPECT_EQ(back->read(&get, StringGet::get), nullptr);
  ASSERT_EQ(back->andCount, 1u);
  EXPECT_EQ(back->ands[0].lhs, 2u);
  EXPECT_EQ(back->ands[0].rhs0, 0u);
  EXPECT_EQ(back->ands[0].rhs1, 0u);
  EXPECT_EQ(writeWithCallback(back, 0), binary);
  back->destroy();
  s->destroy();
}

struct PathCase {
  const char* name;
  bool asciiForm;
  bool compressed;
};

TEST(RoundTrip, FileNameChoosesFormAndCompression) {
  const PathCase cases[] = {
      {"g.aag", true, false},     {"g.aag.gz", true, true},  {"g.aig", false, false},
      {"g.aig.gz", false, true},  {"g.AAG", false, false},   {"g", false, false},
      {"g.aag.GZ", false, false}, {"g.txt.gz", false, true},
  };
  TempDir dir;
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    AigStore* s = AigStore::createDefault();
    RandomGraphOptions options;
    buildRandomGraph(s, 5, options);
    const std::string path = dir.file(c.name);
    const std::string expected = writeWithCallback(s, c.asciiForm ? ascii : 0);
    ASSERT_EQ(s->writeToPath(path.c_str()), 1);
    std::string onDisk = readWholeFile(path);
    if (c.compressed) {
      ASSERT_GE(onDisk.size(), 2u);
      EXPECT_EQ(onDisk.substr(0, 2), "\x1f\x8b");
      const std::string plain = dir.file("plain");
      ASSERT_EQ(std::system(("gunzip -c '" + path + "' > '" + plain + "'").c_str()), 0);
      onDisk = readWholeFile(plain);
    }
    EXPECT_EQ(onDisk, expected);
    AigStore* back = AigStore::createDefault();
    EXPECT_EQ(back->readFromPath(path.c_str()), nullptr);
    EXPECT_EQ(describe(back), describe(s));
    back->destroy();
    s->destroy();
  }
}

// Names holding shell syntax must reach gzip and gunzip as one word and run nothing.
TEST(RoundTrip, HostileFileNamesRunNoCommand) {
  TempDir dir;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);  // anything the names could run would land here
  const std::vector<std::string> names = {
      "a b.aag.gz",
      "x;touch pwned1;y.aig.gz",
      "it's.aag.gz",
      "$(touch pwned2).aag.gz",
      "`touch pwned3`.aig.gz",
      "q'$(touch pwned4)'q.aag.gz",
      "a|touch pwned5&.aig.gz",
      "new\nline.aag.gz",
      "star*?[x].aig.gz",
      "semi;touch pwned6.aag",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    AigStore* s = AigStore::createDefault();
    buildRandomGraph(s, 17, RandomGraphOptions{});
    const bool asciiForm = name.size() > 4 && (name.ends_with(".aag") || name.ends_with(".aag.gz"));
    const std::string expected = writeWithCallback(s, asciiForm ? ascii : 0);
    ASSERT_EQ(s->writeToPath(name.c_str()), 1);
    EXPECT_TRUE(fileExists(name));
    AigStore* back = AigStore::createDefault();
    EXPECT_EQ(back->readFromPath(name.c_str()), nullptr);
    EXPECT_EQ(writeWithCallback(back, asciiForm ? ascii : 0), expected);
    back->destroy();
    s->destroy();
  }
  // Only the files written are there.
  std::vector<std::string> present;
  if (DIR* d = opendir(".")) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") present.push_back(n);
    }
    closedir(d);
  }
  std::sort(present.begin(), present.end());
  std::vector<std::string> expected = names;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(present, expected);
  ASSERT_EQ(chdir(previous), 0);
}

TEST(ShellQuote, PlainNamesStayAndOthersBecomeOneQuotedWord) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"dir/file.aig.gz", "dir/file.aig.gz"},
      {"A-Z_a+z,0:9@x%y=z.aag", "A-Z_a+z,0:9@x%y=z.aag"},
      {"", "''"},
      {"a b", "'a b'"},
      {"it's", "'it'\\''s'"},
      {"'", "''\\'''"},
      {"$(x)", "'$(x)'"},
      {"~home", "'~home'"},
      {"\xc3\xa9", "'\xc3\xa9'"},
  };
  for (const auto& [name, quoted] : cases) {
    char out[64];
    EXPECT_EQ(shellQuote(name.c_str(), out, sizeof out), static_cast<int>(quoted.size())) << name;
    EXPECT_EQ(std::string(out), quoted);
    // Exactly the room for the text and its terminator is enough; one byte less is not.
    char tight[64];
    EXPECT_EQ(shellQuote(name.c_str(), tight, quoted.size() + 1), static_cast<int>(quoted.size()));
    EXPECT_EQ(shellQuote(name.c_str(), tight, quoted.size()), -1);
  }
  // The documented bound: 4 * length + 3 bytes.
  const std::string quotes(50, '\'');
  std::vector<char> room(4 * quotes.size() + 3);
  EXPECT_EQ(shellQuote(quotes.c_str(), room.data(), room.size()),
            static_cast<int>(4 * quotes.size() + 2));
}

TEST(WriteToPath, FailuresReturnZeroAndLeaveNoFile) {
  TempDir dir;
  AigStore* s = AigStore::createDefault();
  RandomGraphOptions big;
  big.ands = 30000;
  big.outputs = 3000;
  buildRandomGraph(s, 3, big);
  ASSERT_GT(writeWithCallback(s, ascii).size(), 200000u);  // more than a pipe holds
  const std::vector<std::string> paths = {
      dir.file("missing/x.aag"),    dir.file("missing/x.aig"),     dir.file("missing/x.aag.gz"),
      dir.file("missing/x.aig.gz"), "/nonexistent-zefi-dir/y.aag", "/nonexistent-zefi-dir/y.aag.gz",
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(s->writeToPath(path.c_str()), 0);
    EXPECT_FALSE(fileExists(path));
  }
  // A directory cannot be opened for writing, and it is not removed.
  const std::string sub = dir.file("sub.aag");
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  EXPECT_EQ(s->writeToPath(sub.c_str()), 0);
  EXPECT_TRUE(fileExists(sub));
  s->destroy();
}

TEST(WriteToPath, ReaderLeavingAFifoEarlyIsAFailureNotADeath) {
  TempDir dir;
  const std::string fifo = dir.file("pipe.aag");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  AigStore* s = AigStore::createDefault();
  RandomGraphOptions big;
  big.ands = 30000;
  buildRandomGraph(s, 6, big);
  ASSERT_GT(writeWithCallback(s, ascii).size(), 200000u);  // more than the pipe holds
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::FILE* in = std::fopen(fifo.c_str(), "r");
    if (in != nullptr) std::fgetc(in);  // take one byte, then go away
    _exit(0);
  }
  EXPECT_EQ(s->writeToPath(fifo.c_str()), 0);
  int status = 0;
  waitpid(child, &status, 0);
  // Only regular files are removed after a failed write: a pipe or a device (say /dev/full)
  // holds no partial file, and removing its node would be damage of its own.
  EXPECT_TRUE(fileExists(fifo));
  s->destroy();
}

void countingHandler(int) {}

TEST(WriteToPath, PipeSignalDispositionIsRestored) {
  TempDir dir;
  struct sigaction mine {};
  mine.sa_handler = countingHandler;
  sigemptyset(&mine.sa_mask);
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGPIPE, &mine, &saved), 0);
  AigStore* s = AigStore::createDefault();
  buildRandomGraph(s, 8, RandomGraphOptions{});
  EXPECT_EQ(s->writeToPath(dir.file("ok.aig.gz").c_str()), 1);
  EXPECT_EQ(s->writeToPath(dir.file("missing/no.aig.gz").c_str()), 0);
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, countingHandler);
  sigaction(SIGPIPE, &saved, nullptr);
  s->destroy();
}

TEST(WriteToFile, FullDeviceIsAFailure) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
  AigStore* s = AigStore::createDefault();
  RandomGraphOptions big;
  big.ands = 30000;
  buildRandomGraph(s, 4, big);
  EXPECT_EQ(s->writeToFile(ascii, full), 0);
  std::fclose(full);
  s->destroy();
}

// ---- berkeley-abc as an independent reader of the binary form ----------------------------

std::string runCommand(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char block[4096];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) out.append(block, got);
    pclose(pipe);
  }
  return out;
}

TEST(RoundTrip, BerkeleyAbcReadsTheBinaryForm) {
  if (access("/usr/bin/berkeley-abc", X_OK) != 0) GTEST_SKIP() << "berkeley-abc not installed";
  TempDir dir;
  for (std::uint32_t seed = 1; seed <= 5; ++seed) {
    AigStore* s = AigStore::createDefault();
    RandomGraphOptions options;
    options.ands = 200 * seed;
    buildRandomGraph(s, seed, options);
    const std::string path = dir.file("r" + std::to_string(seed) + ".aig");
    ASSERT_EQ(s->writeToPath(path.c_str()), 1);
    const std::string stats =
        runCommand("berkeley-abc -c 'read_aiger " + path + "; print_stats' 2>&1");
    char expected[128];
    std::snprintf(expected, sizeof expected, "i/o = %4u/%5u  lat = %4u", s->inputCount,
                  s->outputCount, s->latchCount);
    EXPECT_NE(stats.find(expected), std::string::npos) << stats << "\nexpected " << expected;
    s->destroy();
  }
}

// ---- The corpus of real circuits ---------------------------------------------------------

struct CorpusFile {
  std::string path;
  std::string name;
  std::string text;
  bool binary;
  std::uint32_t header[5];
};

std::vector<CorpusFile> corpusFiles() {
  std::vector<CorpusFile> files;
  const std::string dir = std::string(ZEFI_CORPUS_DIR) + "/aiger";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.ends_with(".aig") || name.ends_with(".aag") || name.ends_with(".qaig")) {
      CorpusFile f;
      f.path = dir + "/" + name;
      f.name = name;
      f.text = readWholeFile(f.path);
      f.binary = f.text.compare(0, 4, "aig ") == 0;
      std::sscanf(f.text.c_str() + 4, "%u %u %u %u %u", &f.header[0], &f.header[1], &f.header[2],
                  &f.header[3], &f.header[4]);
      files.push_back(f);
    }
  }
  closedir(d);
  std::sort(files.begin(), files.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
  return files;
}

// "" when equal, else where and how two long texts part.
std::string firstDifference(const std::string& written, const std::string& expected) {
  if (written == expected) return "";
  std::size_t at = 0;
  while (at < written.size() && at < expected.size() && written[at] == expected[at]) ++at;
  return "differ at byte " + std::to_string(at) + " of " + std::to_string(expected.size()) +
         ": written \"" + written.substr(at, 40) + "\" expected \"" + expected.substr(at, 40) +
         "\"";
}

class Corpus : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = corpusFiles();
    if (files_.empty()) {
      GTEST_SKIP() << "no AIGER corpus under " << ZEFI_CORPUS_DIR << "/aiger";
    }
  }
  std::vector<CorpusFile> files_;
};

TEST_F(Corpus, EveryFileReadsWithItsHeaderCounts) {
  for (const CorpusFile& f : files_) {
    SCOPED_TRACE(f.name);
    AigStore* s = AigStore::createDefault();
    ASSERT_EQ(s->readFromPath(f.path.c_str()), nullptr) << s->errorText();
    EXPECT_EQ(s->maxVar, f.header[0]);
    EXPECT_EQ(s->inputCount, f.header[1]);
    EXPECT_EQ(s->latchCount, f.header[2]);
    EXPECT_EQ(s->outputCount, f.header[3]);
    EXPECT_EQ(s->andCount, f.header[4]);
    // The other two sources agree.
    AigStore* viaCallback = readText(f.text);
    EXPECT_EQ(describe(viaCallback), describe(s));
    std::FILE* file = std::fopen(f.path.c_str(), "r");
    AigStore* viaStream = AigStore::createDefault();
    EXPECT_EQ(viaStream->readFromFile(file), nullptr);
    std::fclose(file);
    EXPECT_EQ(describe(viaStream), describe(s));
    for (AigStore* t : {s, viaCallback, viaStream}) t->destroy();
  }
}

// A file read and written in its own form gives its own bytes: binary files always (they
// are binary-ready, so nothing is renumbered); ASCII files here too, since their symbol
// tables list inputs, latches and outputs in position order, their numbers have no leading
// zeros and their sections are separated exactly as the writer separates them.
TEST_F(Corpus, WritingInTheSameFormGivesTheSameBytes) {
  for (const CorpusFile& f : files_) {
    SCOPED_TRACE(f.name);
    AigStore* s = readText(f.text);
    if (f.binary) {
      EXPECT_EQ(s->isReencoded(), 1);
    }
    EXPECT_EQ(firstDifference(writeWithCallback(s, f.binary ? 0 : ascii), f.text), "");
    EXPECT_EQ(firstDifference(writeWithFile(s, f.binary ? 0 : ascii), f.text), "");
    s->destroy();
  }
}

TEST_F(Corpus, ConversionsKeepCountsNamesCommentsAndFunctions) {
  TempDir dir;
  for (const CorpusFile& f : files_) {
    SCOPED_TRACE(f.name);
    AigStore* original = readText(f.text);
    AigStore* converted = readText(f.text);
    const std::string binary = writeWithCallback(converted, 0);
    converted->destroy();
    AigStore* fromBinary = readText(binary);
    expectSameInterface(original, fromBinary);
    // Every gate of these circuits is reachable from a latch or an output.
    EXPECT_EQ(fromBinary->andCount, original->andCount);
    expectSameFunctions(original, fromBinary, 77);

    const std::string asciiText = writeWithCallback(fromBinary, ascii);
    AigStore* fromAscii = readText(asciiText);
    EXPECT_EQ(describe(fromAscii), describe(fromBinary));
    EXPECT_EQ(writeWithCallback(fromAscii, 0), binary);

    // Through gzip in both forms.
    for (const char* suffix : {".aag.gz", ".aig.gz"}) {
      const std::string path = dir.file("c" + std::string(suffix));
      ASSERT_EQ(fromAscii->writeToPath(path.c_str()), 1);
      AigStore* back = AigStore::createDefault();
      ASSERT_EQ(back->readFromPath(path.c_str()), nullptr) << back->errorText();
      EXPECT_EQ(describe(back), describe(fromBinary));
      back->destroy();
    }
    for (AigStore* t : {original, fromBinary, fromAscii}) t->destroy();
  }
}

}  // namespace
}  // namespace ZEFI
