// pack, dump and check.
#include "tallowin.h"

#include <stdio.h>

#include <filesystem>

#include "block_reader.h"
#include "check.h"
#include "codepage.h"
#include "format/block_writer.h"
#include "manifest.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace tallowin {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitErrors = 2;

const char kUsage[] =
    "usage: tallowin pack MANIFEST.json --stub uninstall.exe -o OUT.exe\n"
    "       tallowin dump [--code-page N] OUT.exe\n"
    "       tallowin check [--strict] [--code-page N] MANIFEST.json|OUT.exe\n";

bool LooksLikeProgram(const std::vector<uint8_t> &bytes) {
  return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

struct Args {
  std::vector<std::string> positional;
  std::string stub, output;
  int codePage = 1252;
  bool strict = false;
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
    } else if (s == "--code-page") {
      if (!value(&v)) return false;
      char *end = nullptr;
      const long n = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || !IsSupportedCodePage(static_cast<int>(n))) {
        *error = "--code-page " + v + ": not supported (supported: " + SupportedCodePages() + ")";
        return false;
      }
      a->codePage = static_cast<int>(n);
    } else if (s == "--strict") {
      a->strict = true;
    } else if (s.size() > 1 && s[0] == '-') {
      *error = "unknown option " + s;
      return false;
    } else {
      a->positional.push_back(s);
    }
  }
  return true;
}

int Pack(const Args &a, std::string *err) {
  if (a.positional.size() != 1 || a.stub.empty() || a.output.empty()) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &manifestPath = a.positional[0];
  std::vector<uint8_t> manifest, stub, image;
  std::string error;
  if (!ReadFileBytes(manifestPath, &manifest, &error)) {
    *err += "tallowin: " + manifestPath + ": " + error + "\n";
    return kExitErrors;
  }
  if (!ReadFileBytes(a.stub, &stub, &error)) {
    *err += "tallowin: " + a.stub + ": " + error + "\n";
    return kExitErrors;
  }
  std::string where = manifestPath;
  if (!PackImage(std::string(manifest.begin(), manifest.end()), stub, &image, &error)) {
    // Stub faults name the stub, manifest faults the manifest.
    if (error.rfind("stub:", 0) == 0) {
      where = a.stub;
      error = error.substr(6);
    }
    *err += "tallowin: " + where + ": " + error + "\n";
    return kExitErrors;
  }
  if (!WriteFileAtomic(a.output, image, &error)) {
    *err += "tallowin: " + a.output + ": " + error + "\n";
    return kExitErrors;
  }
  return kExitOk;
}

int Dump(const Args &a, std::string *out, std::string *err) {
  if (a.positional.size() != 1) {
    *err += kUsage;
    return kExitErrors;
  }
  const std::string &path = a.positional[0];
  std::vector<uint8_t> image;
  std::string error;
  ReadBlockResult r;
  if (!ReadFileBytes(path, &image, &error) || !ReadBlockFromImage(image, &r, &error)) {
    *err += "tallowin: " + path + ": " + (error.rfind("record", 0) == 0 ? "damaged block: " : "") +
            error + "\n";
    return kExitErrors;
  }
  std::vector<std::string> notes = r.notes;
  *out += BlockToManifestJson(r.block, a.codePage, &notes);
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
  std::string error;
  if (!ReadFileBytes(path, &bytes, &error)) {
    *err += "tallowin: " + path + ": " + error + "\n";
    return kExitErrors;
  }
  CheckInput in;
  Manifest m;
  ReadBlockResult r;
  if (LooksLikeProgram(bytes)) {
    if (!ReadBlockFromImage(bytes, &r, &error)) {
      *out += path + ": error: damaged block: " + error + "\n";
      return kExitErrors;
    }
    in.block = &r.block;
    // Texts in the block are already bytes: only the round trip can fail.
  } else {
    try {
      m = ParseManifest(std::string(bytes.begin(), bytes.end()));
    } catch (const ManifestError &e) {
      *out += path + ": error: " + e.what() + "\n";
      return kExitErrors;
    }
    in.block = &m.block;
    in.fromManifest = m.messagesByRole;
    in.missingRoles = m.missingRoles;
  }
  int errors = 0, warnings = 0;
  for (const Finding &f : CheckBlock(in)) {
    *out += path + ": " + (f.error ? "error: " : "warning: ") + f.where + ": " + f.what + "\n";
    (f.error ? errors : warnings)++;
  }
  if (errors || (warnings && a.strict)) return kExitErrors;
  return warnings ? kExitWarnings : kExitOk;
}

}  // namespace

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *out, std::string *error) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open for reading";
    return false;
  }
  out->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) *error = "read error";
  return !failed;
}

bool WriteFileAtomic(const std::string &path, const std::vector<uint8_t> &bytes,
                     std::string *error) {
  const std::string temp = path + ".tallowin-tmp";
  FILE *f = fopen(temp.c_str(), "wb");
  if (!f) {
    *error = "cannot write (temporary file " + temp + " cannot be created)";
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fflush(f) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (ok) {
#ifdef _WIN32
    ok = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    ok = rename(temp.c_str(), path.c_str()) == 0;
#endif
  }
  if (!ok) {
    remove(temp.c_str());
    *error = "cannot write";
    return false;
  }
  return true;
}

bool PackImage(const std::string &manifestJson, const std::vector<uint8_t> &stub,
               std::vector<uint8_t> *out, std::string *error) {
  Manifest m;
  try {
    m = ParseManifest(manifestJson);
  } catch (const ManifestError &e) {
    *error = e.what();
    return false;
  }
  std::vector<uint8_t> block;
  std::string why;
  if (!blockfmt::EncodeBlock(m.block, &block, &why)) {
    *error = "$." + why;
    return false;
  }
  if (!blockfmt::AppendBlockToStub(stub, block, out, &why)) {
    *error = "stub: " + why;
    return false;
  }
  return true;
}

int RunCommandLine(const std::vector<std::string> &args, std::string *out, std::string *err) {
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
  *err += "tallowin: unknown command " + command + "\n" + kUsage;
  return kExitErrors;
}

}  // namespace tallowin
