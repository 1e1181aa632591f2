// The staged tree, walked without following links, checked whole, then listed in the order
// the file pass needs: it runs the list from its end, so a folder stands before everything
// in it. The order is the byte order of the UTF-8 names, component by component, which
// puts a folder right before its contents and makes the output independent of the order in
// which the file system lists them.
#include "scan.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "block_reader.h"
#include "check.h"
#include "codepage.h"
#include "file_io.h"
#include "json_reader.h"
#include "manifest.h"
#include "tallowin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tallowin {

namespace {

using json = nlohmann::json;
using Parts = std::vector<std::string>;

// The uninstaller's path buffers hold 259 characters and the terminator.
constexpr size_t kMaxJoined = blockfmt::kPathMax - 1;
// The program deletes itself; an entry for it would only fail.
const char kOwnProgram[] = "UNINSTALL.EXE";

struct Staged {
  Parts parts;  // UTF-8 names below the staging folder
  bool folder = false;
  std::string problem;  // what the walk found wrong with it
};

std::string Relative(const Parts &parts, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += (i ? "\\" : "") + parts[i];
  return s;
}
std::string Relative(const Parts &parts) { return Relative(parts, parts.size()); }

const char kLink[] =
    "is a link: links are not followed, stage the files themselves (a link's target may be "
    "anything on the target machine)";
const char kSpecial[] = "is a special file (a device, pipe or socket), not a file to install";

// A deeper folder is already past the path limit: it is reported, not walked.
bool TooDeepToWalk(const Parts &parts) { return Relative(parts).size() > kMaxJoined; }

#ifdef _WIN32

void WalkFolder(const std::wstring &dir, Parts *parts, std::vector<Staged> *out) {
  WIN32_FIND_DATAW found;
  const HANDLE h = FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &found,
                                    FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) out->push_back({*parts, true, "cannot be read"});
    return;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::string utf8;
    if (!WideToUtf8(name, &utf8)) utf8 = "?";
    parts->push_back(utf8);
    Staged s{*parts, false, utf8 == "?" ? "has a name that is not valid UTF-16" : ""};
    const DWORD a = found.dwFileAttributes;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
      s.problem = kLink;
    else if (a & FILE_ATTRIBUTE_DEVICE)
      s.problem = kSpecial;
    s.folder = (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out->push_back(s);
    if (s.folder && s.problem.empty() && !TooDeepToWalk(*parts))
      WalkFolder(dir + L"\\" + name, parts, out);
    parts->pop_back();
  } while (FindNextFileW(h, &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) out->push_back({*parts, true, "cannot be read"});
  FindClose(h);
}

bool WalkTree(const std::string &root, std::vector<Staged> *out) {
  const std::wstring wide = Utf8ToWide(root);
  const DWORD a = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  Parts parts;
  WalkFolder(wide, &parts, out);
  return true;
}

#else

// Every step goes through the folder already opened, and no name is opened through a
// link, so a folder swapped for a link during the walk is not entered.
void WalkFolder(int fd, Parts *parts, std::vector<Staged> *out) {
  DIR *d = fdopendir(fd);
  if (!d) {
    close(fd);
    out->push_back({*parts, true, "cannot be read"});
    return;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  if (errno != 0) out->push_back({*parts, true, "cannot be read"});
  for (const std::string &name : names) {
    parts->push_back(name);
    Staged s{*parts, false, ""};
    struct stat st;
    if (fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      s.problem = "cannot be read";
    else if (S_ISLNK(st.st_mode))
      s.problem = kLink;
    else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
      s.problem = kSpecial;
    s.folder = s.problem.empty() && S_ISDIR(st.st_mode);
    out->push_back(s);
    if (s.folder && !TooDeepToWalk(*parts)) {
      const int child =
          openat(dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0)
        out->back().problem = "cannot be read";
      else
        WalkFolder(child, parts, out);
    }
    parts->pop_back();
  }
  closedir(d);
}

bool WalkTree(const std::string &root, std::vector<Staged> *out) {
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  Parts parts;
  WalkFolder(fd, &parts, out);
  return true;
}

#endif

// Wildcards on a relative path: '*' any run of characters (backslashes too, so "*.pdb"
// matches in every folder), '?' one character; compared folded, as Windows compares names.
bool Matches(const std::string &pattern, const std::string &text) {
  size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  auto next = [](const std::string &s, size_t i) {
    do ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80);
    return i;
  };
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == '?') {
      p = next(pattern, p);
      t = next(text, t);
    } else if (p < pattern.size() && next(pattern, p) - p == next(text, t) - t &&
               pattern.compare(p, next(pattern, p) - p, text, t, next(text, t) - t) == 0) {
      p = next(pattern, p);
      t = next(text, t);
    } else if (star != std::string::npos) {
      p = star;
      t = resume = next(text, resume);
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsDeviceName(const std::string &name) {
  std::string stem = FoldCase(name.substr(0, name.find('.')));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (const char *d : {"CON", "PRN", "AUX", "NUL"})
    if (stem == d) return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Why Windows would not hold the name as staged, or "".
std::string NameProblem(const std::string &name) {
  for (unsigned char c : name)
    if (c < 0x20 || strchr("<>:\"/\\|?*", c))
      return "holds a character that Windows does not allow in names";
  if (name.back() == '.' || name.back() == ' ')
    return "ends in a dot or a blank, which Windows takes away: the installed name would differ";
  if (IsDeviceName(name)) return "is the name of a device on Windows";
  return std::string();
}

// "PROGRA~1": the system's short form of some longer name.
bool LooksLikeShortName(const std::string &name) {
  const size_t tilde = name.find('~');
  return tilde != std::string::npos && tilde + 1 < name.size() &&
         isdigit(static_cast<unsigned char>(name[tilde + 1]));
}

struct Entry {
  Parts parts;
  bool folder;
  uint8_t flags = 0;
};

bool operator<(const Entry &a, const Entry &b) { return a.parts < b.parts; }

json EntryJson(const Entry &e) {
  json j;
  const size_t folderParts = e.parts.size() - (e.folder ? 0 : 1);
  j["folder"] = EscapeVariables(folderParts ? ".\\" + Relative(e.parts, folderParts) : ".");
  j["name"] = e.folder ? "" : EscapeVariables(e.parts.back());
  if (e.flags) {
    json flags = json::array();
    for (const FileFlagName &n : kFileFlags)
      if (e.flags & n.bit) flags.push_back(n.name);
    j["flags"] = flags;
  }
  return j;
}

// An install-relative entry of a list as an entry of the tree; false for any other (full
// paths, the install folder itself, forms the file pass would not read as a subfolder).
bool RelativeEntry(const blockfmt::FileItem &f, int codePage, Entry *e) {
  const std::string folder = CodePageToUtf8(f.folder, codePage);
  if (folder != "." && folder.compare(0, 2, ".\\") != 0) return false;
  e->parts.clear();
  for (size_t pos = 2; pos <= folder.size() && folder.size() > 1;) {
    const size_t end = std::min(folder.find('\\', pos), folder.size());
    e->parts.push_back(folder.substr(pos, end - pos));
    pos = end + 1;
  }
  if (!f.name.empty()) e->parts.push_back(CodePageToUtf8(f.name, codePage));
  // A name Windows would read as another (a trailing dot, a stream, a short name) is
  // neither kept nor dropped: an installer deleting it could delete a new file.
  for (const std::string &p : e->parts)
    if (p.empty() || !NameProblem(p).empty() || LooksLikeShortName(p)) return false;
  e->folder = f.name.empty();
  e->flags = f.flags;
  return !e->parts.empty();
}

std::string Key(const Parts &parts) { return FoldCase(Relative(parts)); }

class Scanner {
 public:
  Scanner(const ScanRequest &r, std::string *err) : r_(r), err_(err) {}

  int Run() {
    if (!ReadBase() || !Walk() || !ReadPrevious()) return 2;
    if (!Preflight()) return 2;
    std::vector<Entry> entries = listed_;
    entries.insert(entries.end(), kept_.begin(), kept_.end());
    std::sort(entries.begin(), entries.end());
    json &files = base_["files"];
    if (!files.is_array()) files = json::array();
    for (const Entry &e : entries) files.push_back(EntryJson(e));
    const std::string text = base_.dump(2) + "\n";
    // The whole output once more as pack will read it: the reader's limits hold for it.
    Manifest m;
    std::vector<uint8_t> block;
    Fault fault;
    if (!ParseManifest(text, &m, &fault, nullptr) || !EncodeManifest(m, &block, &fault))
      return Failed(r_.output, fault.Text());
    std::sort(kept_.begin(), kept_.end());
    std::string dropped;
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it)
      dropped += Relative(it->parts) + (it->folder ? "\\" : "") + "\r\n";
    if (!r_.dropped.empty() &&
        !WriteFileAtomic(r_.dropped, std::vector<uint8_t>(dropped.begin(), dropped.end()), &fault))
      return Failed(r_.dropped, fault.what);
    if (!WriteFileAtomic(r_.output, std::vector<uint8_t>(text.begin(), text.end()), &fault))
      return Failed(r_.output, fault.what);
    return 0;
  }

 private:
  int Failed(const std::string &file, const std::string &what) {
    *err_ += "tallowin: " + file + ": " + what + "\n";
    return 2;
  }

  // The base as a document, kept as written (its variables too: they are filled at pack).
  bool ReadBase() {
    for (const std::string *input : {&r_.base, &r_.previous, &r_.stagingDir})
      if (!input->empty() && (SameFile(r_.output, *input) || SameFile(r_.dropped, *input)))
        return !Failed(*input, "is an input: write the output to another file");
    std::vector<uint8_t> bytes;
    Fault fault;
    Manifest m;
    if (!ReadFileBytes(r_.base, kMaxManifestBytes, &bytes, &fault) ||
        !ReadJson(std::string(bytes.begin(), bytes.end()), &base_, &fault) ||
        !ParseManifest(std::string(bytes.begin(), bytes.end()), &m, &fault, nullptr))
      return !Failed(r_.base, fault.Text());
    codePage_ = m.codePage;
    for (const blockfmt::FileItem &f : m.block.files) {
      Entry e;
      if (RelativeEntry(f, codePage_, &e)) present_.insert(Key(e.parts));
    }
    return true;
  }

  bool Walk() {
    if (!WalkTree(r_.stagingDir, &staged_))
      return !Failed(r_.stagingDir, "cannot be read as a folder");
    std::sort(staged_.begin(), staged_.end(),
              [](const Staged &a, const Staged &b) { return a.parts < b.parts; });
    std::vector<std::string> patterns;
    for (std::string p : r_.excludes) {
      std::replace(p.begin(), p.end(), '/', '\\');
      patterns.push_back(FoldCase(p));
    }
    std::set<Parts> excludedFolders;
    for (const Staged &s : staged_) {
      if (s.parts.empty()) {  // the staging folder itself could not be listed
        Problem(s.parts, s.problem);
        continue;
      }
      const std::string folded = Key(s.parts);
      present_.insert(folded);
      bool excluded = excludedFolders.count(Parts(s.parts.begin(), s.parts.end() - 1)) != 0;
      for (const std::string &p : patterns) excluded = excluded || Matches(p, folded);
      if (excluded && s.folder) excludedFolders.insert(s.parts);
      const bool own = !s.folder && s.parts.size() == 1 && folded == kOwnProgram;
      if (!excluded && !own) listed_.push_back({s.parts, s.folder});
      if (!excluded && !s.problem.empty()) Problem(s.parts, s.problem);
    }
    return true;
  }

  // The older version's relative entries that the new tree no longer has.
  bool ReadPrevious() {
    if (r_.previous.empty()) return true;
    std::vector<uint8_t> bytes;
    Fault fault;
    if (!ReadFileBytes(r_.previous, kMaxProgramBytes, &bytes, &fault))
      return !Failed(r_.previous, fault.what);
    ReadBlockResult read;
    Manifest m;
    const blockfmt::Block *block = &read.block;
    int codePage = codePage_;  // a program's block is read in the new manifest's code page
    std::string error;
    if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
      if (!ReadBlockFromImage(bytes, &read, &error))
        return !Failed(r_.previous, "damaged block: " + error);
    } else {
      if (bytes.size() > kMaxManifestBytes)
        return !Failed(r_.previous, "more than the 8 MiB a manifest may have");
      if (!ParseManifest(std::string(bytes.begin(), bytes.end()), &m, &fault, nullptr))
        return !Failed(r_.previous, fault.Text());
      block = &m.block;
      codePage = m.codePage;
    }
    std::set<std::string> seen;
    for (const blockfmt::FileItem &f : block->files) {
      Entry e;
      if (!RelativeEntry(f, codePage, &e)) continue;
      const std::string key = Key(e.parts);
      const bool own = !e.folder && e.parts.size() == 1 && key == kOwnProgram;
      if (own || present_.count(key) || !seen.insert(key).second) continue;
      kept_.push_back(e);
    }
    return true;
  }

  void Problem(const Parts &parts, const std::string &what) {
    const std::string at = parts.empty() ? "" : Relative(parts) + ": ";
    problems_.push_back("tallowin: " + r_.stagingDir + ": " + at + what + "\n");
  }

  // Everything Windows or the uninstaller would not take as staged, each with its path.
  bool Preflight() {
    std::map<std::string, std::string> spelled;  // parent + folded name: the first spelling
    for (const Entry &e : listed_) {
      const std::string &name = e.parts.back();
      std::string why = NameProblem(name);
      if (!why.empty()) {
        Problem(e.parts, why);
        continue;
      }
      // In the code page, so the length counts the bytes the stub holds; by name, since a
      // double-byte character may end in a backslash byte.
      // A folder's own entry reports its name; the entries below it stay quiet.
      Parts inCodePage(e.parts.size());
      size_t i = 0;
      while (i < e.parts.size() && Utf8ToCodePage(e.parts[i], codePage_, &inCodePage[i], &why)) ++i;
      if (i + 1 == e.parts.size() && !why.empty()) Problem(e.parts, why);
      if (!why.empty()) continue;
      const std::string key = Relative(e.parts, e.parts.size() - 1) + '\0' + FoldCase(name);
      const auto first = spelled.emplace(key, name);
      if (!first.second)
        Problem(e.parts, "differs only in case from \"" + first.first->second +
                             "\": Windows holds one of them");
      const size_t folderParts = e.parts.size() - (e.folder ? 0 : 1);
      const std::string folder = folderParts ? ".\\" + Relative(inCodePage, folderParts) : ".";
      const std::string file = e.folder ? std::string() : inCodePage.back();
      const size_t length = JoinedLength(folder, file, r_.installDirLength + 1);
      if (length > kMaxJoined)
        Problem(e.parts, std::to_string(length) + " characters with an install folder of " +
                             std::to_string(r_.installDirLength) + ": more than the " +
                             std::to_string(kMaxJoined) + " the uninstaller's paths hold");
    }
    for (const std::string &p : problems_) *err_ += p;
    return problems_.empty();
  }

  const ScanRequest &r_;
  std::string *err_;
  json base_;
  int codePage_ = 1252;
  std::vector<Staged> staged_;
  std::vector<Entry> listed_, kept_;
  std::set<std::string> present_;  // folded relative paths of the tree and the base
  std::vector<std::string> problems_;
};

}  // namespace

int Scan(const ScanRequest &request, std::string *err) { return Scanner(request, err).Run(); }

}  // namespace tallowin
