#include "ui/main_form.h"

#include "image/information_line.h"

namespace downloader {

std::string MainFormCaption(std::string_view company, std::string_view product) {
  std::string caption;
  if (company == kMakerCompany) {
    caption = kMakerCaption;
  } else {
    caption = company;
    AppendCapped(caption, " - ", 53);
    AppendCapped(caption, product, 103);
    AppendCapped(caption, " Loader ", 111);
  }
  return caption + "v" + std::to_string(kLoaderMajorVersion) + "." +
         std::to_string(kLoaderMinorVersion);
}

InformationView MakeInformationView(const ObjectImage& image, const DateNames& names) {
  InformationView view;
  view.caption = MainFormCaption(image.CompanyName(), image.ProductName());
  view.product = image.ProductName();
  view.firmware = image.FirmwareName();
  view.checksum = std::to_string(image.Crc());
  view.compileDate = DateText(image.CompileTime(), names);
  view.notes = image.IntroMessage();
  return view;
}

TMainForm::TMainForm()
    : OpenDialog{"", "", ".obj", "Object Files (*.obj)|*.obj|All Files (*.*)|*.*"} {}

void TMainForm::FormShow() {
  View = MakeInformationView(ImageBuffer);
}

int TMainForm::ShowModal() {
  FormShow();
  return Windows().ShowInformationWindow(View);
}

}  // namespace downloader
