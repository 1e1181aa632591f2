#include "support/testenv.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "app/state.h"
#include "data/data.h"
#include "paths/paths.h"
#include "support/program_run.h"

namespace testenv {

namespace {
std::string EnvOr(const char *name, const char *fallback) {
  char buffer[1024];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return fallback;
  return buffer;
}
}  // namespace

std::string BinDir() { return EnvOr("TALLOWIN_BIN", ""); }
std::string StubPath() { return BinDir() + "\\uninstall.exe"; }

HMODULE StubResources() {
  static HMODULE module = LoadLibraryExA(StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

std::string OwnPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

std::string TestProgramDir() {
  std::string path = OwnPath();
  return path.substr(0, path.find_last_of('\\'));
}

DWORD RunCopyOfThisProgram(const std::string &copy, const std::string &filter, const char *variable,
                           const char *currentDir) {
  if (!CopyFileA(OwnPath().c_str(), copy.c_str(), FALSE)) return 0xDEADBEEF;
  SetEnvironmentVariableA(variable, "1");
  DWORD code = RunAndWait("\"" + copy + "\" --gtest_filter=" + filter, 60000, currentDir);
  SetEnvironmentVariableA(variable, nullptr);
  return code;
}

ScopedTestDir::ScopedTestDir(const std::string &name) {
  static unsigned counter = 0;
  char unique[64];
  snprintf(unique, sizeof unique, "-%lu-%u", GetCurrentProcessId(), ++counter);
  path_ = EnvOr("TALLOWIN_TEST_ROOT", "C:\\tallowin-tests") + "\\" + name + unique;
  RemoveTree(path_);
  MakeDirs(path_);
}

ScopedTestDir::~ScopedTestDir() {
  // A test may leave the process inside the folder; step out so it can go.
  char current[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, current);
  if (n && n < MAX_PATH && _strnicmp(current, path_.c_str(), path_.size()) == 0)
    SetCurrentDirectoryA("C:\\");
  RemoveTree(path_);
}

std::string ScopedTestDir::operator/(const std::string &relative) const {
  return path_ + "\\" + relative;
}

bool MakeDirs(const std::string &path) {
  if (DirExists(path)) return true;
  std::string parent = path;  // cut by characters: a second byte may be 0x5C
  if (CutAtLastBackslash(&parent[0]) && TextLength(parent.c_str()) > 2) MakeDirs(parent.c_str());
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::string &name) {
  // By the literal form, so that names the system would read as others ("a.", "...") go too.
  const std::string path = name.size() > 2 && name[1] == ':' ? "\\\\?\\" + name : name;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return;
  }
  // A link is removed itself; what it points at belongs to someone else.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string entry = data.cFileName;
        if (entry == "." || entry == "..") continue;
        RemoveTree(name + "\\" + entry);
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool WriteText(const std::string &path, const std::string &text) {
  return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bytes->resize(size);
  DWORD got = 0;
  BOOL ok = size == 0 || ReadFile(file, bytes->data(), size, &got, nullptr);
  CloseHandle(file);
  return ok && got == size;
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<uint8_t> bytes;
  std::vector<std::string> lines(1);
  ReadBytes(path, &bytes);
  for (uint8_t b : bytes) {
    if (b == '\n')
      lines.emplace_back();
    else if (b != '\r')
      lines.back() += static_cast<char>(b);
  }
  lines.pop_back();  // what follows the last line break
  return lines;
}

bool FileExists(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeTree(const std::string &root, const std::vector<std::string> &names) {
  for (const std::string &name : names) {
    const std::string path = root + "\\" + name;
    std::string folder = path;  // cut by characters: a second byte may be 0x5C
    if (!CutAtLastBackslash(&folder[0]) || !MakeDirs(folder.c_str())) return false;
    if (name.back() != '\\' && !WriteText(path, "x")) return false;
  }
  return true;
}

void ExpectTree(const std::string &root, const std::vector<std::string> &kept,
                const std::vector<std::string> &gone) {
  for (const std::string &k : kept) EXPECT_TRUE(PathExists(root + "\\" + k)) << k << " was removed";
  for (const std::string &k : gone)
    EXPECT_FALSE(PathExists(root + "\\" + k)) << k << " is still there";
}

void PrepareRunState(const std::string &installDir) {
  ResetRunState();
  g.instance = GetModuleHandleA(nullptr);
  g.isNT = 1;
  AllocZeroedT(260, &g.ownPath);
  AllocZeroedT(260, &g.scratchPath);
  AllocZeroedT(260, &g.installDir);
  std::string dir = installDir;
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  lstrcpynA(g.installDir, dir.c_str(), 260);
  lstrcpynA(g.ownPath, (dir + "uninstall.exe").c_str(), 260);
}

void ReleaseRunState() {
  FreeRemovalData();
  FreeAndNullT(&g.ownPath);
  FreeAndNullT(&g.scratchPath);
  FreeAndNullT(&g.installDir);
  ResetRunState();
}

DWORD WriteBlockFile(const std::string &path, const std::vector<uint8_t> &block,
                     DWORD prefixBytes) {
  std::vector<uint8_t> bytes(prefixBytes, 0xCC);
  bytes.insert(bytes.end(), block.begin(), block.end());
  WriteBytes(path, bytes);
  return prefixBytes;
}

std::vector<std::string> StandardMessages() {
  std::vector<std::string> m;
  for (int i = 0; i < 16; ++i)
    m.push_back("<" + std::to_string(i) + ">" + (i >= 7 && i <= 10 ? " %s" : ""));
  return m;
}

RunState::~RunState() {
  // The test's own lists are not the allocator's to free.
  g.files = nullptr;
  g.folders = nullptr;
  g.registryEntries = nullptr;
  g.fileCount = g.folderCount = g.registryCount = 0;
  if (!patterns_.empty()) g.patterns = nullptr;
  if (!messageSlots_.empty()) g.messages = nullptr;
  ReleaseRunState();
}

char *RunState::Text(const std::string &text) {
  texts_.push_back(text);
  return &texts_.back()[0];
}

std::string RunState::File(const std::string &folder, const std::string &name,
                           unsigned char flags) {
  files_.push_back({Text(folder), Text(name), flags});
  filePointers_.push_back(&files_.back());
  g.files = filePointers_.data();
  g.fileCount = static_cast<DWORD>(filePointers_.size());
  return folder + "\\" + name;
}

FolderEntry &RunState::Folder(DWORD levels, const std::string &folder, const std::string &second,
                              const std::string &name) {
  folders_.push_back({levels, Text(folder), Text(second), Text(name)});
  folderPointers_.push_back(&folders_.back());
  g.folders = folderPointers_.data();
  g.folderCount = static_cast<DWORD>(folderPointers_.size());
  return folders_.back();
}

RegistryEntry &RunState::Registry(HKEY root, const std::string &path) {
  registry_.push_back({static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(root)), Text(path)});
  registryPointers_.push_back(&registry_.back());
  g.registryEntries = registryPointers_.data();
  g.registryCount = static_cast<DWORD>(registryPointers_.size());
  return registry_.back();
}

void RunState::Patterns(const std::vector<std::string> &texts) {
  patterns_.clear();
  for (const auto &text : texts) patterns_ += text + '\0';
  patterns_ += '\0';
  g.patterns = &patterns_[0];
  g.patternsLength = static_cast<DWORD>(patterns_.size());
}

void RunState::Messages(const std::vector<std::string> &texts) {
  messageSlots_.clear();
  for (const std::string &text : texts) messageSlots_.push_back(Text(text));
  messageSlots_.push_back(nullptr);
  g.messages = messageSlots_.data();
}

void RunState::Clear() {
  files_.clear(), folders_.clear(), registry_.clear();
  filePointers_.clear(), folderPointers_.clear(), registryPointers_.clear();
  g.files = nullptr;
  g.folders = nullptr;
  g.registryEntries = nullptr;
  g.fileCount = g.folderCount = g.registryCount = 0;
}

bool InstallStubRaw(const std::string &exePath, const std::vector<uint8_t> &blockBytes) {
  std::vector<uint8_t> stub, out;
  if (!ReadBytes(StubPath(), &stub)) return false;
  std::string error;
  if (!blockfmt::AppendBlockToStub(stub, blockBytes, &out, &error)) return false;
  size_t cut = exePath.find_last_of('\\');
  if (cut != std::string::npos) MakeDirs(exePath.substr(0, cut));
  return WriteBytes(exePath, out);
}

bool InstallStub(const std::string &exePath, const blockfmt::Block &block) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!blockfmt::EncodeBlock(block, &bytes, &error)) return false;
  return InstallStubRaw(exePath, bytes);
}

DWORD RunAndWait(const std::string &commandLine, DWORD timeoutMs, const char *currentDir) {
  return ProgramRun(commandLine, currentDir).Wait(timeoutMs);
}

namespace {
bool SetRegValue(HKEY root, const std::string &key, const std::string &name, DWORD type,
                 const void *data, DWORD size) {
  return RegSetKeyValueA(root, key.c_str(), name.empty() ? nullptr : name.c_str(), type, data,
                         size) == ERROR_SUCCESS;
}
}  // namespace

bool SetRegString(HKEY root, const std::string &key, const std::string &name,
                  const std::string &value) {
  return SetRegValue(root, key, name, REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

bool SetRegDword(HKEY root, const std::string &key, const std::string &name, DWORD value) {
  return SetRegValue(root, key, name, REG_DWORD, &value, sizeof value);
}

bool SetRegBinary(HKEY root, const std::string &key, const std::string &name,
                  const std::vector<uint8_t> &data) {
  return SetRegValue(root, key, name, REG_BINARY, data.data(), (DWORD)data.size());
}

bool RegKeyExists(HKEY root, const std::string &key) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool RegValueExists(HKEY root, const std::string &key, const std::string &name) {
  return RegGetValueA(root, key.c_str(), name.empty() ? nullptr : name.c_str(),
                      RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool GetRegDword(HKEY root, const std::string &key, const std::string &name, DWORD *value) {
  DWORD size = sizeof *value;
  return RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, value, &size) ==
         ERROR_SUCCESS;
}

void DeleteRegTree(HKEY root, const std::string &key) { RegDeleteTreeA(root, key.c_str()); }

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, n < MAX_PATH ? n : 0);
}

bool IsCurrentFolder(const std::string &folder) {
  return lstrcmpiA(CurrentFolder().c_str(), folder.c_str()) == 0;
}

const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

ScopedVersionValue::ScopedVersionValue(const char *name) : name_(name) {
  present_ = RegGetValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name, RRF_RT_ANY | RRF_NOEXPAND,
                          &type_, data_, &size_) == ERROR_SUCCESS;
}

std::string ScopedVersionValue::text() const {
  std::string s = present_ ? reinterpret_cast<const char *>(data_) : "";
  if (s.size() >= 4 && s.back() == '\\') s.pop_back();
  return s;
}

bool ScopedVersionValue::Put(const void *data, DWORD size, DWORD type) const {
  return (data ? RegSetKeyValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name_, type, data, size)
               : RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kCurrentVersion, name_)) == ERROR_SUCCESS;
}

ScopedProtectedFolder::ScopedProtectedFolder(const std::string &folder)
    : ok_(saved_.Put(folder.c_str(), static_cast<DWORD>(folder.size()) + 1, REG_SZ)) {
  ResetProtectedFolders();
}

ScopedProtectedFolder::~ScopedProtectedFolder() { ResetProtectedFolders(); }

namespace {
// Wine cannot make links itself (its CreateSymbolicLinkA does nothing), but it shows a
// host symbolic link as a folder with FILE_ATTRIBUTE_REPARSE_POINT; it can also start
// a host program, so the host's ln makes the link.
// Runs the host's ln or rm on `link`, then waits until the link is there, or gone.
bool HostLinkTool(const std::string &link, const std::string &tool, const std::string &args,
                  bool wantLink) {
  typedef char *(CDECL * UnixNameFn)(LPCWSTR);
  auto unixName = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                     "wine_get_unix_file_name");
  if (!unixName) return false;
  // Wide all the way: the link's name may hold characters of a double-byte code page, and
  // the host's name of it is UTF-8.
  wchar_t wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH)) return false;
  char *hostPath = unixName(wide);
  if (!hostPath) return false;
  std::string command = tool + " " + args + " \"" + hostPath + "\"";
  HeapFree(GetProcessHeap(), 0, hostPath);
  std::wstring wideCommand(command.size() + 1, L'\0');
  if (!MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, &wideCommand[0],
                           static_cast<int>(wideCommand.size())))
    return false;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  const std::wstring program = L"\\\\?\\unix\\bin\\" + std::wstring(tool.begin(), tool.end());
  if (!CreateProcessW(program.c_str(), &wideCommand[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The host process is not waitable through its handle; poll instead.
  for (int i = 0; i < 100; ++i) {
    DWORD attributes = GetFileAttributesA(link.c_str());
    bool isLink =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (isLink == wantLink) return true;
    Sleep(50);
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
