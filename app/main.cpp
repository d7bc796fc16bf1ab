// zefi <filename>: writes the negation of a QDIMACS formula to <name>.inverted.qdimacs;
// zefi - reads standard input and writes standard output.
#include <csignal>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/invert.hpp"
#include "formula/formula.hpp"

namespace {

constexpr int kRejected = 30;

constexpr const char* kHelp =
    "Usage: zefi <filename>\n"
    "\n"
    "Writes the negation of the QDIMACS formula in <filename> to the file named <filename>\n"
    "cut at its last \".\" followed by \".inverted.qdimacs\" (f.qdimacs gives\n"
    "f.inverted.qdimacs, f.qdimacs.gz gives f.qdimacs.inverted.qdimacs). Input compressed\n"
    "with gzip, xz, bzip2 or zstd is read as well, recognised by its content.\n"
    "With \"-\" as <filename>, the formula is read from standard input and the negation\n"
    "written to standard output; messages then go to standard error (./- names a file).\n"
    "Exit status 0 when the negation was written, 30 after a message \"Error: ...\" when\n"
    "the input was rejected or the output could not be written.\n"
    "zefi --version prints the version.\n"
    "\n"
    "zefi --qcir <filename> writes the negation as a circuit in the QCIR-G14 format to\n"
    "<filename> cut at its last \".\" followed by \".inverted.qcir\".\n"
    "zefi --compact <filename> writes it as QDIMACS with one selector variable per clause\n"
    "(about a quarter of the default's size) to the same name as the default form.\n";

int report(std::ostream& messages, const std::string& message) {
  messages << "Error: " << message << std::endl;
  return kRejected;
}

// --help and --version: a reader that went away is a write error, not a death by signal.
int inform(const char* text) {
  std::signal(SIGPIPE, SIG_IGN);
  std::cout << text << std::flush;
  if (!std::cout) return report(std::cerr, "Cannot write standard output.");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // zefi <filename>, or zefi <form option> <filename>.
  const std::optional<ZEFI::NegationForm> form =
      argc >= 2 ? ZEFI::formNamed(argv[1]) : std::nullopt;
  if (argc != (form ? 3 : 2)) {
    std::cout << "Usage: zefi <filename>" << std::endl;
    return 0;
  }
  const std::string argument = argv[form ? 2 : 1];
  if (!form && argument == "--help") return inform(kHelp);
  if (!form && argument == "--version") return inform("zefi " ZEFI_VERSION "\n");
  // With "-", standard output carries the negation, so messages go to standard error.
  std::ostream& messages = ZEFI::isStandardStreams(argument) ? std::cerr : std::cout;
  // The input formula lives inside the try block, so that on every failure its memory is
  // given back before the message is printed.
  try {
    ZEFI::Formula input;
    ZEFI::invertFile(input, argument, form.value_or(ZEFI::NegationForm::Qdimacs));
  } catch (const ZEFI::Exception& failure) {
    return report(messages, failure.message);
  } catch (const std::bad_alloc&) {
    return report(messages, "Out of memory.");
  } catch (const std::length_error&) {  // a container asked for more than it can address
    return report(messages, "Out of memory.");
  } catch (const std::exception& failure) {
    return report(messages, failure.what());
  }
  return 0;
}
