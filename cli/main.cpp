// brisal-cli: the launcher's engine for operators, automation and benchmarks. It runs
// the same check, verification and update code as the window, against the same
// configuration, data folder, log and state file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"

namespace {

using brisal::cli::EngineCommand;
using Args = std::vector<std::string>;

void PrintUsage() {
  std::fputs(
      "uso:\n"
      "  brisal-cli check    [--config FILE] [--install-dir DIR] [--json]\n"
      "  brisal-cli verify   [--config FILE] [--install-dir DIR] [--json]\n"
      "  brisal-cli update   [--config FILE] [--install-dir DIR] [--json]\n"
      "  brisal-cli manifest DIR [--revision TEXT] [--output FILE]\n",
      stderr);
}

// Takes the value of an option that needs one; false when it is missing.
bool TakeValue(const Args& argv, std::size_t& i, std::string& value) {
  if (i + 1 >= argv.size()) {
    std::fprintf(stderr, "falta el valor de %s\n", argv[i].c_str());
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
    } else {
      std::fprintf(stderr, "opción desconocida: %s\n", arg.c_str());
      PrintUsage();
      return brisal::cli::kExitUsage;
    }
  }
  return brisal::cli::RunEngineCommand(options);
}

int ParseManifest(const Args& argv) {
  brisal::cli::ManifestOptions options;
  for (std::size_t i = 2; i < argv.size(); ++i) {
    const std::string arg = argv[i];
    if (arg == "--revision") {
      if (!TakeValue(argv, i, options.revision)) return brisal::cli::kExitUsage;
      options.has_revision = true;
    } else if (arg == "--output") {
      if (!TakeValue(argv, i, options.output)) return brisal::cli::kExitUsage;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      std::fprintf(stderr, "opción desconocida: %s\n", arg.c_str());
      PrintUsage();
      return brisal::cli::kExitUsage;
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
  return brisal::cli::RunManifestCommand(options);
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
  PrintUsage();
  return brisal::cli::kExitUsage;
}
