// Manifest JSON to block lists and back.
#include "manifest.h"

#include <nlohmann/json.hpp>

#include "codepage.h"

namespace tallowin {

using namespace blockfmt;
using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

const char *const kMessageRoles[MSG_COUNT] = {"caption",        "confirm",
                                              "finished",       "yes",
                                              "yesToAll",       "no",
                                              "noToAll",        "outOfMemory",
                                              "readFailed",     "readOnlyFile",
                                              "sharedFile",     "statusFiles",
                                              "statusFolders",  "statusEmptyFolders",
                                              "statusRegistry", "filesInUse"};

namespace {

struct FlagName {
  const char *name;
  uint8_t bit;
};
const FlagName kFileFlags[] = {{"shared", FE_SHARED},
                               {"font", FE_FONT},
                               {"selfRegister", FE_SELFREG},
                               {"checkInUse", FE_CHECK_IN_USE}};

struct RootNameEntry {
  const char *shortName;
  const char *longName;
  uint32_t root;
};
const RootNameEntry kRoots[] = {{"HKCR", "HKEY_CLASSES_ROOT", ROOT_HKCR},
                                {"HKCU", "HKEY_CURRENT_USER", ROOT_HKCU},
                                {"HKLM", "HKEY_LOCAL_MACHINE", ROOT_HKLM},
                                {"HKU", "HKEY_USERS", ROOT_HKU},
                                {"HKCC", "HKEY_CURRENT_CONFIG", ROOT_HKCC}};

const char *TypeName(const json &v) { return v.type_name(); }

// Builds the document like the library's own parser, but refuses a key given twice in one
// object: the library would keep the last silently, and drop the entries of the first.
struct DuplicateKeyCheck : nlohmann::json_sax<json> {
  json root;
  nlohmann::detail::json_sax_dom_parser<json> dom{root};
  struct Frame {
    std::string path;
    bool isArray;
    size_t index = 0;
    std::vector<std::string> keys;
  };
  std::vector<Frame> open;

  // The JSON path of the value that starts now.
  std::string Next() {
    if (open.empty()) return "$";
    Frame &f = open.back();
    if (f.isArray) return f.path + "[" + std::to_string(f.index++) + "]";
    return f.path + "." + f.keys.back();
  }
  bool Scalar() {
    Next();
    return true;
  }

  bool null() override { return Scalar() && dom.null(); }
  bool boolean(bool v) override { return Scalar() && dom.boolean(v); }
  bool number_integer(number_integer_t v) override { return Scalar() && dom.number_integer(v); }
  bool number_unsigned(number_unsigned_t v) override { return Scalar() && dom.number_unsigned(v); }
  bool number_float(number_float_t v, const string_t &s) override {
    return Scalar() && dom.number_float(v, s);
  }
  bool string(string_t &v) override { return Scalar() && dom.string(v); }
  bool binary(binary_t &v) override { return Scalar() && dom.binary(v); }
  bool start_object(std::size_t n) override {
    open.push_back(Frame{Next(), false, 0, {}});
    return dom.start_object(n);
  }
  bool key(string_t &k) override {
    Frame &f = open.back();
    for (const std::string &seen : f.keys)
      if (seen == k) throw ManifestError(f.path + "." + k, "key given twice");
    f.keys.push_back(k);
    return dom.key(k);
  }
  bool end_object() override {
    open.pop_back();
    return dom.end_object();
  }
  bool start_array(std::size_t n) override {
    open.push_back(Frame{Next(), true, 0, {}});
    return dom.start_array(n);
  }
  bool end_array() override {
    open.pop_back();
    return dom.end_array();
  }
  bool parse_error(std::size_t at, const std::string &token,
                   const nlohmann::detail::exception &e) override {
    return dom.parse_error(at, token, e);
  }
};

class Parser {
 public:
  explicit Parser(Manifest *m) : m_(m) {}

  void Run(const json &root) {
    if (!root.is_object()) throw ManifestError("$", "a manifest is a JSON object");
    Keys(
        root, "$",
        {"$schema", "codePage", "messages", "files", "folders", "registry", "patterns", "options"});
    if (root.contains("codePage")) {
      const json &cp = root["codePage"];
      if (!cp.is_number_integer()) Wrong("$.codePage", "an integer", cp);
      // Range first: the library would cut a larger number down to an int silently.
      const bool small = cp.is_number_unsigned()
                             ? cp.get<uint64_t>() < 100000
                             : cp.get<int64_t>() > 0 && cp.get<int64_t>() < 100000;
      m_->codePage = small ? static_cast<int>(cp.get<int64_t>()) : 0;
      if (!IsSupportedCodePage(m_->codePage))
        throw ManifestError("$.codePage",
                            "code page " + cp.dump() +
                                " is not supported (supported: " + SupportedCodePages() + ")");
    }
    if (root.contains("messages")) Messages(root["messages"]);
    if (root.contains("files")) Files(root["files"]);
    if (root.contains("folders")) Folders(root["folders"]);
    if (root.contains("registry")) Registry(root["registry"]);
    if (root.contains("patterns")) Patterns(root["patterns"]);
    // The stub reads the options right after loading, so every block carries them.
    m_->block.hasOptions = true;
    if (root.contains("options")) RunOptions(root["options"]);
  }

 private:
  [[noreturn]] static void Wrong(const std::string &path, const char *want, const json &v) {
    throw ManifestError(path, std::string("expected ") + want + ", found " + TypeName(v));
  }

  static void Keys(const json &obj, const std::string &path,
                   std::initializer_list<const char *> allowed) {
    for (auto it = obj.begin(); it != obj.end(); ++it) {
      bool ok = false;
      for (const char *a : allowed) ok = ok || it.key() == a;
      if (!ok) {
        std::string list;
        for (const char *a : allowed) list += std::string(list.empty() ? "" : ", ") + a;
        throw ManifestError(path + "." + it.key(), "unknown key (expected one of " + list + ")");
      }
    }
  }

  static const json &Array(const json &v, const std::string &path) {
    if (!v.is_array()) Wrong(path, "an array", v);
    return v;
  }

  static const json &Object(const json &v, const std::string &path) {
    if (!v.is_object()) Wrong(path, "an object", v);
    return v;
  }

  std::string Text(const json &v, const std::string &path) {
    if (!v.is_string()) Wrong(path, "a string", v);
    std::string out, error;
    if (!Utf8ToCodePage(v.get<std::string>(), m_->codePage, &out, &error))
      throw ManifestError(path, error);
    if (out.find('\0') != std::string::npos)
      throw ManifestError(path, "texts cannot hold a NUL character");
    return out;
  }

  std::string OptionalText(const json &obj, const char *key, const std::string &path) {
    return obj.contains(key) ? Text(obj[key], path + "." + key) : std::string();
  }

  std::string RequiredText(const json &obj, const char *key, const std::string &path) {
    if (!obj.contains(key)) throw ManifestError(path + "." + key, "required key missing");
    return Text(obj[key], path + "." + key);
  }

  void Messages(const json &v) {
    std::vector<std::string> &out = m_->block.messages;
    if (v.is_array()) {
      for (size_t i = 0; i < v.size(); ++i)
        out.push_back(Text(v[i], "$.messages[" + std::to_string(i) + "]"));
      return;
    }
    if (!v.is_object()) Wrong("$.messages", "an object of roles or an array", v);
    m_->messagesByRole = true;
    std::vector<bool> given(MSG_COUNT, false);
    for (auto it = v.begin(); it != v.end(); ++it) {
      int role = -1;
      for (int i = 0; i < static_cast<int>(MSG_COUNT); ++i)
        if (it.key() == kMessageRoles[i]) role = i;
      if (role < 0) {
        std::string list;
        for (const char *r : kMessageRoles) list += std::string(list.empty() ? "" : ", ") + r;
        throw ManifestError("$.messages." + it.key(),
                            "unknown role (expected one of " + list + ")");
      }
      if (static_cast<size_t>(role) >= out.size()) out.resize(role + 1);
      out[role] = Text(it.value(), "$.messages." + it.key());
      given[role] = true;
    }
    for (int i = 0; i < static_cast<int>(MSG_COUNT); ++i)
      if (!given[i]) m_->missingRoles.push_back(kMessageRoles[i]);
  }

  void Files(const json &v) {
    Array(v, "$.files");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = "$.files[" + std::to_string(i) + "]";
      const json &e = Object(v[i], path);
      Keys(e, path, {"folder", "name", "flags"});
      FileItem f;
      f.folder = RequiredText(e, "folder", path);
      f.name = OptionalText(e, "name", path);
      if (e.contains("flags")) {
        const json &flags = Array(e["flags"], path + ".flags");
        for (size_t j = 0; j < flags.size(); ++j) {
          const std::string fp = path + ".flags[" + std::to_string(j) + "]";
          if (!flags[j].is_string()) Wrong(fp, "a flag name", flags[j]);
          const std::string name = flags[j].get<std::string>();
          uint8_t bit = 0;
          for (const FlagName &n : kFileFlags)
            if (name == n.name) bit = n.bit;
          if (!bit)
            throw ManifestError(fp, "unknown flag \"" + name +
                                        "\" (expected shared, font, selfRegister, checkInUse)");
          f.flags |= bit;
        }
      }
      m_->block.files.push_back(f);
    }
  }

  void Folders(const json &v) {
    Array(v, "$.folders");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = "$.folders[" + std::to_string(i) + "]";
      const json &e = Object(v[i], path);
      Keys(e, path, {"folder", "secondFolder", "name", "levels"});
      FolderItem f;
      f.folder = RequiredText(e, "folder", path);
      f.secondFolder = OptionalText(e, "secondFolder", path);
      f.name = OptionalText(e, "name", path);
      if (e.contains("levels")) {
        const json &l = e["levels"];
        if (!l.is_number_integer()) Wrong(path + ".levels", "an integer", l);
        const long long n = l.get<long long>();
        if (n < 0 || n > 255) throw ManifestError(path + ".levels", "must be 0 to 255");
        f.levels = static_cast<uint8_t>(n);
      }
      m_->block.folders.push_back(f);
    }
  }

  void Registry(const json &v) {
    Array(v, "$.registry");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = "$.registry[" + std::to_string(i) + "]";
      const json &e = Object(v[i], path);
      Keys(e, path, {"root", "key", "value"});
      RegistryItem r;
      if (!e.contains("root")) throw ManifestError(path + ".root", "required key missing");
      const json &root = e["root"];
      if (root.is_string()) {
        if (!RootFromName(root.get<std::string>(), &r.root))
          throw ManifestError(path + ".root", "unknown root \"" + root.get<std::string>() +
                                                  "\" (expected HKCR, HKCU, HKLM, HKU, HKCC)");
      } else if (root.is_number_unsigned() && root.get<unsigned long long>() <= 0xFFFFFFFFull) {
        r.root = static_cast<uint32_t>(root.get<unsigned long long>());
      } else {
        Wrong(path + ".root", "a root name or a 32-bit handle value", root);
      }
      const std::string key = RequiredText(e, "key", path);
      if (e.contains("value")) {
        const std::string value = Text(e["value"], path + ".value");
        // The pass takes the text after the last backslash as the value name.
        if (value.find('\\') != std::string::npos)
          throw ManifestError(path + ".value", "a value name with a backslash cannot be stored");
        r.path = key + "\\\\" + value;
      } else {
        r.path = key;
        std::string k, val;
        bool hasValue;
        SplitRegistryPath(key, &k, &val, &hasValue);
        if (hasValue)
          throw ManifestError(path + ".key",
                              "a doubled backslash before the last component "
                              "would name a value: use \"value\"");
      }
      m_->block.registry.push_back(r);
    }
  }

  void Patterns(const json &v) {
    Array(v, "$.patterns");
    for (size_t i = 0; i < v.size(); ++i) {
      const std::string path = "$.patterns[" + std::to_string(i) + "]";
      std::string p = Text(v[i], path);
      if (p.empty()) throw ManifestError(path, "an empty pattern would end the list");
      m_->block.patterns.push_back(p);
    }
  }

  void RunOptions(const json &v) {
    Object(v, "$.options");
    Keys(v, "$.options", {"wait", "themedControls", "preRemoval", "closingDocument"});
    Options &o = m_->block.options;
    const std::pair<const char *, uint32_t> bits[] = {{"wait", OPT_WAIT},
                                                      {"themedControls", OPT_THEMED_CONTROLS}};
    for (const auto &b : bits) {
      if (!v.contains(b.first)) continue;
      const json &f = v[b.first];
      if (!f.is_boolean()) Wrong(std::string("$.options.") + b.first, "true or false", f);
      if (f.get<bool>()) o.flags |= b.second;
    }
    o.preRemoval = OptionalText(v, "preRemoval", "$.options");
    o.closingDocument = OptionalText(v, "closingDocument", "$.options");
  }

  Manifest *m_;
};

}  // namespace

bool RootFromName(const std::string &name, uint32_t *root) {
  for (const RootNameEntry &r : kRoots) {
    if (name == r.shortName || name == r.longName) {
      *root = r.root;
      return true;
    }
  }
  return false;
}

std::string RootName(uint32_t root) {
  for (const RootNameEntry &r : kRoots)
    if (r.root == root) return r.shortName;
  return std::string();
}

void SplitRegistryPath(const std::string &path, std::string *key, std::string *value,
                       bool *hasValue) {
  const size_t last = path.rfind('\\');
  *hasValue = last != std::string::npos && last > 0 && path[last - 1] == '\\';
  if (*hasValue) {
    *key = path.substr(0, last - 1);
    *value = path.substr(last + 1);
  } else {
    *key = path;
    value->clear();
  }
}

Manifest ParseManifest(const std::string &jsonText) {
  json root;
  try {
    DuplicateKeyCheck sax;
    json::sax_parse(jsonText, &sax);
    root = std::move(sax.root);
  } catch (const json::exception &e) {
    throw ManifestError("$", std::string("malformed JSON: ") + e.what());
  }
  Manifest m;
  Parser(&m).Run(root);
  return m;
}

std::string BlockToManifestJson(const Block &block, int codePage, std::vector<std::string> *notes) {
  auto text = [codePage](const std::string &s) { return CodePageToUtf8(s, codePage); };
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
      e["name"] = text(f.name);
      ordered_json flags = ordered_json::array();
      uint8_t known = 0;
      for (const FlagName &n : kFileFlags) {
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
      SplitRegistryPath(r.path, &key, &value, &hasValue);
      e["key"] = text(key);
      if (hasValue) e["value"] = text(value);
      list.push_back(e);
    }
    out["registry"] = list;
  }
  if (!block.patterns.empty()) {
    ordered_json list = ordered_json::array();
    for (const std::string &p : block.patterns) list.push_back(text(p));
    out["patterns"] = list;
  }
  if (block.hasOptions) {
    ordered_json o;
    o["wait"] = (block.options.flags & OPT_WAIT) != 0;
    o["themedControls"] = (block.options.flags & OPT_THEMED_CONTROLS) != 0;
    if (!block.options.preRemoval.empty()) o["preRemoval"] = text(block.options.preRemoval);
    if (!block.options.closingDocument.empty())
      o["closingDocument"] = text(block.options.closingDocument);
    out["options"] = o;
  }
  return out.dump(2) + "\n";
}

}  // namespace tallowin
