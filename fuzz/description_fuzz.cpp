// objtool's image description reader on JSON text; slot files are looked up next to the
// example descriptions. A description it accepts builds an image the loader accepts.
#include <string_view>

#include "fuzz_check.h"
#include "image/validation.h"
#include "objtool/description.h"

using namespace downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const ImageDescription description =
        objtool::ParseDescription(text, DOWNLOADER_SOURCE_DIR "/examples");
    fuzz::Check(CheckImage(BuildImage(description)) == ImageFault::kNone);
  } catch (const ImageBuildError&) {
  }
  return 0;
}
