// The hold-back point: each action is the plain system call unless the run holds back.
#include "reach/actions.h"

#include "base/base.h"
#include "reach/held_path.h"
#include "state/state.h"

namespace {
constexpr UINT kBroadcastTimeoutMs = 3000;
}  // namespace

BOOL ActDeleteFile(const char *path) {
  return g.holdBack ? g.holdBack->deleteFile(path) : DeleteFileA(path);
}

DWORD ActDeleteByHandle(HANDLE item) {
  return g.holdBack ? g.holdBack->deleteByHandle(item) : DeleteByHandle(item);
}

BOOL ActRemoveFolder(const char *path) {
  return g.holdBack ? g.holdBack->removeFolder(path) : RemoveDirectoryA(path);
}

BOOL ActSetAttributes(HANDLE file, const char *path, DWORD attributes) {
  if (g.holdBack) return g.holdBack->setAttributes(path, attributes);
  return file ? SetAttributesByHandle(file, attributes) : SetFileAttributesA(path, attributes);
}

BOOL ActScheduleAtRestart(const char *path) {
  return g.holdBack ? g.holdBack->scheduleAtRestart(path)
                    : MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

LONG ActSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
  return g.holdBack ? g.holdBack->setValue(key, name, type, data, size)
                    : RegSetValueExA(key, name, 0, type, data, size);
}

LONG ActDeleteValue(HKEY key, const char *name) {
  return g.holdBack ? g.holdBack->deleteValue(key, name) : RegDeleteValueA(key, name);
}

LONG ActDeleteKey(HKEY key) {
  if (g.holdBack) return g.holdBack->deleteKey(key);
  typedef LONG(WINAPI * NtDeleteKeyCall)(HANDLE);
  typedef ULONG(WINAPI * StatusToErrorCall)(LONG);
  NtDeleteKeyCall deleteKey;
  StatusToErrorCall toError;
  if (!FindSystemCall("ntdll.dll", "NtDeleteKey", deleteKey) ||
      !FindSystemCall("ntdll.dll", "RtlNtStatusToDosError", toError))
    return ERROR_CALL_NOT_IMPLEMENTED;
  return static_cast<LONG>(toError(deleteKey(key)));
}

LONG ActDeleteKeyByName(HKEY root, const char *path) {
  // A held-back run has a picture of keys by handle: the 9x family has none to offer.
  return g.holdBack ? ERROR_CALL_NOT_IMPLEMENTED : RegDeleteKeyA(root, path);
}

void ActRemoveFont(const char *path) {
  if (g.holdBack) return g.holdBack->removeFont(path);
  RemoveFontResourceA(path);
}

void ActBroadcastFontChange() {
  if (g.holdBack) return;
  // A window that does not answer (any user's hung program) is given up on after a few
  // seconds; each top-level window gets its own time.
  SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, kBroadcastTimeoutMs,
                      nullptr);
}

void ActUnregister(const char *path) {
  if (g.holdBack) return g.holdBack->unregister(path);
  typedef HRESULT(STDAPICALLTYPE * UnregisterFn)();
  // The library's own folder is searched for its dependencies only where the system offers
  // the safe search flags (their presence is marked by AddDllDirectory).
  FARPROC addDllDirectory;
  HMODULE library = nullptr;
  if (FindSystemCall("kernel32.dll", "AddDllDirectory", addDllDirectory)) {
    library = LoadLibraryExA(path, nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  } else {
    library = LoadLibraryA(path);
  }
  if (reinterpret_cast<ULONG_PTR>(library) < 32) return;
  FARPROC entry = GetProcAddress(library, "DllUnregisterServer");
  if (entry != nullptr) {
    reinterpret_cast<UnregisterFn>(reinterpret_cast<void *>(entry))();
  }
  FreeLibrary(library);
}

DWORD QueryAttributes(const char *path, HANDLE file) {
  if (g.holdBack) return g.holdBack->attributes(path);
  if (!file) return GetFileAttributesA(path);
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool IsGone(const char *path) { return g.holdBack && g.holdBack->isGone(path); }

bool IsGoneIn(HANDLE folder, const char *name) {
  return g.holdBack && g.holdBack->isGoneIn(folder, name);
}

bool CanOpenForWriting(HANDLE folder, const char *name, const char *path) {
  if (g.holdBack) return g.holdBack->canOpenForWriting(path);
  if (folder) return CanOpenHeldForWriting(folder, name);
  ScopedHandle file(OpenExisting(path, ModeReadWrite));
  return static_cast<bool>(file);
}

LONG QueryValue(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size) {
  return g.holdBack ? g.holdBack->queryValue(key, name, type, data, size)
                    : RegQueryValueExA(key, name, nullptr, type, data, size);
}

bool KeyIsGone(HKEY key) { return g.holdBack && g.holdBack->keyIsGone(key); }

LONG EnumSubkey(HKEY key, DWORD index, wchar_t *name, DWORD *size) {
  if (g.holdBack) return g.holdBack->enumSubkey(key, index, name, size);
  // Found by name: the 9x family, which never deletes trees here, may lack it.
  decltype(&RegEnumKeyExW) enumerate;
  if (!FindSystemCall("advapi32.dll", "RegEnumKeyExW", enumerate))
    return ERROR_CALL_NOT_IMPLEMENTED;
  return enumerate(key, index, name, size, nullptr, nullptr, nullptr, nullptr);
}

LONG CountKeyItems(HKEY key, DWORD *subkeys, DWORD *values) {
  if (g.holdBack) return g.holdBack->countKeyItems(key, subkeys, values);
  return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr, values,
                          nullptr, nullptr, nullptr, nullptr);
}
