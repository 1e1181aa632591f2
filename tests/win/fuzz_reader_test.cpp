// Mutation fuzzing of the stub's block reader: each mutated block is written to a real
// file and read through ReadBlockFile. After every case the process heap must validate and
// hold exactly the busy blocks it held before, once the run state is released, and the
// tool's reader must agree: the same blocks readable, the same lists, messages and options
// read. The blocks of the shared table come first; TALLOWIN_FUZZ_CASES sets the number of
// mutated cases.
#include <gtest/gtest.h>

#include <string>

#include "../host/damaged_blocks.h"
#include "../host/fuzz_mutator.h"
#include "block_reader.h"
#include "data/data.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

static_assert(damaged::kRead == LOAD_OK && damaged::kDamaged == LOAD_READ_FAILED &&
                  damaged::kNotLoadable == LOAD_BODY_FAILED,
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
  bool same = g.fileCount == tool.files.size() && g.folderCount == tool.folders.size() &&
              g.registryCount == tool.registry.size();
  for (DWORD i = 0; same && i < g.fileCount; ++i) {
    const FileEntry &s = *g.files[i];
    same = tool.files[i].folder == s.folder && tool.files[i].name == s.name &&
           tool.files[i].flags == s.flags;
  }
  for (DWORD i = 0; same && i < g.folderCount; ++i) {
    const FolderEntry &s = *g.folders[i];
    const blockfmt::FolderItem &t = tool.folders[i];
    same = t.levels == s.levels && t.folder == s.folder && t.secondFolder == s.secondFolder &&
           t.name == s.name;
  }
  for (DWORD i = 0; same && i < g.registryCount; ++i)
    same = tool.registry[i].root == g.registryEntries[i]->root &&
           tool.registry[i].path == g.registryEntries[i]->path;
  if (!same) return false;
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

TEST_F(FuzzReader, TableSeedsAndMutatedBlocksReadWithoutLeaksAndAsTheToolReadsThem) {
  ASSERT_EQ(3u, seeds_.size());
  // The warm-up: the file API's first use may keep allocations of its own.
  RunCase(seeds_[0], &code_);
  EXPECT_EQ(LOAD_NO_FILE, ReadBlockFile((dir_ / "absent.bin").c_str(), 0));
  std::vector<damaged::Case> cases = damaged::Cases();
  for (const fuzz::Bytes &seed : seeds_) cases.push_back({"a seed", seed, LOAD_OK, ""});
  for (const damaged::Case &c : cases) {
    EXPECT_EQ("", RunCase(c.block, &code_)) << c.what;
    EXPECT_EQ(c.stubCode, code_) << c.what;
  }
  const long mutated = fuzz::CaseCount(30000);
  long counts[9] = {}, failures = 0;
  // A failing case is rebuilt from its number alone (fuzz::MakeCase).
  for (long i = 0; i < mutated && failures < 10; ++i) {
    const std::string why = RunCase(fuzz::MakeCase(seeds_, i), &code_);
    if (!why.empty()) {
      ADD_FAILURE() << "case " << i << ": " << why;
      ++failures;
    }
    if (code_ >= 0 && code_ <= 8) ++counts[code_];
  }
  if (mutated >= 1000) {
    EXPECT_GT(counts[LOAD_READ_FAILED], mutated / 20);
    EXPECT_GT(counts[LOAD_OK], mutated / 20);
  }
}

}  // namespace
