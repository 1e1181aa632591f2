// tallowin: builds, inspects and checks removal data blocks.
#include <stdio.h>

#include "tallowin.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "file_io.h"
#endif

namespace {

int Run(const std::vector<std::string> &args) {
  std::string out, err;
  const int code = tallowin::RunCommandLine(args, &out, &err);
  fwrite(out.data(), 1, out.size(), stdout);
  fwrite(err.data(), 1, err.size(), stderr);
  return code;
}

}  // namespace

#ifdef _WIN32
// The arguments as the system holds them (UTF-16), taken to UTF-8: through the ANSI code page
// a name the code page lacks would arrive best-fitted, naming another file or program.
int wmain(int argc, wchar_t **argv) {
  // Output goes out byte for byte: a .reg file is UTF-16, where a text-mode CR would break it.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::string arg;
    if (!tallowin::WideToUtf8(argv[i], &arg)) {
      fprintf(stderr, "tallowin: argument %d is not valid UTF-16\n", i);
      return 2;
    }
    args.push_back(arg);
  }
  return Run(args);
}
#else
int main(int argc, char **argv) { return Run(std::vector<std::string>(argv, argv + argc)); }
#endif
