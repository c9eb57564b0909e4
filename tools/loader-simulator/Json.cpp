#include "tools/loader-simulator/Json.h"

#include <stdio.h>

namespace simulator {

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[8];
          snprintf(escape, sizeof escape, "\\u%04x", byte);
          out += escape;
        } else {
          out += c;  // UTF-8 passes through as it is
        }
    }
  }
  return out + "\"";
}

void JsonObject::AddRaw(const std::string& name, const std::string& json) {
  if (!fields_.empty()) fields_ += ",";
  fields_ += JsonQuote(name) + ":" + json;
}

void JsonObject::Add(const std::string& name, const std::string& utf8Value) { AddRaw(name, JsonQuote(utf8Value)); }
void JsonObject::Add(const std::string& name, bool value) { AddRaw(name, value ? "true" : "false"); }
void JsonObject::AddNull(const std::string& name) { AddRaw(name, "null"); }

}  // namespace simulator
