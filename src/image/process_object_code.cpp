#include "image/process_object_code.h"

namespace downloader {

// The image request is built with the object code image; until then a command line that
// reaches it ends without output.
void ProcessObjectCode() {}

}  // namespace downloader
