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
#include <set>
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

std::string CorpusDir() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../corpus";
}

// Saves a failing case where it can be copied into the corpus.
void SaveFinding(const fuzz::Bytes &bytes, long index) {
  std::string name = "fuzz-dump-finding-" + std::to_string(index) + ".bin";
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
  fprintf(stderr, "case %ld saved as %s\n", index, name.c_str());
}

// The parser run over a copy of exactly the block's bytes (so ASan sees any overrun) at
// offset 16 behind filler, as a stub image would hold it. False on a broken contract.
bool ParseOne(const fuzz::Bytes &block, std::string *why, bool *read = nullptr) {
  std::vector<uint8_t> image(16, 0xCC);
  image.insert(image.end(), block.begin(), block.end());
  std::unique_ptr<uint8_t[]> exact(new uint8_t[image.size() ? image.size() : 1]);
  std::copy(image.begin(), image.end(), exact.get());
  tallowin::ReadBlockResult result;
  std::string error;
  bool ok = tallowin::ReadBlockAt(exact.get(), image.size(), 16, &result, &error);
  if (read) *read = ok;
  if (!ok && error.empty()) {
    *why = "damaged block without a reason";
    return false;
  }
  if (ok && !error.empty()) {
    *why = "read succeeded with an error set: " + error;
    return false;
  }
  return true;
}

TEST(FuzzDump, CorpusFilesMatchTheCompiledRegressions) {
  // The Windows fuzzer cannot reach the source tree, so it replays the compiled copy.
  std::set<std::string> compiled;
  for (const RegressionCase &c : kRegressions) {
    compiled.insert(c.name);
    std::ifstream in(CorpusDir() + "/" + c.name, std::ios::binary);
    ASSERT_TRUE(in.good()) << c.name;
    std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    EXPECT_EQ(onDisk, std::vector<uint8_t>(c.bytes, c.bytes + c.size))
        << c.name << ": run tests/corpus/update-regressions";
  }
  EXPECT_FALSE(compiled.empty());
}

TEST(FuzzDump, RegressionCorpusIsReportedAsDamagedOrRead) {
  for (const RegressionCase &c : kRegressions) {
    std::string why;
    EXPECT_TRUE(ParseOne(fuzz::Bytes(c.bytes, c.bytes + c.size), &why)) << c.name << ": " << why;
  }
}

TEST(FuzzDump, SeedBlocksReadBackWhole) {
  // An unmutated seed must read: otherwise every case only tests the first header.
  std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  ASSERT_EQ(6u, seeds.size());
  for (size_t i = 0; i < seeds.size(); ++i) {
    tallowin::ReadBlockResult result;
    std::string error;
    EXPECT_TRUE(tallowin::ReadBlockAt(seeds[i].data(), seeds[i].size(), 0, &result, &error))
        << "seed " << i << ": " << error;
  }
}

TEST(FuzzDump, MutatedBlocks) {
  const long cases = fuzz::CaseCount(5000000);
  std::vector<fuzz::Bytes> seeds = fuzz::SeedBlocks();
  long damaged = 0, read = 0, failures = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < cases && failures < 10; ++i) {
    fuzz::Bytes block = fuzz::MakeCase(seeds, i);
    std::string why;
    bool ok = false;
    if (!ParseOne(block, &why, &ok)) {
      ADD_FAILURE() << "case " << i << ": " << why;
      SaveFinding(block, i);
      ++failures;
      continue;
    }
    ++(ok ? read : damaged);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("dump parser: %ld cases in %.1f s (%ld read, %ld damaged)\n", cases, seconds, read,
         damaged);
  // Mutations that never leave a block readable, or never damage one, test nothing.
  if (cases >= 1000) {
    EXPECT_GT(damaged, cases / 20);
    EXPECT_GT(read, cases / 20);
  }
}

}  // namespace
