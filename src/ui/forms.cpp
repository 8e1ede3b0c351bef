#include "ui/forms.h"

#include <memory>

namespace downloader {

TMainForm* MainForm = nullptr;
TProgressForm* ProgressForm = nullptr;

namespace {
std::unique_ptr<TMainForm> mainForm;
std::unique_ptr<TProgressForm> progressForm;
}  // namespace

void CreateForms() {
  mainForm = std::make_unique<TMainForm>();
  progressForm = std::make_unique<TProgressForm>();
  MainForm = mainForm.get();
  ProgressForm = progressForm.get();
}

}  // namespace downloader
