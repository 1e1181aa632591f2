// The one way the tool reports a failure: what it concerns and why. Every operation that
// can fail returns false and fills a Fault; nothing is thrown across an interface.
#pragma once
#include <string>

namespace tallowin {

struct Fault {
  std::string where;  // a JSON path in the manifest ("$.files[2].name"), or "" for the whole input
  std::string what;

  /// "where: what", or "what" alone.
  std::string Text() const { return where.empty() ? what : where + ": " + what; }
};

/// Fills *fault and returns false, so a failing step reads `return Fail(fault, ...)`.
inline bool Fail(Fault *fault, std::string where, std::string what) {
  fault->where = std::move(where);
  fault->what = std::move(what);
  return false;
}

}  // namespace tallowin
