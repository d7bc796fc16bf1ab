// The output pipeline: a form's text formed in pieces and written in order, on threads that
// each touch only their own part.
#pragma once

#include <iosfwd>

#include "app/output_file.hpp"
#include "negation/output_form.hpp"

namespace ZEFI {

// Builds form and writes its text to file's descriptor; true when every byte was written.
// Blocks are handed to the kernel on a thread of their own ("zefi-write"). The pieces of a
// bounded form are formed on the calling thread and, where a second core can run it, on a
// helper ("zefi-format"); into a file of its own (which is kept whole or not at all) they
// flow while the form is built, to standard output only once it is complete. The form's
// check runs beside the writing ("zefi-check"), its line printed to messages. None of the helpers
// receives the cleanup signals. On one core, or where no thread can be started, all of it is done
// in place, in the same order.
//
// Throws Exception("Internal error: ...") when a piece of a bounded form outgrows its block:
// nothing is then to be kept of the output.
bool writeForm(OutputForm& form, OutputFile& file, std::ostream& messages);

}  // namespace ZEFI
