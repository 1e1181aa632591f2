// tallowin preview: the part that every build of the tool shares.
#include "preview.h"

namespace tallowin {

std::string PreviewArchitectureRefusal(const PeHeaders &program, bool toolIs64) {
  if (program.pe32Plus == toolIs64) return "";
  return std::string("is a ") + (program.pe32Plus ? "64-bit" : "32-bit") + " program (" +
         program.Kind() + "): preview it with the " + (program.pe32Plus ? "64-bit" : "32-bit") +
         " tool, " + (program.pe32Plus ? "win64" : "win32") +
         "\\tallowin.exe; this one sees the folders and registry of " +
         (toolIs64 ? "64-bit" : "32-bit") + " programs";
}

#ifndef _WIN32
int Preview(const std::string &, const std::string &, std::string *err) {
  *err +=
      "tallowin: preview runs on Windows only: run the Windows tool (win32\\tallowin.exe or "
      "win64\\tallowin.exe, as the program's architecture) on the machine to be cleaned\n";
  return 2;
}
#endif

}  // namespace tallowin
