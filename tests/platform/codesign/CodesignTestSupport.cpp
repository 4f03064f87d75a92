#include "CodesignTestSupport.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zephro::codesign::testing {

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Requirement requirement(const std::string& text) {
  std::unique_ptr<Requirement> parsed;
  if (requirementCreateWithString(text, parsed) != errSecSuccess) {
    throw std::invalid_argument("bad requirement in test: " + text);
  }
  return *parsed;
}

OSStatus checkFile(const std::filesystem::path& path, const std::string& requirementText,
                   const TrustAnchor& anchor) {
  std::unique_ptr<Code> code;
  if (const OSStatus status = staticCodeCreateWithPath(path, code); status != errSecSuccess) {
    return status;
  }
  return checkValidity(*code, requirement(requirementText), anchor);
}

RunResult run(const std::vector<std::string>& argv) {
  std::string command;
  for (const auto& argument : argv) {
    command += "'";
    for (const char c : argument) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "' ";
  }
  command += "2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  RunResult result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace zephro::codesign::testing
