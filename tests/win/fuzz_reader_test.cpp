// Mutation fuzzing of the stub's block reader: each mutated block is written to a real
// file and read through ReadBlockFile. After every case the process heap must validate and
// hold exactly the busy blocks it held before, once the run state is released, and the
// tool's reader must agree: the same blocks readable, the same lists, messages and options
// read. The damaged blocks of the shared table and blocks that walk the records in every
// way come first; TALLOWIN_FUZZ_CASES sets the number of cases.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "../host/damaged_blocks.h"
#include "../host/fuzz_mutator.h"
#include "block_reader.h"
#include "data/data.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

static_assert(damaged::kDamaged == LOAD_READ_FAILED && damaged::kNotLoadable == LOAD_BODY_FAILED,
              "the shared table names the stub's codes");

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

// The stub's lists against the tool's, compared in place: nothing is allocated while the
// heap is counted.
bool SameLists(const blockfmt::Block &tool) {
  if (g.fileCount != tool.files.size() || g.folderCount != tool.folders.size() ||
      g.registryCount != tool.registry.size())
    return false;
  for (DWORD i = 0; i < g.fileCount; ++i) {
    const FileEntry &s = *g.files[i];
    const blockfmt::FileItem &t = tool.files[i];
    if (t.folder != s.folder || t.name != s.name || t.flags != s.flags) return false;
  }
  for (DWORD i = 0; i < g.folderCount; ++i) {
    const FolderEntry &s = *g.folders[i];
    const blockfmt::FolderItem &t = tool.folders[i];
    if (t.levels != s.levels || t.folder != s.folder || t.secondFolder != s.secondFolder ||
        t.name != s.name)
      return false;
  }
  for (DWORD i = 0; i < g.registryCount; ++i)
    if (tool.registry[i].root != g.registryEntries[i]->root ||
        tool.registry[i].path != g.registryEntries[i]->path)
      return false;
  // The wildcard pass reads the pattern list up to its first empty text.
  size_t n = 0;
  for (const char *p = g.patterns; p && *p; p += strlen(p) + 1, ++n)
    if (n >= tool.patterns.size() || tool.patterns[n] != p) return false;
  if (n != tool.patterns.size()) return false;
  // The messages up to the table's null slot, each as far as it can be shown.
  for (n = 0; g.messages && g.messages[n]; ++n)
    if (n >= tool.messages.size() || strcmp(tool.messages[n].c_str(), g.messages[n])) return false;
  const char *pre = OptionText(g.options->preRemovalOffset);
  const char *document = OptionText(g.options->closingDocumentOffset);
  return n == tool.messages.size() && g.options->flags == tool.options.flags &&
         tool.options.preRemoval == (pre ? pre : "") &&
         tool.options.closingDocument == (document ? document : "");
}

// A crash inside a case names it: MakeCase rebuilds it from its number alone.
long g_caseIndex = -1;

LONG WINAPI NameCrashingCase(EXCEPTION_POINTERS *info) {
  fprintf(stderr, "case %ld crashed (exception 0x%08lX at %p)\n", g_caseIndex,
          static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
          info->ExceptionRecord->ExceptionAddress);
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
    tallowin::ReadBlockResult tool;
    std::string error;
    const bool toolRead = tallowin::ReadBlockAt(bytes.data(), bytes.size(), kPrefix, &tool, &error);
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
    else if ((*code == LOAD_OK) != toolRead)
      why = toolRead ? "the tool reads a block that the stub refuses"
                     : "the stub reads a block that the tool calls damaged: " + error;
    else if (toolRead && !SameLists(tool.block))
      why = "the stub and the tool read different lists";
    // Freed once more by the release: what is freed must no longer be referenced.
    FreeRemovalData();
    if (g.messages || g.patterns || g.options || g.files || g.folders || g.registryEntries)
      return "freed data still referenced";
    if (why.empty() && *GetMessageText(0)) why = "a message text after the data was freed";
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

TEST_F(FuzzReader, SeedsAndDamagedBlocksReadWithoutLeaksAndAsTheToolReadsThem) {
  ASSERT_EQ(3u, seeds_.size());
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
  EXPECT_EQ(LOAD_NO_FILE, ReadBlockFile((dir_ / "absent.bin").c_str(), 0));
  // A block at the file's start, and an offset past 2 GiB that the seek cannot reach: the
  // walk must not read from the start instead.
  ASSERT_TRUE(testenv::WriteBytes(path_, seeds_[0]));
  testenv::PrepareRunState(dir_.path());
  EXPECT_EQ(LOAD_READ_FAILED, ReadBlockFile(path_.c_str(), 0x80000000u));
  testenv::ReleaseRunState();

  using namespace blockfmt;
  using namespace damaged;
  std::vector<damaged::Case> cases = damaged::Cases();
  for (const fuzz::Bytes &seed : seeds_) cases.push_back({"a seed", seed, LOAD_OK, ""});
  // Entries of every length from 1 to 517 bytes, so that fields fall across the reading
  // buffer's edges at every offset; the record behind is read from its own start. One
  // byte short, the last flag would come from the next record.
  Bytes files = U32(600);
  for (int i = 0; i < 600; ++i) {
    std::string name = std::to_string(i) + std::string(1 + (i * 37) % 510, 'a' + i % 26);
    files = Cat({files, File(".\\d" + std::to_string(i % 7), name, uint8_t(i))});
  }
  // Lists in file order across records, one marked not loadable, which means nothing on a
  // list; a pattern body without its final NUL takes no later bodies. Of two message
  // tables in one body only the first is read, and a table without strings keeps it; an
  // empty options record keeps the options. An end record's body is skipped, never read,
  // even one that runs past the file's end.
  RecordWriter lists;
  lists.Record(TAG_FILES, files);
  lists.Record(TAG_FILES, EncodeFiles({{".", "a", 1}, {".\\sub", "b", 2}, {"C:\\x", "", 8}}));
  lists.Record(TAG_FILES, EncodeFiles({{"D:\\y", "d", 4}}), RF_NOT_LOADABLE);
  lists.Record(TAG_FOLDERS, EncodeFolders({{2, "C:\\p\\q", "C:\\r", "n"}}));
  lists.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKCU, "Software\\\\V"}}));
  lists.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKLM, "S"}}));
  lists.Record(TAG_PATTERNS, {'*', '.', 't'});
  lists.Record(TAG_PATTERNS, {'x', 0, 0});
  lists.Record(TAG_MESSAGES,
               Cat({U16(2), U16(3), Str("cap"), Str(""), Str("two"), U16(1), Str("other")}));
  lists.Record(TAG_MESSAGES, Cat({U16(1), U16(0)}));
  lists.Record(TAG_OPTIONS, EncodeOptions({2, "", "doc.htm"}));
  lists.Record(TAG_OPTIONS, {});
  lists.RawRecord(TAG_END, 0, 1000, {1, 2});
  cases.push_back({"records of every kind in turn", lists.bytes(), LOAD_OK, ""});
  files.pop_back();
  cases.push_back(
      {"a long list one byte short", damaged::Block({{TAG_FILES, files}}), LOAD_READ_FAILED, ""});
  for (const damaged::Case &c : cases) {
    EXPECT_EQ("", RunCase(c.block, &code_)) << c.what;
    EXPECT_EQ(c.stubCode, code_) << c.what;
  }
}

TEST_F(FuzzReader, MutatedBlocks) {
  const long cases = fuzz::CaseCount(30000);
  RunCase(seeds_[0], &code_);
  SetUnhandledExceptionFilter(NameCrashingCase);
  long counts[9] = {}, failures = 0;
  const DWORD start = GetTickCount();
  // TALLOWIN_FUZZ_FIRST starts the run at a later case, to narrow down a finding.
  const char *firstText = getenv("TALLOWIN_FUZZ_FIRST");
  const long first = firstText ? strtol(firstText, nullptr, 10) : 0;
  for (long i = first; i < first + cases && failures < 10; ++i) {
    fuzz::Bytes block = fuzz::MakeCase(seeds_, i);
    g_caseIndex = i;
    std::string why = RunCase(block, &code_);
    if (!why.empty()) {
      ADD_FAILURE() << "case " << i << ": " << why;
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
