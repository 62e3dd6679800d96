// What a command line means, found without running it: every command's options in every order
// around its positional arguments, every command line the README and the man pages show, and the
// values that are refused before any file or port is opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "cli/commands.h"

namespace vn {
namespace {

// The program's command line, which parses and checks and runs nothing.
class ParseOnly {
 public:
  CLI::App& App() { return *app_; }

  // Empty when `words` (after the program's name) parse; otherwise what the program would say.
  std::string Parse(std::vector<std::string> words) {
    std::reverse(words.begin(), words.end());  // CLI11 takes them last first
    try {
      app_->parse(words);
    } catch (const CLI::Success&) {  // --help, --version
    } catch (const CLI::ParseError& error) {
      return error.what();
    }
    return {};
  }

 private:
  CommandRun run_{.exitCode = 0, .parseOnly = true};
  std::unique_ptr<CLI::App> app_ = MakeCommandLine(run_);
};

std::string Joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
  return line;
}

// A value for each option that takes one, by its name as --help prints it. An option that a
// command gains without a row here fails the test below, so that its order is tried too.
const std::map<std::string, std::string> kSampleValues = {{"FILE", "firmware.dld"},
                                                          {"--port", "COM1"},
                                                          {"--boxes", "3"},
                                                          {"--record", "line.jsonl"},
                                                          {"--stall-timeout", "60"},
                                                          {"--trace", "trace.log"},
                                                          {"--http", "8080"},
                                                          {"--http-host", "station-pc-1"},
                                                          {"--set", "app"},
                                                          {"--flash", "flash.bin"},
                                                          {"--output", "out.dld"},
                                                          {"--manufacture-ident", "MAKER"},
                                                          {"--hardware-module", "HWM"},
                                                          {"--hardware-version", "1.0"},
                                                          {"--software-module", "SWM"},
                                                          {"--software-version", "2.1"},
                                                          {"--file", "firmware.dld"},
                                                          {"--save", "copy.dld"},
                                                          {"SOURCE", "line.sqlite"},
                                                          {"--since", "2026-12-08"},
                                                          {"--until", "2026-12-09T06:00"},
                                                          {"--firmware", "firmware.dld"},
                                                          {"--operation", "verify"},
                                                          {"--html", "report.html"}};

// Each command's options, each given once with its sample value (--port twice where it may
// repeat), before, between and after its positional arguments, in both orders.
TEST(CommandLine, EveryCommandTakesItsOptionsInEveryOrder) {
  const std::vector<std::string> commands = {"download", "upload", "verify", "identify", "inspect",
                                             "extract",  "pack",   "ports",  "report"};
  for (const std::string& name : commands) {
    ParseOnly reference;
    CLI::App* command = reference.App().get_subcommand(name);
    std::vector<std::vector<std::string>> options;  // each: its words on the command line
    std::vector<std::string> positionals;
    std::map<std::string, std::vector<std::string>> expected;  // option name -> values
    for (const CLI::Option* option : command->get_options()) {
      if (option == command->get_help_ptr()) continue;
      const std::string optionName = option->get_name();
      if (option->get_expected_max() == 0) {  // a flag
        options.push_back({optionName});
        expected[optionName] = {};
        continue;
      }
      const auto sample = kSampleValues.find(optionName);
      ASSERT_NE(sample, kSampleValues.end()) << name << " " << optionName << ": no sample value";
      std::vector<std::string> values = {sample->second};
      if (optionName == "--port" && option->get_expected_max() > 1) values.push_back("/dev/ttyS4");
      expected[optionName] = values;
      for (const std::string& value : values) {
        if (!option->nonpositional()) {
          positionals.push_back(value);
        } else {
          options.push_back({optionName, value});
        }
      }
    }
    for (const bool reversed : {false, true}) {
      if (reversed) std::reverse(options.begin(), options.end());
      for (size_t before = 0; before <= options.size(); ++before) {
        std::vector<std::string> words = {name};
        for (size_t i = 0; i < options.size(); ++i) {
          if (i == before) words.insert(words.end(), positionals.begin(), positionals.end());
          words.insert(words.end(), options[i].begin(), options[i].end());
        }
        if (before == options.size()) {
          words.insert(words.end(), positionals.begin(), positionals.end());
        }
        SCOPED_TRACE(Joined(words));
        ParseOnly parser;
        ASSERT_EQ(parser.Parse(words), "");
        CLI::App* parsed = parser.App().get_subcommand(name);
        EXPECT_TRUE(parsed->parsed());
        for (const auto& [optionName, values] : expected) {
          const CLI::Option* option = parsed->get_option(optionName);
          EXPECT_EQ(option->count(), values.empty() ? 1u : values.size()) << optionName;
          if (values.empty()) continue;
          // Ports are served in the order given: the other way round, the other way round.
          std::vector<std::string> inOrder = values;
          if (reversed) std::reverse(inOrder.begin(), inOrder.end());
          EXPECT_EQ(option->results(), inOrder) << optionName;
        }
      }
      if (positionals.empty()) break;  // the order of options alone is tried once each way
    }
  }
}

// Values that can never work are refused while parsing (exit 2), before a file or a port is
// opened or a box is asked anything.
TEST(CommandLine, RefusesWhatCannotWorkBeforeOpeningAnything) {
  const std::vector<std::vector<std::string>> refused = {
      {"download", "--port", "COM1", "--stall-timeout", "nan", "f.dld"},
      {"download", "--port", "COM1", "--stall-timeout", "inf", "f.dld"},
      {"upload", "--port", "COM1", "--set", "app", "--stall-timeout", "-nan", "f.dld"},
      {"download", "--port", "COM1", "--stall-timeout", "0", "f.dld"},
      {"download", "--port", "COM1", "--boxes", "-1", "f.dld"},
      {"upload", "--port", "COM1", "--set", "app", ""},
      {"download", "--port", "COM1", ""},
      {"download", "--port", "", "f.dld"},
      {"download", "--port", "COM1", "--record", "", "f.dld"},
      // No file named "-" or after the flag that follows: both are mistakes.
      {"download", "--port", "COM1", "--record", "-", "f.dld"},
      {"download", "--port", "COM1", "--record", "--json", "f.dld"},
      {"upload", "--port", "COM1", "--set", "app", "--trace", "--json", "f.dld"},
      {"inspect", ""},
      {"extract", "f.dld", "--flash", ""},
      {"pack", "--set", "app", "--flash", "flash.bin", "-o", ""},
      {"upload", "--port", "COM1", "--port", "COM2", "--set", "app", "f.dld"},
      {"download", "--port", "COM1", "f.dld", "g.dld"},
      {"verify", "--port", "COM1", "--save", "", "f.dld"},
      {"verify", "--port", "COM1", "f.dld", "g.dld"},
      {"identify", "--port", "COM1", "--file", ""},
      {"identify", "--port", "COM1", "f.dld"},
      // A name for a page that is not served, or one with a port: the port is --http's.
      {"download", "--port", "COM1", "--http-host", "station-pc-1", "f.dld"},
      {"download", "--port", "COM1", "--http", "8080", "--http-host", "pc:8080", "f.dld"}};
  for (const auto& words : refused) {
    ParseOnly parser;
    EXPECT_NE(parser.Parse(words), "") << Joined(words);
  }
}

// ----- The documents' command lines -----

// Placeholders the documents use, by what they stand for.
const std::map<std::string, std::string> kPlaceholders = {
    {"PORT", "COM1"},
    {"FILE", "firmware.dld"},
    {"COPY", "copy.dld"},
    {"SET", "app"},
    {"N", "2"},
    {"RECORD", "line.jsonl"},
    {"SECONDS", "60"},
    {"TRACE", "line.trace"},
    {"IMAGE", "flash.bin"},
    {"TEXT", "V1"},
    {"SOURCE", "line.jsonl line.sqlite"},
    {"TIME", "2026-12-08"},
    {"FIRMWARE", "firmware.dld"},
    {"OPERATION", "all"},
    {"HTML", "report.html"},
    {"TARGET", "line.sqlite"},
    {"LINE_OPTIONS", "[--record RECORD] [--json] [--stall-timeout SECONDS] [--trace TRACE]"},
    {"IDENTITY_OPTIONS",
     "[--manufacture-ident TEXT] [--hardware-module TEXT] [--hardware-version TEXT] "
     "[--software-module TEXT] [--software-version TEXT]"}};

std::vector<std::string> Tokens(std::string text) {
  text = std::regex_replace(text, std::regex("\\*"), "");  // the man pages' bold and italics
  text = std::regex_replace(text, std::regex("line options"), "LINE_OPTIONS");
  text = std::regex_replace(text, std::regex("identity options"), "IDENTITY_OPTIONS");
  text = std::regex_replace(text, std::regex("\\.\\.\\."), "");  // the group repeats: once is one
  text = std::regex_replace(text, std::regex("([\\[\\]|])"), " $1 ");
  std::vector<std::string> tokens;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) {
    const auto placeholder = kPlaceholders.find(word);
    if (placeholder == kPlaceholders.end()) {
      tokens.push_back(word);
      continue;
    }
    for (const std::string& part : Tokens(placeholder->second)) tokens.push_back(part);
  }
  return tokens;
}

// Every command line that `tokens[at..]` up to the closing bracket (or the end) stands for: an
// optional group is there or not; a group of alternatives ("--help | --version") is one of them.
std::vector<std::vector<std::string>> Forms(const std::vector<std::string>& tokens, size_t& at) {
  std::vector<std::vector<std::string>> alternatives;
  std::vector<std::vector<std::string>> forms = {{}};
  for (; at < tokens.size() && tokens[at] != "]"; ++at) {
    const std::string& token = tokens[at];
    if (token == "|") {
      alternatives.insert(alternatives.end(), forms.begin(), forms.end());
      forms = {{}};
      continue;
    }
    std::vector<std::vector<std::string>> parts = {{token}};
    if (token == "[") {
      ++at;
      parts = Forms(tokens, at);
    }
    std::vector<std::vector<std::string>> longer;
    for (const auto& form : forms) {
      for (const auto& part : parts) {
        longer.push_back(form);
        longer.back().insert(longer.back().end(), part.begin(), part.end());
      }
    }
    forms = std::move(longer);
  }
  if (!alternatives.empty()) {
    alternatives.insert(alternatives.end(), forms.begin(), forms.end());
    return alternatives;
  }
  if (at < tokens.size()) forms.push_back({});  // inside brackets: optional
  return forms;
}

// The command lines of a README or man page: code lines, and a man page's synopsis lines, that
// begin with the program's name, their continuations (a trailing backslash, or a next line that
// begins with an optional group) joined on.
std::vector<std::string> DocumentedLines(const std::string& path) {
  std::ifstream file(path);
  EXPECT_TRUE(file) << path;
  // Four spaces, or more inside a list item.
  const std::regex codeLine("^ {4,}vespanode-cli\\b.*");
  const std::regex synopsisLine("^\\*\\*vespanode-cli\\b.*");
  const std::regex groupLine("^ {8,}\\[.*");
  std::vector<std::string> lines;
  bool inSynopsis = false;
  bool inCommand = false;  // the line before belongs to lines.back()
  bool continues = false;  // ... and ended in a backslash
  for (std::string line; std::getline(file, line);) {
    if (line.rfind("# ", 0) == 0) inSynopsis = line == "# SYNOPSIS";
    if (continues || (inCommand && std::regex_match(line, groupLine))) {
      lines.back() += " " + line;
    } else if (std::regex_match(line, codeLine) ||
               (inSynopsis && std::regex_match(line, synopsisLine))) {
      lines.push_back(line);
    } else {
      inCommand = continues = false;
      continue;
    }
    inCommand = true;
    continues = !line.empty() && line.back() == '\\';
    if (continues) lines.back().pop_back();
  }
  return lines;
}

TEST(CommandLine, EveryLineOfTheReadmeAndTheManPagesParsesAsWritten) {
  const std::string source = VESPANODE_SOURCE_DIR;
  size_t lineCount = 0;
  for (const char* document : {"README.md", "docs/man/vespanode-cli.1.md",
                               "docs/man/vespanode.1.md", "docs/man/vespanode-box.1.md"}) {
    for (const std::string& line : DocumentedLines(source + "/" + document)) {
      ++lineCount;
      std::vector<std::string> tokens = Tokens(line);
      ASSERT_EQ(tokens.front(), "vespanode-cli") << line;
      tokens.erase(tokens.begin());
      for (const std::string& token : tokens) {
        EXPECT_FALSE(std::regex_match(token, std::regex("[A-Z_]+")))
            << document << ": " << line << ": no value for the placeholder " << token;
      }
      size_t at = 0;
      for (const auto& form : Forms(tokens, at)) {
        ParseOnly parser;
        EXPECT_EQ(parser.Parse(form), "") << document << ": " << line << "\n  as: " << Joined(form);
      }
    }
  }
  // The synopses and examples of the README and of vespanode-cli(1) at least.
  EXPECT_GE(lineCount, 16u);
}

}  // namespace
}  // namespace vn
