// The removal benchmark: "uninstall.exe /X" against the raw loop (bench_delete: one
// DeleteFileA per listed file, one RemoveDirectoryA per folder) in two cases, each run
// RUNS times with the two programs interleaved (the one that goes first alternates):
//   present: 20,000 listed files on disk, a fresh tree before every run;
//   missing: 100,000 listed files of which none is there (a product already gone).
// Per case and program it prints min, median and max, and the ratio of the medians.
// Usage: bench_run STUB ROOT [RUNS]   (STUB: the x86_64 uninstall.exe, ROOT: a scratch
// folder, RUNS: at least 5, default 7)
#define PSAPI_VERSION 2
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
// windows.h first
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_layout.h"
#include "format/block_writer.h"

namespace {

constexpr int kPresentFiles = 20000;
constexpr int kMissingFiles = 100000;
constexpr int kDefaultRuns = 7;

std::string Narrow(const wchar_t *text) {
  char buffer[MAX_PATH * 2];
  if (!WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr)) {
    return std::string();
  }
  return buffer;
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

// The listed files of the layout, and the folders that hold them, made on disk. The
// program file in the product folder stays.
bool MakeTree(const std::string &product, int count) {
  char path[MAX_PATH];
  for (int folder = 0; folder < bench::FolderCount(count); ++folder) {
    bench::FolderPath(product.c_str(), folder, path, sizeof path);
    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  for (int i = 0; i < count; ++i) {
    bench::FilePath(product.c_str(), i, count, path, sizeof path);
    if (!WriteBytes(path, "x", 1)) return false;
  }
  return true;
}

// What is left of the layout after a run: listed files and their folders.
int Leftovers(const std::string &product, int count) {
  int left = 0;
  char path[MAX_PATH];
  for (int i = 0; i < count; ++i) {
    bench::FilePath(product.c_str(), i, count, path, sizeof path);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) ++left;
  }
  for (int folder = 0; folder < bench::FolderCount(count); ++folder) {
    bench::FolderPath(product.c_str(), folder, path, sizeof path);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) ++left;
  }
  return left;
}

blockfmt::Block Messages() {
  blockfmt::Block block;
  for (int i = 0; i < 16; ++i) block.messages.push_back("m" + std::to_string(i));
  for (int i = 7; i <= 10; ++i) block.messages[i] += " %s";
  return block;
}

// The layout as the block lists it: relative to the install folder.
blockfmt::Block LayoutBlock(int count) {
  blockfmt::Block block = Messages();
  char folder[32], name[32];
  for (int i = 0; i < count; ++i) {
    const int in = bench::FolderOf(i, count);
    if (in < 0) {
      snprintf(folder, sizeof folder, ".");
    } else {
      bench::FolderPath(".", in, folder, sizeof folder);
    }
    snprintf(name, sizeof name, "f%06d.dat", i);
    block.files.push_back({folder, name, 0});
  }
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

struct Times {
  std::vector<double> seconds;
  SIZE_T peakWorkingSet = 0;

  void Add(const RunResult &run) {
    seconds.push_back(run.seconds);
    peakWorkingSet = std::max(peakWorkingSet, run.memory.PeakWorkingSetSize);
  }
  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    size_t half = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
  }
  void Print(const char *label) const {
    printf("  %-26s min %.3f s  median %.3f s  max %.3f s  (peak working set %lu KiB)\n", label,
           *std::min_element(seconds.begin(), seconds.end()), Median(),
           *std::max_element(seconds.begin(), seconds.end()),
           (unsigned long)(peakWorkingSet / 1024));
  }
};

// One case: RUNS rounds of the stub and the raw loop, the one that goes first alternating,
// each after prepare(). check(run) tells whether the run left what it should.
template <typename Prepare, typename Check>
bool Measure(const char *title, int runs, const std::string &stubLine, const std::string &rawLine,
             const std::string &cwd, Prepare prepare, Check check) {
  printf("%s, %d runs each, interleaved\n", title, runs);
  fflush(stdout);
  Times ours, raw;
  bool ok = true;
  for (int run = 0; run < runs && ok; ++run) {
    for (int turn = 0; turn < 2 && ok; ++turn) {
      const bool stub = (run + turn) % 2 == 0;
      if (!prepare()) {
        fprintf(stderr, "bench: cannot make the product tree (%lu)\n", GetLastError());
        return false;
      }
      RunResult result = Run(stub ? stubLine : rawLine, cwd);
      if (!result.ok || result.exitCode != 0 || !check()) {
        printf("  run %d of %s failed: exit %lu\n", run + 1,
               stub ? "uninstall.exe" : "the raw loop", result.exitCode);
        ok = false;
      }
      (stub ? ours : raw).Add(result);
    }
    if (ok) {
      printf("  run %d: uninstall.exe %.3f s, raw loop %.3f s\n", run + 1, ours.seconds.back(),
             raw.seconds.back());
      fflush(stdout);
    }
  }
  if (!ok) return false;
  ours.Print("uninstall.exe /X");
  raw.Print("raw loop");
  printf("  ratio of medians: %.3f\n", ours.Median() / raw.Median());
  fflush(stdout);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  const int runs = argc == 4 ? _wtoi(argv[3]) : kDefaultRuns;
  if ((argc != 3 && argc != 4) || runs < 5) {
    fprintf(stderr, "usage: bench_run STUB ROOT [RUNS of at least 5]\n");
    return 2;
  }
  std::string stubPath = Narrow(argv[1]), root = Narrow(argv[2]);
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (!length || length >= sizeof self) return 2;
  std::string raw = self;
  raw = "\"" + raw.substr(0, raw.find_last_of('\\')) + "\\bench_delete.exe\" ";
  std::vector<uint8_t> stub;
  if (!ReadBytes(stubPath, &stub)) {
    fprintf(stderr, "bench: cannot read %s\n", stubPath.c_str());
    return 2;
  }
  RemoveTree(root);
  for (size_t cut = root.find('\\', 3); cut != std::string::npos; cut = root.find('\\', cut + 1)) {
    CreateDirectoryA(root.substr(0, cut).c_str(), nullptr);
  }
  // The program lies in the product folder, which the listed paths are relative to.
  const std::string product = root + "\\product", exe = product + "\\uninstall.exe";
  if (!CreateDirectoryA(root.c_str(), nullptr) || !CreateDirectoryA(product.c_str(), nullptr)) {
    fprintf(stderr, "bench: cannot make %s\n", product.c_str());
    return 1;
  }
  const std::string stubLine = "\"" + exe + "\" /X";
  char title[160];
  snprintf(title, sizeof title,
           "present: %d listed files (%d in the install folder, %d folders of %d)", kPresentFiles,
           bench::InRoot(kPresentFiles), bench::FolderCount(kPresentFiles), bench::kPerFolder);
  bool ok = InstallStub(stub, exe, LayoutBlock(kPresentFiles)) &&
            Measure(
                title, runs, stubLine,
                raw + "\"" + product + "\" " + std::to_string(kPresentFiles) + " present", root,
                [&] { return MakeTree(product, kPresentFiles); },
                [&] { return Leftovers(product, kPresentFiles) == 0; });
  snprintf(title, sizeof title,
           "missing: %d listed files, none there (%d in the install folder, %d folders of %d)",
           kMissingFiles, bench::InRoot(kMissingFiles), bench::FolderCount(kMissingFiles),
           bench::kPerFolder);
  ok = ok && InstallStub(stub, exe, LayoutBlock(kMissingFiles)) &&
       Measure(
           title, runs, stubLine,
           raw + "\"" + product + "\" " + std::to_string(kMissingFiles) + " missing", root,
           [] { return true; }, [] { return true; });
  RemoveTree(root);
  if (!ok) printf("bench: a run failed or left something behind\n");
  return ok ? 0 : 1;
}
