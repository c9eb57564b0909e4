// A tiny JSON emitter for the simulator's --json output: one flat object of
// strings and booleans, written in the order the fields are added.
#pragma once

#include <string>

#include "tools/common/JsonString.h"

namespace simulator {

class JsonObject {
 public:
  void Add(const std::string& name, const std::string& utf8Value);
  void Add(const std::string& name, const char* utf8Value) { Add(name, std::string(utf8Value)); }
  void Add(const std::string& name, bool value);
  void AddNull(const std::string& name);
  // The object on one line: {"name":value,...}
  std::string Text() const { return "{" + fields_ + "}"; }

 private:
  void AddRaw(const std::string& name, const std::string& json);
  std::string fields_;
};

}  // namespace simulator
