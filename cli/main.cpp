// brisal-cli: the launcher's engine for operators, automation and benchmarks. It runs
// the same check, verification and update code as the window, against the same
// configuration, data folder, log and state file.
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "core/text.h"
#include "update/self_update.h"

namespace {

using brisal::Message;
using brisal::MessageCode;
using brisal::cli::Complain;
using brisal::cli::EngineCommand;
using Args = std::vector<std::string>;

void PrintUsage() {
  Complain(Message(MessageCode::kCliUsage));
}

// Said of an option the command does not know, with the usage after it.
int UnknownOption(const std::string& arg) {
  Complain(Message(MessageCode::kCliUnknownOption, arg));
  PrintUsage();
  return brisal::cli::kExitUsage;
}

// Takes the value of an option that needs one; false when it is missing.
bool TakeValue(const Args& argv, std::size_t& i, std::string& value) {
  if (i + 1 >= argv.size()) {
    Complain(Message(MessageCode::kCliMissingValue, argv[i]));
    return false;
  }
  value = argv[++i];
  return true;
}

int ParseEngine(EngineCommand command, const Args& argv) {
  brisal::cli::EngineOptions options;
  options.command = command;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    if (arg == "--config") {
      if (!TakeValue(argv, i, options.config_path)) return brisal::cli::kExitUsage;
    } else if (arg == "--install-dir") {
      if (!TakeValue(argv, i, options.install_dir)) return brisal::cli::kExitUsage;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--limit-rate" && command == EngineCommand::kUpdate) {
      std::string rate;
      if (!TakeValue(argv, i, rate)) return brisal::cli::kExitUsage;
      if (!brisal::ParseByteCount(rate, options.limit_rate)) {
        Complain(Wrap(MessageCode::kCliBadValue, arg, Message(MessageCode::kVerbatim, rate)));
        return brisal::cli::kExitUsage;
      }
      options.has_limit_rate = true;
    } else {
      return UnknownOption(arg);
    }
  }
  return brisal::cli::RunEngineCommand(options);
}

// A whole decimal number up to `max`; false (with the reason printed) otherwise.
bool TakeNumber(const Args& argv, std::size_t& i, std::uint64_t max, std::uint64_t& number) {
  std::string text;
  if (!TakeValue(argv, i, text)) return false;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || stop != end || number > max) {
    Complain(Wrap(MessageCode::kCliBadValue, argv[i - 1], Message(MessageCode::kVerbatim, text)));
    return false;
  }
  return true;
}

int ParseManifest(const Args& argv) {
  brisal::cli::ManifestOptions options;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    std::uint64_t number = 0;
    if (arg == "--revision") {
      if (!TakeValue(argv, i, options.revision)) return brisal::cli::kExitUsage;
      options.has_revision = true;
    } else if (arg == "--output") {
      if (!TakeValue(argv, i, options.output)) return brisal::cli::kExitUsage;
    } else if (arg == "--sign") {
      if (!TakeValue(argv, i, options.sign_key)) return brisal::cli::kExitUsage;
    } else if (arg == "--serial") {
      if (!TakeNumber(argv, i, UINT64_MAX, options.serial)) return brisal::cli::kExitUsage;
      options.has_serial = true;
    } else if (arg == "--expires") {
      // Ten years at most: further than that is no expiry at all.
      if (!TakeNumber(argv, i, 3660, number) || number == 0) return brisal::cli::kExitUsage;
      options.expires_days = static_cast<std::uint32_t>(number);
      options.has_expires = true;
    } else if (arg == "--chunk-kib") {
      if (!TakeNumber(argv, i, 1024, number) || number < 4 || !std::has_single_bit(number)) {
        if (number != 0) {
          Complain(Wrap(MessageCode::kCliBadValue, arg,
                        Message(MessageCode::kVerbatim, std::to_string(number))));
        }
        return brisal::cli::kExitUsage;
      }
      options.average_chunk = static_cast<std::uint32_t>(number * 1024);
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return UnknownOption(arg);
    } else if (options.folder.empty()) {
      options.folder = arg;
    } else {
      PrintUsage();
      return brisal::cli::kExitUsage;
    }
  }
  if (options.folder.empty()) {
    PrintUsage();
    return brisal::cli::kExitUsage;
  }
  // The signature goes beside the manifest file; standard output has no "beside".
  if (!options.sign_key.empty() && options.output.empty()) {
    Complain(Message(MessageCode::kCliSignNeedsOutput));
    return brisal::cli::kExitUsage;
  }
  // A signed manifest that never expires can be replayed for ever; the launcher refuses it.
  if (!options.sign_key.empty() && !options.has_expires) {
    Complain(Message(MessageCode::kCliSignNeedsExpires));
    return brisal::cli::kExitUsage;
  }
  // Unsigned, the launcher ignores both fields: asking for them is asking for a signature.
  if ((options.has_serial || options.has_expires) && options.sign_key.empty()) {
    Complain(Message(MessageCode::kCliGuardsNeedSign));
    return brisal::cli::kExitUsage;
  }
  return brisal::cli::RunManifestCommand(options);
}

int ParsePublishLauncher(const Args& argv) {
  brisal::cli::PublishLauncherOptions options;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    if (arg == "--version") {
      if (!TakeValue(argv, i, options.version)) return brisal::cli::kExitUsage;
    } else if (arg == "--output") {
      if (!TakeValue(argv, i, options.output)) return brisal::cli::kExitUsage;
    } else if (arg == "--sign") {
      if (!TakeValue(argv, i, options.sign_key)) return brisal::cli::kExitUsage;
    } else if (arg == "--platform") {
      brisal::cli::PublishLauncherOptions::Platform platform;
      if (!TakeValue(argv, i, platform.name) || !TakeValue(argv, i, platform.url) ||
          !TakeValue(argv, i, platform.file)) {
        return brisal::cli::kExitUsage;
      }
      options.platforms.push_back(std::move(platform));
    } else {
      return UnknownOption(arg);
    }
  }
  if (options.version.empty() || options.output.empty() || options.platforms.empty()) {
    Complain(Message(MessageCode::kCliPublishNeedsPlatform));
    return brisal::cli::kExitUsage;
  }
  return brisal::cli::RunPublishLauncherCommand(options);
}

int ParseSelfUpdate(const Args& argv) {
  brisal::cli::SelfUpdateOptions options;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") {
      options.check_only = true;
    } else if (arg == "--config") {
      if (!TakeValue(argv, i, options.config_path)) return brisal::cli::kExitUsage;
    } else {
      return UnknownOption(arg);
    }
  }
  return brisal::cli::RunSelfUpdateCommand(options);
}

}  // namespace

int main(int argc, char** argv) {
  brisal::cli::PrepareConsole();
  const Args args = brisal::cli::Utf8Arguments(argc, argv);
  if (args.size() < 2) {
    PrintUsage();
    return brisal::cli::kExitUsage;
  }
  const std::string& command = args[1];
  if (command == "check") return ParseEngine(EngineCommand::kCheck, args);
  if (command == "verify") return ParseEngine(EngineCommand::kVerify, args);
  if (command == "update") return ParseEngine(EngineCommand::kUpdate, args);
  if (command == "manifest") return ParseManifest(args);
  if (command == "publish-launcher") return ParsePublishLauncher(args);
  if (command == "self-update") return ParseSelfUpdate(args);
  if (command == "--version" && args.size() == 2) {
    std::printf("brisal-cli %s\n", brisal::ThisBuildsVersion().c_str());
    return std::fflush(stdout) == 0 ? 0 : brisal::cli::kExitFailed;
  }
  if (command == "keygen" && args.size() == 3 && args[2].rfind("--", 0) != 0) {
    return brisal::cli::RunKeygenCommand(args[2]);
  }
  PrintUsage();
  return brisal::cli::kExitUsage;
}
