// tallowin preview: what a silent removal would do on this machine, with nothing done.
#pragma once
#include <string>

#include "pe_image.h"

namespace tallowin {

/// Empty when a tool of `toolIs64` may preview a program with `program`'s headers; else
/// the reason, naming the tool to use: the two architectures see different folders and
/// registry views, so a preview across them would show another removal.
std::string PreviewArchitectureRefusal(const PeHeaders &program, bool toolIs64);

/// Runs the program's own passes over this machine with every action held back and writes
/// one line per entry, in the log's format, to `output` (empty: standard output). Returns
/// the exit code that the silent run would return, or 2 with the reason in *err. On the
/// host the preview is refused: it needs the machine the program would run on.
int Preview(const std::string &program, const std::string &output, std::string *err);

}  // namespace tallowin
