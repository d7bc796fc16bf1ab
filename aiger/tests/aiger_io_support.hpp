// Test support for the AIGER writer and reader: byte sinks and sources over std::string,
// temporary directories, a description of a store that tests can compare, and a seeded
// generator of random graphs.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "aiger/aiger.hpp"
#include "aiger/tests/store_test_support.hpp"

namespace ZEFI {
namespace io_test {

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// ---- Writing -----------------------------------------------------------------------------

struct StringPut {
  std::string text;
  std::size_t limit = SIZE_MAX;  // refuse bytes once this many were taken
  std::size_t calls = 0;
  static int put(char byte, void* state) {
    auto* self = static_cast<StringPut*>(state);
    ++self->calls;
    if (self->text.size() >= self->limit) return -1;
    self->text.push_back(byte);
    return static_cast<unsigned char>(byte);
  }
};

// Through the generic callback path.
inline std::string writeWithCallback(AigStore* store, AigWriteMode mode, int* result = nullptr) {
  StringPut sink;
  const int r = store->write(mode, &sink, StringPut::put);
  if (result != nullptr) *result = r;
  return sink.text;
}

// Through the buffered stream path.
inline std::string writeWithFile(AigStore* store, AigWriteMode mode, int* result = nullptr) {
  std::FILE* file = std::tmpfile();
  const int r = store->writeToFile(mode, file);
  if (result != nullptr) *result = r;
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char block[4096];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
  std::fclose(file);
  return text;
}

// Through writeToString with ample room; the terminating NUL is checked and dropped.
inline std::string writeWithString(AigStore* store, AigWriteMode mode, int* result = nullptr) {
  std::vector<char> buffer(1 << 20, 'X');
  const int r = store->writeToString(mode, buffer.data(), static_cast<std::int32_t>(buffer.size()));
  if (result != nullptr) *result = r;
  if (r == 0) return std::string();
  // Binary text may hold NUL bytes: find the terminator as the last NUL before the fill.
  std::size_t end = buffer.size();
  while (end > 0 && buffer[end - 1] == 'X') --end;
  EXPECT_GT(end, 0u);
  EXPECT_EQ(buffer[end - 1], '\0');
  return std::string(buffer.data(), end - 1);
}

// ---- Reading -----------------------------------------------------------------------------

struct StringGet {
  std::string text;
  std::size_t next = 0;
  std::size_t callsAfterEnd = 0;
  static int get(void* state) {
    auto* self = static_cast<StringGet*>(state);
    if (self->next == self->text.size()) {
      ++self->callsAfterEnd;
      return -1;
    }
    return static_cast<unsigned char>(self->text[self->next++]);
  }
};

enum class Source { callback, stream, path };

inline const char* sourceName(Source source) {
  switch (source) {
    case Source::callback:
      return "callback";
    case Source::stream:
      return "stream";
    case Source::path:
      return "path";
  }
  return "?";
}

// A private directory, removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zefi-aiger-io-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    path_ = made;
  }
  ~TempDir() {
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
      std::fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline bool fileExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Reads text into store through the chosen path; returns the error text or "" on success.
inline std::string readInto(AigStore* store, const std::string& text, Source source) {
  const char* error = nullptr;
  switch (source) {
    case Source::callback: {
      StringGet get{text};
      error = store->read(&get, StringGet::get);
      break;
    }
    case Source::stream: {
      std::FILE* file = std::tmpfile();
      std::fwrite(text.data(), 1, text.size(), file);
      std::rewind(file);
      error = store->readFromFile(file);
      std::fclose(file);
      break;
    }
    case Source::path: {
      TempDir dir;
      const std::string path = dir.file("input.aig");
      writeWholeFile(path, text);
      error = store->readFromPath(path.c_str());
      break;
    }
  }
  return error == nullptr ? std::string() : std::string(error);
}

// ---- Describing a store ------------------------------------------------------------------

// Everything observable about a store, as one comparable text.
inline std::string describe(const AigStore* store) {
  std::ostringstream out;
  out << "M" << store->maxVar << " I" << store->inputCount << " L" << store->latchCount << " O"
      << store->outputCount << " A" << store->andCount << "\n";
  auto symbols = [&](const char* kind, const AigSymbol* list, std::uint32_t count) {
    for (std::uint32_t k = 0; k < count; ++k) {
      out << kind << k << " " << list[k].literal << " " << list[k].next << " ["
          << (list[k].name != nullptr ? list[k].name : "(null)") << "]\n";
    }
  };
  symbols("i", store->inputs, store->inputCount);
  symbols("l", store->latches, store->latchCount);
  symbols("o", store->outputs, store->outputCount);
  for (std::uint32_t k = 0; k < store->andCount; ++k) {
    out << "a" << k << " " << store->ands[k].lhs << " " << store->ands[k].rhs0 << " "
        << store->ands[k].rhs1 << "\n";
  }
  for (char** c = store->comments; *c != nullptr; ++c) out << "c[" << *c << "]\n";
  return out.str();
}

inline std::vector<std::string> namesOf(const AigSymbol* list, std::uint32_t count) {
  std::vector<std::string> names;
  for (std::uint32_t k = 0; k < count; ++k) {
    names.push_back(list[k].name != nullptr ? list[k].name : std::string("\x01(none)"));
  }
  return names;
}

inline std::vector<std::string> commentsOf(const AigStore* store) {
  std::vector<std::string> out;
  for (char** c = store->comments; *c != nullptr; ++c) out.emplace_back(*c);
  return out;
}

// ---- Simulation --------------------------------------------------------------------------

// 64 parallel evaluations: every input and latch gets a word; returns the words of every
// latch next state and every output, in array order. Gates may be stored in any order.
inline std::vector<std::uint64_t> simulate(const AigStore* store,
                                           const std::vector<std::uint64_t>& inputWords,
                                           const std::vector<std::uint64_t>& latchWords) {
  std::vector<std::uint64_t> value(static_cast<std::size_t>(store->maxVar) + 1, 0);
  std::vector<int> state(value.size(), 0);  // 0 unknown, 1 in progress, 2 done
  std::vector<int> gateOf(value.size(), -1);
  state[0] = 2;
  for (std::uint32_t k = 0; k < store->inputCount; ++k) {
    value[store->inputs[k].literal >> 1] = inputWords[k];
    state[store->inputs[k].literal >> 1] = 2;
  }
  for (std::uint32_t k = 0; k < store->latchCount; ++k) {
    value[store->latches[k].literal >> 1] = latchWords[k];
    state[store->latches[k].literal >> 1] = 2;
  }
  for (std::uint32_t k = 0; k < store->andCount; ++k) gateOf[store->ands[k].lhs >> 1] = int(k);
  auto literalValue = [&](AigLiteral l) { return (l & 1) ? ~value[l >> 1] : value[l >> 1]; };
  auto evaluate = [&](std::uint32_t root) {
    std::vector<std::uint32_t> stack{root};
    while (!stack.empty()) {
      const std::uint32_t v = stack.back();
      if (state[v] == 2) {
        stack.pop_back();
        continue;
      }
      const AigAnd& g = store->ands[gateOf[v]];
      if (state[v] == 1) {
        value[v] = literalValue(g.rhs0) & literalValue(g.rhs1);
        state[v] = 2;
        stack.pop_back();
        continue;
      }
      state[v] = 1;
      stack.push_back(g.rhs0 >> 1);
      stack.push_back(g.rhs1 >> 1);
    }
  };
  std::vector<std::uint64_t> result;
  for (std::uint32_t k = 0; k < store->latchCount; ++k) {
    evaluate(store->latches[k].next >> 1);
    result.push_back(literalValue(store->latches[k].next));
  }
  for (std::uint32_t k = 0; k < store->outputCount; ++k) {
    evaluate(store->outputs[k].literal >> 1);
    result.push_back(literalValue(store->outputs[k].literal));
  }
  return result;
}

// ---- Random graphs -----------------------------------------------------------------------

struct RandomGraphOptions {
  std::uint32_t inputs = 5;
  std::uint32_t latches = 3;
  std::uint32_t outputs = 3;
  std::uint32_t ands = 40;
  std::uint32_t spareVariables = 5;  // unused variable indices, so M exceeds I + L + A
  bool shuffleGates = true;          // gates stored out of topological order
  bool names = true;
  bool comments = true;
};

// A well-formed graph (every literal defined, acyclic) with scattered variable indices,
// gates stored in random order with operands in random order, some unreachable gates,
// random names (with spaces) and comments (some empty).
inline void buildRandomGraph(AigStore* store, std::uint32_t seed, const RandomGraphOptions& o) {
  std::mt19937 rng(seed);
  auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  const std::uint32_t total = o.inputs + o.latches + o.ands + o.spareVariables;
  std::vector<std::uint32_t> variables(total);
  for (std::uint32_t v = 0; v < total; ++v) variables[v] = v + 1;
  std::shuffle(variables.begin(), variables.end(), rng);
  // Definition order: inputs, latches, then gates, each gate over earlier definitions.
  std::vector<AigLiteral> defined;
  std::uint32_t next = 0;
  auto randomName = [&](const char* stem) -> std::string {
    if (!o.names || below(3) == 0) return std::string();
    std::string name = stem + std::to_string(below(1000));
    if (below(4) == 0) name += " with space ";
    return name;
  };
  for (std::uint32_t k = 0; k < o.inputs; ++k) {
    const AigLiteral l = 2 * variables[next++];
    store->addInput(l, randomName("in").c_str());
    defined.push_back(l);
  }
  std::vector<AigLiteral> latchLiterals;
  for (std::uint32_t k = 0; k < o.latches; ++k) {
    const AigLiteral l = 2 * variables[next++];
    latchLiterals.push_back(l);
    defined.push_back(l);
  }
  std::vector<AigAnd> gates;
  for (std::uint32_t k = 0; k < o.ands; ++k) {
    const AigLiteral lhs = 2 * variables[next++];
    auto operand = [&]() -> AigLiteral {
      if (below(20) == 0) return below(2);  // a constant now and then
      return defined[below(static_cast<std::uint32_t>(defined.size()))] ^ below(2);
    };
    AigAnd gate{lhs, operand(), operand()};
    // The binary form cannot carry a gate over two constant-false operands: its first delta
    // would equal its lhs, which readers refuse. Keep such gates out of round trips.
    if (gate.rhs0 == 0 && gate.rhs1 == 0) gate.rhs1 = 1;
    gates.push_back(gate);
    defined.push_back(lhs);
  }
  auto anyLiteral = [&]() -> AigLiteral {
    if (below(15) == 0) return below(2);
    return defined[below(static_cast<std::uint32_t>(defined.size()))] ^ below(2);
  };
  for (std::uint32_t k = 0; k < o.latches; ++k) {
    store->addLatch(latchLiterals[k], anyLiteral(), randomName("latch").c_str());
  }
  for (std::uint32_t k = 0; k < o.outputs; ++k) {
    store->addOutput(anyLiteral(), randomName("out").c_str());
  }
  if (o.shuffleGates) std::shuffle(gates.begin(), gates.end(), rng);
  for (const AigAnd& g : gates) store->addAnd(g.lhs, g.rhs0, g.rhs1);
  if (o.comments) {
    const std::uint32_t count = below(4);
    for (std::uint32_t k = 0; k < count; ++k) {
      store->addComment(below(3) == 0 ? "" : ("comment " + std::to_string(below(100))).c_str());
    }
  }
}

}  // namespace io_test
}  // namespace ZEFI
