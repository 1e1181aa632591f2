// Mutation fuzzing of the stub's block reader: each mutated block is written to a real
// file and read through ReadBlockFile. After every case the process heap must validate and
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

// Busy blocks and their bytes in the process heap.
std::pair<SIZE_T, SIZE_T> Census() {
  std::pair<SIZE_T, SIZE_T> busy;
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++busy.first;
      busy.second += entry.cbData;
    }
  }
  HeapUnlock(heap);
  return busy;
}

// The wildcard pass walks the list up to an empty text: it must end inside its block.
bool PatternsTerminated() {
  const SIZE_T capacity = HeapSize(GetProcessHeap(), 0, g.patterns);
  return g.patternsLength > 0 && capacity != static_cast<SIZE_T>(-1) &&
         capacity >= g.patternsLength + 2 && g.patterns[g.patternsLength] == 0 &&
         g.patterns[g.patternsLength + 1] == 0;
}

// Only the plain file API: after a crash the heap may be what broke.
bool SaveCase(const char *path, const fuzz::Bytes &bytes) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  fprintf(stderr, "saved as %s\n", path);
  return true;
}

// A crash inside a case names it and leaves its bytes behind for the corpus.
long g_caseIndex = -1;
const fuzz::Bytes *g_caseBytes = nullptr;

LONG WINAPI SaveCrashingCase(EXCEPTION_POINTERS *info) {
  fprintf(stderr, "case %ld crashed (exception 0x%08lX at %p)\n", g_caseIndex,
          static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
          info->ExceptionRecord->ExceptionAddress);
  if (g_caseBytes) SaveCase("C:\\tallowin-tests\\fuzz-reader-crash.bin", *g_caseBytes);
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

class FuzzReader : public ::testing::Test {
 protected:
  // One case; "" when the reader kept its contract, else what went wrong.
  std::string RunCase(const fuzz::Bytes &block, int *code) {
    fuzz::Bytes bytes(kPrefix + block.size(), 0xCC);
    if (!block.empty()) memcpy(&bytes[kPrefix], block.data(), block.size());
    if (!testenv::WriteBytes(path_, bytes)) return "could not write the case file";
    const auto before = Census();
    testenv::PrepareRunState(dir_.path());
    *code = ReadBlockFile(path_.c_str(), kPrefix);
    std::string why;
    if (*code != LOAD_OK && *code != LOAD_BODY_FAILED && *code != LOAD_BODY_NO_MEMORY &&
        *code != LOAD_NO_MEMORY && *code != LOAD_READ_FAILED)
      why = "unexpected code " + std::to_string(*code);
    else if (*code == LOAD_OK && (!g.options || g.optionsSize < blockfmt::kOptionsFixedSize))
      why = "read succeeded without options";
    else if (*code == LOAD_OK && g.patterns && !PatternsTerminated())
      why = "pattern list without its two closing NUL bytes";
    testenv::ReleaseRunState();
    if (!HeapValidate(GetProcessHeap(), 0, nullptr)) return "process heap damaged";
    const auto after = Census();
    if (why.empty() && after != before) {
      why = "heap leak: " + std::to_string(after.first - before.first) + " blocks, " +
            std::to_string(after.second - before.second) + " bytes";
    }
    return why;
  }

  static constexpr DWORD kPrefix = 16;
  testenv::ScopedTestDir dir_{"fuzz_reader"};
  std::string path_ = dir_ / "case.bin";
  const std::vector<fuzz::Bytes> seeds_ = fuzz::SeedBlocks();
  int code_ = -2;
};

TEST_F(FuzzReader, SeedsReadWithoutLeaksAndTheCorpusIsDamagedOrRead) {
  ASSERT_EQ(6u, seeds_.size());
  // The warm-up: the file API's first use may keep allocations of its own.
  RunCase(seeds_[0], &code_);
  // The census must notice one forgotten block, or a passing run proves nothing.
  const auto before = Census();
  void *kept = nullptr;
  ASSERT_TRUE(AllocRaw(40, &kept));
  const auto after = Census();
  FreeAndNull(&kept);
  EXPECT_EQ(before.first + 1, after.first);
  EXPECT_LE(before.second + 40, after.second);

  for (size_t i = 0; i < seeds_.size(); ++i) {
    EXPECT_EQ("", RunCase(seeds_[i], &code_)) << "seed " << i;
    EXPECT_EQ(LOAD_OK, code_) << "seed " << i;
  }
  for (const RegressionCase &c : kRegressions) {
    EXPECT_EQ("", RunCase(fuzz::Bytes(c.bytes, c.bytes + c.size), &code_)) << c.name;
    // The hand-made cases are damaged blocks, except those named as readable.
    if (std::string(c.name).rfind("readable-", 0) != 0) {
      EXPECT_NE(LOAD_OK, code_) << c.name;
    }
  }
}

TEST_F(FuzzReader, MutatedBlocks) {
  const long cases = fuzz::CaseCount(30000);
  RunCase(seeds_[0], &code_);
  SetUnhandledExceptionFilter(SaveCrashingCase);
  long counts[9] = {}, failures = 0;
  const DWORD start = GetTickCount();
  // TALLOWIN_FUZZ_FIRST starts the run at a later case, to narrow down a finding.
  const char *firstText = getenv("TALLOWIN_FUZZ_FIRST");
  const long first = firstText ? strtol(firstText, nullptr, 10) : 0;
  for (long i = first; i < first + cases && failures < 10; ++i) {
    fuzz::Bytes block = fuzz::MakeCase(seeds_, i);
    g_caseIndex = i;
    g_caseBytes = &block;
    std::string why = RunCase(block, &code_);
    g_caseBytes = nullptr;
    if (!why.empty()) {
      ADD_FAILURE() << "case " << i << ": " << why;
      SaveCase(("C:\\tallowin-tests\\fuzz-reader-finding-" + std::to_string(i) + ".bin").c_str(),
               block);
      ++failures;
    }
    if (code_ >= 0 && code_ <= 8) ++counts[code_];
  }
  printf("stub reader: %ld cases in %.1f s (read %ld, 1: %ld, 5: %ld, 7: %ld, 8: %ld)\n", cases,
         (GetTickCount() - start) / 1000.0, counts[0], counts[1], counts[5], counts[7], counts[8]);
  if (cases >= 1000) {
    EXPECT_GT(counts[LOAD_READ_FAILED], cases / 20);
    EXPECT_GT(counts[LOAD_OK], cases / 20);
  }
}

}  // namespace
