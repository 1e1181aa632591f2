// File access for the tool, on POSIX systems and on Windows.
#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: the system's random numbers
#endif
#include "file_io.h"

#include <stdio.h>

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tallowin {

namespace {

std::string FolderOf(const std::string &path) {
#ifdef _WIN32
  // UTF-8: no byte of a longer character is ASCII, so a byte search is a character search.
  const size_t slash = path.find_last_of("\\/:");
  if (slash == std::string::npos) return ".\\";
  return path.substr(0, slash + 1) + (path[slash] == ':' ? ".\\" : "");
#else
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
#endif
}

bool RandomHex(std::string *out) {
  uint32_t words[4];
  for (uint32_t &w : words) {
#ifdef _WIN32
    unsigned int v;
    if (rand_s(&v) != 0) return false;
    w = v;
#else
    if (getrandom(&w, sizeof w, 0) != static_cast<ssize_t>(sizeof w)) return false;
#endif
  }
  static const char digits[] = "0123456789abcdef";
  out->clear();
  for (uint32_t w : words)
    for (int i = 0; i < 8; ++i) out->push_back(digits[(w >> (4 * i)) & 0xF]);
  return true;
}

}  // namespace

#ifdef _WIN32
std::wstring Utf8ToWide(const std::string &utf8) {
  if (utf8.empty() || utf8.size() > 0x7FFFFFFF) return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &wide[0], n);
  return wide;
}

bool WideToUtf8(const std::wstring &wide, std::string *utf8) {
  utf8->clear();
  if (wide.empty()) return true;
  if (wide.size() > 0x3FFFFFFF) return false;
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return false;
  utf8->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, &(*utf8)[0], n, nullptr,
                      nullptr);
  return true;
}
#endif

bool ReadFileBytes(const std::string &path, uint64_t maxBytes, std::vector<uint8_t> *out,
                   Fault *fault) {
#ifdef _WIN32
  const std::wstring wide = Utf8ToWide(path);
  FILE *f = wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb");
#else
  // Without waiting: a FIFO would block the open until someone writes to it.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  FILE *f = fd < 0 ? nullptr : fdopen(fd, "rb");
  if (fd >= 0 && !f) close(fd);
#endif
  if (!f) return Fail(fault, "", "cannot open for reading");
  // The size of what was opened, so a file swapped after the test cannot be larger.
  uint64_t size = 0;
#ifdef _WIN32
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  LARGE_INTEGER large;
  const bool regular = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &large);
  if (regular) size = static_cast<uint64_t>(large.QuadPart);
#else
  struct stat st;
  const bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
  if (regular) size = static_cast<uint64_t>(st.st_size);
#endif
  if (!regular || size > maxBytes) {
    fclose(f);
    return Fail(fault, "",
                !regular ? "not a regular file"
                         : std::to_string(size) + " bytes, more than the " +
                               std::to_string(maxBytes >> 20) + " MiB this input may have");
  }
  out->assign(static_cast<size_t>(size), 0);
  const size_t got = out->empty() ? 0 : fread(out->data(), 1, out->size(), f);
  const bool more = fgetc(f) != EOF;  // grown since: refuse rather than read on
  const bool failed = ferror(f) != 0 || got != out->size() || more;
  fclose(f);
  if (failed) return Fail(fault, "", "read error (the file changed while it was read)");
  return true;
}

bool WriteFileAtomic(const std::string &path, const std::vector<uint8_t> &bytes, Fault *fault) {
  std::string suffix;
  bool written = false;
#ifdef _WIN32
  HANDLE h = INVALID_HANDLE_VALUE;
  std::wstring wideTemp;
  const std::wstring widePath = Utf8ToWide(path);
  for (int attempt = 0; attempt < 8 && h == INVALID_HANDLE_VALUE && !widePath.empty(); ++attempt) {
    if (!RandomHex(&suffix)) break;
    wideTemp = Utf8ToWide(FolderOf(path) + "tallowin-" + suffix + ".tmp");
    h = CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) return Fail(fault, "", "cannot write (no temporary file)");
  size_t done = 0;
  written = true;
  while (written && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD n = 0;
    written = WriteFile(h, bytes.data() + done, chunk, &n, nullptr) && n == chunk;
    done += n;
  }
  written = CloseHandle(h) && written;
  written = written && MoveFileExW(wideTemp.c_str(), widePath.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!written) DeleteFileW(wideTemp.c_str());
#else
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    if (!RandomHex(&suffix)) break;
    temp = FolderOf(path) + ".tallowin-" + suffix + ".tmp";
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return Fail(fault, "", "cannot write (no temporary file)");
  size_t done = 0;
  written = true;
  while (written && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<size_t>(n);
  }
  written = close(fd) == 0 && written;
  written = written && rename(temp.c_str(), path.c_str()) == 0;
  if (!written) unlink(temp.c_str());
#endif
  return written || Fail(fault, "", "cannot write");
}

bool SameFile(const std::string &a, const std::string &b) {
#ifdef _WIN32
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::wstring names[2] = {Utf8ToWide(a), Utf8ToWide(b)};
  for (int i = 0; i < 2; ++i) {
    HANDLE h =
        CreateFileW(names[i].c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
#else
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
#endif
}

}  // namespace tallowin
