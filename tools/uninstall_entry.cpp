// The uninstall entry's values, for a .reg file or the registry.
#include "uninstall_entry.h"

#include <stdint.h>
#include <time.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "codepage.h"
#include "file_io.h"
#include "pe_image.h"

namespace tallowin {

namespace {

struct Value {
  const char *name;
  std::string text;  // UTF-8; a number when isNumber
  uint32_t number = 0;
  bool isNumber = false;
};

bool IsFullPath(const std::string &p) {
  return (p.size() >= 3 && p[1] == ':' && p[2] == '\\' &&
          ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) ||
         (p.size() >= 3 && p[0] == '\\' && p[1] == '\\' && p[2] != '\\');
}

// The values and the key (below its root), or false for a program path that an installer
// could not have meant: quotes or control characters would break the command lines.
// `installDate` is the manifest's, or for --write the day it runs when the manifest has none.
bool Values(const Manifest &m, const std::string &exe, const std::string &installDate,
            std::string *key, std::vector<Value> *out, Fault *fault) {
  const UninstallEntry &e = m.uninstallEntry;
  if (!e.given) return Fail(fault, "$.uninstallEntry", "the manifest has no uninstall entry");
  const size_t slash = exe.rfind('\\');
  bool clean = IsFullPath(exe) && slash != std::string::npos && slash + 1 < exe.size();
  for (char c : exe) clean = clean && c != '"' && c != '/' && static_cast<unsigned char>(c) >= 0x20;
  if (!clean)
    return Fail(fault, "--exe",
                "\"" + exe + "\" is not the full path of a program (C:\\...\\uninstall.exe)");
  const std::string folder = exe.substr(0, slash > 2 ? slash : slash + 1);
  const std::string quoted = "\"" + exe + "\"";
  *key = std::string(kUninstallKey) + "\\" + e.id;
  *out = {{"DisplayName", e.displayName},
          {"DisplayVersion", e.displayVersion},
          {"Publisher", e.publisher},
          {"UninstallString", quoted},
          {"QuietUninstallString", quoted + " /S"},
          {"InstallLocation", folder}};
  if (!e.displayIcon.empty())
    out->push_back(
        {"DisplayIcon", IsFullPath(e.displayIcon)
                            ? e.displayIcon
                            : folder + (folder.back() == '\\' ? "" : "\\") + e.displayIcon});
  const std::pair<const char *, const std::string *> optional[] = {
      {"HelpLink", &e.helpLink},
      {"URLInfoAbout", &e.urlInfoAbout},
      {"Comments", &e.comments},
      {"Readme", &e.readme},
      {"InstallDate", &installDate}};
  for (const auto &o : optional)
    if (!o.second->empty()) out->push_back({o.first, *o.second});
  if (e.estimatedSizeKB) out->push_back({"EstimatedSize", "", e.estimatedSizeKB, true});
  out->push_back({"NoModify", "", 1, true});
  out->push_back({"NoRepair", "", 1, true});
  return true;
}

// UTF-8 to UTF-16LE bytes; false for text that is not UTF-8.
bool Utf16Le(const std::string &utf8, std::string *out) {
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp;
    if (!DecodeUtf8(utf8, &i, &cp)) return false;
    auto unit = [out](uint32_t u) {
      out->push_back(static_cast<char>(u & 0xFF));
      out->push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return true;
}

std::string Escaped(const std::string &s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// Comment lines on the registry view: a 32-bit installer's reg.exe imports into the 32-bit
// view unless told otherwise, where a 64-bit uninstaller would not look first.
std::string ViewComments(bool perUser, StubBits bits) {
  if (perUser)
    return "; HKEY_CURRENT_USER\\Software is one key for 32-bit and 64-bit programs: import "
           "it with reg import FILE\r\n";
  const char *const k64 =
      "; For a 64-bit uninstaller (the x86_64 stub): the 64-bit registry view.\r\n"
      "; From a 32-bit installer, import it there: reg import FILE /reg:64\r\n";
  const char *const k32 =
      "; For a 32-bit uninstaller (the i686 stub): the 32-bit registry view "
      "(Software\\WOW6432Node on 64-bit Windows).\r\n"
      "; From a 64-bit program, import it there: reg import FILE /reg:32\r\n";
  if (bits == StubBits::k64) return k64;
  if (bits == StubBits::k32) return k32;
  return std::string(
             "; Import it into the view of the packed uninstaller's architecture "
             "(name the program with --stub to have it chosen):\r\n") +
         k64 + k32;
}

}  // namespace

StubBits StubBitsOf(const std::vector<uint8_t> &image) {
  PeHeaders h;
  Fault fault;
  if (!ReadPeHeaders(image, &h, &fault)) return StubBits::kUnknown;
  return h.pe32Plus ? StubBits::k64 : StubBits::k32;
}

bool UninstallEntryRegFile(const Manifest &m, const std::string &exePath, StubBits bits,
                           std::string *out, Fault *fault) {
  std::string key;
  std::vector<Value> values;
  if (!Values(m, exePath, m.uninstallEntry.installDate, &key, &values, fault)) return false;
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n" +
      ViewComments(m.uninstallEntry.perUser, bits) + "\r\n[" +
      RootLongName(m.uninstallEntry.perUser ? blockfmt::ROOT_HKCU : blockfmt::ROOT_HKLM) + "\\" +
      key + "]\r\n";
  for (const Value &v : values) {
    char dword[16];
    snprintf(dword, sizeof dword, "dword:%08x", v.number);
    text += "\"" + std::string(v.name) +
            "\"=" + (v.isNumber ? dword : "\"" + Escaped(v.text) + "\"") + "\r\n";
  }
  // Files with this header are UTF-16LE with a byte order mark, as the registry editor writes.
  *out = "\xFF\xFE";
  if (!Utf16Le(text + "\r\n", out)) return Fail(fault, "--exe", "\"" + exePath + "\" is not UTF-8");
  return true;
}

bool WriteUninstallEntry(const Manifest &m, const std::string &exePath, StubBits bits,
                         Fault *fault) {
  std::string key;
  std::vector<Value> values;
  std::string date = m.uninstallEntry.installDate;
  if (date.empty()) {
    const time_t now = time(nullptr);
    char today[16];
    if (strftime(today, sizeof today, "%Y%m%d", localtime(&now)) == 8) date = today;
  }
  if (!Values(m, exePath, date, &key, &values, fault)) return false;
#ifdef _WIN32
  if (bits == StubBits::kUnknown)
    return Fail(fault, "--exe",
                "\"" + exePath +
                    "\" is not a program this tool can read: the entry goes into the registry "
                    "view of its architecture, so write it once the uninstaller is in place");
  // The view the stub sees, whichever view this tool's own architecture would give.
  const REGSAM view = bits == StubBits::k64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  // An empty name would open the root itself: never write the values there.
  const std::wstring wideKey = Utf8ToWide(key);
  if (wideKey.empty()) return Fail(fault, "$.uninstallEntry.id", "not UTF-8");
  HKEY k;
  const LONG opened =
      RegCreateKeyExW(m.uninstallEntry.perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                      wideKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &k, nullptr);
  if (opened != ERROR_SUCCESS)
    return Fail(fault, "", "cannot create the key (error " + std::to_string(opened) + ")");
  LONG status = ERROR_SUCCESS;
  for (const Value &v : values) {
    const std::wstring name = Utf8ToWide(v.name), text = Utf8ToWide(v.text);
    if (status == ERROR_SUCCESS)
      status = v.isNumber
                   ? RegSetValueExW(k, name.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&v.number), sizeof v.number)
                   : RegSetValueExW(k, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(k);
  if (status != ERROR_SUCCESS)
    return Fail(fault, "", "cannot write a value (error " + std::to_string(status) + ")");
  return true;
#else
  (void)bits;
  return Fail(fault, "--write", "writes the registry of Windows: run the Windows tool");
#endif
}

}  // namespace tallowin
