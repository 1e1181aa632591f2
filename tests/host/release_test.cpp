// What an installer author ships: a packed program signed afterwards, and its uninstall entry.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "block_reader.h"
#include "format/block_writer.h"
#include "manifest.h"
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

TEST(Release, SignedStubsAndProgramsRoundTrip) {
  hosttest::ScopedDir dir;
  const std::string key = dir / "k.pem", cert = dir / "c.pem", a = dir / "a.exe", b = dir / "b.exe";
  // Both tools come with scripts/install-deps.
  ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test -keyout " +
                    key + " -out " + cert));
  const std::string sign = "osslsigncode sign -certs " + cert + " -key " + key + " -in ";
  std::string out, err, dumpA, dumpB;
  for (const auto &[build, kind] :
       {std::pair("win32", "PE32 i386"), std::pair("win64", "PE32+ x86-64")}) {
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
    // The uninstaller removes its entry last.
    EXPECT_EQ(nlohmann::json::parse(dumpA)["registry"].back(),
              nlohmann::json({{"root", "HKCU"},
                              {"key", std::string(kUninstallKey) + "\\TallowinSampleNotes"}}));
    EXPECT_NE(err.find(kind + std::string(" program, block at offset ")), std::string::npos) << err;
    EXPECT_NE(err.find(", signed (certificate table of "), std::string::npos) << err;
    EXPECT_NE(err.find(": note: $.registry[2] removes an uninstall entry's key: the block holds "
                       "no more of uninstallEntry"),
              std::string::npos)
        << err;
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
  const long locator = blockfmt::FindLocator(after, &why);
  for (int i = 0; i < 4; ++i) after[locator + 6 + i] = signedStub.size() >> (8 * i) & 0xFF;
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
  EXPECT_EQ(Tool({"check", "--strict", kSample}, &out), 0) << out;
  // Standard output when asked for; a file with -o.
  hosttest::ScopedDir dir;
  const std::string exe = "C:\\Sample Notes\\uninstall.exe";
  ASSERT_EQ(Tool({"uninstall-entry", kSample, "--exe", exe, "-o", dir / "e.reg"}, &out, &err), 0)
      << err;
  EXPECT_EQ(out, "");
  ASSERT_EQ(Tool({"uninstall-entry", kSample, "--exe", exe, "-o", "-"}, &out, &err), 0) << err;
  EXPECT_EQ(ReadFile(dir / "e.reg"), Bytes(out.begin(), out.end()));
  EXPECT_EQ(out,
            Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                  "TallowinSampleNotes]\r\n"
                  "\"DisplayName\"=\"Tallowin Sample Notes\"\r\n"
                  "\"DisplayVersion\"=\"1.0\"\r\n"
                  "\"Publisher\"=\"Tallowin Demo\"\r\n"
                  "\"UninstallString\"=\"\\\"C:\\\\Sample Notes\\\\uninstall.exe\\\"\"\r\n"
                  "\"QuietUninstallString\"=\"\\\"C:\\\\Sample Notes\\\\uninstall.exe\\\" /S\"\r\n"
                  "\"InstallLocation\"=\"C:\\\\Sample Notes\"\r\n"
                  "\"DisplayIcon\"=\"C:\\\\Sample Notes\\\\notes.exe,0\"\r\n"
                  "\"HelpLink\"=\"https://tallowin.invalid/sample-notes/help\"\r\n"
                  "\"Comments\"=\"A made-up product for the demonstration\"\r\n"
                  "\"EstimatedSize\"=dword:00000040\r\n"
                  "\"NoModify\"=dword:00000001\r\n"
                  "\"NoRepair\"=dword:00000001\r\n\r\n"));
  for (const char *bad : {"uninstall.exe", "C:\\a\"b.exe", "C:/x/u.exe", "C:\\"}) {
    EXPECT_EQ(Tool({"uninstall-entry", kSample, "--exe", bad, "-o", "-"}, &out, &err), 2);
    EXPECT_EQ(err.find("tallowin: " + kSample + ": --exe: \""), 0u) << err;
  }
}

}  // namespace
