#include "support/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "base/base.h"
#include "manifest.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace scenario {

void World::Release() {
  for (HANDLE h : holds) CloseHandle(h);
  holds.clear();
}

namespace {

const char kShared[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kTestKey[] = "Software\\TallowinTests";
const char kPending[] = "System\\CurrentControlSet\\Control\\Session Manager";

unsigned CurrentPage() {
  const UINT acp = GetACP();
  return acp == 932 ? k932 : acp == 950 ? k950 : k1252;
}

std::wstring Wide(const std::string &utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], (int)wide.size());
  return wide.c_str();
}

std::string Acp(const std::string &utf8) {
  const std::wstring wide = Wide(utf8);
  std::string out(wide.size() * 2 + 1, '\0');
  out.resize(
      WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], (int)out.size(), nullptr, nullptr));
  return out.c_str();
}

// The row's variables, each given in UTF-8.
struct Vars {
  std::string T, I, W, P, names[4], Q;

  explicit Vars(const std::string &folder, const std::string &install) : T(folder) {
    char windows[MAX_PATH];
    W = std::string(windows, GetWindowsDirectoryA(windows, MAX_PATH));
    ExpandEnvironmentStringsA("%ProgramFiles%", windows, MAX_PATH);
    P = windows;
    static const char *const kNames[][4] = {
        {u8"D\u00e9", u8"\u00e8s", u8"\u00eaz", u8"\u00eb\u00ef"},
        {u8"\u30bd", u8"\u8868", u8"\u80fd", u8"\u4e88"},
        {u8"\u8a31", u8"\u529f", u8"\u84cb", u8"\u9910"}};
    const unsigned page = CurrentPage();
    for (int i = 0; i < 4; ++i) names[i] = kNames[page / 2][i];
    Q = page == k1252 ? "??" : "?";
    I = Absolute(Fill(install));
  }
  // `text` with its variables put in; for JSON, the values escaped, and with `all` the rest
  // of the text too.
  std::string Fill(const std::string &text, bool json = false, bool all = true) const {
    std::string out;
    for (size_t i = 0; i < text.size();) {
      const size_t end = text.compare(i, 2, "${") == 0 ? text.find('}', i) : std::string::npos;
      if (end == std::string::npos) {
        const char c = text[i++];
        out += json && all && (c == '\\' || c == '"') ? std::string("\\") + c : std::string(1, c);
        continue;
      }
      const std::string name = text.substr(i + 2, end - i - 2);
      std::string value = name == "T"   ? T
                          : name == "I" ? I
                          : name == "W" ? W
                          : name == "P" ? P
                          : name == "Q" ? Q
                                        : "";
      if (name.size() == 1 && name[0] >= 'A' && name[0] <= 'D') value = names[name[0] - 'A'];
      if (name.compare(0, 6, "short:") == 0) {
        char shortPath[MAX_PATH] = "";
        GetShortPathNameA((T + "\\" + name.substr(6)).c_str(), shortPath, MAX_PATH);
        value = shortPath;
      }
      for (char c : value) out += json && c == '\\' ? std::string("\\\\") : std::string(1, c);
      i = end + 1;
    }
    return out;
  }
  std::string Absolute(const std::string &path) const {
    return path.size() > 1 && path[1] == ':' ? path : T + "\\" + path;
  }
  // A path below ${T}, or an absolute one, in the ANSI code page.
  std::string Path(const std::string &path) const { return Acp(Absolute(Fill(path))); }
};

// A count as its value's bytes: a number as four bytes, "xHEX" as the bytes written.
std::vector<uint8_t> CountBytes(const std::string &text) {
  std::vector<uint8_t> bytes;
  if (text[0] != 'x') {
    const DWORD n = std::stoul(text);
    return std::vector<uint8_t>((const uint8_t *)&n, (const uint8_t *)&n + 4);
  }
  for (size_t i = 1; i + 1 < text.size(); i += 2)
    bytes.push_back((uint8_t)std::stoul(text.substr(i, 2), nullptr, 16));
  return bytes;
}

std::vector<std::string> Split(const std::string &text, char by) {
  std::vector<std::string> parts;
  for (size_t at = 0;; at = text.find(by, at) + 1) {
    parts.push_back(text.substr(at, text.find(by, at) - at));
    if (text.find(by, at) == std::string::npos) return parts;
  }
}

// The manifest of the row's lists; its block goes behind the stub.
std::string ManifestJson(const Row &row, const Vars &v) {
  std::string json = "{\"codePage\":" + std::to_string(GetACP()) + ",\"messages\":[";
  for (const std::string &m : testenv::StandardMessages()) json += "\"" + m + "\",";
  json.back() = ']';
  auto list = [&](const char *name, const std::vector<std::string> &items, auto &&member) {
    if (items.empty()) return;
    json += std::string(",\"") + name + "\":[";
    for (const std::string &item : items) json += member(item) + ",";
    json.back() = ']';
  };
  auto text = [&](const std::string &t) { return "\"" + v.Fill(t, true) + "\""; };
  list("files", row.files, [&](const std::string &item) {
    const std::vector<std::string> p = Split(item, '|');
    std::string flags;
    if (p.size() > 2)
      for (const std::string &f : Split(p[2], ',')) flags += (flags.empty() ? "" : ",") + text(f);
    return "{\"folder\":" + text(p[0]) + ",\"name\":" + text(p[1]) + ",\"flags\":[" + flags + "]}";
  });
  list("folders", row.folders, [&](const std::string &item) {
    const std::vector<std::string> p = Split(item, '|');
    return "{\"levels\":" + p[0] + ",\"folder\":" + text(p[1]) + ",\"secondFolder\":" + text(p[2]) +
           ",\"name\":" + text(p[3]) + "}";
  });
  list("patterns", row.patterns, text);
  list("registry", row.keys, [&](std::string item) {
    const bool ifEmpty = item.back() == '?';
    if (ifEmpty) item.pop_back();
    const size_t value = item.find("\\\\");
    return "{\"root\":\"" + item.substr(0, 4) + "\",\"key\":" + text(item.substr(5, value - 5)) +
           (value == std::string::npos ? "" : ",\"value\":" + text(item.substr(value + 2))) +
           (ifEmpty ? ",\"ifEmpty\":true}" : "}");
  });
  if (!row.options.empty()) json += ",\"options\":" + v.Fill(row.options, true, false);
  return json + "}";
}

// A registry item of a row (see Row::registry), its variables put in. A link key is made
// with the value that links it.
struct RegItem {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring key = Wide(kShared), value;
  bool named = true;    // a value, not a key alone
  DWORD type = REG_SZ;  // a count's or a link's; REG_SZ: the text "1", whose bytes go unchecked
  std::vector<uint8_t> bytes = {'1', 0, 0, 0};

  RegItem(const std::string &text, const Vars &v) {
    const std::string item = v.Fill(text);
    const size_t eq = item.rfind('='), link = item.find("=>"), at = item.find("\\\\");
    if (item.compare(0, 7, "shared:") == 0) {
      value = Wide(item.substr(7, eq == std::string::npos ? eq : eq - 7));
      if (eq != std::string::npos) {
        bytes = CountBytes(item.substr(eq + 1));
        type = bytes.size() == 4 ? REG_DWORD : REG_BINARY;
      }
      return;
    }
    if (item.compare(0, 4, "HKCU") == 0) root = HKEY_CURRENT_USER;
    named = at != std::string::npos || link != std::string::npos;
    key = Wide(item.substr(5, std::min(at, link) - 5));
    value = link != std::string::npos ? L"SymbolicLinkValue"
            : named                   ? Wide(item.substr(at + 2))
                                      : L"";
    if (link == std::string::npos) return;
    const std::wstring target = Wide(item.substr(link + 2));
    bytes.assign((const uint8_t *)target.c_str(),
                 (const uint8_t *)(target.c_str() + target.size()));
    type = REG_LINK;
  }
  bool Make() const {
    HKEY handle;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr,
                        type == REG_LINK ? REG_OPTION_CREATE_LINK : 0,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &handle, nullptr))
      return false;
    const LONG made =
        named ? RegSetValueExW(handle, value.c_str(), 0, type, bytes.data(), DWORD(bytes.size()))
              : 0;
    RegCloseKey(handle);
    return made == ERROR_SUCCESS;
  }
  // There as written: the key, the value, and a count's bytes.
  bool Holds() const {
    BYTE data[16];
    DWORD size = sizeof data;
    if (!named) return testenv::RegHas(root, key);
    return RegGetValueW(root, key.c_str(), value.c_str(), RRF_RT_ANY | RRF_NOEXPAND, nullptr, data,
                        &size) == ERROR_SUCCESS &&
           (type == REG_SZ || bytes == std::vector<uint8_t>(data, data + size));
  }
};

// Everything the rows may change: the tree below `folder`, the test keys, the shared counts
// and the restart list.
std::string Snapshot(const std::string &folder) {
  std::string s;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
    const std::string name = found.cFileName, full = folder + "\\" + name;
    if (name == "." || name == "..") continue;
    // A file written over gets a new time, whatever its size.
    s += full + " " + std::to_string(found.dwFileAttributes) + " " +
         std::to_string(found.nFileSizeLow) + " " +
         std::to_string(found.ftLastWriteTime.dwLowDateTime) + "\n";
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      s += Snapshot(full);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return s;
}

std::string RegistrySnapshot(HKEY root, const std::string &path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string s = path + "\n";
  char name[16384];
  BYTE data[8192];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize)) break;
    s += " " + std::string(name, nameSize) + "=" + std::to_string(type) + ":" +
         std::string((char *)data, dataSize) + "\n";
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr)) break;
    s += RegistrySnapshot(root, path + "\\" + std::string(name, nameSize));
  }
  RegCloseKey(key);
  return s;
}

std::string Machine(const std::string &folder) {
  return Snapshot(folder) + RegistrySnapshot(HKEY_CURRENT_USER, kTestKey) +
         RegistrySnapshot(HKEY_LOCAL_MACHINE, kShared) +
         RegistrySnapshot(HKEY_LOCAL_MACHINE, kPending);
}

// The preview's lines as the run logs them between its header and its exit line; what only
// the preview tells goes.
std::vector<std::string> AsRunLogs(const std::vector<std::string> &preview) {
  std::vector<std::string> out;
  for (size_t i = 2; i < preview.size(); ++i) {
    const std::string &line = preview[i], keyword = line.substr(0, line.find(' '));
    const std::string rest = line.substr(keyword.size());
    if (keyword == "would-remove") out.push_back("removed" + rest);
    if (keyword == "would-restart") out.push_back("restart" + rest);
    if (keyword == "would-self-delete") out.push_back("scheduled-self-delete" + rest);
    if (keyword.compare(0, 6, "would-") != 0 && keyword != "exit") out.push_back(line);
  }
  return out;
}

// Makes one item of a row's tree (see Row::tree).
bool MakeItem(const std::string &item, const Vars &v, World *world,
              std::vector<std::string> *links) {
  const size_t bar = item.find('|'), link = item.find("=>");
  const std::string path = v.Path(item.substr(0, std::min(bar, link)));
  // By characters: a second byte may be 0x5C.
  std::string bare = path, parent;
  StripBackslash(&bare[0]);
  bare = parent = bare.c_str();
  CutAtLastBackslash(&parent[0]);
  if (!testenv::MakeDirs(parent.c_str())) return false;
  if (link != std::string::npos) {
    links->push_back(path);
    return testenv::MakeFolderLink(path, item.substr(link + 2));
  }
  const std::vector<std::string> hows =
      bar == std::string::npos ? std::vector<std::string>() : Split(item.substr(bar + 1), ',');
  bool made = path.back() == '\\' ? (CreateDirectoryA(("\\\\?\\" + bare).c_str(), nullptr) ||
                                     GetLastError() == ERROR_ALREADY_EXISTS)
                                  : testenv::WriteText(path, "x");
  for (const std::string &how : hows) {
    if (how.compare(0, 5, "copy:") == 0)
      made = CopyFileA((testenv::TestProgramDir() + "\\" + how.substr(5)).c_str(), path.c_str(),
                       FALSE);
    if (how == "ro") made = made && SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const struct {
      const char *name;
      DWORD access, share;
    } modes[] = {{"held", GENERIC_READ, FILE_SHARE_READ},
                 {"writer", GENERIC_READ | GENERIC_WRITE, all},
                 {"nodelete", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
                 {"reader", GENERIC_READ, all}};
    for (const auto &mode : modes) {
      if (how != mode.name) continue;
      world->holds.push_back(CreateFileA(path.c_str(), mode.access, mode.share, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      made = made && world->holds.back() != INVALID_HANDLE_VALUE;
    }
  }
  return made;
}

}  // namespace

void Run(const Row &row) {
  if (!(row.pages & CurrentPage())) return;
  SCOPED_TRACE(row.name);
  testenv::ScopedTestDir dir("row");
  const Vars v(dir.path(), row.install);
  World world{dir.path(), {}};
  const std::string exe = Acp(v.I) + "\\uninstall.exe", log = dir / "run.log";
  std::vector<std::string> links;

  // The world before.
  tallowin::Manifest manifest;
  tallowin::Fault fault;
  const tallowin::Variables none;
  ASSERT_TRUE(tallowin::ParseManifest(ManifestJson(row, v), &manifest, &fault, &none))
      << fault.Text();
  blockfmt::RecordWriter noEnd;
  noEnd.Record(blockfmt::TAG_MESSAGES, blockfmt::EncodeMessages(testenv::StandardMessages()));
  ASSERT_TRUE(row.bare == 1 ? testenv::MakeDirs(Acp(v.I)) &&
                                  CopyFileA(testenv::StubPath().c_str(), exe.c_str(), FALSE)
              : row.bare ? testenv::InstallStubRaw(exe, noEnd.bytes())
                         : testenv::InstallStub(exe, manifest.block));
  for (const std::string &item : row.tree) ASSERT_TRUE(MakeItem(item, v, &world, &links)) << item;
  std::vector<RegItem> made;
  for (const std::string &item : row.registry) {
    made.emplace_back(item, v);
    ASSERT_TRUE(made.back().Make()) << item;
  }
  const testenv::ProbeEnv probe(dir / "marker.txt", std::stoul(row.probe),
                                std::stoul(row.probe.substr(row.probe.find(' '))));
  // The run reads the folder that the system protects from where the system keeps it;
  // only a row that names one changes it.
  std::optional<testenv::ScopedVersionValue> common;
  if (!row.protect.empty()) {
    const std::string protect = v.Path(row.protect);
    ASSERT_TRUE(
        common.emplace("CommonFilesDir").Put(protect.c_str(), DWORD(protect.size() + 1), REG_SZ));
  }

  // The preview first: it changes nothing.
  std::vector<std::string> preview;
  if (row.preview) {
    const std::string before = Machine(dir.path()), shown = dir / "preview.txt";
    EXPECT_EQ(row.exit,
              testenv::RunAndWait("\"" + testenv::BinDir() + "\\tallowin.exe\" preview \"" + exe +
                                  "\" -o \"" + shown + "\""));
    preview = testenv::ReadLines(shown);
    DeleteFileA(shown.c_str());
    EXPECT_EQ(before, Machine(dir.path()));
  }

  // The run.
  std::string line = (row.unquoted ? exe : "\"" + exe + "\"") + " " + Acp(v.Fill(row.switches));
  if (row.switches.find("LOG") == std::string::npos &&
      row.switches.find("log") == std::string::npos)
    line += " /LOG=\"" + log + "\"";
  winui::ProgramRun run(line);
  for (const auto &answer : row.answers) run.Answer(Acp(v.Fill(answer.first)), answer.second, 1);
  if (!row.during.empty())
    run.Answer(Acp(v.Fill(row.during)), row.duringButton, 1, [&] {
      if (row.hook) row.hook(world);
    });
  const DWORD code = run.Wait(30000);
  // At once: the self-deletion may take the program and its folder any moment.
  const std::vector<winui::WindowInfo> seen = run.Seen();
  std::vector<std::string> marker = testenv::ReadLines(dir / "marker.txt");
  world.Release();

  // What must hold after.
  EXPECT_EQ(row.exit, code);
  std::string all;  // each dialog's texts, for failure messages
  for (const winui::WindowInfo &w : seen) {
    all += w.caption;
    for (const winui::ControlInfo &c : w.controls) all += " [" + c.text + "]";
    all += "\n";
  }
  EXPECT_EQ(row.dialogs.size(), seen.size()) << all;
  for (size_t i = 0; i < seen.size() && i < row.dialogs.size(); ++i)
    EXPECT_TRUE(seen[i].Contains(Acp(v.Fill(row.dialogs[i])))) << row.dialogs[i] << "\n" << all;
  // Self-deletion: the program goes (with 2: every path the row lists as gone too), or
  // stays. It tries once a second; a loaded machine may start it late.
  for (int i = 0; i < 300 && row.selfDelete > 0; ++i, Sleep(100)) {
    bool done = !testenv::PathExists(exe);
    for (const std::string &k : row.gone)
      done = done && (row.selfDelete < 2 || !testenv::PathExists(v.Path(k)));
    if (done) break;
  }
  if (row.selfDelete < 0) Sleep(500);  // a script, if one were wrongly started, acts by now
  if (row.selfDelete) {
    EXPECT_EQ(row.selfDelete < 0, testenv::PathExists(exe)) << "self-deletion";
  }
  for (const std::string &k : row.kept) {
    const DWORD attributes = GetFileAttributesA(v.Path(k.substr(0, k.find('|'))).c_str());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << k << " was removed";
    // "|ro": still read-only, whatever the run did to look at it.
    EXPECT_TRUE(k.find("|ro") == std::string::npos || (attributes & FILE_ATTRIBUTE_READONLY)) << k;
  }
  for (const std::string &k : row.gone)
    EXPECT_FALSE(testenv::PathExists(v.Path(k))) << k << " is still there";
  for (const std::string &r : row.regKept)
    EXPECT_TRUE(RegItem(r, v).Holds()) << r << " is not there";
  for (const std::string &r : row.regGone) EXPECT_FALSE(RegItem(r, v).Holds()) << r << " is there";
  EXPECT_FALSE(row.noMarker && !marker.empty()) << "the pre-removal program ran";
  if (!row.marker.empty()) {
    std::vector<std::string> expected;
    for (const std::string &m : row.marker) expected.push_back(Acp(v.Fill(m)));
    EXPECT_EQ(expected, marker);
  }
  // Nothing is left to the restart but what a 3010 says.
  EXPECT_EQ(code == 3010,
            RegistrySnapshot(HKEY_LOCAL_MACHINE, kPending).find(dir.path()) != std::string::npos);
  std::vector<std::string> lines = testenv::ReadLines(log);
  if (lines.size() >= 4) {
    EXPECT_EQ("exit " + std::to_string((int)code), lines.back());
    lines = std::vector<std::string>(lines.begin() + 3, lines.end() - 1);
    std::string text;
    for (const std::string &l : lines) text += l + "\n";
    auto at = lines.begin();
    for (const std::string &expected : row.log) {
      at = std::find(at, lines.end(), Acp(v.Fill(expected)));
      EXPECT_NE(lines.end(), at) << "not logged in this order: " << expected << "\n" << text;
      if (at == lines.end()) break;
      ++at;
    }
    if (row.preview) {
      EXPECT_EQ(AsRunLogs(preview), lines);
    }
  } else {
    EXPECT_TRUE(row.log.empty()) << "no log";
  }
  for (const std::string &link : links) testenv::RemoveFolderLink(link);
  // What the row made outside its folder.
  for (const std::string &item : row.tree) {
    std::string path = v.Path(item.substr(0, item.find('|')));
    StripBackslash(&path[0]);
    if (v.Fill(item).find(':') == 1) testenv::RemoveTree(path.c_str());
  }
  if (v.I.compare(0, v.T.size(), v.T) != 0) testenv::RemoveTree(Acp(v.I));
  for (const RegItem &r : made) {
    HKEY key;
    if (r.type == REG_LINK &&
        RegOpenKeyExW(r.root, r.key.c_str(), REG_OPTION_OPEN_LINK, DELETE, &key) == 0) {
      RegDeleteKeyW(key, L"");
      RegCloseKey(key);
    }
    if (r.key == Wide(kShared)) RegDeleteKeyValueW(r.root, r.key.c_str(), r.value.c_str());
  }
  testenv::DeleteRegTree(HKEY_CURRENT_USER, kTestKey);
  testenv::DeleteRegTree(HKEY_LOCAL_MACHINE, kTestKey);
}

}  // namespace scenario
