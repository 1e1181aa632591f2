// The manifest resource as the build writes it, recognised whole before one attribute of it
// changes.
#include "stub_manifest.h"

#include <algorithm>
#include <string>

#include "pe_image.h"

namespace tallowin {

namespace {

// src/ui/uninstall.manifest.in, as the build configures it into each stub.
const char kTemplate[] = {
#include "stub_manifest_template.inc"
};

constexpr uint32_t kManifestType = 24;
constexpr uint32_t kManifestId = 1;

const char kAdministrator[] = "level=\"requireAdministrator\" uiAccess=\"false\"/>";
// The same length: the blanks stand between the last attribute and the tag's end, where
// XML allows any white space, so no attribute value changes.
const char kInvoker[] = "level=\"asInvoker\" uiAccess=\"false\"           />";
static_assert(sizeof kAdministrator == sizeof kInvoker, "the two forms differ in length");

// The build's manifest for an architecture at a level.
std::string Expected(bool pe32Plus, ExecutionLevel level) {
  std::string text(kTemplate, sizeof kTemplate);
  const std::string arch = "@MANIFEST_ARCH@";
  text.replace(text.find(arch), arch.size(), pe32Plus ? "amd64" : "x86");
  if (level == ExecutionLevel::kInvoker) {
    const size_t at = text.find(kAdministrator);
    text.replace(at, sizeof kAdministrator - 1, kInvoker);
  }
  return text;
}

bool Locate(const std::vector<uint8_t> &image, PeHeaders *h, size_t *at, ExecutionLevel *level,
            Fault *fault) {
  if (!ReadPeHeaders(image, h, fault)) return false;
  size_t size = 0;
  if (!FindResource(image, *h, kManifestType, kManifestId, at, &size))
    return Fail(fault, "",
                "it has no manifest resource: the execution level cannot be set (pack onto "
                "uninstall.exe as built)");
  const std::string found(image.begin() + *at, image.begin() + *at + size);
  for (ExecutionLevel l : {ExecutionLevel::kAdministrator, ExecutionLevel::kInvoker}) {
    if (found == Expected(h->pe32Plus, l)) {
      *level = l;
      return true;
    }
  }
  return Fail(fault, "",
              "its manifest resource (" + std::to_string(size) +
                  " bytes) is not the one this tool's build writes for a " + h->Kind() +
                  " stub: the execution level is not changed blindly (pack onto uninstall.exe "
                  "of the same build)");
}

}  // namespace

const char *ExecutionLevelName(ExecutionLevel level) {
  switch (level) {
    case ExecutionLevel::kInvoker:
      return "asInvoker";
    case ExecutionLevel::kAdministrator:
      return "requireAdministrator";
    default:
      return "as built";
  }
}

bool ReadExecutionLevel(const std::vector<uint8_t> &image, ExecutionLevel *level, Fault *fault) {
  PeHeaders h;
  size_t at = 0;
  return Locate(image, &h, &at, level, fault);
}

bool SetExecutionLevel(std::vector<uint8_t> *image, ExecutionLevel level, Fault *fault) {
  PeHeaders h;
  size_t at = 0;
  ExecutionLevel current;
  Fault unknown;
  if (level == ExecutionLevel::kAsBuilt) {
    if (!Locate(*image, &h, &at, &current, &unknown)) return true;
    level = ExecutionLevel::kAdministrator;
  } else if (!Locate(*image, &h, &at, &current, fault)) {
    return false;
  }
  const std::string wanted = Expected(h.pe32Plus, level);
  std::copy(wanted.begin(), wanted.end(), image->begin() + at);
  return true;
}

}  // namespace tallowin
