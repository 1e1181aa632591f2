// Removal data block: constants shared by the stub's reader and the block writer.
// Plain C++ with no platform headers, so the host tool can include it.
#pragma once
#include <stdint.h>

namespace blockfmt {

// The locator: six marker bytes, then the u32 file offset of the block.
constexpr unsigned char kMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};  // "wwgT)H"
constexpr uint32_t kLocatorSize = 10;
constexpr uint32_t kHeaderSize = 8;

// An entry's folder text that begins with '.' names the install folder: after ".\" the rest
// is a subfolder of it, and any other text after the dot is ignored. The subfolder text
// below the install folder ("" for the folder itself), or null for a folder given in full.
inline const char *InstallSubfolder(const char *folder) {
  if (folder[0] != '.') return nullptr;
  return folder[1] == '\\' ? folder + 2 : "";
}

// Record tags.
constexpr uint16_t TAG_MESSAGES = 0x1234;
constexpr uint16_t TAG_FILES = 0x1235;
constexpr uint16_t TAG_FOLDERS = 0x1236;
constexpr uint16_t TAG_REGISTRY = 0x1237;
constexpr uint16_t TAG_SKIPPED = 0x1238;
constexpr uint16_t TAG_PATTERNS = 0x1239;
constexpr uint16_t TAG_OPTIONS = 0x123A;
// Registry keys removed only when they hold no subkeys and no values: the registry list's
// body, read after it. A stub that predates the record skips it as it skips every unknown
// tag, so such a key stays there rather than going with its whole tree.
constexpr uint16_t TAG_EMPTY_KEYS = 0x123B;
constexpr uint16_t TAG_END = 0x7F7F;

// Header flag: a whole-loaded record (patterns, options) with this bit fails to load.
constexpr uint8_t RF_NOT_LOADABLE = 1;

// File entry flags.
constexpr uint8_t FE_SHARED = 1;
constexpr uint8_t FE_FONT = 2;
constexpr uint8_t FE_SELFREG = 4;
constexpr uint8_t FE_CHECK_IN_USE = 8;

// Run option flags.
constexpr uint32_t OPT_WAIT = 1;
constexpr uint32_t OPT_THEMED_CONTROLS = 2;
constexpr uint32_t kOptionsFixedSize = 12;

// Limits of the reader's scratch buffers (string bytes, terminators excluded).
constexpr uint32_t kMaxFileEntryText = 518;    // folder + name
constexpr uint32_t kMaxFolderEntryText = 777;  // folder + second folder + name
constexpr uint32_t kMaxRegistryPath = 519;
constexpr uint32_t kFileScratch = 520;
constexpr uint32_t kFolderScratch = 780;
constexpr uint32_t kRegistryScratch = 520;

// Smallest encoded entry: a body that cannot hold count entries is damaged.
constexpr uint32_t kMinFileEntry = 5;      // two u16 lengths + flags
constexpr uint32_t kMinFolderEntry = 7;    // levels + three u16 lengths
constexpr uint32_t kMinRegistryEntry = 6;  // root + u16 length

constexpr uint32_t kPathMax = 260;  // terminator included
constexpr uint32_t kComposedMax = 1024;

// Message numbers.
enum MessageId : uint32_t {
  MSG_CAPTION = 0,
  MSG_CONFIRM = 1,
  MSG_FINISHED = 2,
  MSG_YES = 3,
  MSG_YES_TO_ALL = 4,
  MSG_NO = 5,
  MSG_NO_TO_ALL = 6,
  MSG_OUT_OF_MEMORY = 7,
  MSG_READ_FAILED = 8,
  MSG_READ_ONLY_FILE = 9,
  MSG_SHARED_FILE = 10,
  MSG_STATUS_FILES = 11,
  MSG_STATUS_FOLDERS = 12,
  MSG_STATUS_EMPTY_FOLDERS = 13,
  MSG_STATUS_REGISTRY = 14,
  MSG_FILES_IN_USE = 15,
  MSG_COUNT = 16
};

// Predefined registry roots by their handle values.
constexpr uint32_t ROOT_HKCR = 0x80000000u;
constexpr uint32_t ROOT_HKCU = 0x80000001u;
constexpr uint32_t ROOT_HKLM = 0x80000002u;
constexpr uint32_t ROOT_HKU = 0x80000003u;
constexpr uint32_t ROOT_HKCC = 0x80000005u;
// Their names: the manifest takes either, the log and the registry files write the long one.
struct RootName {
  const char *shortName;
  const char *longName;
  uint32_t root;
};
constexpr RootName kRootNames[] = {{"HKCR", "HKEY_CLASSES_ROOT", ROOT_HKCR},
                                   {"HKCU", "HKEY_CURRENT_USER", ROOT_HKCU},
                                   {"HKLM", "HKEY_LOCAL_MACHINE", ROOT_HKLM},
                                   {"HKU", "HKEY_USERS", ROOT_HKU},
                                   {"HKCC", "HKEY_CURRENT_CONFIG", ROOT_HKCC}};

}  // namespace blockfmt
