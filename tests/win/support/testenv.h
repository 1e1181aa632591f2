// Test environment helpers: real folders, files and processes in the test prefix.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "format/block_writer.h"

namespace testenv {

/// Folder of the built programs (uninstall.exe), from TALLOWIN_BIN; "" when unset.
std::string BinDir();
/// Full path of the stub under test (BinDir()\uninstall.exe).
std::string StubPath();
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
  std::string operator/(const std::string &relative) const;

 private:
  std::string path_;
};

/// Creates every missing folder of `path`.
bool MakeDirs(const std::string &path);
/// Deletes a tree (clearing read-only bits); never follows reparse points.
void RemoveTree(const std::string &path);
bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
bool WriteText(const std::string &path, const std::string &text);
bool ReadBytes(const std::string &path, std::vector<uint8_t> *bytes);
bool FileExists(const std::string &path);
bool DirExists(const std::string &path);

/// Resets the run state and allocates its three path buffers, with installDir set to
/// `installDir` plus a trailing backslash (ownPath = installDir + "uninstall.exe").
void PrepareRunState(const std::string &installDir);
/// Releases what PrepareRunState and a test's reading left in the run state.
void ReleaseRunState();

/// Writes `block` bytes to `path` behind `prefixBytes` bytes of filler; returns the
/// block's offset.
DWORD WriteBlockFile(const std::string &path, const std::vector<uint8_t> &block,
                     DWORD prefixBytes = 16);

/// A sixteen-message table whose texts name their numbers ("m0" ... "m15"), with
/// message 9 and 10 carrying "%s".
std::vector<std::string> StandardMessages();

/// Texts joined as the pattern list holds them: each NUL-terminated, then one more NUL.
std::string PatternList(const std::vector<std::string> &texts);

/// Copies the stub with `block` appended (locator set) to `exePath`.
bool InstallStub(const std::string &exePath, const blockfmt::Block &block);
bool InstallStubRaw(const std::string &exePath, const std::vector<uint8_t> &blockBytes);

/// Runs a command line and waits (at most timeoutMs); returns the exit code, or
/// 0xDEADBEEF when it could not start or timed out (the process is then killed).
DWORD RunAndWait(const std::string &commandLine, DWORD timeoutMs = 60000,
                 const char *currentDir = nullptr);

/// Registry helpers on real keys.
bool SetRegString(HKEY root, const std::string &key, const std::string &name,
                  const std::string &value);
bool SetRegDword(HKEY root, const std::string &key, const std::string &name, DWORD value);
bool SetRegBinary(HKEY root, const std::string &key, const std::string &name,
                  const std::vector<uint8_t> &data);
bool RegKeyExists(HKEY root, const std::string &key);
bool RegValueExists(HKEY root, const std::string &key, const std::string &name);
bool GetRegDword(HKEY root, const std::string &key, const std::string &name, DWORD *value);
void DeleteRegTree(HKEY root, const std::string &key);

/// The process's current folder ("" when it does not fit MAX_PATH).
std::string CurrentFolder();

/// Makes `link` a symbolic link to the folder `relativeTarget` through the host's ln
/// (Wine shows it as a folder with FILE_ATTRIBUTE_REPARSE_POINT; its own
/// CreateSymbolicLinkA does nothing). False when the link did not appear.
bool MakeFolderLink(const std::string &link, const std::string &relativeTarget);
/// Removes such a link through the host (the tree cleanup does not follow links).
bool RemoveFolderLink(const std::string &link);

/// Points the protected "CommonFilesDir" (HKLM ...\CurrentVersion) at `folder` for the
/// object's lifetime, so a test can own a protected folder; the old value comes back.
class ScopedProtectedFolder {
 public:
  explicit ScopedProtectedFolder(const std::string &folder);
  ~ScopedProtectedFolder();
  ScopedProtectedFolder(const ScopedProtectedFolder &) = delete;
  ScopedProtectedFolder &operator=(const ScopedProtectedFolder &) = delete;
  bool ok() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
  bool had_ = false;
  DWORD type_ = REG_SZ;
  char saved_[MAX_PATH];
  DWORD savedSize_ = 0;
};

}  // namespace testenv
