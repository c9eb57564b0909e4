#include "tools/loader-simulator/Json.h"

namespace simulator {

void JsonObject::AddRaw(const std::string& name, const std::string& json) {
  if (!fields_.empty()) fields_ += ",";
  fields_ += tooltext::JsonQuoted(name) + ":" + json;
}

void JsonObject::Add(const std::string& name, const std::string& utf8Value) {
  AddRaw(name, tooltext::JsonQuoted(utf8Value));
}
void JsonObject::Add(const std::string& name, bool value) { AddRaw(name, value ? "true" : "false"); }
void JsonObject::AddNull(const std::string& name) { AddRaw(name, "null"); }

}  // namespace simulator
