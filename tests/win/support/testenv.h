// Test environment helpers: real folders, files and processes in the test prefix.
#pragma once
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "format/block_writer.h"
#include "state/state.h"

namespace testenv {

/// Folder of the built programs (uninstall.exe), from TALLOWIN_BIN; "" when unset.
std::string BinDir();
/// Full path of the stub under test (BinDir()\uninstall.exe).
inline std::string StubPath() { return BinDir() + "\\uninstall.exe"; }
/// Folder of the running test program (helper programs and test DLLs lie beside it).
std::string TestProgramDir();

/// A fresh folder below C:\tallowin-tests, removed with all it holds on destruction.
class ScopedTestDir {
 public:
  explicit ScopedTestDir(const std::string &name);
  ~ScopedTestDir();
  ScopedTestDir(const ScopedTestDir &) = delete;
  ScopedTestDir &operator=(const ScopedTestDir &) = delete;
  /// The folder's full path, without a trailing backslash.
  const std::string &path() const { return path_; }
  /// path() + "\" + relative.
  std::string operator/(const std::string &relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

/// Creates every missing folder of `path`.
bool MakeDirs(const std::string &path);
/// Deletes a tree (clearing read-only bits); never follows reparse points.
void RemoveTree(const std::string &path);
bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
inline bool WriteText(const std::string &path, const std::string &text) {
  return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}
bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes);
/// The file's lines without their line breaks (CR LF or LF); none when it cannot be read.
std::vector<std::string> ReadLines(const std::string &path);
/// (INVALID_FILE_ATTRIBUTES has every bit set, the folder bit too: a missing path is no file.)
inline bool FileExists(const std::string &path) {
  return !(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}
inline bool PathExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
inline bool DirExists(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
/// Makes each file below `root` (a name that ends in a backslash is an empty folder) and
/// its folders; false when one could not be made.
bool MakeTree(const std::string &root, const std::vector<std::string> &names);

/// Resets the run state and allocates its three path buffers, with installDir set to
/// `installDir` plus a trailing backslash (ownPath = installDir + "uninstall.exe").
void PrepareRunState(const std::string &installDir);
/// Releases what PrepareRunState and a test's reading left in the run state.
void ReleaseRunState();

/// A prepared run state whose file list the test gives: each file adds to the list and
/// points the run state at it. The texts and entries are the test's own and stay in place;
/// they are taken out of the run state again before it is released.
class RunState {
 public:
  explicit RunState(const std::string &installDir) { PrepareRunState(installDir); }
  ~RunState();
  RunState(const RunState &) = delete;
  RunState &operator=(const RunState &) = delete;

  /// Returns the entry's full path as the file pass builds it from an absolute folder.
  std::string File(const std::string &folder, const std::string &name, unsigned char flags = 0);

 private:
  std::deque<std::string> texts_;
  std::deque<FileEntry> files_;
  std::vector<FileEntry *> pointers_;  // the run state's list
};

/// A sixteen-message table whose texts name their numbers in brackets, so that none is a
/// part of another ("<0>" ... "<15>"); messages 7 to 10 carry " %s".
std::vector<std::string> StandardMessages();

/// Copies the stub with `block` appended (locator set) to `exePath`.
bool InstallStub(const std::string &exePath, const blockfmt::Block &block);
bool InstallStubRaw(const std::string &exePath, const std::vector<uint8_t> &blockBytes);

/// Runs a command line and waits (at most timeoutMs); returns the exit code, or
/// 0xDEADBEEF when it could not start or timed out (the process is then killed).
DWORD RunAndWait(const std::string &commandLine, DWORD timeoutMs = 60000);

/// Registry helpers on real keys (an empty name is the key's default value).
inline bool SetRegValue(HKEY root, const std::string &key, const std::string &name, DWORD type,
                        const void *data, DWORD size) {
  return RegSetKeyValueA(root, key.c_str(), name.c_str(), type, data, size) == ERROR_SUCCESS;
}
inline bool SetRegString(HKEY root, const std::string &key, const std::string &name,
                         const std::string &value) {
  return SetRegValue(root, key, name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
}
inline bool RegValueExists(HKEY root, const std::string &key, const std::string &name) {
  return RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}
/// Whether the key is there in the registry view given (0: this program's own), and the
/// value too when one is named.
bool RegHas(HKEY root, const std::wstring &key, REGSAM view = 0, const wchar_t *value = nullptr);
inline void DeleteRegTree(HKEY root, const std::string &key) { RegDeleteTreeA(root, key.c_str()); }

/// The process's current folder ("" when it does not fit MAX_PATH).
inline std::string CurrentFolder() {
  char buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return std::string(buffer, n < MAX_PATH ? n : 0);
}

/// Makes `link` a symbolic link to the folder `relativeTarget` through the host's ln
/// (Wine shows it as a folder with FILE_ATTRIBUTE_REPARSE_POINT; its own
/// CreateSymbolicLinkA does nothing). False when the link did not appear.
bool MakeFolderLink(const std::string &link, const std::string &relativeTarget);
/// Removes such a link through the host (the tree cleanup does not follow links).
bool RemoveFolderLink(const std::string &link);

/// The settings of the pre-removal probe (a helper program that writes its folder, command
/// line and arguments to `marker`) for the object's lifetime; programs started meanwhile
/// inherit them.
class ProbeEnv {
 public:
  explicit ProbeEnv(const std::string &marker, DWORD sleepMs = 0, DWORD exitCode = 0) {
    const std::string settings =
        std::to_string(sleepMs) + " " + std::to_string(exitCode) + " " + marker;
    SetEnvironmentVariableA("TALLOWIN_PROBE", settings.c_str());
  }
  ~ProbeEnv() { SetEnvironmentVariableA("TALLOWIN_PROBE", nullptr); }
  ProbeEnv(const ProbeEnv &) = delete;
  ProbeEnv &operator=(const ProbeEnv &) = delete;
};

/// A value of HKLM\Software\Microsoft\Windows\CurrentVersion, put back as it was when the
/// object goes, however the test changed it.
class ScopedVersionValue {
 public:
  explicit ScopedVersionValue(const char *name);
  ~ScopedVersionValue() { Put(present_ ? data_ : nullptr, size_, type_); }
  ScopedVersionValue(const ScopedVersionValue &) = delete;
  ScopedVersionValue &operator=(const ScopedVersionValue &) = delete;
  /// Writes the value (`size` bytes of `type`), or deletes it when `data` is null.
  bool Put(const void *data, DWORD size, DWORD type = REG_BINARY) const;

 private:
  const char *name_;
  bool present_ = false;
  DWORD type_ = 0, size_ = sizeof data_;
  BYTE data_[1024] = {};
};

}  // namespace testenv
