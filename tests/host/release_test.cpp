// What an installer author ships: a packed program signed afterwards, and its uninstall entry.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "block_reader.h"
#include "format/block_writer.h"
#include "manifest.h"
#include "pe_image.h"
#include "support.h"

using namespace tallowin;
using hosttest::ReadFile;
using hosttest::Tool;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kSample = TALLOWIN_SOURCE_DIR "/examples/sample-product.json";

// The .reg form of ASCII text: UTF-16LE behind a byte order mark.
std::string Utf16(const std::string &ascii) {
  std::string s = "\xFF\xFE";
  for (char c : ascii) s += std::string{c, '\0'};
  return s;
}

bool Shell(const std::string &command) {
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The manifest resource of a program, as text; empty when it has none.
std::string ManifestOf(const Bytes &image) {
  PeHeaders h;
  Fault fault;
  size_t at = 0, size = 0;
  if (!ReadPeHeaders(image, &h, &fault) || !FindResource(image, h, 24, 1, &at, &size)) return "";
  return std::string(image.begin() + at, image.begin() + at + size);
}

TEST(Release, SignedStubsAndProgramsRoundTrip) {
  hosttest::ScopedDir dir;
  const std::string key = dir / "k.pem", cert = dir / "c.pem", a = dir / "a.exe", b = dir / "b.exe";
  // Both tools come with scripts/install-deps.
  ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test -keyout " +
                    key + " -out " + cert));
  const std::string sign = "osslsigncode sign -certs " + cert + " -key " + key + " -in ";
  std::string out, err, dumpA, dumpB;
  for (const char *build : {"win32", "win64"}) {
    const std::string stub = TALLOWIN_BUILD_ROOT "/" + std::string(build) + "/uninstall.exe";
    SCOPED_TRACE(stub);
    ASSERT_FALSE(ReadFile(stub).empty()) << "not built (make build)";
    for (const std::string &signedBefore : {dir / "s.exe", b}) remove(signedBefore.c_str());
    ASSERT_TRUE(Shell(sign + stub + " -out " + (dir / "s.exe")));

    // Packed onto a signed stub: its table goes, and the output is an unsigned program.
    ASSERT_EQ(Tool({"pack", kSample, "--stub", dir / "s.exe", "-o", a}, nullptr, &err), 0) << err;
    EXPECT_NE(err.find("s.exe: note: removed its certificate table (1"), std::string::npos) << err;
    // Signed after packing: the signature holds, and the block reads unchanged.
    ASSERT_TRUE(Shell(sign + a + " -out " + b));
    EXPECT_TRUE(Shell("osslsigncode verify -CAfile " + cert + " -in " + b));
    ASSERT_EQ(Tool({"dump", a}, &dumpA), 0);
    ASSERT_EQ(Tool({"dump", b}, &dumpB, &err), 0);
    EXPECT_EQ(dumpB, dumpA);
    EXPECT_NE(err.find(", signed (certificate table of "), std::string::npos) << err;

    // The stub as built asks for the administrator's level. The sample is a per-user
    // product: its uninstaller runs at the user's level, and the manifest keeps its length.
    EXPECT_NE(err.find(", execution level asInvoker"), std::string::npos) << err;
    const std::string built = ManifestOf(ReadFile(stub));
    EXPECT_NE(built.find("level=\"requireAdministrator\""), std::string::npos) << built;
    EXPECT_EQ(ManifestOf(ReadFile(a)).size(), built.size());
    // Per machine, the administrator's level of the stub as built; without an entry, the
    // stub's own level, also over an earlier per-user output.
    ASSERT_TRUE(hosttest::WriteFile(dir / "none.json", std::string("{}")));
    ASSERT_TRUE(hosttest::WritePerMachine(kSample, dir / "machine.json"));
    for (const std::string &manifest : {dir / "machine.json", dir / "none.json"}) {
      ASSERT_EQ(Tool({"pack", manifest, "--stub", a, "-o", dir / "m.exe"}), 0);
      EXPECT_EQ(ManifestOf(ReadFile(dir / "m.exe")), built) << manifest;
    }
    EXPECT_EQ(Tool({"check", "--strict", b}, &out), 0) << out;
    // A signed output packed again gives the same unsigned program.
    ASSERT_EQ(Tool({"pack", kSample, "--stub", b, "-o", dir / "c.exe"}), 0);
    EXPECT_EQ(ReadFile(dir / "c.exe"), ReadFile(a));
  }

  // Tables that no longer sign the block, as a writer unaware of them leaves them.
  const Bytes signedStub = ReadFile(dir / "s.exe"), signedOut = ReadFile(b);
  ReadBlockResult r;
  std::string why;
  const Bytes unsignedOut = ReadFile(a);
  ASSERT_TRUE(ReadBlockFromImage(unsignedOut, &r, &why)) << why;
  const Bytes block(unsignedOut.begin() + r.blockOffset, unsignedOut.end());
  Bytes overlapped, after = signedStub, cut = signedOut, padded = signedOut;
  ASSERT_TRUE(blockfmt::AppendBlockToStub(signedStub, block, &overlapped, &why)) << why;
  after.insert(after.end(), block.begin(), block.end());
  blockfmt::Locator locator;
  ASSERT_TRUE(blockfmt::FindLocator(after, &locator, &why)) << why;
  for (int i = 0; i < 4; ++i) after[locator.at + 6 + i] = signedStub.size() >> (8 * i) & 0xFF;
  cut.resize(r.blockEnd);
  padded.resize(padded.size() + 16);
  const std::pair<Bytes, std::string> cases[] = {
      {overlapped, "overlaps the block"},
      {after, "the block lies after the certificate table"},
      {cut, "lies past the end of the file"},
      {padded, "16 bytes follow the certificate table"},
  };
  for (const auto &[image, finding] : cases) {
    ASSERT_TRUE(hosttest::WriteFile(dir / "x.exe", image));
    EXPECT_EQ(Tool({"check", dir / "x.exe"}, &out), 2);
    EXPECT_NE(out.find(": error: $: "), std::string::npos) << out;
    EXPECT_NE(out.find(finding), std::string::npos) << finding << "\n" << out;
  }
}

TEST(Release, UninstallEntryOfTheSampleProduct) {
  std::string out, err;
  hosttest::ScopedDir dir;
  const std::string exe = "C:\\Sample Notes\\uninstall.exe";
  ASSERT_EQ(Tool({"uninstall-entry", kSample, "--exe", exe, "-o", "-"}, &out, &err), 0) << err;
  // Whole lines that reg import reads: quotes and backslashes escaped, numbers as dwords.
  EXPECT_EQ(out.find(Utf16("Windows Registry Editor Version 5.00\r\n")), 0u);
  for (const char *line :
       {"\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        "TallowinSampleNotes]\r\n",
        "\r\n\"QuietUninstallString\"=\"\\\"C:\\\\Sample Notes\\\\uninstall.exe\\\" /S\"\r\n"})
    EXPECT_NE(out.find(Utf16(line).substr(2)), std::string::npos) << line;
  // Per machine, the view of the stub's architecture: a 32-bit installer's reg.exe would
  // import into the 32-bit view unless told.
  const std::string machine = dir / "machine.json";
  ASSERT_TRUE(hosttest::WritePerMachine(kSample, machine));
  const std::string machineExe = "C:\\Program Files\\Sample\\uninstall.exe";
  for (const auto &[build, view] :
       {std::pair("win32", "/reg:32"), std::pair("win64", "/reg:64"), std::pair("", "/reg:")}) {
    std::vector<std::string> args = {"uninstall-entry", machine, "--exe", machineExe, "-o", "-"};
    if (*build)
      args.insert(args.end(),
                  {"--stub", TALLOWIN_BUILD_ROOT "/" + std::string(build) + "/uninstall.exe"});
    ASSERT_EQ(Tool(args, &out, &err), 0) << err;
    EXPECT_NE(out.find(Utf16("\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft").substr(2)),
              std::string::npos);
    const size_t first = out.find(Utf16(view).substr(2)), last = out.rfind(Utf16(view).substr(2));
    EXPECT_NE(first, std::string::npos) << build;
    EXPECT_EQ(first == last, *build != 0) << build;  // both views when the stub is not named
  }
  // A path beyond ASCII, in UTF-16 as reg import reads it ("\Ω\": 5C 00 A9 03 5C 00).
  ASSERT_EQ(Tool({"uninstall-entry", kSample, "--exe", "C:\\Ω\\u.exe", "-o", "-"}, &out), 0);
  EXPECT_NE(out.find(std::string("\\\0\xA9\x03\\\0", 6)), std::string::npos);
  for (const char *bad : {"uninstall.exe", "C:\\a\"b.exe", "C:/x/u.exe", "C:\\"}) {
    EXPECT_EQ(Tool({"uninstall-entry", kSample, "--exe", bad, "-o", "-"}, &out, &err), 2);
    EXPECT_EQ(err.find("tallowin: " + kSample + ": --exe: \""), 0u) << err;
  }
}

}  // namespace
