#include "control/process_object_code.h"

#include <filesystem>
#include <optional>
#include <string>

#include "image/image_file.h"
#include "image/information_line.h"
#include "image/validation.h"
#include "platform/file_names.h"
#include "run/report.h"
#include "run/run_state.h"
#include "ui/forms.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

void NoDownload() {}

DownloadHook downloadHook = NoDownload;

std::string CurrentDirectory() {
  std::error_code error;
  const auto directory = std::filesystem::current_path(error);
  return error ? std::string() : NameOf(directory);
}

// The open-file dialog of Windows makes the folder it ends in the current one, whatever its
// flags ask: a master's later relative names would be looked up there.
std::optional<std::string> OpenFileKeepingFolder() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  auto chosen = Windows().OpenFileDialog(MainForm->OpenDialog);
  if (!error) std::filesystem::current_path(folder, error);
  return chosen;
}

std::string FullName(const std::string& name) {
  std::error_code error;
  const auto full = std::filesystem::absolute(PathOf(name), error);
  return error ? name : NameOf(full);
}

/// The request from the object file read on: read the named file, check the image, then
/// report it, download it, or show it and download on confirmation.
void ProcessImage() {
  if (!ObjectFileName.empty()) {
    switch (ReadObjectFile(ObjectFileName, ImageBuffer)) {
      case ImageRead::kRead:
        break;
      case ImageRead::kCannotOpen:
      case ImageRead::kShort:
        // The file exists but cannot be read whole (no permission, too short): a caller
        // waiting for a final line gets one, and the buffer, which may still hold the
        // loader's own tail, is never used.
        ReportError(kNotObjectCodeMessage);
        return;
    }
  }
  const ImageFault fault = CheckImage(ImageBuffer);
  if (fault != ImageFault::kNone) {
    ReportError(FaultMessage(fault, ImageBuffer, ShownObjectFileName()));
    return;
  }
  ImageBuffer.SetCrc(DisplayChecksum(ImageBuffer));

  if (RunFlags & kGetInfo) {
    ReportLine(kChannelInfo, InformationLine(ImageBuffer));
  } else if (RunFlags & (kNoInfo | kNoPrompts)) {
    downloadHook();
  } else {
    Windows().BringToForeground();
    if (MainForm->ShowModal() == kModalOk) {
      ReportLine(kChannelEvent, "101-User selected download from information dialog.");
      downloadHook();
    } else {
      ReportLine(kChannelEvent, "042-User cancelled information dialog.");
    }
  }
}

}  // namespace

void SetDownloadHandler(DownloadHook hook) {
  downloadHook = hook ? hook : NoDownload;
}

void ProcessObjectCode() {
  MainForm->OpenDialog.title = "Open Object File";
  MainForm->OpenDialog.initialDirectory = CurrentDirectory();
  try {
    const bool embedded = ReadEmbeddedImage();
    if ((RunFlags & kNoPrompts) && ObjectFileName.empty() && !embedded) {
      ReportLine(kChannelError,
                 "027-Object code not embedded.  Must specify object code file name.");
      return;
    }
    if (ObjectFileName.empty() && !embedded) {
      const auto chosen = OpenFileKeepingFolder();
      if (!chosen) {
        ReportLine(kChannelEvent, "041-User cancelled open-file dialog.");
        return;
      }
      ObjectFileName = FullName(*chosen);
    }
    if (!embedded && !FileExists(ObjectFileName)) return;
    ProcessImage();
  } catch (...) {
    // Whatever fails once the image read has started ends the request quietly; the
    // driver goes on as after a normal return (in pipe mode, with the next command line).
  }
}

}  // namespace downloader
