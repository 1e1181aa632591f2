// JSON text to a document, in time and memory proportional to the text, with the nesting
// bounded and a key given twice in one object refused.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "fault.h"

namespace tallowin {

/// Deeper nesting than this is refused: a manifest needs four levels.
constexpr size_t kMaxJsonDepth = 32;

/// False with the JSON path of the fault in fault->where.
bool ReadJson(const std::string &text, nlohmann::json *out, Fault *fault);

}  // namespace tallowin
