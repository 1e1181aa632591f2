// Helpers of the tool's tests (the tool's command line also on Windows): a scratch folder, a
// minimal stub image, whole files.
#pragma once
#include <stdint.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tallowin.h"

namespace hosttest {

/// A fresh folder below the system's temporary folder, removed on destruction.
class ScopedDir {
 public:
  ScopedDir();
  ~ScopedDir();
  ScopedDir(const ScopedDir &) = delete;
  ScopedDir &operator=(const ScopedDir &) = delete;
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// The smallest image the writer takes for a stub: PE32+ x86-64 headers and one locator
/// whose offset holds the image size, as the build stamps it.
std::vector<uint8_t> FakeStub(size_t size = 512, size_t locatorAt = 0x100);

inline bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}
inline bool WriteFile(const std::string &path, const std::string &text) {
  return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}
/// The file's bytes; empty when it cannot be read.
inline std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

/// Writes the sample product at `sample` as installed per machine to `path`.
inline bool WritePerMachine(const std::string &sample, const std::string &path) {
  const std::vector<uint8_t> bytes = ReadFile(sample);
  std::string text(bytes.begin(), bytes.end());
  const size_t user = text.find("\"user\"");
  return user != std::string::npos && WriteFile(path, text.replace(user, 6, "\"machine\""));
}

/// Runs the tool's command line (args without the program name); returns the exit code.
inline int Tool(std::vector<std::string> args, std::string *out = nullptr,
                std::string *err = nullptr) {
  std::string o, e;
  args.insert(args.begin(), "tallowin");
  const int code = tallowin::RunCommandLine(args, &o, &e);
  if (out) *out = o;
  if (err) *err = e;
  return code;
}

}  // namespace hosttest
