// tallowin: builds, inspects and checks removal data blocks.
#include <stdio.h>

#include "tallowin.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char **argv) {
#ifdef _WIN32
  // Output goes out byte for byte: a .reg file is UTF-16, where a text-mode CR would break it.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<std::string> args(argv, argv + argc);
  std::string out, err;
  const int code = tallowin::RunCommandLine(args, &out, &err);
  fwrite(out.data(), 1, out.size(), stdout);
  fwrite(err.data(), 1, err.size(), stderr);
  return code;
}
