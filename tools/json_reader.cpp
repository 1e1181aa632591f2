// Builds the document through the library's own builder, watching each key and level.
#include "json_reader.h"

#include <unordered_set>
#include <vector>

namespace tallowin {

namespace {

using json = nlohmann::json;

struct Reader : nlohmann::json_sax<json> {
  explicit Reader(json *root, Fault *fault) : dom(*root, false), fault(fault) {}

  struct Frame {
    bool isArray;
    size_t count = 0;  // elements of an array begun so far
    std::string key;   // the last key of an object
    std::unordered_set<std::string> keys;
  };
  nlohmann::detail::json_sax_dom_parser<json> dom;
  Fault *fault;
  std::vector<Frame> open;

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
    open.push_back(Frame{isArray, 0, {}, {}});
    return true;
  }
  bool Close() {
    open.pop_back();
    return true;
  }

  bool null() override { return Value(), dom.null(); }
  bool boolean(bool v) override { return Value(), dom.boolean(v); }
  bool number_integer(number_integer_t v) override { return Value(), dom.number_integer(v); }
  bool number_unsigned(number_unsigned_t v) override { return Value(), dom.number_unsigned(v); }
  bool number_float(number_float_t v, const string_t &s) override {
    return Value(), dom.number_float(v, s);
  }
  bool string(string_t &v) override { return Value(), dom.string(v); }
  bool binary(binary_t &v) override { return Value(), dom.binary(v); }
  bool start_object(std::size_t n) override { return Open(false) && dom.start_object(n); }
  bool key(string_t &k) override {
    Frame &f = open.back();
    f.key = k;
    if (!f.keys.insert(k).second) return Fail(fault, Path(), "key given twice");
    return dom.key(k);
  }
  bool end_object() override { return Close() && dom.end_object(); }
  bool start_array(std::size_t n) override { return Open(true) && dom.start_array(n); }
  bool end_array() override { return Close() && dom.end_array(); }
  bool parse_error(std::size_t, const std::string &,
                   const nlohmann::detail::exception &e) override {
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
