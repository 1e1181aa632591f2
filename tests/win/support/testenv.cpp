#include "support/testenv.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/run.h"
#include "base/base.h"
#include "data/data.h"
#include "support/windows.h"

namespace testenv {

namespace {
std::string EnvOr(const char *name, const char *fallback) {
  char buffer[1024];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n == 0 || n >= sizeof buffer ? fallback : buffer;
}

// The folder part of `path`, cut by characters (a second byte may be 0x5C); "" for none.
std::string Parent(std::string path) { return CutAtLastBackslash(&path[0]) ? path.c_str() : ""; }
}  // namespace

std::string BinDir() { return EnvOr("TALLOWIN_BIN", ""); }

std::string TestProgramDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return Parent(std::string(path, n < MAX_PATH ? n : 0));
}

ScopedTestDir::ScopedTestDir(const std::string &name) {
  static unsigned counter = 0;
  path_ = EnvOr("TALLOWIN_TEST_ROOT", "C:\\tallowin-tests") + "\\" + name + "-" +
          std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
  RemoveTree(path_);
  MakeDirs(path_);
}

ScopedTestDir::~ScopedTestDir() {
  // A test may leave the process inside the folder; step out so it can go.
  if (_strnicmp(CurrentFolder().c_str(), path_.c_str(), path_.size()) == 0)
    SetCurrentDirectoryA("C:\\");
  RemoveTree(path_);
}

bool MakeDirs(const std::string &path) {
  if (DirExists(path)) return true;
  const std::string parent = Parent(path);
  if (parent.size() > 2) MakeDirs(parent);
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::string &name) {
  // By the literal form, so that names the system would read as others ("a.", "...") go too.
  const std::string path = name.size() > 2 && name[1] == ':' ? "\\\\?\\" + name : name;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  // A link is removed itself; what it points at belongs to someone else.
  WIN32_FIND_DATAA data;
  HANDLE find = attributes & FILE_ATTRIBUTE_REPARSE_POINT
                    ? INVALID_HANDLE_VALUE
                    : FindFirstFileA((path + "\\*").c_str(), &data);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &data))
    if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0)
      RemoveTree(name + "\\" + data.cFileName);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  RemoveDirectoryA(path.c_str());
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary);
  return out.write(reinterpret_cast<const char *>(bytes.data()), bytes.size()).flush().good();
}

bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.is_open();
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  // What follows the last line break is no line (getline meets the end there).
  for (std::string line; std::getline(in, line) && !in.eof(); lines.push_back(line))
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  return lines;
}

bool MakeTree(const std::string &root, const std::vector<std::string> &names) {
  for (const std::string &name : names) {
    const std::string path = root + "\\" + name;
    if (!MakeDirs(Parent(path)) || (name.back() != '\\' && !WriteText(path, "x"))) return false;
  }
  return true;
}

void PrepareRunState(const std::string &installDir) {
  ResetRunState();
  g.instance = GetModuleHandleA(nullptr);
  g.isNT = 1;
  for (char **path : {&g.ownPath, &g.scratchPath, &g.installDir}) AllocZeroedT(260, path);
  lstrcpynA(g.installDir, installDir.c_str(), 259);  // room for the backslash
  AppendBackslash(g.installDir);                     // by characters: a second byte may be 0x5C
  JoinPath(g.ownPath, 260, g.installDir, "uninstall.exe");
}

void ReleaseRunState() {
  FreeRemovalData();
  for (char **path : {&g.ownPath, &g.scratchPath, &g.installDir}) FreeAndNullT(path);
  ResetRunState();
}

std::vector<std::string> StandardMessages() {
  std::vector<std::string> m;
  for (int i = 0; i < 16; ++i)
    m.push_back("<" + std::to_string(i) + ">" + (i >= 7 && i <= 10 ? " %s" : ""));
  return m;
}

RunState::~RunState() {
  // The test's own lists and texts are not the allocator's to free.
  g.files = nullptr;
  g.fileCount = 0;
  ReleaseRunState();
}

std::string RunState::File(const std::string &folder, const std::string &name,
                           unsigned char flags) {
  texts_.push_back(folder);
  char *folderText = &texts_.back()[0];
  texts_.push_back(name);
  files_.push_back({folderText, &texts_.back()[0], flags});
  pointers_.push_back(&files_.back());
  g.files = pointers_.data();
  g.fileCount = static_cast<DWORD>(pointers_.size());
  return folder + "\\" + name;
}

bool InstallStubRaw(const std::string &exePath, const std::vector<uint8_t> &blockBytes) {
  std::vector<uint8_t> stub, out;
  std::string error;
  if (!ReadBytes(StubPath(), &stub) || !blockfmt::AppendBlockToStub(stub, blockBytes, &out, &error))
    return false;
  MakeDirs(Parent(exePath));
  return WriteBytes(exePath, out);
}

bool InstallStub(const std::string &exePath, const blockfmt::Block &block) {
  std::vector<uint8_t> bytes;
  std::string error;
  return blockfmt::EncodeBlock(block, &bytes, &error) && InstallStubRaw(exePath, bytes);
}

DWORD RunAndWait(const std::string &commandLine, DWORD timeoutMs) {
  return winui::ProgramRun(commandLine).Wait(timeoutMs);
}

bool RegHas(HKEY root, const std::wstring &key, REGSAM view, const wchar_t *value) {
  HKEY handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  const bool found = !value || RegQueryValueExW(handle, value, nullptr, nullptr, nullptr,
                                                nullptr) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return found;
}

const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

ScopedVersionValue::ScopedVersionValue(const char *name) : name_(name) {
  present_ = RegGetValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name, RRF_RT_ANY | RRF_NOEXPAND,
                          &type_, data_, &size_) == ERROR_SUCCESS;
}

bool ScopedVersionValue::Put(const void *data, DWORD size, DWORD type) const {
  if (data) return SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersion, name_, type, data, size);
  return RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name_) == ERROR_SUCCESS;
}

namespace {
// Wine cannot make links itself (its CreateSymbolicLinkA does nothing), but it shows a
// host symbolic link as a folder with FILE_ATTRIBUTE_REPARSE_POINT, and it can start a
// host program: the host's ln or rm runs in the link's folder on the link's name (Wine
// gives the host both in its own encoding), then the link is awaited there, or gone.
bool HostLinkTool(const std::string &link, const std::string &tool, const std::string &args,
                  bool wantLink) {
  const std::string folder = Parent(link), program = "\\\\?\\unix\\bin\\" + tool;
  std::string line = tool + " " + args + " \"" + link.substr(folder.size() + 1) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (folder.empty() || !CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0,
                                        nullptr, folder.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The host process is not waitable through its handle; poll instead.
  for (int i = 0; i < 100; ++i, Sleep(50)) {
    DWORD attributes = GetFileAttributesA(link.c_str());
    if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) ==
        wantLink)
      return true;
  }
  return false;
}
}  // namespace

bool MakeFolderLink(const std::string &link, const std::string &relativeTarget) {
  return HostLinkTool(link, "ln", "-s \"" + relativeTarget + "\"", true);
}

// The test tree's cleanup does not follow links, and Wine cannot always remove one.
bool RemoveFolderLink(const std::string &link) { return HostLinkTool(link, "rm", "-f", false); }

}  // namespace testenv
