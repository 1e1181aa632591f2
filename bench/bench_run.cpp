// The removal benchmark. Each run makes a fresh product tree, then times
// "uninstall.exe /X" over it and, on a second fresh tree, the baseline program that
// deletes the same things with plain DeleteFileA / RemoveDirectoryA / RegDeleteValueA.
// It prints the medians, their ratio and the uninstaller's peak memory, then times
// runs over a block with many file entries against runs over an empty block.
// Usage: bench_run STUB ROOT [read]   (STUB: the x86_64 uninstall.exe, ROOT: a scratch
// folder; "read" times only the large blocks)
#define PSAPI_VERSION 2
#include <stdio.h>
#include <windows.h>
// windows.h first
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/block_writer.h"

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr int kValues = 2000;
constexpr int kRuns = 3;
constexpr int kReadEntries = 100000;
const char kRegKey[] = "Software\\TallowinBench\\Values";
const char kRegBase[] = "Software\\TallowinBench";

std::string Narrow(const wchar_t *text) {
  char buffer[MAX_PATH * 2];
  if (!WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr)) {
    return std::string();
  }
  return buffer;
}

std::string Num(int n, int width) {
  char text[16];
  snprintf(text, sizeof text, "%0*d", width, n);
  return text;
}

double Now() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

bool ReadBytes(const std::string &path, std::vector<uint8_t> *out) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr), got = 0;
  out->resize(size);
  bool ok = size == 0 || (ReadFile(file, out->data(), size, &got, nullptr) && got == size);
  CloseHandle(file);
  return ok;
}

bool WriteBytes(const std::string &path, const void *data, DWORD size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = size == 0 || (WriteFile(file, data, size, &put, nullptr) && put == size);
  CloseHandle(file);
  return ok;
}

bool InstallStub(const std::vector<uint8_t> &stub, const std::string &exe,
                 const blockfmt::Block &block) {
  std::vector<uint8_t> bytes, image;
  std::string error;
  if (!blockfmt::EncodeBlock(block, &bytes, &error) ||
      !blockfmt::AppendBlockToStub(stub, bytes, &image, &error)) {
    fprintf(stderr, "bench: cannot pack the block: %s\n", error.c_str());
    return false;
  }
  // The program file of the run before may still be held for a moment after its exit.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (WriteBytes(exe, image.data(), DWORD(image.size()))) return true;
    Sleep(100);
  }
  return false;
}

// Removes a scratch tree left by an earlier run (files first, then the folders).
void RemoveTree(const std::string &dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

// The product: 200 folders of 100 listed files and one unlisted *.tmp leftover each,
// and 2,000 registry values.
bool MakeTree(const std::string &product) {
  RemoveTree(product);
  if (!CreateDirectoryA(product.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  for (int f = 0; f < kFolders; ++f) {
    std::string folder = product + "\\d" + Num(f, 3);
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return false;
    for (int i = 0; i < kFilesPerFolder; ++i) {
      if (!WriteBytes(folder + "\\file" + Num(i, 3) + ".dat", "x", 1)) return false;
    }
    if (!WriteBytes(folder + "\\junk.tmp", "x", 1)) return false;
  }
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = true;
  for (int v = 0; v < kValues && ok; ++v) {
    DWORD data = DWORD(v);
    ok = RegSetValueExA(key, ("v" + Num(v, 4)).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE *>(&data), sizeof data) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

// What is left of the product after a run: listed files, leftovers, folders, values.
int Leftovers(const std::string &product) {
  int left = 0;
  for (int f = 0; f < kFolders; ++f) {
    std::string folder = product + "\\d" + Num(f, 3);
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    ++left;
    for (int i = 0; i < kFilesPerFolder; ++i) {
      std::string file = folder + "\\file" + Num(i, 3) + ".dat";
      if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) ++left;
    }
    if (GetFileAttributesA((folder + "\\junk.tmp").c_str()) != INVALID_FILE_ATTRIBUTES) ++left;
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                     nullptr, nullptr, nullptr);
    left += int(count);
    RegCloseKey(key);
  }
  return left;
}

blockfmt::Block Messages() {
  blockfmt::Block block;
  for (int i = 0; i < 16; ++i) block.messages.push_back("m" + std::to_string(i));
  for (int i = 7; i <= 10; ++i) block.messages[i] += " %s";
  return block;
}

blockfmt::Block ProductBlock() {
  blockfmt::Block block = Messages();
  for (int f = 0; f < kFolders; ++f) {
    for (int i = 0; i < kFilesPerFolder; ++i) {
      block.files.push_back({".\\d" + Num(f, 3), "file" + Num(i, 3) + ".dat", 0});
    }
  }
  for (int v = 0; v < kValues; ++v) {
    block.registry.push_back({blockfmt::ROOT_HKCU, std::string(kRegKey) + "\\\\v" + Num(v, 4)});
  }
  block.patterns.push_back("*.tmp");
  return block;
}

struct RunResult {
  bool ok = false;
  DWORD exitCode = 0;
  double seconds = 0;
  PROCESS_MEMORY_COUNTERS memory = {};
};

RunResult Run(const std::string &line, const std::string &cwd) {
  RunResult result;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string text = line;
  double start = Now();
  if (!CreateProcessA(nullptr, &text[0], nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &startup,
                      &process)) {
    fprintf(stderr, "bench: cannot start %s (%lu)\n", line.c_str(), GetLastError());
    return result;
  }
  // The counters are read while the child runs as well: some systems answer nothing
  // once it has ended. The peaks only grow, so the last answer is the one kept.
  bool ended = false;
  for (int waited = 0; !ended && waited < 600000; waited += 50) {
    ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) &&
        memory.PeakWorkingSetSize >= result.memory.PeakWorkingSetSize) {
      result.memory = memory;
    }
  }
  result.seconds = Now() - start;
  if (!ended) TerminateProcess(process.hProcess, 1);
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.ok = ended;
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3 && !(argc == 4 && lstrcmpW(argv[3], L"read") == 0)) {
    fprintf(stderr, "usage: bench_run STUB ROOT [read]\n");
    return 2;
  }
  const bool readOnly = argc == 4;
  std::string stubPath = Narrow(argv[1]), root = Narrow(argv[2]);
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (!length || length >= sizeof self) return 2;
  std::string baseline = self;
  baseline = baseline.substr(0, baseline.find_last_of('\\')) + "\\bench_delete.exe";
  std::vector<uint8_t> stub;
  if (!ReadBytes(stubPath, &stub)) {
    fprintf(stderr, "bench: cannot read %s\n", stubPath.c_str());
    return 2;
  }
  RemoveTree(root);
  for (size_t cut = root.find('\\', 3); cut != std::string::npos; cut = root.find('\\', cut + 1)) {
    CreateDirectoryA(root.substr(0, cut).c_str(), nullptr);
  }
  if (!CreateDirectoryA(root.c_str(), nullptr)) {
    fprintf(stderr, "bench: cannot make %s\n", root.c_str());
    return 1;
  }
  // The program lies in the product folder, which the listed paths are relative to.
  const std::string product = root + "\\product";
  bool failed = false;

  if (!readOnly) {
    printf("removal: %d listed files in %d folders, %d *.tmp leftovers, %d registry values\n",
           kFolders * kFilesPerFolder, kFolders, kFolders, kValues);
    printf(
        "baseline: DeleteFileA per file and leftover, RemoveDirectoryA per folder, "
        "RegDeleteValueA per value (one open key)\n");
  }
  std::vector<double> ours, theirs;
  SIZE_T peakWorkingSet = 0, peakPagefile = 0, basePeakWorkingSet = 0;
  std::string productExe = product + "\\uninstall.exe";
  for (int run = 1; run <= kRuns && !readOnly; ++run) {
    double made = Now();
    if (!MakeTree(product) || !InstallStub(stub, productExe, ProductBlock())) {
      fprintf(stderr, "bench: cannot make the product tree (%lu)\n", GetLastError());
      return 1;
    }
    made = Now() - made;
    RunResult a = Run("\"" + productExe + "\" /X", root);
    int leftA = Leftovers(product);
    if (!MakeTree(product)) return 1;
    char args[64];
    snprintf(args, sizeof args, " %d %d %d ", kFolders, kFilesPerFolder, kValues);
    RunResult b = Run("\"" + baseline + "\" \"" + product + "\"" + args + kRegKey, root);
    int leftB = Leftovers(product);
    printf(
        "run %d: uninstall.exe /X %.3f s (exit %lu, %d left), baseline %.3f s (exit %lu, %d "
        "left); tree made in %.1f s\n",
        run, a.seconds, a.exitCode, leftA, b.seconds, b.exitCode, leftB, made);
    fflush(stdout);
    if (!a.ok || !b.ok || a.exitCode != 0 || b.exitCode != 0 || leftA || leftB) failed = true;
    ours.push_back(a.seconds);
    theirs.push_back(b.seconds);
    peakWorkingSet = std::max(peakWorkingSet, a.memory.PeakWorkingSetSize);
    peakPagefile = std::max(peakPagefile, a.memory.PeakPagefileUsage);
    basePeakWorkingSet = std::max(basePeakWorkingSet, b.memory.PeakWorkingSetSize);
  }
  if (!readOnly) {
    double mine = Median(ours), base = Median(theirs);
    printf("uninstall.exe /X median: %.3f s\n", mine);
    printf("baseline median: %.3f s\n", base);
    printf("ratio: %.2f\n", base > 0 ? mine / base : 0.0);
    printf(
        "peak memory of uninstall.exe: working set %lu KiB, pagefile %lu KiB "
        "(baseline working set %lu KiB)\n",
        (unsigned long)(peakWorkingSet / 1024), (unsigned long)(peakPagefile / 1024),
        (unsigned long)(basePeakWorkingSet / 1024));
  }
  fflush(stdout);

  // Reading: a block of 100,000 file entries that name missing files, against an empty
  // block; the difference is the reading of the block plus one failed delete per entry.
  const std::string readDir = root + "\\read";
  RemoveTree(product);
  CreateDirectoryA(readDir.c_str(), nullptr);
  blockfmt::Block big = Messages(), empty = Messages();
  for (int i = 0; i < kReadEntries; ++i) {
    big.files.push_back({".\\missing", "f" + Num(i, 6) + ".dat", 0});
  }
  // The same count of entries whose paths are too long to build: the passes pass over
  // them without a system call, which leaves the reading alone.
  blockfmt::Block unusable = Messages();
  const std::string longFolder = "C:\\" + std::string(250, 'a');
  for (int i = 0; i < kReadEntries; ++i) {
    unusable.files.push_back({longFolder, "f" + Num(i, 6) + ".dat", 0});
  }
  const std::string bigExe = readDir + "\\big.exe", emptyExe = readDir + "\\empty.exe";
  const std::string unusableExe = readDir + "\\unusable.exe";
  if (!InstallStub(stub, bigExe, big) || !InstallStub(stub, emptyExe, empty) ||
      !InstallStub(stub, unusableExe, unusable)) {
    return 1;
  }
  std::vector<double> bigTimes, emptyTimes, unusableTimes;
  SIZE_T bigPeak = 0;
  for (int run = 1; run <= kRuns; ++run) {
    RunResult e = Run("\"" + emptyExe + "\" /X", root);
    RunResult g = Run("\"" + bigExe + "\" /X", root);
    RunResult u = Run("\"" + unusableExe + "\" /X", root);
    if (!e.ok || !g.ok || !u.ok || e.exitCode || g.exitCode || u.exitCode) failed = true;
    unusableTimes.push_back(u.seconds);
    emptyTimes.push_back(e.seconds);
    bigTimes.push_back(g.seconds);
    bigPeak = std::max(bigPeak, g.memory.PeakWorkingSetSize);
  }
  double bigMedian = Median(bigTimes), emptyMedian = Median(emptyTimes);
  printf(
      "block of %d file entries (missing files): median %.3f s, empty block %.3f s, "
      "difference %.3f s; peak working set %lu KiB\n",
      kReadEntries, bigMedian, emptyMedian, bigMedian - emptyMedian,
      (unsigned long)(bigPeak / 1024));
  double unusableMedian = Median(unusableTimes);
  printf(
      "block of %d file entries that no pass acts on (reading alone): median %.3f s, "
      "difference %.3f s\n",
      kReadEntries, unusableMedian, unusableMedian - emptyMedian);

  RemoveTree(root);
  RegDeleteTreeA(HKEY_CURRENT_USER, kRegBase);
  if (failed) printf("bench: a run failed or left something behind\n");
  return failed ? 1 : 0;
}
