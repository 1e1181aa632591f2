// tallowin: builds, inspects and checks removal data blocks.
#include <stdio.h>

#include "tallowin.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv, argv + argc);
  std::string out, err;
  const int code = tallowin::RunCommandLine(args, &out, &err);
  fwrite(out.data(), 1, out.size(), stdout);
  fwrite(err.data(), 1, err.size(), stderr);
  return code;
}
