// Builds the document from the parser's events, watching each key and level.
#include "json_reader.h"

#include <unordered_set>
#include <vector>

namespace tallowin {

namespace {

using json = nlohmann::json;

struct Reader : nlohmann::json_sax<json> {
  explicit Reader(json *root, Fault *fault) : root(root), fault(fault) {}

  struct Frame {
    bool isArray;
    size_t count = 0;  // elements of an array begun so far
    std::string key;   // the last key of an object
    std::unordered_set<std::string> keys;
  };
  json *root;
  Fault *fault;
  std::vector<Frame> open;
  std::vector<json *> built;  // the open arrays and objects, the innermost last

  // Places a value in the innermost open array or object (or as the root); its address.
  json *Put(json value) {
    if (built.empty()) return &(*root = std::move(value));
    json &into = *built.back();
    if (into.is_array()) {
      into.push_back(std::move(value));
      return &into.back();
    }
    return &(into[open.back().key] = std::move(value));
  }
  bool Add(json value) {
    Value();
    Put(std::move(value));
    return true;
  }

  // The path is built only for a fault, so a deep document costs no more than its text.
  std::string Path() const {
    std::string p = "$";
    for (const Frame &f : open)
      p += f.isArray ? "[" + std::to_string(f.count - 1) + "]" : "." + f.key;
    return p;
  }
  void Value() {
    if (!open.empty() && open.back().isArray) ++open.back().count;
  }
  bool Open(bool isArray) {
    Value();
    if (open.size() >= kMaxJsonDepth)
      return Fail(fault, Path(), "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    built.push_back(Put(isArray ? json::array() : json::object()));
    open.push_back(Frame{isArray, 0, {}, {}});
    return true;
  }
  bool Close() {
    open.pop_back();
    built.pop_back();
    return true;
  }

  bool null() override { return Add(nullptr); }
  bool boolean(bool v) override { return Add(v); }
  bool number_integer(number_integer_t v) override { return Add(v); }
  bool number_unsigned(number_unsigned_t v) override { return Add(v); }
  bool number_float(number_float_t v, const string_t &) override { return Add(v); }
  bool string(string_t &v) override { return Add(std::move(v)); }
  bool binary(binary_t &v) override { return Add(json::binary(std::move(v))); }
  bool start_object(std::size_t) override { return Open(false); }
  bool key(string_t &k) override {
    Frame &f = open.back();
    f.key = k;
    if (!f.keys.insert(k).second) return Fail(fault, Path(), "key given twice");
    return true;
  }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string &, const json::exception &e) override {
    return Fail(fault, "$", std::string("malformed JSON: ") + e.what());
  }
};

}  // namespace

bool ReadJson(const std::string &text, json *out, Fault *fault) {
  *fault = Fault();
  json root;
  Reader reader(&root, fault);
  if (!json::sax_parse(text, &reader) || !fault->what.empty()) {
    if (fault->what.empty()) *fault = Fault{"$", "malformed JSON"};
    return false;
  }
  *out = std::move(root);
  return true;
}

}  // namespace tallowin
