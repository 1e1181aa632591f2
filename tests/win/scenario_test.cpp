// Whole removals by the built program, one row each: the machine before, the block, how
// the program is started and answered; the machine, the exit code, the log and the
// dialogs after. ctest runs this program under code page 1252, 932 and 950
// (TALLOWIN_EXPECT_ACP); each row runs under the code pages it names.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testenv.h"
#include "ui/resource_ids.h"

namespace {

using scenario::Row;
using scenario::World;

const std::vector<std::string> kProduct = {"inst\\shared2.dll", "inst\\shared1.dll",
                                           "inst\\readonly.txt|ro", "inst\\held\\held.txt|held"};
const std::vector<std::string> kCounts = {"shared:${I}\\shared2.dll=2",
                                          "shared:${I}\\shared1.dll=1"};
const std::vector<std::string> kProductFiles = {".|shared2.dll|shared", ".|shared1.dll|shared",
                                                ".|readonly.txt", ".\\held|held.txt|checkInUse"};

template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// `n` files f0 ... below the install folder, or their entries.
std::vector<std::string> Files(int n, const std::string &prefix) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(prefix + "f" + std::to_string(i) + ".txt");
  return out;
}

// Keys below the test key.
std::vector<std::string> Keys(const std::vector<std::string> &relative) {
  std::vector<std::string> out;
  for (const std::string &r : relative) out.push_back("HKCU\\Software\\TallowinTests\\R\\" + r);
  return out;
}

// Answered as a person would, and unattended: shared libraries, a read-only file, a file
// that another program holds open.
TEST(WholeRun, APersonAnswers) {
  // clang-format off
  const Row rows[] = {
      {.name = "a cancelled in-use warning removes nothing", .tree = kProduct, .registry = kCounts,
       .files = kProductFiles, .answers = {{"<1>", IDOK}, {"<15>", IDCANCEL}}, .kept = kProduct,
       .regKept = {"shared:${I}\\shared1.dll=1"},
       .log = {"warned-in-use ${I}\\held\\held.txt", "answered cancel", "cancelled"},
       .dialogs = {"<1>", "<15>"}, .selfDelete = -1},
      {.name = "retry once the file is let go removes the rest",
       .tree = kProduct + std::vector<std::string>{"inst\\user-data.txt",
                                                   "inst\\probe.exe|copy:preremoval_probe.exe"},
       .registry = kCounts, .files = kProductFiles,
       .options = R"({"wait": true, "preRemoval": "probe.exe"})", .answers = {{"<1>", IDOK},
                   {"<9> ${I}\\readonly.txt", IDYES}, {"<10> ${I}\\shared1.dll", IDYES},
                   {"<2>", IDOK}}, .during = "<15>", .hook = [](World &w) { w.Release(); },
       .duringButton = IDRETRY, .kept = {"inst\\shared2.dll", "inst\\user-data.txt"},
       .gone = {"inst\\held", "inst\\readonly.txt", "inst\\shared1.dll"},
       .regKept = {"shared:${I}\\shared2.dll=1"}, .regGone = {"shared:${I}\\shared1.dll"},
       .log = {"answered retry", "scheduled-self-delete ${I}\\"},
       .dialogs = {"<1>", "<15>", "<11>", "<9> ${I}\\readonly.txt", "<10> ${I}\\shared1.dll",
                   "<2>"}, .selfDelete = 1, .marker = {"${I}", "\"${I}\\probe.exe\""}},
      // Confirmation; progress, whose status line opens with message 11; the prompt for the
      // read-only file, answered while the progress shows; the closing message.
      // A folder where a listed file should be is no file that anything holds: no warning.
      {.name = "a run asks, shows its progress and ends",
       .tree = Files(30, "inst\\") + std::vector<std::string>{"inst\\f0.txt|ro",
                                                               "inst\\folder.dll\\"},
       .files = Files(30, ".|") + std::vector<std::string>{".|folder.dll|checkInUse"}, .answers = {{"<1>", IDOK}, {"<2>", IDOK}}, .during = "<9>",
       .duringButton = IDC_PROMPT_YES, .gone = Files(30, "inst\\"),
       .dialogs = {"<1>", "<11>", "<9>", "<2>"}, .selfDelete = 1},
      {.name = "a cancelled confirmation", .tree = {"inst\\f0.txt"}, .files = {".|f0.txt"},
       .answers = {{"<1>", IDCANCEL}}, .kept = {"inst\\f0.txt"}, .log = {"cancelled"},
       .dialogs = {"<1>"}, .selfDelete = -1},
      // The questions of the file pass still come up when quiet.
      {.name = "Q", .tree = {"inst\\f0.txt|ro"}, .files = {".|f0.txt"},
       .switches = "/Q", .answers = {{"<9>", IDC_PROMPT_YES}}, .gone = {"inst\\f0.txt"},
       .dialogs = {"<9>"}, .selfDelete = 1},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

// Silent: the defaults answer every question, no window shows, and the exit code tells the
// outcome. A held file is left to the restart only where no standard user can change its
// path: never one that a walk found, and (Wine gives every folder its user as owner) not a
// listed one here either. X starts no pre-removal program.
TEST(WholeRun, Unattended) {
  // clang-format off
  const Row rows[] = {
      {.name = "silent defaults",
       .tree = kProduct + std::vector<std::string>{"inst\\shared-none.dll",
                                                   "inst\\walk\\user\\cache.txt|held",
                                                   "inst\\probe.exe|copy:preremoval_probe.exe"},
       .registry = kCounts,
       .files = kProductFiles + std::vector<std::string>{".|shared-none.dll|shared",
                                                         ".|missing.txt"},
       .patterns = {"walk\\*.*"}, .options = R"({"wait": true, "preRemoval": "probe.exe"})",
       .switches = "/S /LOG=\"${T}\\run.log\" /X", .exit = 1603,
       .kept = {"inst\\shared-none.dll", "inst\\shared2.dll", "inst\\held\\held.txt"},
       .gone = {"inst\\readonly.txt", "inst\\shared1.dll"},
       .log = {"absent ${I}\\missing.txt", "kept-default ${I}\\shared-none.dll",
               "in-use ${I}\\held\\held.txt", "removed ${I}\\readonly.txt",
               "removed ${I}\\shared1.dll", "kept-shared ${I}\\shared2.dll",
               "in-use ${I}\\walk\\user\\cache.txt"}, .selfDelete = -1, .noMarker = true},
      {.name = "a name the system refuses fails the run",
       .files = {".|bad<name>.txt"}, .switches = "/VERYSILENT", .exit = 1603,
       .log = {"failed:123 ${I}\\bad<name>.txt"}},
      {.name = "no block: one box without texts", .bare = 1, .answers = {{"", IDOK}},
       .exit = 0xFFFFFFFF, .dialogs = {""}},
      {.name = "no block, silent: no box", .bare = 1, .switches = "-s -log=\"${T}\\run.log\"",
       .exit = 0xFFFFFFFF, .log = {"unreadable ${I}\\uninstall.exe"}},
      // Errors show even with X.
      {.name = "no end record", .bare = 2, .switches = "/X", .answers = {{"<8>", IDOK}},
       .exit = 0xFFFFFFFF, .dialogs = {"<8> ${I}\\uninstall.exe"}},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

// What the run would do, seen first by the tool's preview: the preview changes nothing,
// and the run then logs the same lines. The entries lean on each other: a file listed and
// matched by a wildcard, a folder that only the run empties, a key listed below one deleted
// before it; a library in a folder its user can change is loaded by neither: the run is
// elevated (under Wine every owner is the user), so its code would run with the run's rights.
TEST(WholeRun, ThePreviewShowsTheRun) {
  const std::string key = "HKCU\\Software\\TallowinTests\\Preview",
                    logged = "HKEY_CURRENT_USER\\Software\\TallowinTests\\Preview";
  scenario::Run(
      {.name = "preview",
       .tree = kProduct + std::vector<std::string>{"inst\\data\\cache.dat", "inst\\logs\\a.log",
                                                   "inst\\logs\\b.log", "target\\x.log",
                                                   "inst\\logs\\linked=>../../target",
                                                   "inst\\reg.dll|copy:selfreg_probe.dll"},
       .registry = kCounts + std::vector<std::string>{key + "\\Product\\Sub\\\\Last",
                                                      key + "\\Settings\\\\Last"},
       .files = kProductFiles + std::vector<std::string>{".\\data|cache.dat", ".\\logs|a.log",
                                                         ".|reg.dll|selfRegister"},
       .folders = {"0|${I}\\data||", "0|${W}||"},
       .patterns = {"logs\\*.log"},
       .keys = {key + "\\Product", key + "\\Product\\Sub", key + "\\Settings\\\\Last",
                key + "\\Settings\\\\Last"},
       .switches = "/S",
       .preview = true,
       .exit = 1603,  // the link under logs fails the run
       .kept = {"target\\x.log", "inst\\reg.dll"},
       .gone = {"inst\\reg.dll.unregistered"},
       .log = {"not-loaded ${I}\\reg.dll", "in-use ${I}\\held\\held.txt",
               "removed ${I}\\shared1.dll", "kept-shared ${I}\\shared2.dll",
               "link ${I}\\logs\\linked", "protected ${W}", "absent " + logged + "\\Product\\Sub",
               "absent " + logged + "\\Settings\\\\Last"},
       .selfDelete = 1});
}

// What a standard user can plant in the folders that the program walks or names (links,
// names that the system reads as others) never reaches the other tree, and the run still
// ends in order. Host links stand in for junctions: under Wine every link is owned by the
// user, so each counts as one a standard user made.
TEST(WholeRun, PlantedLinksAndNames) {
  const std::vector<std::string> outside = {"out\\victim.txt", "out\\inner\\deep.txt",
                                            "out\\empty\\"};
  const struct {
    const char *what, *odd, *link;
    std::vector<std::string> patterns, files, folders;
  } plants[] = {
      {"a. beside a link a", "a.", "a", {"*.*"}, {}, {}},
      {"a folder named ...", "...", "", {"*.*"}, {}, {}},
      {"a link as a listed wildcard folder", "", "data", {"data\\*.*"}, {}, {}},
      {"a link above a listed wildcard folder", "", "data", {"data\\inner\\*.*"}, {}, {}},
      {"a link as a listed file's folder", "", "data", {}, {".\\data|victim.txt"}, {}},
      {"a link as a folder entry's folder", "", "data", {}, {}, {"0|${I}\\data||victim.txt"}},
      {"a link as a climbed folder", "", "data", {}, {}, {"1|${I}\\data\\empty||"}},
      {"a link climbed by the empty-folder pass", "", "data", {}, {".\\data\\empty|x"}, {}},
  };
  for (const auto &p : plants) {
    Row row = {.name = p.what,
               .tree = outside,
               .registry = {"HKCU\\Software\\TallowinTests\\Links\\\\v"},
               .files = p.files,
               .folders = p.folders,
               .patterns = p.patterns,
               .keys = {"HKCU\\Software\\TallowinTests\\Links"},
               .switches = "/X",
               .kept = outside,
               .gone = {"out\\run.log"},
               .regGone = {"HKCU\\Software\\TallowinTests\\Links"}};
    if (p.odd[0]) row.tree.push_back("inst\\" + std::string(p.odd) + "\\");
    if (p.link[0]) {
      row.tree.push_back("inst\\" + std::string(p.link) + "=>../out");
      // A log asked for behind the link is not written there either.
      row.switches += " /LOG=\"${I}\\" + std::string(p.link) + "\\run.log\"";
    }
    scenario::Run(row);
  }
  // While the file pass waits on the prompt for a read-only file, the folders of its path
  // are held: no other process can rename or replace one. The file itself can be swapped in
  // its folder meanwhile; the delete then takes nothing, since only the file that was
  // checked (and made writable) may go.
  scenario::Run(
      {.name = "the folders of an entry cannot be renamed meanwhile",
       .tree = {"data\\sub\\ro.txt|ro", "data\\keep.txt"},
       .files = {"${T}\\data\\sub|ro.txt"},
       .switches = "/X",
       .during = "<9>",
       .hook =
           [](World &w) {
             EXPECT_FALSE(
                 MoveFileA((w.T + "\\data\\sub").c_str(), (w.T + "\\data\\moved").c_str()));
             EXPECT_FALSE(MoveFileA((w.T + "\\data").c_str(), (w.T + "\\moved").c_str()));
             const std::string file = w.T + "\\data\\sub\\ro.txt";
             ASSERT_TRUE(MoveFileA(file.c_str(), (w.T + "\\data\\sub\\checked.txt").c_str()));
             ASSERT_TRUE(testenv::WriteText(file, "swapped in"));
           },
       .duringButton = IDYES,
       .kept = {"data\\keep.txt", "data\\sub\\ro.txt", "data\\sub\\checked.txt"},
       .gone = {"data\\moved", "moved"},
       .dialogs = {"<9>"}});
}

// Started without quotes from folders with names beyond ASCII; in the double-byte code
// pages, from folders whose names end in backslash bytes.
TEST(WholeRun, NamesOfTheCodePage) {
  const std::string I = "${A}${B}", K = I + "\\${B}\\${A}";
  scenario::Run(
      {.name = "a product in such folders is removed exactly",
       .pages = scenario::kAll,
       .tree = {I + "\\${C}\\${D}\\c.txt", I + "\\x.txt", K + "\\m.log", K + "\\keep.txt",
                I + "\\${A}.tmp", I + "\\${A}${A}.tmp", "data\\${C}\\${D}\\f.txt",
                "data\\keep.txt"},
       .registry = {"HKCU\\Software\\TallowinTests\\CodePage\\${A}\\k\\\\v",
                    "HKCU\\Software\\TallowinTests\\CodePage\\${A}\\\\keep"},
       .files = {".\\${C}\\${D}|c.txt", "${I}|x.txt"},
       .folders = {"2|${T}\\data\\${C}\\${D}||f.txt"},
       .patterns = {"${B}\\*.log", "${Q}.tmp"},
       .keys = {"HKCU\\Software\\TallowinTests\\CodePage\\${A}\\k"},
       .install = I,
       .switches = "/Q",
       .unquoted = true,
       .kept = {K + "\\keep.txt", I + "\\${A}${A}.tmp", "data\\keep.txt"},
       .gone = {I + "\\${C}", I + "\\x.txt", K + "\\m.log", I + "\\${A}.tmp", "data\\${C}"},
       .regKept = {"HKCU\\Software\\TallowinTests\\CodePage\\${A}\\\\keep"},
       .regGone = {"HKCU\\Software\\TallowinTests\\CodePage\\${A}\\k"},
       .selfDelete = 1});
  // Without what it left, the program deletes itself and its folder.
  scenario::Run({.name = "and then its folder",
                 .pages = scenario::kAll,
                 .tree = {I + "\\x.txt"},
                 .files = {"${I}|x.txt"},
                 .install = I,
                 .switches = "/Q",
                 .unquoted = true,
                 .gone = {I},
                 .selfDelete = 2});
  // The path is held by characters: a folder whose name ends in a 0x5C byte is one folder,
  // and a user's link below it still stops the entry.
  scenario::Run({.name = "a link below a folder ending in a backslash byte",
                 .pages = scenario::kAll,
                 .tree = {"${A}\\target\\x.txt", "${A}\\link=>target"},
                 .files = {"${T}\\${A}\\link|x.txt", "${T}\\${A}\\target|x.txt"},
                 .switches = "/S /X",
                 .exit = 1603,
                 .gone = {"${A}\\target\\x.txt"},
                 .log = {"link ${T}\\${A}\\link\\x.txt"}});
}

TEST(WholeRun, Wildcards) {
  // clang-format off
  const Row rows[] = {
      // A folder whose name matches is no file: a pattern takes files only. A missing
      // folder is passed over (as on a second run), and the run still ends with 0.
      {.name = "a relative pattern cleans the install tree",
       .tree = {"inst\\a.tmp", "inst\\keep.txt", "inst\\sub\\b.tmp", "inst\\sub\\deeper\\c.tmp",
                "inst\\empty\\inner\\", "inst\\mixed\\x.tmp", "inst\\mixed\\y.txt",
                "inst\\mixed\\tmpdir.tmp\\z.txt"},
       .patterns = {"missing\\*.tmp", "*.tmp"}, .switches = "/S /X",
       .kept = {"inst\\keep.txt", "inst\\mixed\\y.txt", "inst\\mixed\\tmpdir.tmp\\z.txt"},
       .gone = {"inst\\a.tmp", "inst\\sub", "inst\\empty", "inst\\mixed\\x.tmp"}},
      // A macro text takes its folder's tree but not its parent; a trailing backslash
      // removes empty folders only; a read-only match keeps its folders up to the text's.
      {.name = "each text removes what its own tree allows",
       .tree = {"inst\\A\\B\\one.log", "inst\\A\\B\\C\\two.dat", "inst\\A\\beside.txt",
                "inst\\tree\\full\\f.txt", "inst\\tree\\empty1\\", "inst\\tree\\empty2\\inner\\",
                "inst\\bare\\x\\y\\", "inst\\ro\\a\\b\\locked.tmp|ro", "inst\\ro\\a\\loose.tmp"},
       .patterns = {"#InstallDir#\\A\\B\\*.*", "tree\\", "bare\\", "ro\\*.tmp"}, .switches = "/X",
       .kept = {"inst\\A\\beside.txt", "inst\\tree\\full\\f.txt", "inst\\ro\\a\\b\\locked.tmp"},
       .gone = {"inst\\A\\B", "inst\\tree\\empty1", "inst\\tree\\empty2", "inst\\bare",
                "inst\\ro\\a\\loose.tmp"}},
      // Texts written with "..", trailing dots, forward slashes or another letter case reach
      // a protected folder only in the form the system resolves it to: nothing in it goes; a
      // walk goes on with its siblings, and the list with its next text. The same route to an
      // unprotected folder takes what it names.
      {.name = "routes into a protected folder delete nothing",
       .tree = {"prot\\marker.log", "prot\\deep\\inner.log", "prot\\two.tmp", "a-sib\\one.tmp",
                "z-sib\\three.tmp", "open\\marker.log"},
       .patterns = {"..\\prot\\*.log", "..\\prot.\\*.log", "../prot/*.log",
                    "..\\inst\\..\\prot\\*.log", "..\\PrOt\\*.*", "..\\.\\prot..\\*.log",
                    "#InstallDir#\\..\\prot\\*.log", "..\\*.tmp", "../inst\\..\\open./*.log"},
       .protect = "prot", .switches = "/X",
       .kept = {"prot\\marker.log", "prot\\deep\\inner.log", "prot\\two.tmp"},
       .gone = {"a-sib", "z-sib", "open"}},
      // The search for *.htm by itself also returns x.html through its short name. A missing
      // folder or a text too long is skipped: cut at 259 characters the last text would end
      // in "*???...", matching every file.
      {.name = "short names do not widen the match",
       .tree = {"inst\\x.html", "inst\\y.htm", "inst\\sub\\Z.HTM", "inst\\sub\\long name.htmlx",
                "inst\\keep.txt", "inst\\readme", "inst\\readme.txt", "inst\\readmefirst",
                "inst\\sub\\a.tmp"},
       .patterns = {"*.htm", "readme.*", "missing\\*.tmp",
                    "sub\\*" + std::string(300, '?') + ".tmp"},
       .switches = "/X",
       .kept = {"inst\\x.html", "inst\\sub\\long name.htmlx", "inst\\keep.txt",
                "inst\\readmefirst", "inst\\sub\\a.tmp"},
       .gone = {"inst\\y.htm", "inst\\sub\\Z.HTM", "inst\\readme", "inst\\readme.txt"}},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

TEST(WholeRun, FolderEntries) {
  // clang-format off
  const Row rows[] = {
      // Named files go first, then each folder climbs its levels; "two" is beyond the level
      // count, a protected second folder blocks its pair, and a read-only file stays
      // without a question. Entries for a folder already gone come first and are passed
      // over, as on a second run.
      {.name = "folder lists delete named files then climb",
       .tree = {"two\\top\\mid\\leaf\\", "held\\top\\mid\\leaf\\", "held\\top\\mid\\file.txt",
                "held\\top\\other.txt", "zero\\leaf\\", "one\\a\\full\\f.txt", "pair\\one\\",
                "pair\\two\\", "blocked\\first\\", "deep\\x\\", "ff\\named.txt", "ff\\other.txt",
                "ff\\ro.txt|ro"},
       .folders = {"0|${T}\\gone\\inner||", "1|${T}\\gone||lock.tmp",
                   "2|${T}\\two\\top\\mid\\leaf||", "1|${T}\\one\\a\\full||", "100|${T}\\deep\\x||",
                   "2|${T}\\held\\top\\mid\\leaf||", "0|${T}\\zero\\leaf||",
                   "1|${T}\\pair\\one|${T}\\pair\\two|", "1|${T}\\blocked\\first|${W}|",
                   "0|${T}\\ff||named.txt", "0|${T}\\ff\\||ro.txt"}, .switches = "/X",
       .kept = {"two", "held\\top\\mid\\file.txt", "one\\a\\full", "blocked\\first",
                "ff\\other.txt", "ff\\ro.txt"},
       .gone = {"two\\top", "held\\top\\mid\\leaf", "zero\\leaf", "pair", "deep", "ff\\named.txt"}},
      // Built in full the long name is a file in "cut"; cut short it would end in a
      // backslash after "cut" and remove it. A folder held open by another program stays.
      // A parent whose try waits for the next entry in it is still tried when that
      // entry's folder is gone ("m").
      {.name = "the empty-folder pass climbs from each file's folder",
       .tree = {"inst\\a\\b\\", "inst\\fonts\\", "inst\\n\\sub\\", "abs\\p\\q\\", "abs\\keep.txt",
                "cut\\", "inst\\held\\|held", "inst\\m\\x\\", "inst\\m\\y\\z\\"},
       .files = {".\\a\\b|one.dll", ".\\a\\b|two.dll", ".\\fonts|f.ttf|font", ".\\n|sub\\deep.txt",
                 "${T}\\abs\\p\\q|", "${T}\\cut|" + std::string(300, 'y'), ".\\held|x.dll",
                 ".\\m\\x|a.dll", ".\\m\\y\\z|b.dll", ".\\m\\gone|c.dll"},
       .switches = "/X", .kept = {"inst\\fonts", "abs\\keep.txt", "cut", "inst\\held"},
       .gone = {"inst\\a", "inst\\n", "abs\\p\\q", "inst\\m"}, .log = {"failed:32 ${I}\\held"}},
      // Written with "..", trailing dots, forward slashes, another letter case or a short
      // name, an entry reaches a protected folder only as the folder it is: a climb stops
      // there, an entry for the folder keeps it, and only the file an entry names goes.
      {.name = "routes into a protected folder remove only the named file",
       .tree = {"protected\\a.lnk", "protected\\sub\\", "open\\sub\\"},
       .folders = {"1|${T}\\inst\\..\\protected.\\sub||", "1|${T}\\inst\\..\\open.\\sub||",
                   "0|${T}\\inst\\..\\protected||", "0|${T}\\protected.||",
                   "0|${T}/inst/../protected||", "0|${T}\\INST\\..\\PROTECTED\\||",
                   "0|${T}\\inst\\..\\protected.||a.lnk", "0|${short:protected}||"},
       .protect = "protected", .switches = "/X", .kept = {"protected"},
       .gone = {"protected\\a.lnk", "protected\\sub", "open"}},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

// Locked means held by others for writing or without letting us both read and write; a
// file that is not locked but may not be deleted stays too. The in-use flag does not keep
// a file from the common way out.
TEST(WholeRun, FilesAndTheirQuestions) {
  // clang-format off
  const Row rows[] = {
      {.name = "plain files go unless held",
       .tree = {"inst\\free.dat", "inst\\readonly.dat|ro", "inst\\held.dat|held",
                "inst\\heldro.dat|ro,held", "inst\\writer.dat|writer",
                "inst\\nodelete.dat|nodelete",
                "inst\\reader.dat|reader", "inst\\sub\\", "inst\\folder.dll\\"},
       .registry = {"shared:${I}\\folder.dll=2"},
       .files = {".\\sub||checkInUse", ".|free.dat|checkInUse", ".|readonly.dat|checkInUse",
                 ".|held.dat", ".|heldro.dat", ".|writer.dat", ".|nodelete.dat|checkInUse",
                 ".|reader.dat|checkInUse", ".|folder.dll|checkInUse,shared,selfRegister"},
       .switches = "/X", .answers = {{"<9>", IDC_PROMPT_NO}},
       .kept = {"inst\\readonly.dat|ro", "inst\\held.dat", "inst\\heldro.dat|ro", "inst\\writer.dat",
                "inst\\nodelete.dat", "inst\\folder.dll"},
       .gone = {"inst\\free.dat", "inst\\reader.dat", "inst\\sub"},
       .regKept = {"shared:${I}\\folder.dll=2"}, .log = {"not-a-file ${I}\\folder.dll"},
       .dialogs = {"<9> ${I}\\readonly.dat"}},
      // A short value fills the low bytes of the preset count 1 only; a locked file's count
      // that would reach 0 is not written; held files carry every flag and none asks.
      {.name = "shared counts decide and locked files never ask",
       .tree = {"inst\\oneno.dll", "inst\\zero.dll", "inst\\novalue.dll", "inst\\short.dll",
                "inst\\empty.dll", "inst\\held3.dll|held", "inst\\held1.dll|held",
                "inst\\heldnone.dll|held"},
       .registry = {"shared:${I}\\oneno.dll=1", "shared:${I}\\zero.dll=0",
                    "shared:${I}\\short.dll=x0500",
                    "shared:${I}\\empty.dll=x", "shared:${I}\\held3.dll=3",
                    "shared:${I}\\held1.dll=1"},
       .files = {".|oneno.dll|shared", ".|zero.dll|shared", ".|novalue.dll|shared",
                 ".|short.dll|shared", ".|empty.dll|shared", ".|held3.dll|shared,font,selfRegister",
                 ".|held1.dll|shared,font,selfRegister", ".|heldnone.dll|shared,font,selfRegister"},
       .switches = "/X",
       .answers = {{"${I}\\oneno.dll", IDNO}, {"${I}\\empty.dll", IDNO}, {"<10>", IDYES},
                   {"<10>", IDYES}},
       .kept = {"inst\\oneno.dll", "inst\\short.dll", "inst\\empty.dll", "inst\\held3.dll",
                "inst\\held1.dll", "inst\\heldnone.dll"},
       .gone = {"inst\\zero.dll", "inst\\novalue.dll"},
       .regKept = {"shared:${I}\\oneno.dll=0", "shared:${I}\\short.dll=x0400",
                   "shared:${I}\\empty.dll=x",
                   "shared:${I}\\held3.dll=2", "shared:${I}\\held1.dll=1"},
       .regGone = {"shared:${I}\\zero.dll", "shared:${I}\\novalue.dll",
                   "shared:${I}\\heldnone.dll"},
       .dialogs = {"<10> ${I}\\empty.dll", "<10> ${I}\\novalue.dll", "<10> ${I}\\zero.dll",
                   "<10> ${I}\\oneno.dll"}},
      // Handled last first: a file that is no library and the library (neither loaded by an
      // elevated run from a folder its user can change), the font, then d, c, b, a; "No to
      // all" keeps a without asking.
      {.name = "the prompt decides for read-only files unless font or self-registering",
       .tree = {"inst\\a.txt|ro", "inst\\b.txt|ro", "inst\\c.txt|ro", "inst\\d.txt|ro",
                "inst\\f.fon|ro", "inst\\probe.dll|copy:selfreg_probe.dll,ro", "inst\\text.dll"},
       .files = {".|a.txt", ".|b.txt", ".|c.txt", ".|d.txt", ".|f.fon|font",
                 ".|probe.dll|selfRegister",
                 ".|text.dll|selfRegister"}, .switches = "/X",
       .answers = {{"${I}\\d.txt", IDC_PROMPT_YES}, {"${I}\\c.txt", IDNO},
                   {"${I}\\b.txt", IDC_PROMPT_NO_ALL}},
       .kept = {"inst\\probe.dll", "inst\\text.dll", "inst\\a.txt", "inst\\b.txt", "inst\\c.txt"},
       .gone = {"inst\\probe.dll.unregistered", "inst\\f.fon", "inst\\d.txt"},
       .log = {"not-loaded ${I}\\text.dll", "not-loaded ${I}\\probe.dll"},
       .dialogs = {"<9> ${I}\\d.txt", "<9> ${I}\\c.txt", "<9> ${I}\\b.txt"}},
      {.name = "yes to all",
       .tree = {"inst\\a.txt|ro", "inst\\b.txt|ro", "inst\\c.txt|ro"},
       .files = {".|a.txt", ".|b.txt", ".|c.txt"}, .switches = "/X",
       .answers = {{"<9>", IDC_PROMPT_YES_ALL}},
       .gone = {"inst\\a.txt", "inst\\b.txt", "inst\\c.txt"}, .dialogs = {"<9> ${I}\\c.txt"}},
      // A leading dot names the install folder only before a backslash. A file already
      // gone (handled first: the list goes last first) ends nothing.
      {.name = "folders relative to the install folder or absolute",
       .tree = {"inst\\x.dll", "inst\\sub\\y.dll", "other\\z.dll", "other\\w.dll"},
       .files = {".sub|x.dll", ".\\sub|y.dll", "${T}\\other|z.dll", "${T}\\other\\|w.dll",
                 ".|gone.dll"},
       .switches = "/S /X", .gone = {"inst\\x.dll", "inst\\sub\\y.dll", "other"}},
  };
  // clang-format on
  // This thread reads no message while a run goes on: its window answers no broadcast, and
  // the font removed in the rows above must not wait on it for good.
  const HWND deaf =
      CreateWindowA("STATIC", "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  for (const Row &row : rows) scenario::Run(row);
  DestroyWindow(deaf);
}

TEST(WholeRun, Registry) {
  const std::string R = "HKEY_CURRENT_USER\\Software\\TallowinTests\\R\\",
                    kTarget = "HKLM\\Software\\TallowinTests\\Target";
  // clang-format off
  const Row rows[] = {
      // Values in a row share their key but never across other keys: "PA" and "PB" have key
      // texts of one length, "PA2" starts like "PA", and a key entry lies between values.
      {.name = "value entries delete one value each",
       .registry = Keys({"PA\\\\a", "PA\\\\b", "PA\\\\keep", "PA\\\\", "PB\\\\a", "PB\\\\b",
                         "PB\\\\keep", "PA2\\\\a", "PA2\\\\b", "PA2\\\\keep", "PA\\Sub\\\\v",
                         "Defaulted\\\\", "Defaulted\\\\Kept"}),
       .keys = Keys({"PA\\\\a", "PA\\\\b", "PA2\\\\a", "PB\\\\a", "PA\\Sub", "PA\\\\Missing",
                     "Missing\\\\a", "PB\\\\b", "PA2\\\\b", "Defaulted\\\\"}), .switches = "/S /X",
       .regKept = Keys({"PA\\\\keep", "PB\\\\keep", "PA2\\\\keep", "PA\\\\", "Defaulted\\\\Kept"}),
       .regGone = Keys({"PA\\\\a", "PA\\\\b", "PB\\\\a", "PB\\\\b", "PA2\\\\a", "PA2\\\\b",
                        "PA\\Sub", "Missing", "Defaulted\\\\"})},
      // Subkeys and values named beyond the ANSI code page (its enumeration gives "???"):
      // the tree goes whole. Only a listed key that was not there is absent, and one
      // absent first ends nothing.
      {.name = "key entries delete whole trees whatever their names",
       .registry = Keys({"Tree\\A\\B\\C\\D\\\\v", "Tree\\A\\Side\\\\v", "Tree\\Z\\\\",
                         "Tree\\\\v", "Neighbour\\\\v", "Tree\\日本語\\\\値", "Tree\\日本語\\子\\\\値"}),
       .keys = Keys({"Gone", "Tree", "Missing", "Missing\\\\v"}), .switches = "/S /X",
       .regKept = Keys({"Neighbour\\\\v"}), .regGone = Keys({"Tree"}),
       .log = {"removed " + R + "Tree", "absent " + R + "Missing", "absent " + R + "Missing\\\\v"}},
      // Only if empty: a key with a value or a subkey stays whole, an empty one goes, and a
      // vendor key goes once the last product key listed before it has gone.
      {.name = "keys marked if empty go only when they hold nothing",
       .registry = Keys({"Vendor\\Product\\\\v", "Vendor\\Other\\\\v", "Valued\\\\x", "Empty",
                         "Vendor2\\Last\\\\v"}),
       .keys = Keys({"Vendor\\Product", "Vendor?", "Valued?", "Empty?", "Missing?", "Vendor2\\Last",
                     "Vendor2?"}),
       .switches = "/S /X", .regKept = Keys({"Vendor\\Other\\\\v", "Valued\\\\x"}),
       .regGone = Keys({"Vendor\\Product", "Empty", "Vendor2"})},
      // A user's link key in his own hive, to the machine's keys: neither a tree holding it,
      // nor a key listed through it, nor a value through it reaches the link's target; the
      // tree goes up to the link, and each entry fails the run.
      {.name = "link keys are left and nothing behind them is touched",
       .registry = Keys({"Tree\\Before\\\\v", "Tree\\Z\\\\v",
                         "Tree\\Link=>\\Registry\\Machine\\Software\\TallowinTests\\Target"}) +
                   std::vector<std::string>{kTarget + "\\Inner\\\\v", kTarget + "\\\\v"},
       .keys = Keys({"Tree\\Link\\Inner", "Tree\\Link\\\\v", "Tree"}), .switches = "/S /X",
       .exit = 1603,
       .regKept = Keys({"Tree\\Z", "Tree\\Link"}) +
                  std::vector<std::string>{kTarget + "\\Inner\\\\v", kTarget + "\\\\v"},
       .regGone = Keys({"Tree\\Before"}),
       .log = {"link " + R + "Tree\\Link\\Inner", "link " + R + "Tree\\Link\\\\v",
               "link " + R + "Tree"}},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

// The pre-removal program, a probe that records how it was started: in the install folder,
// named relative to it, with its arguments; waited for (the probe writes its marker after
// its sleep) or not.
TEST(WholeRun, PreRemovalProgram) {
  const std::string program = "inst\\Product Tools\\pre removal.exe|copy:preremoval_probe.exe";
  const Row rows[] = {
      // The probe ends with STILL_ACTIVE: only its handle can tell that it ended.
      {.name = "waited for, with its arguments",
       .tree = {program},
       .options = R"({"wait": true, "preRemoval": )"
                  R"("\"#InstallDir#\\Product Tools\\pre removal.exe\" one \"two words\""})",
       .probe = "1500 259",
       .switches = "/S",
       .selfDelete = 1,
       .marker = {"${I}\\Product Tools",
                  "\"${I}\\Product Tools\\pre removal.exe\" one \"two words\"", "one",
                  "two words"}},
      // The probe sleeps long enough that the run ends first even on a loaded machine.
      {.name = "not waited for",
       .tree = {program},
       .options = R"({"preRemoval": "Product Tools\\pre removal.exe"})",
       .probe = "6000 0",
       .switches = "/S",
       .selfDelete = 1,
       .noMarker = true},
  };
  for (const Row &row : rows) scenario::Run(row);
}

// A product in Program Files: the program deletes itself and its folder once empty, whatever
// characters its path holds; a folder entry climbs to the vendor's folder, which the
// program itself keeps until its self-deletion, and the vendor key goes if empty. A vendor
// folder and key holding another product stay.
TEST(WholeRun, SelfDeletion) {
  const std::string odd = "${P}\\A&B 100% !x! \u201cq\u201d \u00e9";
  // clang-format off
  const Row rows[] = {
      {.name = "the program and its folder", .tree = {"${P}\\A\\", "${P}\\A&B 100\\"},
       .install = odd, .switches = "/S", .kept = {"${P}\\A", "${P}\\A&B 100"}, .gone = {odd},
       .selfDelete = 2},
      {.name = "the vendor's folder and key",
       .tree = {"${P}\\TallowinVendorA\\"},
       .registry = {"HKLM\\Software\\TallowinTests\\VendorA\\Product\\\\v"},
       .folders = {"1|${I}||"}, .keys = {"HKLM\\Software\\TallowinTests\\VendorA\\Product",
                "HKLM\\Software\\TallowinTests\\VendorA?"},
       .install = "${P}\\TallowinVendorA\\Product", .switches = "/S",
       .gone = {"${P}\\TallowinVendorA"}, .regGone = {"HKLM\\Software\\TallowinTests\\VendorA"},
       .log = {"scheduled-self-delete ${P}\\TallowinVendorA"}, .selfDelete = 2},
      {.name = "not when another product is there",
       .tree = {"${P}\\TallowinVendorB\\", "${P}\\TallowinVendorB\\Other\\other.exe"},
       .registry = {"HKLM\\Software\\TallowinTests\\VendorB\\Product\\\\v",
                    "HKLM\\Software\\TallowinTests\\VendorB\\Other\\\\v"}, .folders = {"1|${I}||"},
       .keys = {"HKLM\\Software\\TallowinTests\\VendorB\\Product",
                "HKLM\\Software\\TallowinTests\\VendorB?"},
       .install = "${P}\\TallowinVendorB\\Product", .switches = "/S",
       .kept = {"${P}\\TallowinVendorB\\Other\\other.exe"},
       .gone = {"${P}\\TallowinVendorB\\Product"},
       .regKept = {"HKLM\\Software\\TallowinTests\\VendorB\\Other\\\\v"}, .selfDelete = 2},
  };
  // clang-format on
  for (const Row &row : rows) scenario::Run(row);
}

}  // namespace
