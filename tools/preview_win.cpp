// tallowin preview on Windows: the program's own passes, run here with every action held
// back. The picture below is what the run would have changed; the passes' queries read it,
// so an entry sees what the entries before it would have left.
#include <ole2.h>
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/run.h"
#include "block_reader.h"
#include "data/data.h"
#include "external/external.h"
#include "file_io.h"
#include "paths/paths.h"
#include "preview.h"
#include "reach/actions.h"
#include "state/outcome.h"
#include "state/state.h"

namespace tallowin {

namespace {

struct Picture {
  std::set<std::string> gone;               // files and folders, full and folded
  std::map<std::string, DWORD> attributes;  // changed attributes
  std::set<std::string> goneKeys;           // keys by their kernel names, folded
  std::set<std::string> goneValues;         // key name, "\\\\", value name
  std::map<std::string, std::pair<DWORD, std::vector<BYTE>>> values;  // changed values
} picture;

std::string Folded(std::string text) {
  if (!text.empty()) CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// The full, folded form of a path (relative ones against the current folder).
std::string Full(const char *path) {
  char full[MAX_PATH * 2];
  const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  std::string s = n && n < sizeof full ? std::string(full, n) : std::string(path);
  while (s.size() > 3 && s.back() == '\\') s.pop_back();
  return Folded(s);
}

// True when `full` or a folder above it is taken; *above tells which.
bool TakenIn(const std::set<std::string> &taken, const std::string &full, bool *above) {
  *above = false;
  if (taken.count(full)) return true;
  for (size_t at = full.rfind('\\'); at != std::string::npos && at > 0;
       at = full.rfind('\\', at - 1)) {
    if (taken.count(full.substr(0, at))) return *above = true;
  }
  return false;
}

BOOL Failing(DWORD error) {
  SetLastError(error);
  return FALSE;
}

DWORD Attributes(const char *path) {
  const std::string full = Full(path);
  bool above;
  if (TakenIn(picture.gone, full, &above)) {
    SetLastError(above ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  auto changed = picture.attributes.find(full);
  return changed != picture.attributes.end() ? changed->second : GetFileAttributesA(path);
}

bool Gone(const char *path) {
  bool above;
  return TakenIn(picture.gone, Full(path), &above);
}

// Whether the system would let this process delete the item now: an open for delete access
// fails as the delete would (held without delete sharing, no right to delete).
bool MayDelete(const char *path, DWORD extraFlags) {
  HANDLE item =
      CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | extraFlags, nullptr);
  if (item == INVALID_HANDLE_VALUE) return false;
  CloseHandle(item);
  return true;
}

BOOL DeleteFileHeld(const char *path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
    return Failing(ERROR_ACCESS_DENIED);
  if (!MayDelete(path, 0)) return FALSE;
  picture.gone.insert(Full(path));
  return TRUE;
}

// True when the run would have taken everything in the folder `full` (full and folded).
// Listed through a handle that shares delete access: the run's own handle that is about
// to delete the folder has it, and a plain search would be refused for it.
bool LeftEmpty(const std::string &full) {
  HANDLE folder = CreateFileA(full.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // A folder that cannot be listed is not known to be empty.
  if (folder == INVALID_HANDLE_VALUE) return false;
  alignas(8) BYTE buffer[16384];
  bool empty = true;
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
       empty && GetFileInformationByHandleEx(folder, kind, buffer, sizeof buffer);
       kind = FileFullDirectoryInfo) {
    for (const BYTE *at = buffer;;) {
      const auto *item = reinterpret_cast<const FILE_FULL_DIR_INFO *>(at);
      char name[MAX_PATH * 2];
      const int n = WideCharToMultiByte(CP_ACP, 0, item->FileName,
                                        static_cast<int>(item->FileNameLength / sizeof(WCHAR)),
                                        name, sizeof name - 1, nullptr, nullptr);
      const std::string text(name, n > 0 ? static_cast<size_t>(n) : 0);
      if (text.empty() ||
          (text != "." && text != ".." && !picture.gone.count(Folded(full + "\\" + text))))
        empty = false;
      if (!empty || item->NextEntryOffset == 0) break;
      at += item->NextEntryOffset;
    }
  }
  // The listing ends with no more files; any other end leaves the folder unknown.
  const bool listed = !empty || GetLastError() == ERROR_NO_MORE_FILES;
  CloseHandle(folder);
  return empty && listed;
}

BOOL RemoveFolderHeld(const char *path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Failing(ERROR_DIRECTORY);
  // A link goes as itself, whatever it leads to.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !LeftEmpty(Full(path)))
    return Failing(ERROR_DIR_NOT_EMPTY);
  if (!MayDelete(path, FILE_FLAG_BACKUP_SEMANTICS)) return FALSE;
  picture.gone.insert(Full(path));
  return TRUE;
}

// The path of the item behind a handle, as the passes write paths ("C:\\..." or
// "\\\\server\\share\\..."); empty when the system cannot tell it.
std::string HandlePath(HANDLE item) {
  char path[MAX_PATH * 2];
  const DWORD n = GetFinalPathNameByHandleA(item, path, sizeof path, VOLUME_NAME_DOS);
  if (n == 0 || n >= sizeof path) return "";
  const std::string text(path, n);
  if (text.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + text.substr(7);
  if (text.compare(0, 4, "\\\\?\\") == 0) return text.substr(4);
  return text;
}

bool GoneIn(HANDLE folder, const char *name) {
  std::string path = HandlePath(folder);
  if (path.empty()) return false;
  if (path.back() != '\\') path += '\\';
  return Gone((path + name).c_str());
}

// The delete through a held handle: the open that the run made succeeded here too, so
// what is left to decide is what the picture changed (a folder emptied, a file made
// writable). An item whose path cannot be told is refused, never taken unseen.
DWORD DeleteByHandleHeld(HANDLE item) {
  const std::string path = HandlePath(item);
  if (path.empty()) return ERROR_CALL_NOT_IMPLEMENTED;
  const DWORD attributes = Attributes(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !LeftEmpty(Full(path.c_str())))
      return ERROR_DIR_NOT_EMPTY;
  } else if (attributes & FILE_ATTRIBUTE_READONLY) {
    return ERROR_ACCESS_DENIED;
  }
  picture.gone.insert(Full(path.c_str()));
  return 0;
}

BOOL SetAttributesHeld(const char *path, DWORD attributes) {
  if (Attributes(path) == INVALID_FILE_ATTRIBUTES) return FALSE;
  picture.attributes[Full(path)] = attributes;
  return TRUE;
}

// The system deletes it at the restart: until then it stays for the entries after it.
BOOL ScheduleHeld(const char *) { return TRUE; }

// The registry's own name of the key behind a handle ("\REGISTRY\MACHINE\..."), folded:
// the same key by any path or view has one name.
std::string KeyName(HKEY key) {
  typedef LONG(WINAPI * NtQueryKeyCall)(HANDLE, int, void *, ULONG, ULONG *);
  NtQueryKeyCall query;
  if (!FindSystemCall("ntdll.dll", "NtQueryKey", query)) return "";
  std::vector<BYTE> buffer(4096);
  ULONG size = 0;
  const int kKeyNameInformation = 3;
  if (query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) != 0)
    return "";
  ULONG length;
  memcpy(&length, buffer.data(), sizeof length);
  std::wstring name(reinterpret_cast<const wchar_t *>(buffer.data() + sizeof length),
                    length / sizeof(wchar_t));
  if (!name.empty()) CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, name.data(), int(name.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name.data(), int(name.size()), &out[0], n, nullptr, nullptr);
  return out;
}

// Empty when the key's name cannot be read: the picture could not tell its values from
// another key's, and the value is then neither changed nor deleted in it.
std::string ValueName(HKEY key, const char *name) {
  const std::string keyName = KeyName(key);
  return keyName.empty() ? "" : keyName + "\\\\" + Folded(name ? name : "");
}

LONG QueryValueHeld(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size) {
  const std::string which = ValueName(key, name);
  if (picture.goneValues.count(which)) return ERROR_FILE_NOT_FOUND;
  auto changed = picture.values.find(which);
  if (changed == picture.values.end())
    return RegQueryValueExA(key, name, nullptr, type, data, size);
  const std::vector<BYTE> &bytes = changed->second.second;
  if (type) *type = changed->second.first;
  const DWORD room = size ? *size : 0;
  if (size) *size = static_cast<DWORD>(bytes.size());
  if (!data) return ERROR_SUCCESS;
  if (room < bytes.size()) return ERROR_MORE_DATA;
  memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

LONG SetValueHeld(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
  const std::string which = ValueName(key, name);
  if (which.empty()) return ERROR_CALL_NOT_IMPLEMENTED;
  picture.goneValues.erase(which);
  picture.values[which] = {type, std::vector<BYTE>(data, data + size)};
  return ERROR_SUCCESS;
}

LONG DeleteValueHeld(HKEY key, const char *name) {
  const std::string which = ValueName(key, name);
  if (which.empty()) return ERROR_CALL_NOT_IMPLEMENTED;
  if (picture.goneValues.count(which)) return ERROR_FILE_NOT_FOUND;
  if (!picture.values.count(which)) {
    const LONG there = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    if (there != ERROR_SUCCESS) return there;
  }
  picture.values.erase(which);
  picture.goneValues.insert(which);
  return ERROR_SUCCESS;
}

bool KeyGone(HKEY key) {
  bool above;
  return TakenIn(picture.goneKeys, KeyName(key), &above);
}

LONG DeleteKeyHeld(HKEY key) {
  const std::string name = KeyName(key);
  // Without its name the picture could not hide it from the entries after it.
  if (name.empty()) return ERROR_CALL_NOT_IMPLEMENTED;
  picture.goneKeys.insert(name);
  return ERROR_SUCCESS;
}

// The index-th subkey that the run has left.
LONG EnumSubkeyHeld(HKEY key, DWORD index, wchar_t *name, DWORD *size) {
  const std::string parent = KeyName(key);
  const DWORD room = *size;
  for (DWORD real = 0, left = 0;; ++real) {
    *size = room;
    const LONG result = RegEnumKeyExW(key, real, name, size, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return result;
    std::wstring child(name, *size);
    CharLowerBuffW(&child[0], static_cast<DWORD>(child.size()));
    const int n = WideCharToMultiByte(CP_UTF8, 0, child.data(), int(child.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, child.data(), int(child.size()), &text[0], n, nullptr, nullptr);
    if (picture.goneKeys.count(parent + "\\" + text)) continue;
    if (left++ == index) return ERROR_SUCCESS;
  }
}

// The subkeys and values that the run has left.
LONG CountKeyItemsHeld(HKEY key, DWORD *subkeys, DWORD *values) {
  wchar_t name[256];
  DWORD size = sizeof name / sizeof name[0];
  LONG result;
  for (*subkeys = 0; (result = EnumSubkeyHeld(key, *subkeys, name, &size)) == ERROR_SUCCESS;
       size = sizeof name / sizeof name[0])
    ++*subkeys;
  if (result != ERROR_NO_MORE_ITEMS) return result;
  *values = 0;
  char value[16384];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof value;
    result = RegEnumValueA(key, i, value, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (result != ERROR_SUCCESS) return result;
    if (!picture.goneValues.count(ValueName(key, value))) ++*values;
  }
}

bool CanOpenForWritingHeld(const char *path) {
  // A file that the run would have made writable is still read-only here: its sharing is
  // tested by a read open, which no read-only attribute refuses.
  const std::string full = Full(path);
  const bool madeWritable = picture.attributes.count(full) &&
                            !(picture.attributes[full] & FILE_ATTRIBUTE_READONLY) &&
                            (GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY);
  HANDLE file = madeWritable ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : OpenExisting(path, ModeReadWrite);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void RemoveFontHeld(const char *path) { NoteEvent("would-remove-font", path); }
void UnregisterHeld(const char *path) { NoteEvent("would-unregister", path); }

bool StartProgramHeld(const char *program, const char *arguments, bool) {
  std::string line = program;
  if (arguments && arguments[0]) line += std::string(" ") + arguments;
  NoteEvent("would-start", line.c_str());
  return true;
}

// The parents the script would be given, as the real start works them out.
bool StartSelfDeletionHeld() {
  g.parentLevels = g.isNT ? SafeParentLevels() : 0;
  return true;
}

const char *KeywordHeld(const char *keyword) {
  const std::string k = keyword;
  if (k == "removed") return "would-remove";
  if (k == "restart") return "would-restart";
  if (k == "scheduled-self-delete") return "would-self-delete";
  return keyword;
}

const HoldBack kHoldBack = {DeleteFileHeld,   DeleteByHandleHeld,
                            RemoveFolderHeld, SetAttributesHeld,
                            ScheduleHeld,     SetValueHeld,
                            DeleteValueHeld,  DeleteKeyHeld,
                            RemoveFontHeld,   UnregisterHeld,
                            StartProgramHeld, StartSelfDeletionHeld,
                            Attributes,       Gone,
                            GoneIn,           CanOpenForWritingHeld,
                            QueryValueHeld,   KeyGone,
                            EnumSubkeyHeld,   CountKeyItemsHeld,
                            KeywordHeld};

std::wstring Wide(const std::string &utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
  return w;
}

// The program's full path in the ANSI code page, as the program sees its own; false when
// a character of it has no exact form there (the program's own run could not read itself).
bool AnsiFullPath(const std::string &utf8, std::string *out) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(Wide(utf8).c_str(), MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) return false;
  BOOL lossy = FALSE;
  char ansi[MAX_PATH * 2];
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full, int(n), ansi,
                                         sizeof ansi - 1, nullptr, &lossy);
  if (length <= 0 || lossy || length >= MAX_PATH) return false;
  out->assign(ansi, static_cast<size_t>(length));
  return true;
}

}  // namespace

int Preview(const std::string &program, const std::string &output, std::string *err) {
  auto refuse = [&](const std::string &why) {
    *err += "tallowin: " + program + ": " + why + "\n";
    return 2;
  };
  std::vector<uint8_t> image;
  Fault fault;
  if (!ReadFileBytes(program, kMaxProgramBytes, &image, &fault)) return refuse(fault.Text());
  PeHeaders headers;
  if (!ReadPeHeaders(image, &headers, &fault)) return refuse(fault.Text());
  const std::string other = PreviewArchitectureRefusal(headers, sizeof(void *) == 8);
  if (!other.empty()) return refuse(other);
  ReadBlockResult block;
  std::string why;
  if (!ReadBlockFromImage(image, &block, &why)) return refuse(why);
  std::string ansi;
  if (!AnsiFullPath(program, &ansi))
    return refuse("its full path has no exact form in this machine's ANSI code page");
  if (!output.empty() && SameFile(output, program))
    return refuse("is the output itself: write the preview to another file");

  HANDLE out = INVALID_HANDLE_VALUE;
  if (output.empty())
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(), &out,
                    0, FALSE, DUPLICATE_SAME_ACCESS);
  else
    out = CreateFileW(Wide(output).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE || out == nullptr) {
    *err += "tallowin: " + (output.empty() ? std::string("standard output") : output) +
            ": cannot be written (error " + std::to_string(GetLastError()) + ")\n";
    return 2;
  }

  // What the program's own start does for a silent run, for the program at its place.
  RestrictDllSearch();
  EnableRedirectionTrust();
  ResetRunState();
  DetectOsFamily();
  g.elevated = RunsElevated() ? 1 : 0;
  g.instance = GetModuleHandleA(nullptr);
  g.silent = g.quiet = 1;
  g.filePromptAnswer = 1;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  OleInitialize(nullptr);
  static char ownPath[MAX_PATH], scratchPath[MAX_PATH], installDir[MAX_PATH];
  g.ownPath = ownPath;
  g.scratchPath = scratchPath;
  g.installDir = installDir;
  lstrcpynA(ownPath, ansi.c_str(), MAX_PATH);
  lstrcpynA(installDir, ansi.c_str(), MAX_PATH);
  CutAtLastBackslash(installDir);
  AppendBackslash(installDir);
  g.holdBack = &kHoldBack;
  g.log = out;
  NoteEvent("program", ownPath);
  NoteEvent("switches", "/S (preview: nothing is changed)");

  int code;
  if (ReadBlockFile(ownPath, block.blockOffset) != LOAD_OK) {
    NoteOutcome(ownPath, OUTCOME_UNREADABLE);
    code = FinishRun(-1);
  } else {
    RunRemoval();
    ScheduleSelfDeletion();
    FreeRemovalData();
    code = FinishRun(0);
  }
  OleUninitialize();
  g.holdBack = nullptr;
  return code;
}

}  // namespace tallowin
