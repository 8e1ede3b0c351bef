#include "objtool/objtool.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "image/image_builder.h"
#include "image/validation.h"
#include "objtool/description.h"
#include "objtool/inspect.h"
#include "platform/file_names.h"

namespace downloader::objtool {

namespace {

constexpr char kUsage[] =
    "usage: objtool make DESC.json -o OUT.obj\n"
    "       objtool info FILE [--json]\n"
    "       objtool embed LOADER IMAGE -o OUT\n"
    "       objtool extract LOADER -o IMAGE\n"
    "       objtool --help | --version\n"
    "\n"
    "make     builds an object code image from a JSON description\n"
    "info     shows the image of an object file or a self-contained loader\n"
    "embed    writes a copy of LOADER with IMAGE appended (a self-contained loader)\n"
    "extract  writes the image a self-contained loader carries\n"
    "\n"
    "Exit codes: 0 success, 1 invalid image or input, 2 usage.\n";

/// A command line taken apart: the words, the -o file, the --json switch.
struct Arguments {
  std::vector<std::string> words;
  std::optional<std::string> output;
  bool json = false;
};

/// Thrown for a wrong command line.
struct UsageError {
  std::string text;
};

/// Thrown for an invalid image, description or file; the text names it.
struct InputError {
  std::string text;
};

Arguments Split(const std::vector<std::string>& args) {
  Arguments split;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 >= args.size()) throw UsageError{"-o needs a file name"};
      if (split.output) throw UsageError{"-o given twice"};
      split.output = args[++i];
    } else if (args[i] == "--json") {
      split.json = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      split.words.insert(split.words.begin(), "help");
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError{"unknown option " + args[i]};
    } else {
      split.words.push_back(args[i]);
    }
  }
  return split;
}

void Expect(const Arguments& args, std::size_t words, bool output, bool json) {
  if (args.words.size() != words) throw UsageError{"wrong number of arguments"};
  if (output != args.output.has_value()) {
    throw UsageError{output ? "-o OUT is required" : "-o is not used by " + args.words[0]};
  }
  if (args.json && !json) throw UsageError{"--json is not used by " + args.words[0]};
}

// The system's reason for the failed file call just made (errno cleared before it).
std::string SystemReason() {
  const int err = errno;
  return err != 0 ? ": " + std::generic_category().message(err) : std::string();
}

std::string ReadAll(const std::string& name) {
  std::error_code error;
  if (std::filesystem::is_directory(PathOf(name), error)) {
    throw InputError{name + ": is a directory"};
  }
  errno = 0;
  std::ifstream in(PathOf(name), std::ios::binary);
  if (!in) throw InputError{name + ": cannot open" + SystemReason()};
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw InputError{name + ": cannot read" + SystemReason()};
  return bytes;
}

void WriteAll(const std::string& name, std::string_view bytes) {
  errno = 0;
  std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InputError{name + ": cannot write" + SystemReason()};
}

std::string_view View(const ObjectImage& image) {
  return {reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size()};
}

/// The image at the head of an object file, refused unless the loader would accept it.
ObjectImage AcceptedObjectFile(const std::string& name) {
  const std::string bytes = ReadAll(name);
  if (bytes.size() < image_layout::kSize) {
    throw InputError{name + ": " + std::to_string(bytes.size()) + " bytes, shorter than an image"};
  }
  ObjectImage image;
  std::copy_n(bytes.begin(), image.bytes.size(), image.bytes.begin());
  const ImageFault fault = CheckImage(image);
  if (fault != ImageFault::kNone) {
    throw InputError{name + ": the loader refuses this image: " + FaultMessage(fault, image, name)};
  }
  return image;
}

int Make(const Arguments& args, std::ostream& out) {
  Expect(args, 2, true, false);
  const std::string& descriptionName = args.words[1];
  const std::string text = ReadAll(descriptionName);
  try {
    const auto description = ParseDescription(text, PathOf(descriptionName).parent_path());
    const ObjectImage image = BuildImage(description);
    WriteAll(*args.output, View(image));
    out << *args.output << ": " << description.slots.size()
        << (description.slots.size() == 1 ? " slot" : " slots") << ", display checksum "
        << DisplayChecksum(image) << '\n';
  } catch (const ImageBuildError& error) {
    throw InputError{descriptionName + ": " + error.what()};
  }
  return kExitOk;
}

int Info(const Arguments& args, std::ostream& out) {
  Expect(args, 2, false, true);
  const std::string& name = args.words[1];
  std::string problem;
  auto located = LocateImage(ReadAll(name), problem);
  if (!located) throw InputError{name + ": " + problem};
  located->fileName = name;
  if (args.json) {
    out << InfoJson(*located).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    out << InfoText(*located);
  }
  return CheckImage(located->image) == ImageFault::kNone ? kExitOk : kExitInvalid;
}

int Embed(const Arguments& args, std::ostream& out, std::ostream& err) {
  Expect(args, 3, true, false);
  const std::string& loaderName = args.words[1];
  std::string loader = ReadAll(loaderName);
  const ObjectImage image = AcceptedObjectFile(args.words[2]);
  // A loader that carries an image already gets the new one in its place, so that
  // stamping a loader again does not make it grow.
  if (const auto carried = EmbeddedImageOf(loader); carried && HasMagic(*carried)) {
    loader.resize(loader.size() - image_layout::kSize);
    err << "objtool: " << loaderName << ": replacing the image it carried\n";
  }
  loader.append(View(image));
  WriteAll(*args.output, loader);
  // The copy runs like the original: same permission bits, the executable ones included.
  std::error_code error;
  const auto permissions = std::filesystem::status(PathOf(loaderName), error).permissions();
  if (!error) std::filesystem::permissions(PathOf(*args.output), permissions, error);
  if (error) throw InputError{*args.output + ": cannot set its permissions"};
  out << *args.output << ": self-contained loader, display checksum " << DisplayChecksum(image)
      << '\n';
  return kExitOk;
}

int Extract(const Arguments& args, std::ostream& out) {
  Expect(args, 2, true, false);
  const std::string& loaderName = args.words[1];
  const auto image = EmbeddedImageOf(ReadAll(loaderName));
  if (!image) {
    throw InputError{loaderName + ": carries no embedded image (its last " +
                     std::to_string(image_layout::kSize) + " bytes fail the CRC)"};
  }
  WriteAll(*args.output, View(*image));
  out << *args.output << ": display checksum " << DisplayChecksum(*image) << '\n';
  return kExitOk;
}

}  // namespace

int RunObjtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args == std::vector<std::string>{"--version"}) {
    out << "objtool " DOWNLOADER_VERSION "\n";
    return kExitOk;
  }
  try {
    const Arguments split = Split(args);
    if (split.words.empty()) throw UsageError{"no command"};
    const std::string& command = split.words[0];
    if (command == "help" || command == "--help" || command == "-h") {
      out << kUsage;
      return kExitOk;
    }
    if (command == "make") return Make(split, out);
    if (command == "info") return Info(split, out);
    if (command == "embed") return Embed(split, out, err);
    if (command == "extract") return Extract(split, out);
    throw UsageError{"unknown command " + command};
  } catch (const UsageError& error) {
    err << "objtool: " << error.text << "\n" << kUsage;
    return kExitUsage;
  } catch (const InputError& error) {
    err << "objtool: " << error.text << '\n';
    return kExitInvalid;
  }
}

}  // namespace downloader::objtool
