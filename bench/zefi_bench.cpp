// zefi-bench: the input generators of the benchmark and a small process meter.
//
// Every generated file depends only on its arguments: the random numbers come from a
// SplitMix64 stream seeded by the command line, reduced to a range by a multiply-shift, so
// the bytes are the same on every machine and with every compiler (std::uniform_int_distribution
// would not promise that). Files are written through one large buffer.
//
//   zefi-bench qdimacs OUT VARS CLAUSES SEED [BLOCKS] [ZEROS]
//       VARS variables quantified in BLOCKS alternating blocks (default 3), the innermost
//       existential, one quantifier line per block; CLAUSES clauses of 3 distinct variables
//       with random signs. ZEROS leading zeros are put before every number after the "p cnf".
//   zefi-bench long-clause OUT LITERALS SEED
//       3 alternating blocks over LITERALS variables and one clause holding every variable
//       once, in random order with random signs.
//   zefi-bench long-comment OUT BYTES
//       a comment line of BYTES printable bytes before the header of a small formula.
//   zefi-bench header OUT VARS CLAUSES
//       a tiny formula whose header announces VARS variables and CLAUSES clauses.
//   zefi-bench aiger OUT INPUTS LATCHES LAYERS WIDTH WINDOW SEED
//       an AIGER file (ASCII when OUT ends in ".aag", else binary) of LAYERS * WIDTH AND gates
//       in layers; gate i of a layer uses gate i of the layer before (so every gate is used,
//       and the depth is LAYERS), and a random variable among the WINDOW variables before
//       that layer (0: any of them). The last layer is the outputs, every latch takes a random
//       gate as next state. Numbered as the binary form requires, so the binary file is
//       already in the form a writer produces. Local operands keep the delta codes short,
//       as in real circuits (berkeley-abc's writer cannot write more than 6 bytes per gate).
//   zefi-bench aiger-header OUT INPUTS
//       the binary header "aig I I 0 0 0" alone: I inputs, nothing else.
//
// For every QDIMACS file the generator prints the problem line that zefi's negation of it
// must start with ("expect p cnf V C"), and the number of literals in its clauses
// ("literals N").
//
//   zefi-bench measure STDOUT STDERR -- COMMAND ARGS...
//       runs COMMAND with its standard output and error sent to the named files, and prints
//       "WALL_SECONDS MAX_RSS_KIB STATUS CPU_SECONDS" (STATUS = exit status, or 128 + signal
//       number; CPU = user + system time of the command).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "zefi-bench: %s\n", message.c_str());
  std::exit(2);
}

std::uint64_t number(const char* text) {
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end) die(std::string("not a number: ") + text);
  return value;
}

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, bound) for bound < 2^32: the high word of a 32 x 32 product.
  std::uint64_t below(std::uint64_t bound) { return ((next() >> 32) * bound) >> 32; }
  bool coin() { return (next() >> 63) != 0; }

 private:
  std::uint64_t state_;
};

class Output {
 public:
  explicit Output(const char* path) : file_(std::fopen(path, "wb")) {
    if (file_ == nullptr) die(std::string("cannot write ") + path);
    buffer_.reserve(kSize + 64);
  }
  ~Output() { close(); }
  void close() {
    if (file_ == nullptr) return;
    flush();
    if (std::fclose(file_) != 0) die("write failed");
    file_ = nullptr;
  }
  void put(char c) {
    buffer_.push_back(c);
    if (buffer_.size() >= kSize) flush();
  }
  void put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kSize) flush();
  }
  void zeros(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) put('0');
  }
  void unsignedNumber(std::uint64_t value, std::uint64_t leadingZeros = 0) {
    zeros(leadingZeros);
    char text[24];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    (void)ec;
    put(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  void literal(std::uint64_t variable, bool negated, std::uint64_t leadingZeros = 0) {
    if (negated) put('-');
    unsignedNumber(variable, leadingZeros);
  }
  // AIGER delta code: 7 bits at a time, least significant group first.
  void delta(std::uint32_t value) {
    while (value >= 0x80) {
      put(static_cast<char>((value & 0x7F) | 0x80));
      value >>= 7;
    }
    put(static_cast<char>(value));
  }

 private:
  static constexpr std::size_t kSize = 1 << 20;
  void flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      die("write failed");
    buffer_.clear();
  }
  std::FILE* file_;
  std::string buffer_;
};

// Quantifier blocks: VARS variables 1..VARS cut into BLOCKS nearly equal consecutive runs,
// kinds alternating so that the last (innermost) block is existential.
void writeBlocks(Output& out, std::uint64_t vars, std::uint64_t blocks, std::uint64_t zeros) {
  if (blocks == 0 || vars == 0) return;
  blocks = std::min(blocks, vars);
  std::uint64_t variable = 1;
  for (std::uint64_t b = 0; b < blocks; ++b) {
    std::uint64_t size = vars / blocks + (b < vars % blocks ? 1 : 0);
    bool existential = (blocks - 1 - b) % 2 == 0;
    out.put(existential ? "e" : "a");
    for (std::uint64_t i = 0; i < size; ++i) {
      out.put(' ');
      out.unsignedNumber(variable++, zeros);
    }
    out.put(" ");
    out.unsignedNumber(0, zeros);
    out.put('\n');
  }
}

// The problem line of zefi's negation of a formula of maxVar m whose clauses (all
// non-empty, free of repeated literals) have the given total literal count: one chain gate
// per literal and one combining gate per clause on fresh variables above n = m + 1; every
// gate yields 3 clauses except the first of each chain and the first combining gate (2),
// the output gate gives 2 more and the unit clause n one.
void printExpectation(std::uint64_t maxVar, std::uint64_t clauses, std::uint64_t literals) {
  std::uint64_t gates = literals + clauses;
  std::uint64_t outClauses = 0;
  if (clauses == 0) {
    outClauses = 1 + 1;
  } else {
    outClauses = 2 * clauses + 3 * (literals - clauses);  // chains
    outClauses += 2 + 3 * (clauses - 1);                  // combining gates
    outClauses += 2 + 1;                                  // output gate, unit clause
  }
  std::printf("expect p cnf %llu %llu\n", static_cast<unsigned long long>(maxVar + 1 + gates),
              static_cast<unsigned long long>(outClauses));
}

int generateQdimacs(int argc, char** argv) {
  if (argc < 6) die("usage: qdimacs OUT VARS CLAUSES SEED [BLOCKS] [ZEROS]");
  std::uint64_t vars = number(argv[3]), clauses = number(argv[4]);
  Random random(number(argv[5]));
  std::uint64_t blocks = argc > 6 ? number(argv[6]) : 3;
  std::uint64_t zeros = argc > 7 ? number(argv[7]) : 0;
  if (vars < 3 && clauses > 0) die("need at least 3 variables");
  Output out(argv[2]);
  out.put("p cnf ");
  out.unsignedNumber(vars, zeros);
  out.put(' ');
  out.unsignedNumber(clauses, zeros);
  out.put('\n');
  writeBlocks(out, vars, blocks, zeros);
  for (std::uint64_t c = 0; c < clauses; ++c) {
    std::uint64_t a = 1 + random.below(vars), b, d;
    do b = 1 + random.below(vars);
    while (b == a);
    do d = 1 + random.below(vars);
    while (d == a || d == b);
    for (std::uint64_t v : {a, b, d}) {
      out.literal(v, random.coin(), zeros);
      out.put(' ');
    }
    out.unsignedNumber(0, zeros);
    out.put('\n');
  }
  out.close();
  printExpectation(vars, clauses, 3 * clauses);
  std::printf("literals %llu\n", static_cast<unsigned long long>(3 * clauses));
  return 0;
}

int generateLongClause(int argc, char** argv) {
  if (argc != 5) die("usage: long-clause OUT LITERALS SEED");
  std::uint64_t literals = number(argv[3]);
  Random random(number(argv[4]));
  if (literals == 0 || literals > 0x7FFFFFF0) die("bad literal count");
  std::vector<std::uint32_t> order(literals);
  for (std::uint64_t i = 0; i < literals; ++i) order[i] = static_cast<std::uint32_t>(i + 1);
  for (std::uint64_t i = literals - 1; i > 0; --i) std::swap(order[i], order[random.below(i + 1)]);
  Output out(argv[2]);
  out.put("p cnf ");
  out.unsignedNumber(literals);
  out.put(" 1\n");
  writeBlocks(out, literals, 3, 0);
  for (std::uint32_t v : order) {
    out.literal(v, random.coin());
    out.put(' ');
  }
  out.put("0\n");
  out.close();
  printExpectation(literals, 1, literals);
  std::printf("literals %llu\n", static_cast<unsigned long long>(literals));
  return 0;
}

int generateLongComment(int argc, char** argv) {
  if (argc != 4) die("usage: long-comment OUT BYTES");
  std::uint64_t bytes = number(argv[3]);
  Output out(argv[2]);
  out.put("c ");
  // Printable bytes with blanks among them, so that a reader that tokenises comments has
  // work to do as well.
  static constexpr std::string_view kText = "comment text 0 1 -2 p cnf e a ";
  for (std::uint64_t i = 0; i < bytes; ++i) out.put(kText[i % kText.size()]);
  out.put("\np cnf 3 2\ne 1 2 0\na 3 0\n1 -3 0\n2 3 0\n");
  out.close();
  printExpectation(3, 2, 4);
  std::printf("literals 4\n");
  return 0;
}

int generateHeader(int argc, char** argv) {
  if (argc != 5) die("usage: header OUT VARS CLAUSES");
  std::uint64_t vars = number(argv[3]);
  Output out(argv[2]);
  out.put("p cnf ");
  out.put(argv[3]);
  out.put(' ');
  out.put(argv[4]);
  out.put("\na 1 0\ne 2 0\n1 -2 0\n-1 2 0\n");
  out.close();
  printExpectation(std::max<std::uint64_t>(vars, 2), 2, 4);
  std::printf("literals 4\n");
  return 0;
}

int generateAiger(int argc, char** argv) {
  if (argc != 9) die("usage: aiger OUT INPUTS LATCHES LAYERS WIDTH WINDOW SEED");
  std::string path = argv[2];
  bool asciiForm = path.size() >= 4 && path.compare(path.size() - 4, 4, ".aag") == 0;
  std::uint64_t inputs = number(argv[3]), latches = number(argv[4]);
  std::uint64_t layers = number(argv[5]), width = number(argv[6]);
  std::uint64_t window = number(argv[7]);
  Random random(number(argv[8]));
  std::uint64_t sources = inputs + latches;
  std::uint64_t ands = layers * width;
  std::uint64_t maxVar = sources + ands;
  if (inputs + latches < 2 || inputs == 0 || layers == 0 || width == 0 || maxVar >= 0x7FFFFFFF)
    die("bad sizes");
  auto gateVar = [&](std::uint64_t gate) { return sources + 1 + gate; };
  auto lit = [&](std::uint64_t var) { return 2 * var + (random.coin() ? 1 : 0); };

  Output out(argv[2]);
  out.put(asciiForm ? "aag " : "aig ");
  for (std::uint64_t value : {maxVar, inputs, latches, width}) {
    out.unsignedNumber(value);
    out.put(' ');
  }
  out.unsignedNumber(ands);
  out.put('\n');
  if (asciiForm)
    for (std::uint64_t i = 0; i < inputs; ++i) {
      out.unsignedNumber(2 * (i + 1));
      out.put('\n');
    }
  for (std::uint64_t l = 0; l < latches; ++l) {
    if (asciiForm) {
      out.unsignedNumber(2 * (inputs + l + 1));
      out.put(' ');
    }
    out.unsignedNumber(lit(gateVar(random.below(ands))));
    out.put('\n');
  }
  for (std::uint64_t i = 0; i < width; ++i) {
    out.unsignedNumber(lit(gateVar((layers - 1) * width + i)));
    out.put('\n');
  }
  for (std::uint64_t layer = 0; layer < layers; ++layer) {
    // Variables before the previous layer (for layer 0: inputs and latches).
    std::uint64_t before = layer < 2 ? sources : gateVar((layer - 1) * width) - 1;
    for (std::uint64_t i = 0; i < width; ++i) {
      std::uint64_t gate = layer * width + i;
      std::uint64_t column = layer == 0 ? 1 + i % inputs : gateVar(gate - width);
      std::uint64_t other;
      std::uint64_t low = window == 0 || window >= before ? 0 : before - window;
      do other = low + 1 + random.below(before - low);
      while (other == column);
      std::uint64_t a = lit(column), b = lit(other);
      std::uint64_t rhs0 = std::max(a, b), rhs1 = std::min(a, b);
      std::uint64_t lhs = 2 * gateVar(gate);
      if (asciiForm) {
        out.unsignedNumber(lhs);
        out.put(' ');
        out.unsignedNumber(rhs0);
        out.put(' ');
        out.unsignedNumber(rhs1);
        out.put('\n');
      } else {
        out.delta(static_cast<std::uint32_t>(lhs - rhs0));
        out.delta(static_cast<std::uint32_t>(rhs0 - rhs1));
      }
    }
  }
  out.close();
  std::printf("ands %llu\n", static_cast<unsigned long long>(ands));
  return 0;
}

int generateAigerHeader(int argc, char** argv) {
  if (argc != 4) die("usage: aiger-header OUT INPUTS");
  Output out(argv[2]);
  out.put("aig ");
  out.put(argv[3]);
  out.put(' ');
  out.put(argv[3]);
  out.put(" 0 0 0\n");
  return 0;
}

int measure(int argc, char** argv) {
  if (argc < 6 || std::strcmp(argv[4], "--") != 0)
    die("usage: measure STDOUT STDERR -- COMMAND...");
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) die("fork failed");
  if (pid == 0) {
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    close(out);
    close(err);
    execvp(argv[5], argv + 5);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) die("wait failed");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.4f %ld %d %.4f\n", seconds, usage.ru_maxrss, code, cpu);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    die("usage: zefi-bench qdimacs|long-clause|long-comment|header|aiger|aiger-header|measure ...");
  std::string_view command = argv[1];
  if (command == "qdimacs") return generateQdimacs(argc, argv);
  if (command == "long-clause") return generateLongClause(argc, argv);
  if (command == "long-comment") return generateLongComment(argc, argv);
  if (command == "header") return generateHeader(argc, argv);
  if (command == "aiger") return generateAiger(argc, argv);
  if (command == "aiger-header") return generateAigerHeader(argc, argv);
  if (command == "measure") return measure(argc, argv);
  die("unknown command " + std::string(command));
}
