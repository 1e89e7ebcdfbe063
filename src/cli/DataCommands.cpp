// The tuvactl commands on the fields of a configuration file by name: get and set on the command
// line, export and apply as one JSON object, and the comparison of a file with the board's
// configuration. Values are the texts the window's editors take; setting goes through the same
// setters as the window, so a value the window refuses is refused here with the window's message.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "cli/Commands.h"
#include "device/ReadInto.h"
#include "features/FieldValues.h"
#include "files/ConfigFileReplace.h"
#include "image/Utf8.h"

namespace tuva::cli {
namespace {

using Changes = std::vector<std::pair<std::string, std::string>>;

const Field& KnownField(const std::string& name) {
  const Field* field = FindField(name);
  if (field == nullptr) throw UsageError(UnknownFieldMessage(name));
  return *field;
}

// Every name must be a settable field before anything is set.
void RequireSettable(const Changes& changes) {
  for (const auto& [name, value] : changes) {
    if (!IsSettable(KnownField(name))) {
      throw UsageError(name + " is not settable: Save and Write seal the image");
    }
  }
}

// Sets the changes in the file, all or none; the file is replaced only when its bytes change.
int ChangeFile(const std::string& path, const Changes& changes) {
  RequireSettable(changes);
  RequireWritableFile(path);
  const ConfigImage original = OpenConfigImage(path);
  ConfigImage image = original;
  if (const auto refusal = ApplyFieldTexts(image, changes)) {
    std::cerr << "tuvactl: " << refusal->field << ": " << InTextTerms(original, *refusal)
              << std::endl;
    return kExitUsage;
  }
  if (image == original) return kExitSuccess;
  const std::string failure = ReplaceConfigFile(path, image);
  if (!failure.empty()) {
    std::cerr << "tuvactl: " << failure << std::endl;
    return kExitFailed;
  }
  return kExitSuccess;
}

// "FILE:LINE:COLUMN: " for a 0-based offset into the text.
std::string Where(const std::string& path, std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t lineStart = before.rfind('\n');
  const std::size_t column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
  return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

// The offset of the first value of the top-level object that is not a string, in text that
// parsed as a JSON object.
std::optional<std::size_t> FirstNonStringValue(std::string_view text) {
  std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  const auto skipSpace = [&] {
    while (i < text.size() && std::string_view(" \t\r\n").find(text[i]) != std::string_view::npos)
      ++i;
  };
  const auto skipString = [&] {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] == '\\') ++i;
    }
    ++i;
  };
  skipSpace();
  ++i;  // the opening brace
  while (i < text.size()) {
    skipSpace();
    if (text[i] == '}') break;
    skipString();  // the name
    skipSpace();
    ++i;  // the colon
    skipSpace();
    if (text[i] != '"') return i;
    skipString();
    skipSpace();
    if (text[i] == ',') ++i;
  }
  return std::nullopt;
}

// The text of `path`, or of standard input for "-".
std::string ReadText(const std::string& path) {
  if (path == "-") {
    std::string text(std::istreambuf_iterator<char>(std::cin), {});
    if (std::cin.bad()) throw UsageError("standard input cannot be read");
    return text;
  }
  RequireReadableFile(path);
  std::ifstream in(path, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) throw UsageError(path + ": cannot be read");
  return text;
}

// The changes of a JSON object of names and string values, in the object's order.
Changes ReadChanges(const std::string& path) {
  const std::string text = ReadText(path);
  nlohmann::ordered_json object;
  // A name given twice would silently keep only its last value.
  std::set<std::string> names;
  std::string twice;
  const auto noteName = [&](int depth, nlohmann::ordered_json::parse_event_t event,
                            nlohmann::ordered_json& parsed) {
    if (depth == 1 && event == nlohmann::ordered_json::parse_event_t::key && twice.empty() &&
        !names.insert(parsed.get<std::string>()).second) {
      twice = parsed.get<std::string>();
    }
    return true;
  };
  try {
    object = nlohmann::ordered_json::parse(text, noteName);
  } catch (const nlohmann::json::parse_error& error) {
    std::string reason = error.what();
    const std::size_t colon = reason.find(": ");
    if (colon != std::string::npos) reason.erase(0, colon + 2);
    throw UsageError(Where(path, text, error.byte > 0 ? error.byte - 1 : 0) + reason);
  }
  if (!object.is_object()) {
    const std::size_t start = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    throw UsageError(Where(path, text, start == std::string::npos ? 0 : start) +
                     "expected an object of field names and their values as strings");
  }
  if (!twice.empty()) throw UsageError(path + ": " + twice + " is given twice");
  if (const auto offset = FirstNonStringValue(text)) {
    throw UsageError(Where(path, text, *offset) +
                     "the value is not a string; every value is given as text, in quotes");
  }
  Changes changes;
  for (const auto& [name, value] : object.items()) {
    changes.emplace_back(name, value.get<std::string>());
  }
  return changes;
}

}  // namespace

int GetCommand(const Options& options) {
  const ConfigImage image = OpenConfigImage(options.file);
  std::vector<const Field*> fields;
  for (const std::string& name : options.fieldArguments) fields.push_back(&KnownField(name));
  for (const Field* field : fields) {
    std::cout << (IsSettable(*field) ? GetFieldText(image, *field) : field->Text(image)) << '\n';
  }
  return kExitSuccess;
}

int SetCommand(const Options& options) {
  Changes changes;
  for (const std::string& argument : options.fieldArguments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
      throw UsageError(argument + ": expected NAME=VALUE");
    }
    changes.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
  }
  return ChangeFile(options.file, changes);
}

int ExportCommand(const Options& options) {
  const ConfigImage image = OpenConfigImage(options.file);
  if (!options.output.empty()) RequireWritableFile(options.output);
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& [name, text] : ExportFieldTexts(image)) object[name] = text;
  const std::string text = object.dump(2) + "\n";
  if (options.output.empty() || options.output == "-") {
    std::cout << text;
    return kExitSuccess;
  }
  errno = 0;
  std::FILE* out = std::fopen(options.output.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  int error = written ? 0 : errno;
  if (out != nullptr && std::fclose(out) != 0) {
    if (written) error = errno;
    written = false;
  }
  if (!written) {
    std::cerr << "tuvactl: " << options.output << ": write error"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string())
              << std::endl;
    return kExitFailed;
  }
  return kExitSuccess;
}

int ApplyCommand(const Options& options) {
  OpenConfigImage(options.file);  // a bad file is reported before the changes
  return ChangeFile(options.file, ReadChanges(options.secondFile));
}

int CompareCommand(const Options& options) {
  const ConfigImage file = OpenConfigImage(options.file);
  // The board's data over a copy of the file, so that the sum and check bytes, which a Read
  // does not take, cannot differ.
  ConfigImage board = file;
  std::string port;
  const bool read = RunOnBoard(options, [&](BoardLink& link, Document& document) {
    const bool done = ReadConfigurationInto(link, document, board).Done();
    port = link.port.PortName();
    return done;
  });
  if (!read) return kExitUsage;
  const std::vector<const Field*> differences = DiffImages(file, board);
  if (options.json) {
    std::cout << nlohmann::json{{"file", ValidUtf8(options.file)},
                                {"board", ValidUtf8(port)},
                                {"differences",
                                 DifferenceRows(differences, file, board, "file", "board")}}
                     .dump(2)
              << std::endl;
  } else {
    PrintDifferences(differences, file, board);
  }
  return differences.empty() ? kExitSuccess : kExitFailed;
}

}  // namespace tuva::cli
