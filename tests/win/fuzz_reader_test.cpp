// Mutation fuzzing of the stub's block reader: each mutated block is written to a real
// file and read through ReadBlockAt. After every case the process heap must validate and
// hold exactly the busy blocks it held before, once the run state is released. The
// regression corpus is replayed first; TALLOWIN_FUZZ_CASES sets the number of cases.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "../host/fuzz_mutator.h"
#include "app/state.h"
#include "data/data.h"
#include "support/testenv.h"

namespace {

struct RegressionCase {
  const char *name;
  const unsigned char *bytes;
  size_t size;
};

#include "../corpus/regressions.inc"

struct HeapCensus {
  SIZE_T busyBlocks = 0;
  SIZE_T busyBytes = 0;
};

HeapCensus TakeCensus() {
  HeapCensus census;
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++census.busyBlocks;
      census.busyBytes += entry.cbData;
    }
  }
  HeapUnlock(heap);
  return census;
}

// The wildcard pass walks the list up to an empty text: it must end inside its block.
bool PatternsTerminated() {
  const SIZE_T capacity = HeapSize(GetProcessHeap(), 0, g.patterns);
  return g.patternsLength > 0 && capacity != static_cast<SIZE_T>(-1) &&
         capacity >= g.patternsLength + 2 && g.patterns[g.patternsLength] == 0 &&
         g.patterns[g.patternsLength + 1] == 0;
}

// A crash inside a case names it and leaves its bytes behind for the corpus. Only the
// plain file API runs here: the heap may be what broke.
long g_caseIndex = -1;
const fuzz::Bytes *g_caseBytes = nullptr;

LONG WINAPI SaveCrashingCase(EXCEPTION_POINTERS *info) {
  fprintf(stderr, "case %ld crashed (exception 0x%08lX at %p)\n", g_caseIndex,
          static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
          info->ExceptionRecord->ExceptionAddress);
  if (g_caseBytes) {
    HANDLE file = CreateFileA("C:\\tallowin-tests\\fuzz-reader-crash.bin", GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, g_caseBytes->data(), static_cast<DWORD>(g_caseBytes->size()), &written,
                nullptr);
      CloseHandle(file);
      fprintf(stderr, "saved as C:\\tallowin-tests\\fuzz-reader-crash.bin\n");
    }
  }
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

class FuzzReader : public ::testing::Test {
 protected:
  FuzzReader() : dir_("fuzz_reader") {}

  // Writes with the plain file API: the reader's own layer is what is under test.
  bool WriteCase(const fuzz::Bytes &block) {
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    static const uint8_t filler[kPrefix] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC,
                                            0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    DWORD written = 0;
    bool ok = WriteFile(file, filler, kPrefix, &written, nullptr) && written == kPrefix;
    if (ok && !block.empty()) {
      ok = WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
           written == block.size();
    }
    CloseHandle(file);
    return ok;
  }

  // One case; "" when the reader kept its contract, else what went wrong.
  std::string RunCase(const fuzz::Bytes &block, int *codeOut) {
    if (!WriteCase(block)) return "could not write the case file";
    const HeapCensus before = TakeCensus();
    testenv::PrepareRunState(dir_.path());
    const int code = ReadBlockAt(path_.c_str(), kPrefix);
    if (codeOut) *codeOut = code;
    std::string why;
    if (code != LOAD_OK && code != LOAD_BODY_FAILED && code != LOAD_BODY_NO_MEMORY &&
        code != LOAD_NO_MEMORY && code != LOAD_READ_FAILED)
      why = "unexpected code " + std::to_string(code);
    else if (code == LOAD_OK && (!g.options || g.optionsSize < blockfmt::kOptionsFixedSize))
      why = "read succeeded without options";
    else if (code == LOAD_OK && g.patterns && !PatternsTerminated())
      why = "pattern list without its two closing NUL bytes";
    testenv::ReleaseRunState();
    if (!HeapValidate(GetProcessHeap(), 0, nullptr)) return "process heap damaged";
    const HeapCensus after = TakeCensus();
    if (why.empty() &&
        (after.busyBlocks != before.busyBlocks || after.busyBytes != before.busyBytes)) {
      why = "heap leak: " + std::to_string(after.busyBlocks - before.busyBlocks) + " blocks, " +
            std::to_string(after.busyBytes - before.busyBytes) + " bytes";
    }
    return why;
  }

  void SaveFinding(const fuzz::Bytes &block, long index) {
    std::string name = dir_.path();
    name = name.substr(0, name.rfind('\\')) + "\\fuzz-reader-finding-" + std::to_string(index) +
           ".bin";
    testenv::WriteBytes(name, block);
    fprintf(stderr, "case %ld saved as %s\n", index, name.c_str());
  }

  static constexpr DWORD kPrefix = 16;
  testenv::ScopedTestDir dir_;
  std::string path_ = dir_ / "case.bin";
};

TEST_F(FuzzReader, SeedBlocksReadWithoutLeaks) {
  // Also the warm-up: the file API's first use may keep allocations of its own.
  std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  ASSERT_EQ(6u, seeds.size());
  RunCase(seeds[0], nullptr);
  for (size_t i = 0; i < seeds.size(); ++i) {
    int code = -2;
    EXPECT_EQ("", RunCase(seeds[i], &code)) << "seed " << i;
    EXPECT_EQ(LOAD_OK, code) << "seed " << i;
  }
}

TEST_F(FuzzReader, LeakCheckSeesWhatIsLeftAllocated) {
  // The census must notice one forgotten block, or a passing run proves nothing.
  RunCase(fuzz::SeedBlocks()[0], nullptr);
  const HeapCensus before = TakeCensus();
  void *kept = nullptr;
  ASSERT_TRUE(AllocRaw(40, &kept));
  const HeapCensus after = TakeCensus();
  FreeAndNull(&kept);
  EXPECT_EQ(before.busyBlocks + 1, after.busyBlocks);
  EXPECT_LE(before.busyBytes + 40, after.busyBytes);
}

TEST_F(FuzzReader, RegressionCorpusIsReportedAsDamagedOrRead) {
  RunCase(fuzz::SeedBlocks()[0], nullptr);
  for (const RegressionCase &c : kRegressions) {
    int code = -2;
    EXPECT_EQ("", RunCase(fuzz::Bytes(c.bytes, c.bytes + c.size), &code)) << c.name;
    // The hand-made cases are damaged blocks, except those named as readable.
    if (std::string(c.name).rfind("readable-", 0) != 0) {
      EXPECT_NE(LOAD_OK, code) << c.name;
    }
  }
}

TEST_F(FuzzReader, MutatedBlocks) {
  const long cases = fuzz::CaseCount(30000);
  std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  RunCase(seeds[0], nullptr);
  SetUnhandledExceptionFilter(SaveCrashingCase);
  long counts[9] = {};
  long failures = 0;
  const DWORD start = GetTickCount();
  // TALLOWIN_FUZZ_FIRST starts the run at a later case, to narrow down a finding.
  const char *firstText = getenv("TALLOWIN_FUZZ_FIRST");
  const long first = firstText ? strtol(firstText, nullptr, 10) : 0;
  for (long i = first; i < first + cases && failures < 10; ++i) {
    fuzz::Bytes block = fuzz::MakeCase(seeds, i);
    int code = -2;
    g_caseIndex = i;
    g_caseBytes = &block;
    std::string why = RunCase(block, &code);
    g_caseBytes = nullptr;
    if (!why.empty()) {
      ADD_FAILURE() << "case " << i << ": " << why;
      SaveFinding(block, i);
      ++failures;
    }
    if (code >= 0 && code <= 8) ++counts[code];
  }
  const double seconds = (GetTickCount() - start) / 1000.0;
  printf("stub reader: %ld cases in %.1f s (read %ld, 1: %ld, 5: %ld, 7: %ld, 8: %ld)\n", cases,
         seconds, counts[0], counts[1], counts[5], counts[7], counts[8]);
  if (cases >= 1000) {
    EXPECT_GT(counts[LOAD_READ_FAILED], cases / 20);
    EXPECT_GT(counts[LOAD_OK], cases / 20);
  }
}

}  // namespace
