#include <algorithm>

#include "ui/forms.h"
#include "ui/window_walk.h"

namespace downloader::testing {

namespace {

// A one-line text control of the model: its text must fit its rectangle.
WalkedControl Text(const std::string& kind, const TControl& control, const std::string& text,
                   TextSize need, int inset = 0) {
  WalkedControl walked{
      kind + " " + Quoted(text),
      ScreenRect{control.Left, control.Top, control.Width, control.Height},
      need,
      ScreenRect{inset, inset, control.Width - 2 * inset, control.Height - 2 * inset},
      {}};
  return walked;
}

WalkedControl Plain(const std::string& kind, const TControl& control) {
  return WalkedControl{kind,
                       ScreenRect{control.Left, control.Top, control.Width, control.Height},
                       std::nullopt,
                       ScreenRect{},
                       {}};
}

// Model texts drawn by a toolkit whose buttons keep 4 pixels of frame beside their caption.
constexpr int kButtonInset = 4;
constexpr int kBarInset = 2;

}  // namespace

WalkedWindow ModelWindow(const TProgressForm& form) {
  const TextMetrics& metrics = *form.Metrics;
  WalkedWindow window{form.Caption,
                      ScreenRect{form.Left, form.Top, form.Width, form.Height},
                      form.Width - 6,
                      form.Height - 25,
                      {}};
  auto& controls = window.controls;
  WalkedControl grid = Plain("grid", form.PortStatus);
  grid.children =
      GridCells(form.PortStatus, [&](std::string_view text) { return metrics.Extent(text); });
  controls.push_back(grid);
  const TStaticText& label = form.PortStatusText;
  controls.push_back(Text("label", label, label.Caption, metrics.Extent(label.Caption, true)));
  if (form.ScanningText.Visible) {
    const TEdit& s = form.ScanningText;
    controls.push_back(Text("label", s, s.Text, metrics.Extent(s.Text, true)));
  }
  if (form.DownloadStatus.Visible) {
    WalkedControl panel = Plain("panel", form.DownloadStatus);
    const TStaticText& title = form.StaticText1;
    panel.children.push_back(
        Text("label", title, title.Caption, metrics.Extent(title.Caption, true)));
    for (int slot = 0; slot < 8; ++slot) {
      const TEdit& name = form.ProgName(slot);
      const TGauge& bar = form.ProgressBar(slot);
      if (name.Visible)
        panel.children.push_back(Text("caption", name, name.Text, metrics.Extent(name.Text)));
      if (bar.Visible) {
        panel.children.push_back(Text("bar", bar, "100%", metrics.Extent("100%"), kBarInset));
      }
    }
    controls.push_back(panel);
  }
  if (form.TXStatus.Visible) controls.push_back(Plain("indicator", form.TXStatus));
  if (form.EMessage.Visible) {
    const std::string prompt = form.EMessage.Lines.empty() ? "" : form.EMessage.Lines.front();
    WalkedControl message = Text("prompt", form.EMessage, prompt, {});
    message.text = TextSize{std::min(metrics.Extent(prompt).width, form.EMessage.Width),
                            metrics.WrappedHeight(prompt, form.EMessage.Width)};
    controls.push_back(message);
    controls.push_back(Plain("warning picture", form.WarningImage));
  }
  if (form.DownloadButton.Visible) {
    const std::string caption = WithoutAccessKey(form.DownloadButton.Caption);
    controls.push_back(
        Text("button", form.DownloadButton, caption, metrics.Extent(caption), kButtonInset));
  }
  return window;
}

WalkedWindow ModelWindow(const InformationLayout& layout, const TextMetrics& metrics) {
  const ScreenRect& place = kInformationWindowPlace;
  WalkedWindow window{
      "information window",
      ScreenRect{place.left, place.top, layout.clientWidth + 8, layout.clientHeight + 27},
      layout.clientWidth,
      layout.clientHeight,
      {}};
  auto& controls = window.controls;
  for (std::size_t i = 0; i < layout.labels.size(); ++i) {
    const std::string caption(kInformationLabels[i]);
    controls.push_back(Text("label", layout.labels[i], caption, metrics.Extent(caption)));
  }
  for (const TControl& panel : layout.panels) {
    WalkedControl walked = Plain("panel", panel);
    walked.children.push_back(Plain("field", layout.field));
    controls.push_back(walked);
  }
  controls.push_back(Plain("notes", layout.notes));
  for (auto [button, caption] :
       {std::pair{&layout.download, kDownloadCaption}, std::pair{&layout.cancel, kCancelCaption}}) {
    const std::string shown = WithoutAccessKey(caption);
    controls.push_back(Text("button", *button, shown, metrics.Extent(shown), kButtonInset));
  }
  return window;
}

}  // namespace downloader::testing
