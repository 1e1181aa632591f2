// Mutation fuzzing of the tool's block parser (the one behind dump and check). The
// regression corpus is replayed first; then TALLOWIN_FUZZ_CASES mutated blocks (a short
// run by default). Built with AddressSanitizer and UBSan by `make fuzz`, any read outside
// the image aborts the run; here a damaged block must come back as damaged, with a reason.
#include <gtest/gtest.h>
#include <stdio.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "block_reader.h"
#include "fuzz_mutator.h"

namespace {

struct RegressionCase {
  const char *name;
  const unsigned char *bytes;
  size_t size;
};

#include "../corpus/regressions.inc"

// The parser run over a copy of exactly the block's bytes (so ASan sees any overrun) at
// offset 16 behind filler, as a stub image would hold it. "" when the contract holds.
std::string ParseOne(const fuzz::Bytes &block, bool *read) {
  std::unique_ptr<uint8_t[]> image(new uint8_t[16 + block.size()]);
  std::fill(image.get(), image.get() + 16, 0xCC);
  std::copy(block.begin(), block.end(), image.get() + 16);
  tallowin::ReadBlockResult result;
  std::string error;
  *read = tallowin::ReadBlockAt(image.get(), 16 + block.size(), 16, &result, &error);
  if (!*read && error.empty()) return "damaged block without a reason";
  if (*read && !error.empty()) return "read succeeded with an error set: " + error;
  return "";
}

TEST(FuzzDump, RegressionCorpusMatchesItsFilesAndReadsAsNamed) {
  const std::string here = __FILE__, corpus = here.substr(0, here.rfind('/')) + "/../corpus/";
  ASSERT_GT(sizeof kRegressions / sizeof kRegressions[0], 0u);
  for (const RegressionCase &c : kRegressions) {
    // The Windows fuzzer cannot reach the source tree, so it replays the compiled copy.
    std::ifstream in(corpus + c.name, std::ios::binary);
    EXPECT_TRUE(in.good()) << c.name;
    const fuzz::Bytes onDisk((std::istreambuf_iterator<char>(in)), {}),
        bytes(c.bytes, c.bytes + c.size);
    EXPECT_EQ(onDisk, bytes) << c.name << ": run tests/corpus/update-regressions";
    // The hand-made cases are damaged blocks, except those named as readable.
    bool read;
    EXPECT_EQ(ParseOne(bytes, &read), "") << c.name;
    EXPECT_EQ(read, std::string(c.name).rfind("readable-", 0) == 0) << c.name;
  }
}

TEST(FuzzDump, MutatedBlocks) {
  // An unmutated seed must read: otherwise every case only tests the first header.
  const std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  ASSERT_EQ(6u, seeds.size());
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
    // Saved where it can be copied into the corpus.
    const std::string name = "fuzz-dump-finding-" + std::to_string(i) + ".bin";
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char *>(block.data()), static_cast<long>(block.size()));
    ADD_FAILURE() << "case " << i << ": " << why << " (saved as " << name << ")";
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
