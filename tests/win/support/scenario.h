// Whole runs of the built program from table rows: the world before (a tree, registry
// contents, the block as a manifest packed through the tool's library), how the program is
// started and answered, and what must hold after (tree, registry, the full exit code, log
// lines, the dialogs seen in order, self-deletion).
//
// Texts are UTF-8 and may name ${T} (the row's folder), ${I} (the install folder), ${W}
// (the Windows folder), ${P} (Program Files), ${A} to ${D} (two-character names: in a double-byte
// code page each character ends in the byte 0x5C), ${Q} (a pattern of one such character) and
// ${short:RELATIVE} (the short path of a folder below ${T}).
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace scenario {

// The code pages a row runs under (the program that holds the table runs once under each).
enum Page : unsigned { k1252 = 1, k932 = 2, k950 = 4, kDoubleByte = k932 | k950, kAll = 7 };

/// What a hook may do while the run waits on a dialog.
struct World {
  std::string T;
  std::vector<HANDLE> holds;
  void Release();  // lets go of the files the tree holds
};

struct Row {
  const char *name = "";
  unsigned pages = k1252;
  // Below ${T}: "a\\b.txt" a file, "a\\" a folder, "name=>target" a host link to a relative
  // target, "a.\\" a folder by its literal name; after '|', comma-separated: ro (read-only),
  // held (open for reading, shared for reading only), writer (open for writing, all shared),
  // nodelete (read and write shared), reader (all shared), copy:PROGRAM (a helper built
  // beside the test program).
  std::vector<std::string> tree = {};
  // "HKCU\\key" (made empty), "HKCU\\key\\\\value" (made with "1"), "HKCU\\key=>\\Registry\\.."
  // (a link key), "shared:PATH=COUNT" (a SharedDLLs count; "=xHEX" for
  // bytes of another size).
  std::vector<std::string> registry = {};
  // The block's lists: files "folder|name|flag,flag"; folders "levels|folder|second|name";
  // registry entries in the notation above (a trailing '?': only if empty).
  std::vector<std::string> files = {}, folders = {}, patterns = {}, keys = {};
  std::string options = "";      // the manifest's options object, as JSON
  int bare = 0;                  // 1: the stub alone; 2: a block of messages without its end record
  std::string protect = "";      // a folder below ${T} that the system protects
  std::string probe = "0 0";     // the probe's sleep (ms) and exit code
  std::string install = "inst";  // the install folder, below ${T}
  std::string switches = "";     // the log switch is added unless one is given
  bool unquoted = false;         // the program's path not quoted
  std::vector<std::pair<std::string, int>> answers = {};  // dialog text, button (once each)
  std::string during = "";  // a dialog at which `hook` runs, then `duringButton` is pressed
  std::function<void(World &)> hook = nullptr;
  int duringButton = IDOK;
  bool preview = false;  // the tool's preview first: it changes nothing and shows the run's log
  // After the run:
  DWORD exit = 0;
  std::vector<std::string> kept = {}, gone = {};        // below ${T}
  std::vector<std::string> regKept = {}, regGone = {};  // "shared:PATH=COUNT" checks the count
  std::vector<std::string> log = {};      // outcome lines, in this order among the others
  std::vector<std::string> dialogs = {};  // every dialog shown, in order, by a text of each
  int selfDelete = 0;  // 1: the program deletes itself; 2: and what `gone` lists; -1: it stays
  std::vector<std::string> marker = {};  // the pre-removal probe's lines when the run ends
  bool noMarker = false;                 // the probe has written none by then
};

/// Runs the row when it takes the current code page.
void Run(const Row &row);

}  // namespace scenario
