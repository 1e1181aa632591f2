// A block back to the canonical manifest, which packs to the same bytes.
#include <nlohmann/json.hpp>

#include "codepage.h"
#include "manifest.h"

namespace tallowin {

using namespace blockfmt;
using ordered_json = nlohmann::ordered_json;

std::string BlockToManifestJson(const Block &block, int codePage, std::vector<std::string> *notes) {
  auto text = [codePage](const std::string &s) {
    return EscapeVariables(CodePageToUtf8(s, codePage));
  };
  ordered_json out;
  out["codePage"] = codePage;
  if (!block.messages.empty()) {
    if (block.messages.size() <= MSG_COUNT) {
      ordered_json m = ordered_json::object();
      for (size_t i = 0; i < block.messages.size(); ++i)
        m[kMessageRoles[i]] = text(block.messages[i]);
      out["messages"] = m;
    } else {
      ordered_json m = ordered_json::array();
      for (const std::string &s : block.messages) m.push_back(text(s));
      out["messages"] = m;
    }
  }
  if (!block.files.empty()) {
    ordered_json list = ordered_json::array();
    for (const FileItem &f : block.files) {
      ordered_json e;
      e["folder"] = text(f.folder);
      if (!f.name.empty()) e["name"] = text(f.name);
      ordered_json flags = ordered_json::array();
      uint8_t known = 0;
      for (const FileFlagName &n : kFileFlags) {
        known |= n.bit;
        if (f.flags & n.bit) flags.push_back(n.name);
      }
      if (!flags.empty()) e["flags"] = flags;
      if ((f.flags & ~known) && notes)
        notes->push_back("file flags with unknown bits were dropped");
      list.push_back(e);
    }
    out["files"] = list;
  }
  if (!block.folders.empty()) {
    ordered_json list = ordered_json::array();
    for (const FolderItem &f : block.folders) {
      ordered_json e;
      e["folder"] = text(f.folder);
      if (!f.secondFolder.empty()) e["secondFolder"] = text(f.secondFolder);
      if (!f.name.empty()) e["name"] = text(f.name);
      if (f.levels) e["levels"] = f.levels;
      list.push_back(e);
    }
    out["folders"] = list;
  }
  if (!block.registry.empty()) {
    ordered_json list = ordered_json::array();
    for (const RegistryItem &r : block.registry) {
      ordered_json e;
      const std::string name = RootName(r.root);
      if (name.empty())
        e["root"] = r.root;
      else
        e["root"] = name;
      std::string key, value;
      bool hasValue;
      SplitRegistryPath(r.path, codePage, &key, &value, &hasValue);
      e["key"] = text(key);
      if (hasValue) e["value"] = text(value);
      if (r.onlyIfEmpty) e["ifEmpty"] = true;
      // The block holds only the removal of the entry's key; its values are the installer's.
      const std::string prefix = std::string(kUninstallKey) + "\\";
      if (notes && !hasValue && (r.root == ROOT_HKLM || r.root == ROOT_HKCU) &&
          key.size() > prefix.size() &&
          LowerAscii(key.substr(0, prefix.size())) == LowerAscii(prefix))
        notes->push_back("$.registry[" + std::to_string(list.size()) +
                         "] removes an uninstall entry's key: the block holds no more of "
                         "uninstallEntry (its names, version, publisher, ...), so it is shown "
                         "as a registry entry");
      list.push_back(e);
    }
    out["registry"] = list;
  }
  if (!block.patterns.empty()) {
    ordered_json list = ordered_json::array();
    for (const std::string &p : block.patterns) list.push_back(text(p));
    out["patterns"] = list;
  }
  // Every manifest gives an options record, all off when "options" is left out.
  ordered_json o = ordered_json::object();
  if (block.options.flags & OPT_WAIT) o["wait"] = true;
  if (block.options.flags & OPT_THEMED_CONTROLS) o["themedControls"] = true;
  if (!block.options.preRemoval.empty()) o["preRemoval"] = text(block.options.preRemoval);
  if (!block.options.closingDocument.empty())
    o["closingDocument"] = text(block.options.closingDocument);
  if (!o.empty()) out["options"] = o;
  if (!block.hasOptions && notes)
    notes->push_back("the block has no options record: packing this manifest adds one, all off");
  return out.dump(2) + "\n";
}

}  // namespace tallowin
