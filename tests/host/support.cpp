#include "support.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "format/block_format.h"

namespace hosttest {

namespace fs = std::filesystem;

ScopedDir::ScopedDir() {
  std::string name = (fs::temp_directory_path() / "tallowin-host-XXXXXX").string();
  if (!mkdtemp(name.data())) throw std::runtime_error("cannot create " + name);
  path_ = name;
}

ScopedDir::~ScopedDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> FakeStub(size_t size, size_t locatorAt) {
  std::vector<uint8_t> d(size, 0xCC);
  memcpy(&d[0], "MZ", 2);
  // PE32+ x86-64 headers at 0x40 with five directory entries, the certificate table's the last.
  std::fill(d.begin() + 0x3C, d.begin() + 0xF0, 0);
  d[0x3C] = 0x40;
  memcpy(&d[0x40], "PE\0\0\x64\x86", 6);
  d[0x54] = 112 + 5 * 8;            // optional header size
  memcpy(&d[0x58], "\x0B\x02", 2);  // PE32+
  d[0xC4] = 5;
  memcpy(&d[locatorAt], blockfmt::kMarker, sizeof(blockfmt::kMarker));
  for (int i = 0; i < 4; ++i) d[locatorAt + 6 + i] = static_cast<uint8_t>(size >> (8 * i));
  return d;
}

}  // namespace hosttest
