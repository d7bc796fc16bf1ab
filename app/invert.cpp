#include "app/invert.hpp"

#include <unistd.h>

#include <iostream>
#include <memory>

#include "app/output_file.hpp"
#include "app/pipeline.hpp"
#include "formula/decompress.hpp"
#include "negation/forms.hpp"

namespace ZEFI {

namespace {

// The forms zefi writes: the option that asks for each, the suffix of its output's name, and
// how it is made.
struct FormEntry {
  NegationForm form;
  const char* option;
  const char* suffix;
  std::unique_ptr<OutputForm> (*make)(Formula& input);
};

constexpr FormEntry kForms[] = {
    {NegationForm::Qdimacs, nullptr, ".inverted.qdimacs", makeQdimacsNegation},
    {NegationForm::Qcir, "--qcir", ".inverted.qcir", makeQcirNegation},
    {NegationForm::Compact, "--compact", ".inverted.qdimacs", makeCompactNegation},
};

const FormEntry& entryOf(NegationForm form) {
  for (const FormEntry& entry : kForms) {
    if (entry.form == form) return entry;
  }
  return kForms[0];
}

}  // namespace

std::optional<NegationForm> formNamed(std::string_view option) {
  for (const FormEntry& entry : kForms) {
    if (entry.option != nullptr && option == entry.option) return entry.form;
  }
  return std::nullopt;
}

std::string outputNameFor(const std::string& inputName, NegationForm form) {
  const std::size_t dot = inputName.rfind('.');
  const std::string stem = dot == std::string::npos ? inputName : inputName.substr(0, dot);
  return stem + entryOf(form).suffix;
}

namespace {

void readInput(Formula& input, const std::string& fileName) {
  const std::string error = isStandardStreams(fileName) ? readQdimacsFrom(input, STDIN_FILENO)
                                                        : readQdimacsFile(input, fileName);
  if (!error.empty()) throw Exception(error);
}

}  // namespace

bool invertFile(Formula& input, const std::string& fileName, NegationForm form) {
  const FormEntry& entry = entryOf(form);
  const bool standardStreams = isStandardStreams(fileName);
  readInput(input, fileName);
  const std::unique_ptr<OutputForm> output = entry.make(input);
  OutputFile file(standardStreams ? std::string() : outputNameFor(fileName, form), standardStreams);
  const bool written = writeForm(*output, file, standardStreams ? std::cerr : std::cout);
  file.commit(written);
  return true;
}

}  // namespace ZEFI
