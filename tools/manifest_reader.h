// The manifest reader shared by the files that read its parts: the document and its
// messages, options and uninstall entry (manifest.cpp), the four lists (manifest_lists.cpp).
#pragma once
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>

#include "manifest.h"

namespace tallowin {

class ManifestReader {
 public:
  using json = nlohmann::json;
  ManifestReader(Manifest *m, Fault *fault) : m_(m), fault_(fault) {}

  bool Document(const json &root);

 private:
  bool Messages(const json &v);
  bool Options(const json &v);
  bool Entry(const json &v);
  bool Files(const json &v);
  bool Folders(const json &v);
  bool Registry(const json &v);
  bool Patterns(const json &v);
  /// The "accept" list of the object at `owner`, when it has one.
  bool Accepts(const json &obj, const std::string &owner);

  bool Bad(const std::string &path, const std::string &what) { return Fail(fault_, path, what); }
  bool Wrong(const std::string &path, const char *want, const json &v);
  bool Keys(const json &obj, const std::string &path, std::initializer_list<const char *> allowed);
  bool Array(const json &v, const std::string &path);
  bool Object(const json &v, const std::string &path);
  /// A text in the code page.
  bool Text(const json &v, const std::string &path, std::string *out);
  bool OptionalText(const json &obj, const char *key, const std::string &path, std::string *out);
  bool RequiredText(const json &obj, const char *key, const std::string &path, std::string *out);

  Manifest *m_;
  Fault *fault_;
};

}  // namespace tallowin
