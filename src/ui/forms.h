#pragma once

#include <string>

#include "ui/main_form.h"
#include "ui/progress_form.h"

namespace downloader {

/// The application title.
inline constexpr char kApplicationTitle[] = "Downloader";

/// The two windows, created hidden at start-up and kept to the end.
extern TMainForm* MainForm;
extern TProgressForm* ProgressForm;

/// Creates MainForm, then ProgressForm (hidden). Safe to call again: tests start fresh.
void CreateForms();

}  // namespace downloader
