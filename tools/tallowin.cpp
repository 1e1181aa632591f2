// The command line: pack, dump, check, uninstall-entry, scan and preview.
#include "tallowin.h"

#include <stdlib.h>
#include <string.h>

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

#ifndef TALLOWIN_VERSION
#error "TALLOWIN_VERSION comes from the build (the project's version)"
#endif

struct CommandHelp {
  const char *name;
  const char *usage;  // one line per form, each "tallowin ..."
  const char *text;   // what `help COMMAND` adds
};

const CommandHelp kCommands[] = {
    {"pack",
     "tallowin pack MANIFEST.json --stub uninstall.exe -o OUT.exe [--on-target]\n"
     "              [--set NAME=VALUE]...\n",
     "Writes a copy of the stub with the manifest's block appended and the locator set.\n"
     "A block the stub already carries is replaced; a certificate table is taken off (sign\n"
     "the output afterwards). Nothing is written when anything fails. --set fills ${NAME}\n"
     "in texts; --on-target resolves the target's folder macros where the tool runs.\n"},
    {"dump", "tallowin dump [--code-page N] OUT.exe\n",
     "Prints the program's block as a manifest on standard output, and on standard error\n"
     "which program it is, where its block starts and what a manifest cannot show.\n"},
    {"check",
     "tallowin check [--strict] [--code-page N] [--set NAME=VALUE]... MANIFEST.json|OUT.exe\n",
     "Reports what the uninstaller would reject (errors) and what is dangerous or has no\n"
     "effect (warnings), one line each, with the entry's JSON path and the finding's id.\n"
     "An entry's \"accept\" list acknowledges a warning by id with a reason. Exit 0 clean,\n"
     "1 warnings, 2 errors; --strict counts warnings as errors.\n"},
    {"uninstall-entry",
     "tallowin uninstall-entry MANIFEST.json --exe C:\\...\\uninstall.exe [--stub OUT.exe]\n"
     "                         -o ENTRY.reg|-\n"
     "tallowin uninstall-entry MANIFEST.json --exe C:\\...\\uninstall.exe [--stub OUT.exe]\n"
     "                         --write\n",
     "Writes the product's entry in the list of installed programs for the uninstaller at\n"
     "--exe: as a .reg file (UTF-16LE, as the registry editor writes it; -o - writes it to\n"
     "standard output), or with --write (the Windows tool) into the registry, in the\n"
     "registry view of the stub at --stub, or of the program at --exe. Takes\n"
     "[--set NAME=VALUE]... as pack does.\n"},
    {"scan",
     "tallowin scan STAGING_DIR --base BASE.json -o OUT.json [--exclude PATTERN]...\n"
     "              [--previous OLD.json|OLD.exe] [--dropped DROPPED.txt]\n"
     "              [--install-dir-length N]\n",
     "Writes a manifest that removes what the staging folder holds, with the base\n"
     "manifest's messages, entries and options (see examples/README.md).\n"},
    {"preview", "tallowin preview UNINSTALL.EXE [-o FILE]\n",
     "Windows only. Runs the program's own removal on this machine with /S's answers and\n"
     "every change held back, and writes the log's lines (to FILE, or standard output):\n"
     "would-remove, would-restart, would-self-delete where the run would act. Exit: what /S\n"
     "would return (0, 3010, 1603); 2 when the preview cannot run. The tool must be of the\n"
     "program's architecture.\n"},
};

const CommandHelp *FindCommand(const std::string &name) {
  for (const CommandHelp &c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// The usage lines of one command, or of all of them.
std::string Usage(const CommandHelp *only = nullptr) {
  std::string s;
  for (const CommandHelp &c : kCommands) {
    if (only && only != &c) continue;
    for (const char *line = c.usage; *line;) {
      const char *end = strchr(line, '\n');
      s += std::string(s.empty() ? "usage: " : "       ") + std::string(line, end + 1);
      line = end + 1;
    }
  }
  if (only) return s;
  return s +
         "       tallowin help [COMMAND] | --help | --version\n"
         "The manifest, the findings and the exit codes: README.md and examples/README.md.\n";
}

// A usage error: one line that says what is wrong, then how the command is called; exit 2.
int UsageError(std::string *err, const std::string &command, const std::string &what) {
  *err += "tallowin: " + what + "\n" + Usage(FindCommand(command));
  return kExitErrors;
}

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

bool ParseArgs(const std::vector<std::string> &in, size_t from, Args *a, Fault *fault) {
  for (size_t i = from; i < in.size(); ++i) {
    const std::string &s = in[i];
    auto value = [&](std::string *dst) {
      if (i + 1 >= in.size()) {
        return Fail(fault, "", s + " needs a value");
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
        return Fail(
            fault, "",
            "--code-page " + v + ": not supported (supported: " + SupportedCodePages() + ")");
      }
      a->codePage = static_cast<int>(n);
    } else if (s == "--set") {
      if (!value(&v)) return false;
      const size_t eq = v.find('=');
      const std::string name = v.substr(0, eq);
      if (eq == std::string::npos || !IsVariableName(name)) {
        return Fail(fault, "",
                    "--set " + v + ": expected NAME=VALUE, NAME of letters, digits and '_'");
      }
      if (!a->vars.emplace(name, v.substr(eq + 1)).second) {
        return Fail(fault, "", "--set " + name + " given twice");
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
        return Fail(fault, "", "--install-dir-length " + v + ": expected 3 to 250 characters");
      }
      a->scan.installDirLength = static_cast<size_t>(n);
    } else if (s == "--on-target") {
      a->onTarget = true;
    } else if (s == "--strict") {
      a->strict = true;
    } else if (s == "--write") {
      a->write = true;
    } else if (s.size() > 1 && s[0] == '-') {
      return Fail(fault, "", "unknown option " + s);
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
  if (a.positional.size() != 1 || a.stub.empty() || a.output.empty())
    return UsageError(err, "pack", "pack needs one manifest, --stub and -o");
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
  if (!PackBlock(block, stub, LevelOfManifest(m), &image, &notes, &fault))
    return Failed(err, a.stub, fault);
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
  ExecutionLevel level;
  s += ReadExecutionLevel(image, &level, &fault)
           ? std::string(", execution level ") + ExecutionLevelName(level)
           : ", execution level unknown (not the manifest of a stub of this build)";
  return s;
}

int Dump(const Args &a, std::string *out, std::string *err) {
  if (a.positional.size() != 1) return UsageError(err, "dump", "dump needs one program");
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
  if (a.positional.size() != 1)
    return UsageError(err, "check", "check needs one manifest or program");
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
      *out += path + ": error: damaged block: " + error + " [damaged-block]\n";
      return kExitErrors;
    }
    in.block = &r.block;
    in.codePage = a.codePage;
    PeHeaders h;
    if (!ReadPeHeaders(bytes, &h, &fault))
      findings.push_back({true, "not-a-stub", "$", fault.what, ""});
    if (r.blockOffset < h.programEnd)
      findings.push_back({true, "block-inside-program", "$",
                          "the block starts at offset " + std::to_string(r.blockOffset) +
                              ", inside the program's own sections (which end at offset " +
                              std::to_string(h.programEnd) + "): the program does not start",
                          ""});
    for (const std::string &s : CertificateFindings(bytes, h, r.blockOffset, r.blockEnd))
      findings.push_back({true, "certificate-table", "$", s, ""});
    // The level the program asks for says who runs it.
    ExecutionLevel level;
    if (ReadExecutionLevel(bytes, &level, &fault))
      in.scope = level == ExecutionLevel::kInvoker ? Scope::kUser : Scope::kMachine;
  } else {
    if (bytes.size() > kMaxManifestBytes)
      return Failed(err, path, {"", "more than the 8 MiB a manifest may have"});
    if (!ParseManifest(std::string(bytes.begin(), bytes.end()), &m, &fault, &a.vars)) {
      *out += path + ": error: " + fault.Text() + " [manifest]\n";
      return kExitErrors;
    }
    in.block = &m.block;
    in.codePage = m.codePage;
    in.fromManifest = m.messagesByRole;
    in.missingRoles = m.missingRoles;
    in.scope = ScopeOfEntry(m.uninstallEntry);
    in.accepts = m.accepts;
  }
  for (Finding &f : CheckBlock(in)) findings.push_back(std::move(f));
  int errors = 0, warnings = 0;
  // One line each: FILE: error|warning|accepted: JSONPATH: text [id], an accepted one with
  // the manifest's reason.
  for (const Finding &f : findings) {
    const bool accepted = !f.acceptedWhy.empty();
    *out += path + ": " +
            (f.error    ? "error: "
             : accepted ? "accepted: "
                        : "warning: ") +
            f.where + ": " + f.what + " [" + f.id + "]" +
            (accepted ? " (" + f.acceptedWhy + ")" : "") + "\n";
    if (!accepted) (f.error ? errors : warnings)++;
  }
  if (errors || (warnings && a.strict)) return kExitErrors;
  return warnings ? kExitWarnings : kExitOk;
}

int Entry(const Args &a, std::string *out, std::string *err) {
  // A .reg file is UTF-16: a terminal would show it as noise, so standard output is used
  // only when asked for.
  if (a.positional.size() != 1 || a.exe.empty() || a.write == !a.output.empty())
    return UsageError(err, "uninstall-entry",
                      "uninstall-entry needs one manifest, --exe and either -o FILE (- for "
                      "standard output) or --write");
  Manifest m;
  if (!ReadManifestFile(a.positional[0], a.vars, &m, err)) return kExitErrors;
  Fault fault;
  // The packed uninstaller's architecture decides the registry view: read from --stub, or
  // from --exe itself where it already lies (on Windows, at install time).
  std::vector<uint8_t> program;
  if (!a.stub.empty() && !ReadFileBytes(a.stub, kMaxProgramBytes, &program, &fault))
    return Failed(err, a.stub, fault);
  if (a.stub.empty() && !ReadFileBytes(a.exe, kMaxProgramBytes, &program, &fault)) program.clear();
  const StubBits bits = StubBitsOf(program);
  if (!a.stub.empty() && bits == StubBits::kUnknown)
    return Failed(err, a.stub, {"", "not a PE32 i386 or PE32+ x86-64 program"});
  if (a.write) {
    if (!WriteUninstallEntry(m, a.exe, bits, &fault)) return Failed(err, a.positional[0], fault);
    return kExitOk;
  }
  std::string reg;
  if (!UninstallEntryRegFile(m, a.exe, bits, &reg, &fault))
    return Failed(err, a.positional[0], fault);
  if (a.output == "-") {
    *out += reg;
  } else if (SameFile(a.output, a.positional[0])) {
    return Failed(err, a.output, {"", "is the manifest itself: write the entry to another file"});
  } else if (!WriteFileAtomic(a.output, std::vector<uint8_t>(reg.begin(), reg.end()), &fault)) {
    return Failed(err, a.output, fault);
  }
  return kExitOk;
}

// `help`, `help COMMAND`, `--help`, `COMMAND --help`: on standard output, exit 0.
int Help(const std::string &command, std::string *out, std::string *err) {
  if (command.empty()) {
    *out += Usage();
    return kExitOk;
  }
  const CommandHelp *c = FindCommand(command);
  if (!c) return UsageError(err, "", "no command " + command);
  *out += Usage(c) + "\n" + c->text;
  return kExitOk;
}

int ScanCommand(Args *a, std::string *err) {
  if (a->positional.size() != 1 || a->scan.base.empty() || a->output.empty())
    return UsageError(err, "scan", "scan needs one staging folder, --base and -o");
  a->scan.stagingDir = a->positional[0];
  a->scan.output = a->output;
  return Scan(a->scan, err);
}

int Run(const std::vector<std::string> &args, std::string *out, std::string *err) {
  if (args.size() < 2) return UsageError(err, "", "no command given");
  const std::string &command = args[1];
  if (command == "--version") {
    if (args.size() > 2) return UsageError(err, "", "--version takes no arguments");
    *out += "tallowin " TALLOWIN_VERSION "\n";
    return kExitOk;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    if (args.size() > 3) return UsageError(err, "", "help takes one command at most");
    return Help(args.size() > 2 ? args[2] : std::string(), out, err);
  }
  if (!FindCommand(command)) return UsageError(err, "", "unknown command " + command);
  for (size_t i = 2; i < args.size(); ++i)
    if (args[i] == "--help" || args[i] == "-h") return Help(command, out, err);
  Args a;
  Fault fault;
  if (!ParseArgs(args, 2, &a, &fault)) return UsageError(err, command, fault.what);
  if (command == "pack") return Pack(a, err);
  if (command == "dump") return Dump(a, out, err);
  if (command == "check") return Check(a, out, err);
  if (command == "uninstall-entry") return Entry(a, out, err);
  if (command == "preview") {
    if (a.positional.size() != 1) return UsageError(err, "preview", "preview needs one program");
    return Preview(a.positional[0], a.output, err);
  }
  return ScanCommand(&a, err);
}

}  // namespace

bool EncodeManifest(const Manifest &m, std::vector<uint8_t> *block, Fault *fault) {
  std::string why;
  return blockfmt::EncodeBlock(m.block, block, &why) || Fail(fault, "", "$." + why);
}

ExecutionLevel LevelOfManifest(const Manifest &m) {
  if (!m.uninstallEntry.given) return ExecutionLevel::kAsBuilt;
  return m.uninstallEntry.perUser ? ExecutionLevel::kInvoker : ExecutionLevel::kAdministrator;
}

bool PackBlock(const std::vector<uint8_t> &block, const std::vector<uint8_t> &stub,
               ExecutionLevel level, std::vector<uint8_t> *out, std::vector<std::string> *notes,
               Fault *fault) {
  PeHeaders h;
  if (!ReadPeHeaders(stub, &h, fault)) return false;
  std::string why;
  blockfmt::Locator locator;
  size_t blockStart = stub.size(), locatorEnd = 0;
  if (blockfmt::FindLocator(stub, &locator, &why)) {
    locatorEnd = locator.at + blockfmt::kLocatorSize;
    if (locator.offset != 0 && locator.offset < stub.size()) blockStart = locator.offset;
  }
  // A stub changed after its build (resources edited, a section added) keeps its old
  // offset, which now points into the program: cutting there would leave a program that
  // does not start.
  if (blockStart < stub.size() && blockStart < h.programEnd)
    return Fail(fault, "",
                "its locator offset " + std::to_string(blockStart) +
                    " lies inside the program's own sections, which end at offset " +
                    std::to_string(h.programEnd) +
                    ": the stub was changed after its build; set the offset to the file's "
                    "size with scripts/stamp-locator, then pack");
  std::vector<uint8_t> unsigned_ = stub;
  if (!RemoveCertificateTable(&unsigned_, blockStart, locatorEnd, notes, fault)) return false;
  // Before the checksum, which covers the manifest too.
  if (!SetExecutionLevel(&unsigned_, level, fault)) return false;
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
  if (PackBlock(block, stub, LevelOfManifest(m), out, &notes, fault)) return true;
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
