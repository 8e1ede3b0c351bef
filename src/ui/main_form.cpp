#include "ui/main_form.h"

#include <algorithm>

#include "image/information_line.h"

namespace downloader {

namespace {

// The designed layout, in pixels of the client area.
constexpr int kLabelLeft = 16;
constexpr std::array<int, 5> kLabelWidths = {44, 49, 57, 70, 35};
constexpr int kLabelHeight = 17;
constexpr int kFirstLabelTop = 16;
constexpr int kRowPitch = 24;
constexpr int kPanelAboveLabel = 2;  // a panel starts 2 pixels above its label
constexpr int kPanelLeft = 90;
constexpr int kLabelToPanel = 2;  // at least, between the widest label and the panels
constexpr int kPanelHeight = 19;
constexpr TControl kField{4, 2, 257, 16};
constexpr int kPanelBeyondField = 6;   // 263 - 257: the frame and the field's inset
constexpr int kRowGap = 5;             // below a panel, to the next one
constexpr int kFieldTextRoom = 4;      // a field's text insets
constexpr int kNotesBeyondPanels = 1;  // the memo's right edge, one beyond the panels'
constexpr int kNotesHeight = 151;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonTextRoom = 16;  // a button's frame and margins beside its caption
constexpr int kButtonTextHeightRoom = 10;
constexpr int kButtonGap = 13;          // Download's right edge to Cancel
constexpr int kButtonsBelowNotes = 15;  // 129 + 151 = 280 to 295
constexpr int kClientWidth = 368;
constexpr int kClientHeight = 334;
constexpr int kMargin = 14;  // client area beyond the memo's right edge and the buttons

}  // namespace

InformationLayout LayOutInformationWindow(const InformationView& view, const TextMetrics& metrics,
                                          int widthLimit) {
  InformationLayout layout;
  const int lineHeight = metrics.Extent("Xg").height;
  const int labelHeight = std::max(kLabelHeight, lineHeight);
  const int fieldHeight = std::max(kField.Height, lineHeight + 2);
  const int panelHeight = fieldHeight + (kPanelHeight - kField.Height);
  const int pitch = std::max(kRowPitch, std::max(labelHeight, panelHeight) + kRowGap);

  // The label column: as wide as its widest label, the fields beside it.
  int columnRight = 0;
  for (std::size_t i = 0; i < layout.labels.size(); ++i) {
    TControl& label = layout.labels[i];
    label.Left = kLabelLeft;
    label.Top = kFirstLabelTop + pitch * static_cast<int>(i);
    label.Width = std::max(kLabelWidths[i], metrics.Extent(kInformationLabels[i]).width);
    label.Height = labelHeight;
    if (i < layout.panels.size()) columnRight = std::max(columnRight, label.Left + label.Width);
  }
  const int panelLeft = std::max(kPanelLeft, columnRight + kLabelToPanel);

  // The fields: as wide as their widest value, within what the screen allows.
  int valueWidth = 0;
  for (const std::string* value :
       {&view.product, &view.firmware, &view.checksum, &view.compileDate}) {
    valueWidth = std::max(valueWidth, metrics.Extent(*value).width + kFieldTextRoom);
  }
  const int fixedWidth = panelLeft + kPanelBeyondField + kNotesBeyondPanels + kMargin;
  if (widthLimit > 0) valueWidth = std::min(valueWidth, widthLimit - fixedWidth);
  layout.field = kField;
  layout.field.Width = std::max(kField.Width, valueWidth);
  layout.field.Height = fieldHeight;
  for (std::size_t i = 0; i < layout.panels.size(); ++i) {
    TControl& panel = layout.panels[i];
    panel.Left = panelLeft;
    panel.Top = layout.labels[i].Top - kPanelAboveLabel;
    panel.Width = layout.field.Width + kPanelBeyondField;
    panel.Height = panelHeight;
  }

  const TControl& notesLabel = layout.labels.back();
  TControl& notes = layout.notes;
  notes.Left = kLabelLeft;
  notes.Top = notesLabel.Top + notesLabel.Height;
  notes.Width = panelLeft + layout.panels[0].Width + kNotesBeyondPanels - kLabelLeft;
  notes.Height = kNotesHeight;

  // Download and Cancel, as wide as the wider caption needs, right-aligned below the memo.
  int buttonWidth = kButtonWidth;
  for (std::string_view caption : {kDownloadCaption, kCancelCaption}) {
    buttonWidth =
        std::max(buttonWidth, metrics.Extent(WithoutAccessKey(caption)).width + kButtonTextRoom);
  }
  const int buttonHeight = std::max(kButtonHeight, lineHeight + kButtonTextHeightRoom);
  const int buttonTop = notes.Top + notes.Height + kButtonsBelowNotes;
  const int notesRight = notes.Left + notes.Width;
  layout.cancel = TControl{notesRight - buttonWidth, buttonTop, buttonWidth, buttonHeight};
  layout.download =
      TControl{layout.cancel.Left - kButtonGap - buttonWidth, buttonTop, buttonWidth, buttonHeight};

  layout.clientWidth = std::max(kClientWidth, notesRight + kMargin);
  layout.clientHeight = std::max(kClientHeight, buttonTop + buttonHeight + kMargin);
  return layout;
}

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
