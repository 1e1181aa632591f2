// The manifest document: its top level, code page, messages, options and uninstall entry.
#include "manifest.h"

#include <ctype.h>
#include <stdlib.h>

#include "codepage.h"
#include "json_reader.h"
#include "manifest_reader.h"

namespace tallowin {

using namespace blockfmt;
using json = nlohmann::json;

const char *const kMessageRoles[MSG_COUNT] = {"caption",        "confirm",
                                              "finished",       "yes",
                                              "yesToAll",       "no",
                                              "noToAll",        "outOfMemory",
                                              "readFailed",     "readOnlyFile",
                                              "sharedFile",     "statusFiles",
                                              "statusFolders",  "statusEmptyFolders",
                                              "statusRegistry", "filesInUse"};

const FileFlagName kFileFlags[4] = {{"shared", FE_SHARED},
                                    {"font", FE_FONT},
                                    {"selfRegister", FE_SELFREG},
                                    {"checkInUse", FE_CHECK_IN_USE}};

uint8_t FileFlagFromName(const std::string &name) {
  for (const FileFlagName &n : kFileFlags)
    if (name == n.name) return n.bit;
  return 0;
}

namespace {

// Fills the variables of one text; false with the reason in *why.
bool FillText(const std::string &in, const Variables *vars, std::string *out, std::string *why) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    if (in.compare(i, 3, "$${") == 0) {
      *out += "${";
      i += 3;
      continue;
    }
    if (in.compare(i, 2, "${") != 0) {
      out->push_back(in[i++]);
      continue;
    }
    const size_t close = in.find('}', i + 2);
    const std::string name = in.substr(i + 2, close == std::string::npos ? 0 : close - i - 2);
    if (close == std::string::npos || !IsVariableName(name)) {
      *why = "\"${\" begins no variable (${NAME}; write $${ for the characters themselves)";
      return false;
    }
    if (!vars) {
      out->append(in, i, close + 1 - i);
    } else if (vars->count(name)) {
      *out += vars->at(name);
    } else {
      *why = "${" + name + "} is not defined: give --set " + name + "=VALUE";
      return false;
    }
    i = close + 1;
  }
  return true;
}

bool FillVariables(json *v, const std::string &path, const Variables *vars, Fault *fault) {
  if (v->is_string()) {
    std::string filled, why;
    if (!FillText(v->get_ref<const std::string &>(), vars, &filled, &why))
      return Fail(fault, path, why);
    *v = filled;
  } else if (v->is_array()) {
    for (size_t i = 0; i < v->size(); ++i)
      if (!FillVariables(&(*v)[i], path + "[" + std::to_string(i) + "]", vars, fault)) return false;
  } else if (v->is_object()) {
    for (auto it = v->begin(); it != v->end(); ++it)
      if (!FillVariables(&it.value(), path + "." + it.key(), vars, fault)) return false;
  }
  return true;
}

std::string Joined(std::initializer_list<const char *> names) {
  std::string list;
  for (const char *n : names) list += std::string(list.empty() ? "" : ", ") + n;
  return list;
}

}  // namespace

bool ManifestReader::Wrong(const std::string &path, const char *want, const json &v) {
  return Bad(path, std::string("expected ") + want + ", found " + v.type_name());
}

bool ManifestReader::Keys(const json &obj, const std::string &path,
                          std::initializer_list<const char *> allowed) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    bool ok = false;
    for (const char *a : allowed) ok = ok || it.key() == a;
    if (!ok)
      return Bad(path + "." + it.key(), "unknown key (expected one of " + Joined(allowed) + ")");
  }
  return true;
}

bool ManifestReader::Array(const json &v, const std::string &path) {
  return v.is_array() || Wrong(path, "an array", v);
}

bool ManifestReader::Object(const json &v, const std::string &path) {
  return v.is_object() || Wrong(path, "an object", v);
}

bool ManifestReader::Text(const json &v, const std::string &path, std::string *out) {
  if (!v.is_string()) return Wrong(path, "a string", v);
  std::string error;
  if (!Utf8ToCodePage(v.get<std::string>(), m_->codePage, out, &error)) return Bad(path, error);
  if (out->find('\0') != std::string::npos) return Bad(path, "texts cannot hold a NUL character");
  return true;
}

bool ManifestReader::OptionalText(const json &obj, const char *key, const std::string &path,
                                  std::string *out) {
  out->clear();
  return !obj.contains(key) || Text(obj[key], path + "." + key, out);
}

bool ManifestReader::RequiredText(const json &obj, const char *key, const std::string &path,
                                  std::string *out) {
  if (!obj.contains(key)) return Bad(path + "." + key, "required key missing");
  return Text(obj[key], path + "." + key, out);
}

bool ManifestReader::Document(const json &root) {
  if (!root.is_object()) return Bad("$", "a manifest is a JSON object");
  if (!Keys(root, "$",
            {"$schema", "codePage", "messages", "files", "folders", "registry", "patterns",
             "options", "uninstallEntry", "accept"}))
    return false;
  if (root.contains("codePage")) {
    const json &cp = root["codePage"];
    if (!cp.is_number_integer()) return Wrong("$.codePage", "an integer", cp);
    // Range first: the library would cut a larger number down to an int silently.
    const bool small = cp.is_number_unsigned()
                           ? cp.get<uint64_t>() < 100000
                           : cp.get<int64_t>() > 0 && cp.get<int64_t>() < 100000;
    m_->codePage = small ? static_cast<int>(cp.get<int64_t>()) : 0;
    if (!IsSupportedCodePage(m_->codePage))
      return Bad("$.codePage", "code page " + cp.dump() +
                                   " is not supported (supported: " + SupportedCodePages() + ")");
  }
  const std::pair<const char *, bool (ManifestReader::*)(const json &)> parts[] = {
      {"messages", &ManifestReader::Messages},   {"files", &ManifestReader::Files},
      {"folders", &ManifestReader::Folders},     {"registry", &ManifestReader::Registry},
      {"patterns", &ManifestReader::Patterns},   {"options", &ManifestReader::Options},
      {"uninstallEntry", &ManifestReader::Entry}};
  // The stub reads the options right after loading, so every block carries them.
  m_->block.hasOptions = true;
  for (const auto &part : parts)
    if (root.contains(part.first) && !(this->*part.second)(root[part.first])) return false;
  return Accepts(root, "$");
}

bool ManifestReader::Accepts(const json &obj, const std::string &owner) {
  if (!obj.contains("accept")) return true;
  const std::string path = owner + ".accept";
  const json &list = obj["accept"];
  if (!Array(list, path)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string at = path + "[" + std::to_string(i) + "]";
    const json &a = list[i];
    if (!Object(a, at) || !Keys(a, at, {"finding", "why"})) return false;
    Accept accept{owner, "", "", at};
    const std::pair<const char *, std::string *> texts[] = {{"finding", &accept.finding},
                                                            {"why", &accept.why}};
    for (const auto &t : texts) {
      if (!a.contains(t.first)) return Bad(at + "." + t.first, "required key missing");
      const json &v = a[t.first];
      if (!v.is_string()) return Wrong(at + "." + t.first, "a string", v);
      *t.second = v.get<std::string>();
      if (t.second->find_first_not_of(" \t") == std::string::npos)
        return Bad(at + "." + t.first, "must not be empty: an accepted warning says why");
    }
    m_->accepts.push_back(accept);
  }
  return true;
}

bool ManifestReader::Messages(const json &v) {
  std::vector<std::string> &out = m_->block.messages;
  if (v.is_array()) {
    out.resize(v.size());
    for (size_t i = 0; i < v.size(); ++i)
      if (!Text(v[i], "$.messages[" + std::to_string(i) + "]", &out[i])) return false;
    return true;
  }
  if (!v.is_object()) return Wrong("$.messages", "an object of roles or an array", v);
  m_->messagesByRole = true;
  std::vector<bool> given(MSG_COUNT, false);
  for (auto it = v.begin(); it != v.end(); ++it) {
    int role = -1;
    for (int i = 0; i < static_cast<int>(MSG_COUNT); ++i)
      if (it.key() == kMessageRoles[i]) role = i;
    if (role < 0) {
      std::string list;
      for (const char *r : kMessageRoles) list += std::string(list.empty() ? "" : ", ") + r;
      return Bad("$.messages." + it.key(), "unknown role (expected one of " + list + ")");
    }
    if (static_cast<size_t>(role) >= out.size()) out.resize(role + 1);
    if (!Text(it.value(), "$.messages." + it.key(), &out[role])) return false;
    given[role] = true;
  }
  for (int i = 0; i < static_cast<int>(MSG_COUNT); ++i)
    if (!given[i]) m_->missingRoles.push_back(kMessageRoles[i]);
  return true;
}

bool ManifestReader::Options(const json &v) {
  if (!Object(v, "$.options") ||
      !Keys(v, "$.options", {"wait", "themedControls", "preRemoval", "closingDocument"}))
    return false;
  blockfmt::Options &o = m_->block.options;
  const std::pair<const char *, uint32_t> bits[] = {{"wait", OPT_WAIT},
                                                    {"themedControls", OPT_THEMED_CONTROLS}};
  for (const auto &b : bits) {
    if (!v.contains(b.first)) continue;
    const json &f = v[b.first];
    if (!f.is_boolean()) return Wrong(std::string("$.options.") + b.first, "true or false", f);
    if (f.get<bool>()) o.flags |= b.second;
  }
  return OptionalText(v, "preRemoval", "$.options", &o.preRemoval) &&
         OptionalText(v, "closingDocument", "$.options", &o.closingDocument);
}

// The entry is written by the installer (see uninstall-entry); the uninstaller removes its
// key as the last registry entry, so the product stays listed until everything else is gone.
bool ManifestReader::Entry(const json &v) {
  const std::string path = "$.uninstallEntry";
  UninstallEntry &e = m_->uninstallEntry;
  if (!Object(v, path) ||
      !Keys(v, path,
            {"id", "displayName", "displayVersion", "publisher", "displayIcon", "helpLink",
             "urlInfoAbout", "comments", "readme", "installDate", "estimatedSizeKB", "scope"}))
    return false;
  // Texts stay UTF-8 for the .reg file, but must also fit the code page.
  const std::pair<const char *, std::string *> texts[] = {{"id", &e.id},
                                                          {"displayName", &e.displayName},
                                                          {"displayVersion", &e.displayVersion},
                                                          {"publisher", &e.publisher},
                                                          {"displayIcon", &e.displayIcon},
                                                          {"helpLink", &e.helpLink},
                                                          {"urlInfoAbout", &e.urlInfoAbout},
                                                          {"comments", &e.comments},
                                                          {"readme", &e.readme},
                                                          {"installDate", &e.installDate}};
  std::string id;
  for (const auto &t : texts) {
    const bool optional = &t - texts >= 4;  // all but the first four
    std::string converted;
    if (optional ? !OptionalText(v, t.first, path, &converted)
                 : !RequiredText(v, t.first, path, &converted))
      return false;
    if (v.contains(t.first)) *t.second = v[t.first].get<std::string>();
    if (t.second == &e.id) id = converted;
    for (char c : converted)
      if (static_cast<unsigned char>(c) < 0x20)
        return Bad(path + "." + t.first, "texts cannot hold control characters");
  }
  // On the UTF-8 text, where every backslash byte is a backslash.
  if (e.id.empty() || e.id.find('\\') != std::string::npos || e.id == "." || e.id == "..")
    return Bad(path + ".id", "must be one key name: not empty, no backslash");
  // As the list of programs reads it: YYYYMMDD.
  const std::string &d = e.installDate;
  const int month = d.size() == 8 ? std::atoi(d.substr(4, 2).c_str()) : 0,
            day = d.size() == 8 ? std::atoi(d.substr(6, 2).c_str()) : 0;
  if (v.contains("installDate") && (d.find_first_not_of("0123456789") != std::string::npos ||
                                    month < 1 || month > 12 || day < 1 || day > 31))
    return Bad(path + ".installDate", "expected a date as YYYYMMDD");
  if (v.contains("estimatedSizeKB")) {
    const json &s = v["estimatedSizeKB"];
    if (!s.is_number_unsigned() || s.get<uint64_t>() > 0xFFFFFFFFull)
      return Wrong(path + ".estimatedSizeKB", "a 32-bit unsigned integer", s);
    e.estimatedSizeKB = static_cast<uint32_t>(s.get<uint64_t>());
  }
  if (v.contains("scope")) {
    const json &s = v["scope"];
    if (!s.is_string() || (s != "machine" && s != "user"))
      return Bad(path + ".scope", "expected \"machine\" or \"user\"");
    e.perUser = s == "user";
  }
  e.given = true;
  m_->block.registry.push_back(
      {e.perUser ? ROOT_HKCU : ROOT_HKLM, std::string(kUninstallKey) + "\\" + id});
  return true;
}

bool RootFromName(const std::string &name, uint32_t *root) {
  for (const blockfmt::RootName &r : blockfmt::kRootNames) {
    if (name == r.shortName || name == r.longName) {
      *root = r.root;
      return true;
    }
  }
  return false;
}

std::string RootName(uint32_t root) {
  for (const blockfmt::RootName &r : blockfmt::kRootNames)
    if (r.root == root) return r.shortName;
  return std::string();
}

std::string RootLongName(uint32_t root) {
  for (const blockfmt::RootName &r : blockfmt::kRootNames)
    if (r.root == root) return r.longName;
  return std::string();
}

void SplitRegistryPath(const std::string &path, int codePage, std::string *key, std::string *value,
                       bool *hasValue) {
  const size_t last = FindLastInText(path, "\\", codePage);
  *hasValue =
      last != std::string::npos && last > 0 && FindLastInText(path, "\\\\", codePage) == last - 1;
  if (*hasValue) {
    *key = path.substr(0, last - 1);
    *value = path.substr(last + 1);
  } else {
    *key = path;
    value->clear();
  }
}

bool IsVariableName(const std::string &name) {
  if (name.empty() || isdigit(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string EscapeVariables(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "${") == 0) out += '$';
    out += text[i];
  }
  return out;
}

bool ParseManifest(const std::string &jsonText, Manifest *out, tallowin::Fault *fault,
                   const Variables *vars) {
  json root;
  if (!ReadJson(jsonText, &root, fault) || !FillVariables(&root, "$", vars, fault)) return false;
  Manifest m;
  if (!ManifestReader(&m, fault).Document(root)) return false;
  *out = std::move(m);
  return true;
}

}  // namespace tallowin
