// zefi against the QBF solver depqbf, on seeded random formulas and on the real instances of
// the corpus: the default negation has the expected prefix and form, and the solver's answer
// flips for the negation in every form.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Qbf {
  std::uint64_t headerVariables = 0, headerClauses = 0;
  std::vector<std::pair<char, std::uint32_t>> prefix;  // one entry per quantified variable
  std::vector<std::vector<long>> clauses;

  // One quantifier line per variable, or (joined) one per run of the same kind.
  std::string text(bool joined = false) const {
    std::ostringstream out;
    out << "p cnf " << headerVariables << ' ' << clauses.size() << '\n';
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      const bool opens = !joined || i == 0 || prefix[i - 1].first != prefix[i].first;
      const bool closes =
          !joined || i + 1 == prefix.size() || prefix[i + 1].first != prefix[i].first;
      out << (opens ? std::string(1, prefix[i].first) : "") << ' ' << prefix[i].second
          << (closes ? " 0\n" : "");
    }
    for (const auto& clause : clauses) {
      for (const long literal : clause) out << literal << ' ';
      out << "0\n";
    }
    return out.str();
  }
};

Qbf parse(const fs::path& path) {
  std::ifstream in(path);
  Qbf qbf;
  std::string line;
  bool open = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first == "c") continue;
    if (first == "p") {
      words >> first >> qbf.headerVariables >> qbf.headerClauses;
    } else if (first == "a" || first == "e") {
      for (long v; words >> v && v != 0;) qbf.prefix.emplace_back(first[0], std::uint32_t(v));
    } else {  // a clause may run over several lines
      if (!open) qbf.clauses.emplace_back();
      for (long v = std::stol(first);;) {
        open = v != 0;
        if (!open) break;
        qbf.clauses.back().push_back(v);
        if (!(words >> v)) break;
      }
    }
  }
  return qbf;
}

// The variables of in's clauses that its prefix leaves free, in order of first use.
std::vector<std::uint32_t> freeVariables(const Qbf& in) {
  std::set<std::uint32_t> quantified;
  for (const auto& [kind, variable] : in.prefix) quantified.insert(variable);
  std::vector<std::uint32_t> free;
  for (const auto& clause : in.clauses) {
    for (const long literal : clause) {
      if (quantified.insert(std::uint32_t(std::labs(literal))).second)
        free.push_back(std::uint32_t(std::labs(literal)));
    }
  }
  return free;
}

// What zefi must write as prefix: the input's, kinds exchanged; its free variables, in order
// of first use, universal; then the negation variable n and every gate variable existential.
void expectNegationForm(const Qbf& in, const Qbf& out, const std::string& name) {
  auto expected = in.prefix;
  std::uint32_t largest = std::uint32_t(in.headerVariables);
  for (auto& [kind, variable] : expected) {
    kind = kind == 'a' ? 'e' : 'a';
    largest = std::max(largest, variable);
  }
  for (const std::uint32_t variable : freeVariables(in)) {
    expected.emplace_back('a', variable);
    largest = std::max(largest, variable);
  }
  for (std::uint64_t v = largest + 1ull;
       v <= std::max<std::uint64_t>(out.headerVariables, largest + 1ull); ++v) {
    expected.emplace_back('e', std::uint32_t(v));
  }
  EXPECT_EQ(out.prefix, expected) << name;
  EXPECT_EQ(out.headerClauses, out.clauses.size()) << name;
  ASSERT_FALSE(out.clauses.empty()) << name;
  EXPECT_EQ(out.clauses.back(), std::vector<long>{long(largest) + 1}) << name << ": last clause";
  for (const auto& clause : out.clauses) {
    EXPECT_TRUE(clause.size() >= 1 && clause.size() <= 3) << name << ": a gate clause";
    for (const long literal : clause)
      EXPECT_LE(std::uint64_t(std::labs(literal)), out.headerVariables);
  }
}

int status(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// depqbf's answer: 10 true, 20 false, anything else undecided.
int solve(const fs::path& file, const std::string& options = "") {
  return status("timeout 30 depqbf " + options + " '" + file.string() + "' >/dev/null 2>&1");
}

// QCIR as zefi writes it, back to QDIMACS by plain Tseitin: each gate g = and/or(l, ...)
// gives its defining clauses over g, an existential variable placed innermost, and the
// output literal is a unit clause. The gates are numbered above every variable.
Qbf fromQcir(const fs::path& path) {
  std::ifstream in(path);
  Qbf qbf;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with('#')) continue;
    for (char& c : line) c = c == '(' || c == ')' || c == ',' || c == '=' ? ' ' : c;
    std::istringstream words(line);
    std::string first, kind;
    words >> first;
    if (first == "forall" || first == "exists") {
      for (long v; words >> v;) qbf.prefix.emplace_back(first == "forall" ? 'a' : 'e', v);
    } else if (first == "output") {
      qbf.clauses.emplace_back(std::istream_iterator<long>(words), std::istream_iterator<long>());
    } else {  // and: g -> l for each l, all l -> g; or: the same on the complements
      const long gate = std::stol(first), sign = (words >> kind, kind == "and") ? 1 : -1;
      std::vector<long> all{sign * gate};
      for (long l; words >> l; all.push_back(-sign * l))
        qbf.clauses.push_back({-sign * gate, sign * l});
      qbf.clauses.push_back(all);
      qbf.prefix.emplace_back('e', gate);  // after every quantifier line
      qbf.headerVariables = std::max<std::uint64_t>(qbf.headerVariables, gate);
    }
  }
  return qbf;
}

// The forms zefi writes: d default, c compact, q QCIR (depqbf reads it translated); the
// option that asks for one, the suffix of its file, and depqbf's options: it decides the
// translations of 826_SAT, s1269_d2_s and k_ph_n-16 only with blocked-clause elimination
// as inprocessing.
struct Form {
  char key;
  const char* option;
  const char* suffix;
  const char* solverOptions;
};
constexpr Form kForms[] = {
    {'d', "", ".inverted.qdimacs", ""},
    {'c', "--compact ", ".inverted.qdimacs", ""},
    {'q', "--qcir ", ".inverted.qcir", "--no-qbce-dynamic --qbce-inprocessing"}};

class Solver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (status("command -v depqbf >/dev/null") != 0) {
      if (std::getenv("CI") != nullptr) FAIL() << "depqbf is missing; CI must install it";
      GTEST_SKIP() << "depqbf is not installed (Debian package depqbf)";
    }
    dir = fs::temp_directory_path() / ("zefi-solver-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Negates file (in dir) with zefi in every form and checks the default one's form; with
  // answer 10 or 20, depqbf must give it for the input, with -1 any decided answer, and the
  // opposite one for the negation in each form whose key is in forms ('D': the default one
  // with its lines joined and blocked clauses eliminated).
  void expectNegation(const fs::path& file, int answer, std::string_view forms = "dcq") {
    const bool joined = forms.find('D') != forms.npos;
    const std::string name = file.filename().string();
    const Qbf in = parse(file);
    int before = 0;
    if (answer != 0) {
      // depqbf reads free variables as outermost existential: close them innermost.
      Qbf closed = in;
      for (const std::uint32_t variable : freeVariables(in))
        closed.prefix.emplace_back('e', variable);
      std::ofstream(dir / "closed") << closed.text();
      before = solve(dir / "closed");
      if (answer > 0) {
        EXPECT_EQ(before, answer) << name;
      }
      ASSERT_TRUE(before == 10 || before == 20) << name << ": undecided";
    }
    for (const Form& form : kForms) {
      const fs::path output = dir / (file.stem().string() + form.suffix);
      ASSERT_EQ(status(std::string(ZEFI_BINARY) + " " + form.option + "'" + file.string() + "' >'" +
                       (dir / "log").string() + "' 2>&1"),
                0)
          << name << ' ' << form.option;
      fs::path solved = output;
      std::string options = form.solverOptions;
      if (form.key == 'd') {  // the default form, whose shape is known
        const Qbf out = parse(output);
        expectNegationForm(in, out, name);
        if (joined) {
          std::ofstream(solved = dir / "joined") << out.text(true);
          options = "--no-qbce-dynamic --qbce-preprocessing";
        }
      }
      if (form.key == 'q') std::ofstream(solved = dir / "qcir") << fromQcir(output).text(true);
      if (answer != 0 && forms.find(joined && form.key == 'd' ? 'D' : form.key) != forms.npos) {
        EXPECT_EQ(solve(solved, options), 30 - before)
            << name << ' ' << form.option << ": the answer did not flip";
      }
    }
  }
  fs::path dir;
};

TEST_F(Solver, RandomFormulasFlip) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    Qbf qbf;
    const unsigned variables = 1 + random() % 8;
    qbf.headerVariables = variables;
    std::vector<std::uint32_t> order(variables);
    for (unsigned v = 0; v < variables; ++v) order[v] = v + 1;
    std::shuffle(order.begin(), order.end(), random);
    char kind = random() % 2 ? 'a' : 'e';
    for (const std::uint32_t variable : order) {
      if (random() % 3 == 0) kind = kind == 'a' ? 'e' : 'a';
      if (random() % 6 != 0) qbf.prefix.emplace_back(kind, variable);  // else free
    }
    qbf.clauses.resize(random() % 12);
    for (auto& clause : qbf.clauses) {
      for (unsigned width = random() % 4 + (random() % 20 != 0); width > 0; --width) {
        clause.push_back(long(1 + random() % variables) * (random() % 2 ? 1 : -1));
      }
    }
    qbf.headerClauses = qbf.clauses.size();
    const fs::path file = dir / ("random" + std::to_string(round) + ".qdimacs");
    std::ofstream(file) << qbf.text();
    expectNegation(file, -1);
  }
}

// The corpus instances that depqbf decides quickly (data/corpus-answers.txt), itself and
// their negations in the forms listed; the others are negated and checked for form alone.
TEST_F(Solver, CorpusInstancesFlip) {
  const fs::path corpus = fs::path(ZEFI_CORPUS_DIR) / "qdimacs";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no QDIMACS corpus at " << corpus;
  std::map<std::string, std::pair<int, std::string>> decided;
  std::ifstream answers(ZEFI_CORPUS_ANSWERS);
  for (std::string line, name, forms; std::getline(answers, line);) {
    int answer = 0;
    if (!line.starts_with('#') && std::istringstream(line) >> name >> answer >> forms)
      decided[name] = {answer, forms};
  }
  ASSERT_FALSE(decided.empty()) << "no answers read from " << ZEFI_CORPUS_ANSWERS;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const fs::path source = entry.path();
    if (source.filename() == "PROVENANCE.md") continue;
    const bool gzipped = source.extension() == ".gz";
    const fs::path file = dir / (gzipped ? source.stem() : source.filename());
    ASSERT_EQ(
        status((gzipped ? "gzip -dc '" : "cat '") + source.string() + "' >'" + file.string() + "'"),
        0);
    const auto found = decided.find(file.stem().string());
    if (found == decided.end()) {
      expectNegation(file, 0);
    } else {
      expectNegation(file, found->second.first, found->second.second);
    }
  }
}

}  // namespace
