#include "tools/loader-simulator/SimulationReport.h"

#include "tools/loader-simulator/CodePage1252.h"
#include "tools/loader-simulator/Json.h"

namespace simulator {
namespace {

constexpr size_t kLabelWidth = 19;

// "Label:" padded to the value column, then the value; the value's further
// lines are indented to the same column.
std::string Line(const std::string& label, const std::string& utf8Value) {
  std::string out = label + ":";
  out.append(kLabelWidth > out.size() ? kLabelWidth - out.size() : 1, ' ');
  for (size_t i = 0; i < utf8Value.size(); ++i) {
    if (utf8Value[i] == '\r' && i + 1 < utf8Value.size() && utf8Value[i + 1] == '\n') continue;
    out += utf8Value[i];
    if (utf8Value[i] == '\n') out.append(kLabelWidth, ' ');
  }
  return out + "\n";
}

std::string Utf8(const std::string& bytes) { return CodePage1252ToUtf8(bytes); }

const char* OutcomeName(SimulationResult::Outcome outcome) {
  switch (outcome) {
    case SimulationResult::Outcome::Launch: return "launch";
    case SimulationResult::Outcome::Fatal: return "fatal";
    case SimulationResult::Outcome::Message: return "message";
    case SimulationResult::Outcome::Ended: break;
  }
  return "ended";
}

}  // namespace

std::string FormatReport(const SimulatorOptions& options, const SimulationResult& result) {
  std::string commandLine = "\"" + options.loaderPath + "\"";
  if (options.arguments) commandLine += " " + *options.arguments;
  std::string out = Line("Windows", DescribeWindows(options));
  out += Line("Loader started as", Utf8(commandLine));
  out += "\n";
  switch (result.outcome) {
    case SimulationResult::Outcome::Launch:
      out += Line("Outcome", "launch: the loader starts the setup program");
      out += Line("Payload", result.payloadBits == 0 ? "unknown (the copy matches neither build)"
                                                     : std::to_string(result.payloadBits) + "-bit");
      out += Line("Temporary copy", Utf8(result.temporaryCopy));
      if (result.shellRoad) {
        out += Line("Road", "shell (ShellExecuteExA)");
        out += Line("Verb", Utf8(result.verb));
        out += Line("Parameters", Utf8(result.parameters));
      } else {
        out += Line("Road", "direct (CreateProcessA)");
        out += Line("Command line", Utf8(result.commandLine));
        out += Line("Current directory", Utf8(result.currentDirectory));
      }
      out += Line("Wait", result.waits ? (result.deletesCopy ? "yes: waits for the setup program, then deletes the copy"
                                                             : "yes: waits for the setup program")
                                       : "no: the package is detached; the copy stays");
      break;
    case SimulationResult::Outcome::Fatal:
    case SimulationResult::Outcome::Message:
      out += Line("Outcome", result.outcome == SimulationResult::Outcome::Fatal
                                 ? "fatal: the loader's own error " + result.errorName
                                 : std::string("message: the package refuses to run, with its own text"));
      out += Line("Caption", Utf8(result.caption));
      out += Line("Text", Utf8(result.text));
      break;
    case SimulationResult::Outcome::Ended:
      out += Line("Outcome", "ended: no message and no start");
      break;
  }
  for (const std::string& note : result.notes) out += Line("Note", note);
  return out;
}

std::string FormatJsonReport(const SimulationResult& result) {
  JsonObject json;
  json.Add("outcome", OutcomeName(result.outcome));
  switch (result.outcome) {
    case SimulationResult::Outcome::Launch:
      if (result.payloadBits == 0) {
        json.AddNull("payload");
      } else {
        json.Add("payload", std::to_string(result.payloadBits));
      }
      json.Add("temporary_copy", Utf8(result.temporaryCopy));
      json.Add("road", result.shellRoad ? "shell" : "direct");
      if (result.shellRoad) {
        json.Add("verb", Utf8(result.verb));
        json.Add("parameters", Utf8(result.parameters));
      } else {
        json.Add("command_line", Utf8(result.commandLine));
        json.Add("current_directory", Utf8(result.currentDirectory));
      }
      json.Add("wait", result.waits);
      break;
    case SimulationResult::Outcome::Fatal:
      json.Add("error", result.errorName);
      [[fallthrough]];
    case SimulationResult::Outcome::Message:
      json.Add("text", Utf8(result.text));
      json.Add("caption", Utf8(result.caption));
      break;
    case SimulationResult::Outcome::Ended:
      break;
  }
  return json.Text() + "\n";
}

}  // namespace simulator
