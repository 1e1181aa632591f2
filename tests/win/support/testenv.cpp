#include "support/testenv.h"

#include <stdio.h>

#include "app/state.h"
#include "data/data.h"
#include "paths/paths.h"

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

std::string TestProgramDir() {
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of('\\'));
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

bool FileExists(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
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
  for (int i = 0; i < 16; ++i) m.push_back("m" + std::to_string(i));
  m[7] = "m7 %s";
  m[8] = "m8 %s";
  m[9] = "m9 %s";
  m[10] = "m10 %s";
  return m;
}

std::string PatternList(const std::vector<std::string> &texts) {
  std::string list;
  for (const auto &text : texts) list += text + '\0';
  list += '\0';
  return list;
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
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDir,
                      &startup, &process))
    return 0xDEADBEEF;
  DWORD code = 0xDEADBEEF;
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 0xDEADBEEF);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

namespace {
bool SetRegValue(HKEY root, const std::string &key, const std::string &name, DWORD type,
                 const void *data, DWORD size) {
  HKEY handle;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExA(handle, name.empty() ? nullptr : name.c_str(), 0, type,
                          static_cast<const BYTE *>(data), size);
  RegCloseKey(handle);
  return r == ERROR_SUCCESS;
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
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  LONG r = RegQueryValueExA(handle, name.empty() ? nullptr : name.c_str(), nullptr, nullptr,
                            nullptr, nullptr);
  RegCloseKey(handle);
  return r == ERROR_SUCCESS;
}

bool GetRegDword(HKEY root, const std::string &key, const std::string &name, DWORD *value) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  DWORD size = sizeof *value;
  LONG r = RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(value),
                            &size);
  RegCloseKey(handle);
  return r == ERROR_SUCCESS;
}

void DeleteRegTree(HKEY root, const std::string &key) { RegDeleteTreeA(root, key.c_str()); }

std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, n < MAX_PATH ? n : 0);
}

ScopedProtectedFolder::ScopedProtectedFolder(const std::string &folder) {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_READ | KEY_SET_VALUE, &key_) != ERROR_SUCCESS) {
    key_ = nullptr;
    return;
  }
  DWORD size = sizeof saved_;
  had_ = RegQueryValueExA(key_, "CommonFilesDir", nullptr, &type_, (BYTE *)saved_, &size) ==
         ERROR_SUCCESS;
  savedSize_ = size;
  RegSetValueExA(key_, "CommonFilesDir", 0, REG_SZ, (const BYTE *)folder.c_str(),
                 (DWORD)folder.size() + 1);
  ResetProtectedFolders();
}

ScopedProtectedFolder::~ScopedProtectedFolder() {
  if (key_) {
    if (had_) {
      RegSetValueExA(key_, "CommonFilesDir", 0, type_, (const BYTE *)saved_, savedSize_);
    } else {
      RegDeleteValueA(key_, "CommonFilesDir");
    }
    RegCloseKey(key_);
  }
  ResetProtectedFolders();
}

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
  std::wstring wide(link.begin(), link.end());
  char *hostPath = unixName(wide.c_str());
  if (!hostPath) return false;
  std::string command = tool + " " + args + " \"" + hostPath + "\"";
  HeapFree(GetProcessHeap(), 0, hostPath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::string program = "\\\\?\\unix\\bin\\" + tool;
  if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
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
