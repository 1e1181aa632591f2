// Mutation fuzzing of the tool's block parser (the one behind dump and check). The
// damaged blocks of the shared table come first; then TALLOWIN_FUZZ_CASES mutated blocks
// (a short run by default). Built with AddressSanitizer and UBSan by `make fuzz`, any read outside
// the image aborts the run; here a damaged block must come back as damaged, with a reason.
#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <memory>
#include <string>

#include "block_reader.h"
#include "damaged_blocks.h"
#include "fuzz_mutator.h"

namespace {

// The parser run over a copy of exactly the block's bytes (so ASan sees any overrun) at
// offset 16 behind filler, as a stub image would hold it. "" when the contract holds.
std::string ParseOne(const fuzz::Bytes &block, bool *read, std::string *reason = nullptr) {
  std::unique_ptr<uint8_t[]> image(new uint8_t[16 + block.size()]);
  std::fill(image.get(), image.get() + 16, 0xCC);
  std::copy(block.begin(), block.end(), image.get() + 16);
  tallowin::ReadBlockResult result;
  std::string error;
  *read = tallowin::ReadBlockAt(image.get(), 16 + block.size(), 16, &result, &error);
  if (reason) *reason = error;
  if (!*read && error.empty()) return "damaged block without a reason";
  if (*read && !error.empty()) return "read succeeded with an error set: " + error;
  return "";
}

TEST(FuzzDump, DamagedBlocksAreDamagedForTheirReason) {
  for (const damaged::Case &c : damaged::Cases()) {
    bool read;
    std::string reason;
    EXPECT_EQ(ParseOne(c.block, &read, &reason), "") << c.what;
    EXPECT_FALSE(read) << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
  }
}

TEST(FuzzDump, MutatedBlocks) {
  // An unmutated seed must read: otherwise every case only tests the first header.
  const std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  ASSERT_EQ(3u, seeds.size());
  for (size_t i = 0; i < seeds.size(); ++i) {
    bool read;
    ASSERT_EQ(ParseOne(seeds[i], &read), "");
    ASSERT_TRUE(read) << "seed " << i;
  }
  const long cases = fuzz::CaseCount(5000000);
  long damaged = 0, read = 0, failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < cases && failures < 10; ++i) {
    const fuzz::Bytes block = fuzz::MakeCase(seeds, i);
    bool ok = false;
    const std::string why = ParseOne(block, &ok);
    ++(ok ? read : damaged);
    if (why.empty()) continue;
    // The case is rebuilt from its number alone (fuzz::MakeCase), to become a table row.
    ADD_FAILURE() << "case " << i << ": " << why;
    ++failures;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("dump parser: %ld cases in %.1f s (%ld read, %ld damaged)\n", cases, seconds, read,
         damaged);
  // Mutations that never leave a block readable, or never damage one, test nothing.
  if (cases >= 1000) {
    EXPECT_GT(damaged, cases / 20);
    EXPECT_GT(read, cases / 20);
  }
}

}  // namespace
