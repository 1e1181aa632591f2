// The manifest's four lists: files, folders, registry entries and wildcard patterns.
#include "codepage.h"
#include "manifest_reader.h"

namespace tallowin {

using namespace blockfmt;
using json = nlohmann::json;

namespace {

std::string At(const char *list, size_t i) {
  return std::string("$.") + list + "[" + std::to_string(i) + "]";
}

}  // namespace

bool ManifestReader::Files(const json &v) {
  if (!Array(v, "$.files")) return false;
  for (size_t i = 0; i < v.size(); ++i) {
    const std::string path = At("files", i);
    const json &e = v[i];
    FileItem f;
    if (!Object(e, path) || !Keys(e, path, {"folder", "name", "flags", "accept"}) ||
        !RequiredText(e, "folder", path, &f.folder) || !OptionalText(e, "name", path, &f.name))
      return false;
    if (e.contains("flags")) {
      const json &flags = e["flags"];
      if (!Array(flags, path + ".flags")) return false;
      for (size_t j = 0; j < flags.size(); ++j) {
        const std::string fp = path + ".flags[" + std::to_string(j) + "]";
        if (!flags[j].is_string()) return Wrong(fp, "a flag name", flags[j]);
        const uint8_t bit = FileFlagFromName(flags[j].get<std::string>());
        if (!bit)
          return Bad(fp, "unknown flag \"" + flags[j].get<std::string>() +
                             "\" (expected shared, font, selfRegister, checkInUse)");
        f.flags |= bit;
      }
    }
    m_->block.files.push_back(f);
    if (!Accepts(e, path)) return false;
  }
  return true;
}

bool ManifestReader::Folders(const json &v) {
  if (!Array(v, "$.folders")) return false;
  for (size_t i = 0; i < v.size(); ++i) {
    const std::string path = At("folders", i);
    const json &e = v[i];
    FolderItem f;
    if (!Object(e, path) ||
        !Keys(e, path, {"folder", "secondFolder", "name", "levels", "accept"}) ||
        !RequiredText(e, "folder", path, &f.folder) ||
        !OptionalText(e, "secondFolder", path, &f.secondFolder) ||
        !OptionalText(e, "name", path, &f.name))
      return false;
    if (e.contains("levels")) {
      const json &l = e["levels"];
      if (!l.is_number_integer()) return Wrong(path + ".levels", "an integer", l);
      if (l.is_number_unsigned() ? l.get<uint64_t>() > 255 : l.get<int64_t>() < 0)
        return Bad(path + ".levels", "must be 0 to 255");
      f.levels = static_cast<uint8_t>(l.get<uint64_t>());
    }
    m_->block.folders.push_back(f);
    if (!Accepts(e, path)) return false;
  }
  return true;
}

bool ManifestReader::Registry(const json &v) {
  if (!Array(v, "$.registry")) return false;
  for (size_t i = 0; i < v.size(); ++i) {
    const std::string path = At("registry", i);
    const json &e = v[i];
    RegistryItem r;
    if (!Object(e, path) || !Keys(e, path, {"root", "key", "value", "ifEmpty", "accept"}))
      return false;
    if (!e.contains("root")) return Bad(path + ".root", "required key missing");
    const json &root = e["root"];
    if (root.is_string()) {
      if (!RootFromName(root.get<std::string>(), &r.root))
        return Bad(path + ".root", "unknown root \"" + root.get<std::string>() +
                                       "\" (expected HKCR, HKCU, HKLM, HKU, HKCC)");
    } else if (root.is_number_unsigned() && root.get<uint64_t>() <= 0xFFFFFFFFull) {
      r.root = static_cast<uint32_t>(root.get<uint64_t>());
    } else {
      return Wrong(path + ".root", "a root name or a 32-bit handle value", root);
    }
    std::string key, value;
    if (!RequiredText(e, "key", path, &key)) return false;
    const bool named = e.contains("value");
    if (named && !Text(e["value"], path + ".value", &value)) return false;
    // The pass takes the text after the last backslash as the value name.
    if (FindInText(value, "\\", m_->codePage) != std::string::npos)
      return Bad(path + ".value", "a value name with a backslash cannot be stored");
    r.path = named ? key + "\\\\" + value : key;
    // Stored only as the pass will split it.
    std::string k, val;
    bool hasValue;
    SplitRegistryPath(r.path, m_->codePage, &k, &val, &hasValue);
    if (hasValue && !named)
      return Bad(path + ".key",
                 "a doubled backslash before the last component would name a value: use "
                 "\"value\"");
    if (hasValue != named)
      return Bad(path + ".key",
                 "ends in the first byte of a double-byte character, which would take in the "
                 "backslash before the value");
    if (e.contains("ifEmpty")) {
      if (!e["ifEmpty"].is_boolean())
        return Wrong(path + ".ifEmpty", "true or false", e["ifEmpty"]);
      r.onlyIfEmpty = e["ifEmpty"].get<bool>();
      if (r.onlyIfEmpty && named)
        return Bad(path + ".ifEmpty", "names a key removed when empty: give no \"value\"");
    }
    m_->block.registry.push_back(r);
    if (!Accepts(e, path)) return false;
  }
  return true;
}

bool ManifestReader::Patterns(const json &v) {
  if (!Array(v, "$.patterns")) return false;
  for (size_t i = 0; i < v.size(); ++i) {
    // A text, or an object with the text as "path" when it carries an accept list.
    const std::string at = At("patterns", i);
    const bool object = v[i].is_object();
    if (object && !Keys(v[i], at, {"path", "accept"})) return false;
    if (object && !v[i].contains("path")) return Bad(at + ".path", "required key missing");
    std::string p;
    if (!Text(object ? v[i]["path"] : v[i], object ? at + ".path" : at, &p)) return false;
    if (p.empty()) return Bad(at, "an empty pattern would end the list");
    m_->block.patterns.push_back(p);
    if (object && !Accepts(v[i], at)) return false;
  }
  return true;
}

}  // namespace tallowin
