// The command line: pack, dump, check, uninstall-entry, scan and preview.
#include "tallowin.h"

#include <stdlib.h>

#include <exception>

#include "block_reader.h"
#include "check.h"
#include "codepage.h"
#include "file_io.h"
#include "format/block_writer.h"
#include "pe_image.h"
#include "preview.h"
#include "scan.h"
#include "target_paths.h"
#include "uninstall_entry.h"

namespace tallowin {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;

const char kUsage[] =
    "usage: tallowin pack MANIFEST.json --stub uninstall.exe -o OUT.exe [--on-target]\n"
    "       tallowin dump [--code-page N] OUT.exe\n"
    "       tallowin check [--strict] [--code-page N] MANIFEST.json|OUT.exe\n"
    "       tallowin uninstall-entry MANIFEST.json --exe C:\\...\\uninstall.exe [--write]\n"
    "       tallowin scan STAGING_DIR --base BASE.json -o OUT.json [--exclude PATTERN]...\n"
    "                [--previous OLD.json|OLD.exe] [--dropped DROPPED.txt]\n"
    "                [--install-dir-length N]\n"
    "       tallowin preview UNINSTALL.EXE [-o FILE]   (Windows: what /S would remove here)\n"
    "  pack, check and uninstall-entry take [--set NAME=VALUE]... for ${NAME} in texts\n";

bool LooksLikeProgram(const std::vector<uint8_t> &bytes) {
  return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

struct Args {
  std::vector<std::string> positional;
  std::string stub, output, exe;
  int codePage = 1252;
  bool strict = false, write = false, onTarget = false;
  Variables vars;
  ScanRequest scan;
};

bool ParseArgs(const std::vector<std::string> &in, size_t from, Args *a, std::string *error) {
  for (size_t i = from; i < in.size(); ++i) {
    const std::string &s = in[i];
    auto value = [&](std::string *dst) {
      if (i + 1 >= in.size()) {
        *error = s + " needs a value";
        return false;
      }
      *dst = in[++i];
      return true;
    };
    std::string v;
    if (s == "--stub") {
      if (!value(&a->stub)) return false;
    } else if (s == "-o" || s == "--output") {
      if (!value(&a->output)) return false;
    } else if (s == "--exe") {
      if (!value(&a->exe)) return false;
    } else if (s == "--code-page") {
      if (!value(&v)) return false;
      char *end = nullptr;
      const long n = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || !IsSupportedCodePage(static_cast<int>(n))) {
        *error = "--code-page " + v + ": not supported (supported: " + SupportedCodePages() + ")";
        return false;
      }
      a->codePage = static_cast<int>(n);
    } else if (s == "--set") {
      if (!value(&v)) return false;
      const size_t eq = v.find('=');
      const std::string name = v.substr(0, eq);
      if (eq == std::string::npos || !IsVariableName(name)) {
        *error = "--set " + v + ": expected NAME=VALUE, NAME of letters, digits and '_'";
        return false;
      }
      if (!a->vars.emplace(name, v.substr(eq + 1)).second) {
        *error = "--set " + name + " given twice";
        return false;
      }
    } else if (s == "--base") {
      if (!value(&a->scan.base)) return false;
    } else if (s == "--exclude") {
      if (!value(&v)) return false;
      a->scan.excludes.push_back(v);
    } else if (s == "--previous") {
      if (!value(&a->scan.previous)) return false;
    } else if (s == "--dropped") {
      if (!value(&a->scan.dropped)) return false;
    } else if (s == "--install-dir-length") {
      if (!value(&v)) return false;
      char *end = nullptr;
      const long n = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < 3 || n > 250) {
        *error = "--install-dir-length " + v + ": expected 3 to 250 characters";
        return false;
      }
      a->scan.installDirLength = static_cast<size_t>(n);
    } else if (s == "--on-target") {
      a->onTarget = true;
    } else if (s == "--strict") {
      a->strict = true;
    } else if (s == "--write") {
      a->write = true;
    } else if (s.size() > 1 && s[0] == '-') {
      *error = "unknown option " + s;
      return false;
    } else {
      a->positional.push_back(s);
    }
  }
  return true;
}

// One line on stderr and exit 2: the file it concerns, then the fault.
int Failed(std::string *err, const std::string &file, const Fault &fault) {
  *err += "tallowin: " + file + ": " + fault.Text() + "\n";
  return kExitErrors;
}

bool ReadManifestFile(const std::string &path, const Variables &vars, Manifest *m,
                      std::string *err) {
  std::vector<uint8_t> bytes;
  Fault fault;
  if (!ReadFileBytes(path, kMaxManifestBytes, &bytes, &fault) ||
      !ParseManifest(std::string(bytes.begin(), bytes.end()), m, &fault, &vars)) {
    Failed(err, path, fault);
    return false;
  }
  return true;
}

int Pack(const Args &a, std::string *err) {
  if (a.positional.size() != 1 || a.stub.empty() || a.output.empty()) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &manifestPath = a.positional[0];
  // Writing over an input would lose it if anything failed on the way; spellings and links
  // differ, so the files are compared, not the names.
  for (const std::string *input : {&manifestPath, &a.stub})
    if (SameFile(a.output, *input))
      return Failed(err, a.output,
                    {"", std::string("is the ") + (input == &a.stub ? "stub" : "manifest") +
                             " itself: write the output to another file"});
  Manifest m;
  if (!ReadManifestFile(manifestPath, a.vars, &m, err)) return kExitErrors;
  std::vector<uint8_t> stub, block, image;
  std::vector<std::string> notes;
  Fault fault;
  PeHeaders h;
  if (!ReadFileBytes(a.stub, kMaxProgramBytes, &stub, &fault) || !ReadPeHeaders(stub, &h, &fault))
    return Failed(err, a.stub, fault);
  if (!ResolveEntryMacros(&m, a.onTarget ? &a.output : nullptr, h.pe32Plus, &fault))
    return Failed(err, manifestPath, fault);
  if (!EncodeManifest(m, &block, &fault)) return Failed(err, manifestPath, fault);
  if (!PackBlock(block, stub, &image, &notes, &fault)) return Failed(err, a.stub, fault);
  if (!WriteFileAtomic(a.output, image, &fault)) return Failed(err, a.output, fault);
  for (const std::string &n : notes) *err += "tallowin: " + a.stub + ": note: " + n + "\n";
  return kExitOk;
}

// The program's kind and where its block lies, for dump's report.
std::string Describe(const std::vector<uint8_t> &image, const ReadBlockResult &r) {
  PeHeaders h;
  Fault fault;
  std::string s = ReadPeHeaders(image, &h, &fault) ? std::string(h.Kind()) + " program"
                                                   : "program of unknown kind (" + fault.what + ")";
  s += ", block at offset " + std::to_string(r.blockOffset);
  if (h.Signed()) s += ", signed (certificate table of " + std::to_string(h.certSize) + " bytes)";
  return s;
}

int Dump(const Args &a, std::string *out, std::string *err) {
  if (a.positional.size() != 1) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &path = a.positional[0];
  std::vector<uint8_t> image;
  Fault fault;
  ReadBlockResult r;
  std::string error;
  if (!ReadFileBytes(path, kMaxProgramBytes, &image, &fault)) return Failed(err, path, fault);
  if (!ReadBlockFromImage(image, &r, &error))
    return Failed(err, path, {"", "damaged block: " + error});
  std::vector<std::string> notes = r.notes;
  *out += BlockToManifestJson(r.block, a.codePage, &notes);
  *err += "tallowin: " + path + ": " + Describe(image, r) + "\n";
  for (const std::string &n : notes) *err += "tallowin: " + path + ": note: " + n + "\n";
  return kExitOk;
}

int Check(const Args &a, std::string *out, std::string *err) {
  if (a.positional.size() != 1) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &path = a.positional[0];
  std::vector<uint8_t> bytes;
  Fault fault;
  if (!ReadFileBytes(path, kMaxProgramBytes, &bytes, &fault)) return Failed(err, path, fault);
  CheckInput in;
  Manifest m;
  ReadBlockResult r;
  std::vector<Finding> findings;
  if (LooksLikeProgram(bytes)) {
    std::string error;
    if (!ReadBlockFromImage(bytes, &r, &error)) {
      *out += path + ": error: damaged block: " + error + "\n";
      return kExitErrors;
    }
    in.block = &r.block;
    in.codePage = a.codePage;
    PeHeaders h;
    if (!ReadPeHeaders(bytes, &h, &fault)) findings.push_back({true, "$", fault.what});
    for (const std::string &s : CertificateFindings(bytes, h, r.blockOffset, r.blockEnd))
      findings.push_back({true, "$", s});
  } else {
    if (bytes.size() > kMaxManifestBytes)
      return Failed(err, path, {"", "more than the 8 MiB a manifest may have"});
    if (!ParseManifest(std::string(bytes.begin(), bytes.end()), &m, &fault, &a.vars)) {
      *out += path + ": error: " + fault.Text() + "\n";
      return kExitErrors;
    }
    in.block = &m.block;
    in.codePage = m.codePage;
    in.fromManifest = m.messagesByRole;
    in.missingRoles = m.missingRoles;
  }
  for (Finding &f : CheckBlock(in)) findings.push_back(std::move(f));
  int errors = 0, warnings = 0;
  for (const Finding &f : findings) {
    *out += path + ": " + (f.error ? "error: " : "warning: ") + f.where + ": " + f.what + "\n";
    (f.error ? errors : warnings)++;
  }
  if (errors || (warnings && a.strict)) return kExitErrors;
  return warnings ? kExitWarnings : kExitOk;
}

int Entry(const Args &a, std::string *out, std::string *err) {
  if (a.positional.size() != 1 || a.exe.empty()) {
    *err += kUsage;
    return kExitErrors;
  }
  Manifest m;
  if (!ReadManifestFile(a.positional[0], a.vars, &m, err)) return kExitErrors;
  Fault fault;
  if (a.write ? !WriteUninstallEntry(m, a.exe, &fault)
              : !UninstallEntryRegFile(m, a.exe, out, &fault))
    return Failed(err, a.positional[0], fault);
  return kExitOk;
}

int ScanCommand(Args *a, std::string *err) {
  if (a->positional.size() != 1 || a->scan.base.empty() || a->output.empty()) {
    *err += kUsage;
    return kExitErrors;
  }
  a->scan.stagingDir = a->positional[0];
  a->scan.output = a->output;
  return Scan(a->scan, err);
}

int Run(const std::vector<std::string> &args, std::string *out, std::string *err) {
  if (args.size() < 2) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &command = args[1];
  if (command == "--help" || command == "-h" || command == "help") {
    *out += kUsage;
    return kExitOk;
  }
  Args a;
  std::string error;
  if (!ParseArgs(args, 2, &a, &error)) {
    *err += "tallowin: " + error + "\n" + kUsage;
    return kExitErrors;
  }
  if (command == "pack") return Pack(a, err);
  if (command == "dump") return Dump(a, out, err);
  if (command == "check") return Check(a, out, err);
  if (command == "uninstall-entry") return Entry(a, out, err);
  if (command == "scan") return ScanCommand(&a, err);
  if (command == "preview") {
    if (a.positional.size() != 1) {
      *err += kUsage;
      return kExitErrors;
    }
    return Preview(a.positional[0], a.output, err);
  }
  *err += "tallowin: unknown command " + command + "\n" + kUsage;
  return kExitErrors;
}

}  // namespace

bool EncodeManifest(const Manifest &m, std::vector<uint8_t> *block, Fault *fault) {
  std::string why;
  return blockfmt::EncodeBlock(m.block, block, &why) || Fail(fault, "", "$." + why);
}

bool PackBlock(const std::vector<uint8_t> &block, const std::vector<uint8_t> &stub,
               std::vector<uint8_t> *out, std::vector<std::string> *notes, Fault *fault) {
  PeHeaders h;
  if (!ReadPeHeaders(stub, &h, fault)) return false;
  std::string why;
  const long locator = blockfmt::FindLocator(stub, &why);
  size_t blockStart = stub.size(), locatorEnd = 0;
  if (locator >= 0) {
    locatorEnd = static_cast<size_t>(locator) + blockfmt::kLocatorSize;
    const size_t at = static_cast<size_t>(locator) + 6;
    const uint32_t old = stub[at] | stub[at + 1] << 8 | stub[at + 2] << 16 |
                         static_cast<uint32_t>(stub[at + 3]) << 24;
    if (old != 0 && old < stub.size()) blockStart = old;
  }
  std::vector<uint8_t> unsigned_ = stub;
  if (!RemoveCertificateTable(&unsigned_, blockStart, locatorEnd, notes, fault)) return false;
  if (!blockfmt::AppendBlockToStub(unsigned_, block, out, &why)) return Fail(fault, "", why);
  const bool hadChecksum =
      h.checksumAt + 4 <= stub.size() && (stub[h.checksumAt] | stub[h.checksumAt + 1] |
                                          stub[h.checksumAt + 2] | stub[h.checksumAt + 3]) != 0;
  UpdateChecksum(out, h, hadChecksum);
  return true;
}

bool PackImage(const std::string &manifestJson, const std::vector<uint8_t> &stub,
               std::vector<uint8_t> *out, Fault *fault) {
  Manifest m;
  std::vector<uint8_t> block;
  std::vector<std::string> notes;
  const Variables none;
  if (!ParseManifest(manifestJson, &m, fault, &none) ||
      !ResolveEntryMacros(&m, nullptr, false, fault) || !EncodeManifest(m, &block, fault))
    return false;
  if (PackBlock(block, stub, out, &notes, fault)) return true;
  fault->where = "stub";
  return false;
}

int RunCommandLine(const std::vector<std::string> &args, std::string *out, std::string *err) {
  // Whatever goes wrong below (no memory, above all) ends in one line and exit 2.
  try {
    return Run(args, out, err);
  } catch (const std::exception &e) {
    out->clear();
    *err += std::string("tallowin: ") + e.what() + "\n";
  } catch (...) {
    out->clear();
    *err += "tallowin: unexpected failure\n";
  }
  return kExitErrors;
}

}  // namespace tallowin
