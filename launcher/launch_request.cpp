#include "launcher/launch_request.h"

#include <regex>

namespace {

// The bytes EscapeArgument marks, as a character set.
constexpr char kEscapedCharacters[] = "\\\"/\n\r\t";

}  // namespace

std::string EscapeArgument(const std::string& argument) {
  // Document paths without any of the marked characters are common (and, being the whole job of
  // most runs, are worth not compiling an expression for).
  if (argument.find_first_of(kEscapedCharacters) == std::string::npos) {
    return argument;
  }
  static const std::regex kEscaped(R"(\\|"|/|\n|\r|\t)", std::regex::ECMAScript);
  return std::regex_replace(argument, kEscaped, "\\$&");
}

std::string BuildRequestBody(const std::vector<std::string>& arguments) {
  std::string body = "[";
  for (const std::string& argument : arguments) {
    if (body.size() > 1) {
      body += ',';
    }
    body += '"';
    body += EscapeArgument(argument);
    body += '"';
  }
  body += ']';
  return body;
}
