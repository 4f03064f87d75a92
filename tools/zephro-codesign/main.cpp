// zephro-codesign: makes the keys, certificates and signatures the helper checks
// its clients against, and checks them the way the helper does.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/codesign/Code.h"
#include "platform/codesign/Keys.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Signer.h"
#include "platform/codesign/TrustAnchor.h"
#include "platform/update/ArchiveSigner.h"
#include "platform/update/Base64.h"

namespace {

using namespace zephro::codesign;

constexpr const char* kUsage =
    "usage:\n"
    "  zephro-codesign keygen SECRET_KEY_OUT PUBLIC_KEY_OUT\n"
    "  zephro-codesign certify --anchor-key ANCHOR_SECRET --team-id TEAM --team-key TEAM_PUBLIC "
    "CERTIFICATE_OUT\n"
    "  zephro-codesign sign --key TEAM_SECRET --certificate CERTIFICATE --identifier ID FILE...\n"
    "  zephro-codesign verify [--anchor ANCHOR_PUBLIC] [--requirement TEXT] FILE...\n"
    "  zephro-codesign generate-update-keys SECRET_KEY_OUT PUBLIC_KEY_OUT\n"
    "  zephro-codesign sign-update ARCHIVE --key UPDATE_SECRET\n"
    "verify checks that each FILE's signature is intact and satisfies the requirement\n"
    "(default: anchor apple generic) against the anchor (default: the installed one).\n"
    "generate-update-keys prints the public key in base64, the value of SUPublicEDKey.\n"
    "sign-update prints the enclosure attributes of ARCHIVE for the update feed.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Options of the form --name VALUE, and the remaining positional arguments.
struct Arguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;

  Arguments(int argc, char** argv, const std::vector<std::string>& known) {
    for (int i = 2; i < argc; ++i) {
      const std::string argument = argv[i];
      if (argument.rfind("--", 0) != 0) {
        positional.push_back(argument);
        continue;
      }
      const std::string name = argument.substr(2);
      if (std::find(known.begin(), known.end(), name) == known.end()) {
        throw UsageError("unknown option " + argument);
      }
      if (i + 1 >= argc) throw UsageError("option " + argument + " needs a value");
      options[name] = argv[++i];
    }
  }

  [[nodiscard]] std::string required(const std::string& name) const {
    const auto found = options.find(name);
    if (found == options.end()) throw UsageError("missing --" + name);
    return found->second;
  }
  [[nodiscard]] std::optional<std::string> optional(const std::string& name) const {
    const auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
  }
  void expectPositional(std::size_t minimum, std::size_t maximum) const {
    if (positional.size() < minimum || positional.size() > maximum) {
      throw UsageError("wrong number of arguments");
    }
  }
};

int keygen(const Arguments& args) {
  args.expectPositional(2, 2);
  const KeyPair pair = KeyPair::generate();
  writeSecretKeyFile(args.positional[0], pair.secret);
  writePublicKeyFile(args.positional[1], pair.publicKey);
  return 0;
}

int certify(const Arguments& args) {
  args.expectPositional(1, 1);
  const SecretKey anchor = readSecretKeyFile(args.required("anchor-key"));
  const PublicKey team = readPublicKeyFile(args.required("team-key"));
  writeCertificateFile(args.positional[0],
                       TeamCertificate::issue(anchor, args.required("team-id"), team));
  return 0;
}

int sign(const Arguments& args) {
  args.expectPositional(1, SIZE_MAX);
  const SecretKey key = readSecretKeyFile(args.required("key"));
  const TeamCertificate certificate = readCertificateFile(args.required("certificate"));
  const std::string identifier = args.required("identifier");
  for (const auto& file : args.positional) signFile(file, identifier, key, certificate);
  return 0;
}

int verify(const Arguments& args) {
  args.expectPositional(1, SIZE_MAX);
  const std::string text = args.optional("requirement").value_or("anchor apple generic");
  std::unique_ptr<Requirement> requirement;
  if (requirementCreateWithString(text, requirement) != errSecSuccess) {
    throw UsageError("invalid requirement: " + text);
  }
  const TrustAnchor anchor =
      TrustAnchor::fromFile(args.optional("anchor").value_or(defaultAnchorKeyPath().string()));
  int result = 0;
  for (const auto& file : args.positional) {
    std::unique_ptr<Code> code;
    OSStatus status = staticCodeCreateWithPath(file, code);
    SigningInformation information;
    if (status == errSecSuccess) status = checkValidity(*code, *requirement, anchor);
    if (status == errSecSuccess) status = copySigningInformation(*code, information);
    if (status == errSecSuccess) {
      std::printf("%s: valid (identifier %s, team %s)\n", file.c_str(),
                  information.identifier.c_str(), information.teamID.c_str());
    } else {
      std::printf("%s: invalid: %s (status %d)\n", file.c_str(),
                  std::string(statusDescription(status)).c_str(), status);
      result = 1;
    }
  }
  return result;
}

// The same key files as keygen; the feed's side wants the public key as base64.
int generateUpdateKeys(const Arguments& args) {
  args.expectPositional(2, 2);
  const KeyPair pair = KeyPair::generate();
  writeSecretKeyFile(args.positional[0], pair.secret);
  writePublicKeyFile(args.positional[1], pair.publicKey);
  std::printf("%s\n", zephro::update::encodeBase64(pair.publicKey).c_str());
  return 0;
}

int signUpdate(const Arguments& args) {
  args.expectPositional(1, 1);
  const SecretKey key = readSecretKeyFile(args.required("key"));
  const auto signedArchive = zephro::update::signArchive(args.positional[0], key);
  std::printf("%s\n", signedArchive.enclosureAttributes().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "keygen") return keygen(Arguments(argc, argv, {}));
    if (command == "certify") {
      return certify(Arguments(argc, argv, {"anchor-key", "team-id", "team-key"}));
    }
    if (command == "sign") return sign(Arguments(argc, argv, {"key", "certificate", "identifier"}));
    if (command == "verify") return verify(Arguments(argc, argv, {"anchor", "requirement"}));
    if (command == "generate-update-keys") return generateUpdateKeys(Arguments(argc, argv, {}));
    if (command == "sign-update") return signUpdate(Arguments(argc, argv, {"key"}));
    if (command == "--help" || command == "help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    throw UsageError(command.empty() ? "no command" : "unknown command " + command);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "zephro-codesign: %s\n%s", error.what(), kUsage);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zephro-codesign: %s\n", error.what());
    return 1;
  }
}
