// zefi-consumer CIRCUIT FORMULA: a client of zefi's installed libraries. Prints the header
// counts of the AIGER file CIRCUIT, the prefix length and clause count of the QDIMACS file
// FORMULA (plain or compressed), and the problem line of the formula's negation.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <istream>
#include <sstream>
#include <string>

#include "aiger/aiger.hpp"
#include "formula/decompress.hpp"
#include "formula/formula.hpp"
#include "negation/negation_graph.hpp"

namespace {

int fail(const char* message) {
  std::fprintf(stderr, "zefi-consumer: %s\n", message);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("Usage: zefi-consumer CIRCUIT FORMULA\n", stderr);
    return 2;
  }

  ZEFI::AigStorePtr circuit(ZEFI::AigStore::createDefault());
  if (const char* error = circuit->readFromPath(argv[1])) return fail(error);
  std::printf("%s: M %u I %u L %u O %u A %u\n", argv[1], circuit->maxVar, circuit->inputCount,
              circuit->latchCount, circuit->outputCount, circuit->andCount);

  const int fd = open(argv[2], O_RDONLY);
  if (fd < 0) return fail("cannot open the formula");
  ZEFI::Formula formula;
  ZEFI::InputBuffer buffer(fd);  // recognises compressed input by its first bytes
  std::istream in(&buffer);
  const bool read = formula.readQdimacs(in);
  close(fd);
  if (!buffer.error().empty()) return fail(buffer.error().c_str());
  if (!read) return fail(formula.error.c_str());
  std::printf("%s: prefix %zu, clauses %zu\n", argv[2], formula.prefix.size(),
              formula.clauses.size());

  std::ostringstream negation;  // takes the formula's clauses
  if (!ZEFI::negationFits(formula) || !ZEFI::writeNegation(formula, negation)) return 1;
  const std::string text = negation.str();
  std::printf("negation: %s\n", text.substr(0, text.find('\n')).c_str());
  return 0;
}
