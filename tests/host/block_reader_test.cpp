// The tool's block reader (behind dump and check): the blocks of the shared table read or
// damaged for their reason (the Windows fuzzer holds the stub's reading of the same blocks
// against this reader's lists); then TALLOWIN_FUZZ_CASES mutated blocks (a short run by
// default). Built with AddressSanitizer and UBSan by `make fuzz`, any read outside the
// image aborts the run.
#include "block_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>

#include "damaged_blocks.h"
#include "format/block_writer.h"
#include "fuzz_mutator.h"

using tallowin::ReadBlockResult;
using Bytes = std::vector<uint8_t>;

namespace {

// The reader over a copy of exactly the block's bytes (so ASan sees any overrun) at
// offset 16 behind filler, as a stub image would hold it.
bool Read(const Bytes &block, ReadBlockResult *r, std::string *error) {
  std::unique_ptr<uint8_t[]> image(new uint8_t[16 + block.size()]);
  std::fill(image.get(), image.get() + 16, 0xCC);
  std::copy(block.begin(), block.end(), image.get() + 16);
  error->clear();
  return tallowin::ReadBlockAt(image.get(), 16 + block.size(), 16, r, error);
}

// The table's blocks read or are damaged for their reason; mutated ones are read or damaged
// with a reason (the seeds read: the Windows fuzzer holds both readers to that).
TEST(ReadBlock, SharedAndMutatedBlocksReadOrAreDamagedWithAReason) {
  ReadBlockResult r;
  std::string error;
  for (const damaged::Case &c : damaged::Cases()) {
    EXPECT_EQ(Read(c.block, &r, &error), c.stubCode == damaged::kRead) << c.what << ": " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
  const std::vector<Bytes> seeds = fuzz::SeedBlocks();
  const long cases = fuzz::CaseCount(500000);
  long damaged = 0, read = 0, failures = 0;
  for (long i = 0; i < cases && failures < 10; ++i) {
    const bool ok = Read(fuzz::MakeCase(seeds, i), &r, &error);
    ++(ok ? read : damaged);
    if (ok == error.empty()) continue;
    // The case is rebuilt from its number alone (fuzz::MakeCase), to become a table row.
    ADD_FAILURE() << "case " << i << (ok ? ": read with an error set: " : ": damaged, no reason")
                  << error;
    ++failures;
  }
  printf("dump parser: %ld cases (%ld read, %ld damaged)\n", cases, read, damaged);
  // Mutations that never leave a block readable, or never damage one, test nothing.
  if (cases >= 1000) {
    EXPECT_GT(damaged, cases / 20);
    EXPECT_GT(read, cases / 20);
  }
}

}  // namespace
