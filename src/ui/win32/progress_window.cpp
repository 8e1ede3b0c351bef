#include "ui/win32/progress_window.h"

#include <windowsx.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "ui/progress_form.h"
#include "ui/win32/support.h"
#include "ui/window_system.h"

namespace downloader::win32 {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
constexpr int kDownloadButtonId = 100;
constexpr int kGaugeId = 200;  // + slot

constexpr wchar_t kGridClass[] = L"DownloaderPortStatus";
constexpr wchar_t kGaugeClass[] = L"DownloaderGauge";
constexpr wchar_t kShapeClass[] = L"DownloaderShape";
constexpr wchar_t kPictureClass[] = L"DownloaderPicture";

constexpr int kGridFrame = 2;  // the sunken border on each side
constexpr int kScrollBarWidth = 16;
constexpr int kTextInset = 2;  // cell text at the cell's left + 2, top + 2
constexpr COLORREF kGridLine = RGB(192, 192, 192);

COLORREF Colour(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

PixelRect Rect(const TControl& control) {
  return PixelRect{control.Left, control.Top, control.Width, control.Height};
}

// A component of the panel, which has no bevel: placed on the window, offset by the panel.
PixelRect InPanel(const TControl& control, const TPanel& panel) {
  return PixelRect{panel.Left + control.Left, panel.Top + control.Top, control.Width,
                   control.Height};
}

ProgressWindow* Owner(HWND control) {
  return Self<ProgressWindow>(control);
}

// Paints into a bitmap first and puts it on the screen at once: no flicker while a
// transfer repaints many times a second.
class BufferedPaint {
 public:
  explicit BufferedPaint(HWND window) : window_(window) {
    screen_ = ::BeginPaint(window, &paint_);
    ::GetClientRect(window, &client_);
    dc_ = ::CreateCompatibleDC(screen_);
    bitmap_ = ::CreateCompatibleBitmap(screen_, std::max<LONG>(client_.right, 1),
                                       std::max<LONG>(client_.bottom, 1));
    previous_ = ::SelectObject(dc_, bitmap_);
    ::FillRect(dc_, &client_, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  ~BufferedPaint() {
    ::BitBlt(screen_, 0, 0, client_.right, client_.bottom, dc_, 0, 0, SRCCOPY);
    ::SelectObject(dc_, previous_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
    ::EndPaint(window_, &paint_);
  }
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;

  HDC dc() const { return dc_; }
  const RECT& client() const { return client_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC screen_ = nullptr;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  RECT client_{};
};

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  ::SetBkColor(dc, colour);
  ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// The grid: what is drawn where, from the model, in device pixels.
void PaintGrid(HWND grid, const TProgressForm& form) {
  BufferedPaint paint(grid);
  const HDC dc = paint.dc();
  const RECT client = paint.client();
  RECT frame = client;
  ::DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT);

  const TStringGrid& model = form.PortStatus;
  const int dpi = DpiOf(grid);
  const int inset = Scale(kGridFrame, dpi);
  const bool scrolls = model.RowCount() > model.FixedRows + TStringGrid::kVisibleDataRows;
  const int right = client.right - inset - (scrolls ? Scale(kScrollBarWidth, dpi) : 0);
  const int bottom = client.bottom - inset;
  if (right <= inset || bottom <= inset) return;
  const RECT content{inset, inset, right, bottom};
  const HRGN clip = ::CreateRectRgnIndirect(&content);
  ::SelectClipRgn(dc, clip);
  Fill(dc, content, ::GetSysColor(COLOR_WINDOW));
  ::SetViewportOrgEx(dc, inset, inset, nullptr);
  const HGDIOBJ previousFont = ::SelectObject(dc, WindowFont(dpi));
  ::SetBkMode(dc, TRANSPARENT);

  auto drawRow = [&](int row, int designTop) {
    const bool greyed = form.IsRowGreyed(row);
    int designLeft = 0;
    for (int col = 0; col < TStringGrid::kColCount; ++col) {
      const int width = model.ColWidths[static_cast<std::size_t>(col)];
      const RECT cell{Scale(designLeft, dpi), Scale(designTop, dpi), Scale(designLeft + width, dpi),
                      Scale(designTop + model.DefaultRowHeight, dpi)};
      const RECT withLines{cell.left, cell.top, Scale(designLeft + width + 1, dpi),
                           Scale(designTop + model.DefaultRowHeight + 1, dpi)};
      if (cell.left >= right - inset) break;
      const bool fixed = row < model.FixedRows || col < model.FixedCols;
      const TGridRect& s = model.Selection;
      const bool selected =
          !fixed && col >= s.Left && col <= s.Right && row >= s.Top && row <= s.Bottom;
      Fill(dc, withLines, fixed ? ::GetSysColor(COLOR_3DDKSHADOW) : kGridLine);
      if (width > 0) {
        Fill(dc, cell,
             ::GetSysColor(fixed      ? COLOR_BTNFACE
                           : selected ? COLOR_HIGHLIGHT
                                      : COLOR_WINDOW));
        if (fixed) {
          RECT edge = cell;
          ::DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
        }
        ::SetTextColor(dc, ::GetSysColor(greyed     ? COLOR_GRAYTEXT
                                         : selected ? COLOR_HIGHLIGHTTEXT
                                         : fixed    ? COLOR_BTNTEXT
                                                    : COLOR_WINDOWTEXT));
        const std::wstring text = Wide(model.Cell(col, row));
        RECT inside = cell;
        inside.left += Scale(kTextInset, dpi);
        inside.top += Scale(kTextInset, dpi);
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inside,
                    DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
      }
      designLeft += width + 1;
    }
  };

  const int pitch = model.RowPitch();
  drawRow(0, 0);
  int designTop = pitch;
  for (int row = model.TopRow(); row < model.RowCount() && Scale(designTop, dpi) < bottom;
       ++row, designTop += pitch) {
    drawRow(row, designTop);
  }
  ::SelectObject(dc, previousFont);
  ::SetViewportOrgEx(dc, 0, 0, nullptr);
  ::SelectClipRgn(dc, nullptr);
  ::DeleteObject(clip);
}

// The grid's movement keys; Enter goes on to the dialog, which presses Download.
std::optional<GridKey> MovementKey(WPARAM key) {
  switch (key) {
    case VK_UP:
      return GridKey::kUp;
    case VK_DOWN:
      return GridKey::kDown;
    case VK_PRIOR:
      return GridKey::kPageUp;
    case VK_NEXT:
      return GridKey::kPageDown;
    case VK_HOME:
      return GridKey::kHome;
    case VK_END:
      return GridKey::kEnd;
    default:
      return std::nullopt;
  }
}

void ScrollGrid(ProgressWindow& window, WPARAM request, HWND scrollBar) {
  TProgressForm* form = window.Form();
  if (form == nullptr) return;
  TStringGrid& grid = form->PortStatus;
  const int page = TStringGrid::kVisibleDataRows;
  int top = grid.TopRow();
  switch (LOWORD(request)) {
    case SB_LINEUP:
      --top;
      break;
    case SB_LINEDOWN:
      ++top;
      break;
    case SB_PAGEUP:
      top -= page;
      break;
    case SB_PAGEDOWN:
      top += page;
      break;
    case SB_TOP:
      top = grid.FixedRows;
      break;
    case SB_BOTTOM:
      top = grid.RowCount();
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      ::GetScrollInfo(scrollBar, SB_CTL, &info);
      top = info.nTrackPos + grid.FixedRows;
      break;
    }
    default:
      return;
  }
  grid.SetTopRow(top);
  window.ModelChanged();
}

LRESULT CALLBACK GridProcedure(HWND grid, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    Keep(grid, reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  }
  ProgressWindow* window = Owner(grid);
  TProgressForm* form = window != nullptr ? window->Form() : nullptr;
  switch (message) {
    case WM_PAINT:
      if (form == nullptr) break;
      PaintGrid(grid, *form);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      // The grid takes the focus when clicked, though Tab never gives it.
      ::SetFocus(grid);
      if (form == nullptr) return 0;
      const int dpi = DpiOf(grid);
      const int inset = Scale(kGridFrame, dpi);
      RECT client{};
      ::GetClientRect(grid, &client);
      const int x = GET_X_LPARAM(lParam) - inset;
      const int y = GET_Y_LPARAM(lParam) - inset;
      if (x < 0 || y < 0 || y >= client.bottom - 2 * inset) return 0;
      form->PortStatusClick(Unscale(x, dpi), Unscale(y, dpi));
      window->ModelChanged();
      return 0;
    }
    case WM_KEYDOWN:
      if (const auto key = MovementKey(wParam); key && form != nullptr) {
        form->PortStatusKey(*key);
        window->ModelChanged();
        return 0;
      }
      break;
    case WM_VSCROLL:
      if (window != nullptr) ScrollGrid(*window, wParam, reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_MOUSEWHEEL:
      if (form != nullptr) {
        const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
        form->PortStatus.SetTopRow(form->PortStatus.TopRow() - notches);
        window->ModelChanged();
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(grid, message, wParam, lParam);
}

// TGauge: a bar in dark green on the window colour, its percentage centred, in the window
// colour over the bar and the text colour beside it; a 1-pixel frame.
void PaintGauge(HWND control, const TGauge& gauge) {
  BufferedPaint paint(control);
  const HDC dc = paint.dc();
  RECT r = paint.client();
  ::FrameRect(dc, &r, ::GetSysColorBrush(COLOR_WINDOWFRAME));
  ::InflateRect(&r, -1, -1);
  Fill(dc, r, ::GetSysColor(COLOR_WINDOW));
  const int span = std::max<LONG>(r.right - r.left, 0);
  const int filled =
      gauge.MaxValue > 0
          ? static_cast<int>(static_cast<long long>(span) *
                             std::clamp(gauge.Progress, 0, gauge.MaxValue) / gauge.MaxValue)
          : 0;
  const RECT bar{r.left, r.top, r.left + filled, r.bottom};
  Fill(dc, bar, Colour(kDarkGreen));

  const std::wstring text = std::to_wstring(gauge.PercentDone()) + L"%";
  const HGDIOBJ previous = ::SelectObject(dc, WindowFont(DpiOf(control)));
  ::SetBkMode(dc, TRANSPARENT);
  const RECT parts[] = {bar, RECT{bar.right, r.top, r.right, r.bottom}};
  const int colours[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
  for (int i = 0; i < 2; ++i) {
    ::SaveDC(dc);
    ::IntersectClipRect(dc, parts[i].left, parts[i].top, parts[i].right, parts[i].bottom);
    ::SetTextColor(dc, ::GetSysColor(colours[i]));
    RECT all = r;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &all,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::RestoreDC(dc, -1);
  }
  ::SelectObject(dc, previous);
}

LRESULT CALLBACK GaugeProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    Keep(control, reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  }
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    ProgressWindow* window = Owner(control);
    if (window != nullptr && window->Form() != nullptr) {
      PaintGauge(control, window->Form()->ProgressBar(::GetDlgCtrlID(control) - kGaugeId));
      return 0;
    }
  }
  return ::DefWindowProcW(control, message, wParam, lParam);
}

// TShape: a circle in its fill colour with a black outline.
LRESULT CALLBACK ShapeProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    Keep(control, reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  }
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    ProgressWindow* window = Owner(control);
    if (window != nullptr && window->Form() != nullptr) {
      BufferedPaint paint(control);
      const HBRUSH fill = ::CreateSolidBrush(Colour(window->Form()->TXStatus.FillColor));
      const HGDIOBJ brush = ::SelectObject(paint.dc(), fill);
      const HGDIOBJ pen = ::SelectObject(paint.dc(), ::GetStockObject(BLACK_PEN));
      const RECT& r = paint.client();
      ::Ellipse(paint.dc(), r.left, r.top, r.right, r.bottom);
      ::SelectObject(paint.dc(), pen);
      ::SelectObject(paint.dc(), brush);
      ::DeleteObject(fill);
      return 0;
    }
  }
  return ::DefWindowProcW(control, message, wParam, lParam);
}

// The system's warning icon drawn for `size` pixels, scaled down from a larger one where
// the common controls can (version 6), else as the system scales it.
HICON WarningIcon(int size) {
  static std::map<int, HICON> icons;
  HICON& icon = icons[size];
  if (icon != nullptr) return icon;
  using LoadScaledDown = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto load = reinterpret_cast<LoadScaledDown>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown")));
  if (load == nullptr || FAILED(load(nullptr, IDI_WARNING, size, size, &icon))) {
    icon = static_cast<HICON>(::LoadImageW(nullptr, IDI_WARNING, IMAGE_ICON, size, size, 0));
  }
  return icon;
}

// The warning picture: the system's warning icon at the picture's size.
LRESULT CALLBACK PictureProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    BufferedPaint paint(control);
    const RECT& r = paint.client();
    if (const HICON icon = WarningIcon(r.right)) {
      ::DrawIconEx(paint.dc(), 0, 0, icon, r.right, r.bottom, 0, nullptr, DI_NORMAL);
    }
    return 0;
  }
  return ::DefWindowProcW(control, message, wParam, lParam);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  const struct {
    const wchar_t* name;
    WNDPROC procedure;
  } classes[] = {{kGridClass, &GridProcedure},
                 {kGaugeClass, &GaugeProcedure},
                 {kShapeClass, &ShapeProcedure},
                 {kPictureClass, &PictureProcedure}};
  for (const auto& c : classes) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = c.procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = c.name;
    ::RegisterClassExW(&windowClass);
  }
}

HWND CreateOwn(HWND parent, const wchar_t* windowClass, void* self, int id = 0) {
  return ::CreateWindowExW(0, windowClass, nullptr, WS_CHILD, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           ::GetModuleHandleW(nullptr), self);
}

// What the grid shows, to repaint it only when that changed.
std::wstring GridPicture(const TProgressForm& form) {
  const TStringGrid& grid = form.PortStatus;
  std::string picture;
  for (int width : grid.ColWidths) picture += std::to_string(width) + ",";
  const TGridRect& s = grid.Selection;
  picture += std::to_string(grid.TopRow()) + ";" + std::to_string(s.Left) + "," +
             std::to_string(s.Top) + "," + std::to_string(s.Right) + "," +
             std::to_string(s.Bottom) + (form.InSelectionMode() ? "S" : "P");
  for (int row = 0; row < grid.RowCount(); ++row) {
    picture += "\n";
    for (int col = 0; col < 5; ++col) picture += grid.Cell(col, row) + "\t";
    picture += grid.Cell(6, row);
  }
  return Wide(picture);
}

}  // namespace

bool ProgressWindow::Create(std::string& why) {
  RegisterClasses();
  window_ = CreateDialogWindow(kStyle, kExStyle, nullptr, &Procedure, this);
  if (window_ == nullptr) {
    why = "cannot open a window: " + SystemMessage(::GetLastError());
    return false;
  }
  // In the component order of the design, so that later ones lie above earlier ones.
  grid_ = CreateOwn(window_, kGridClass, this);
  scrollBar_ = ::CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | SBS_VERT, 0, 0, 0, 0, grid_,
                                 nullptr, ::GetModuleHandleW(nullptr), nullptr);
  constexpr DWORD kLine = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
  portStatusText_ = CreateControl(window_, L"STATIC", L"", kLine);
  for (int slot = 7; slot >= 0; --slot)
    progNames_[slot] = CreateControl(window_, L"STATIC", L"", kLine);
  downloadStatusText_ = CreateControl(window_, L"STATIC", L"", kLine);
  txStatus_ = CreateOwn(window_, kShapeClass, this);
  message_ = CreateControl(window_, L"STATIC", L"", SS_LEFT | SS_NOPREFIX);
  warningImage_ = CreateOwn(window_, kPictureClass, this);
  scanningText_ = CreateControl(window_, L"STATIC", L"", kLine);
  for (int slot = 0; slot < 8; ++slot)
    gauges_[slot] = CreateOwn(window_, kGaugeClass, this, kGaugeId + slot);
  downloadButton_ =
      CreateControl(window_, L"BUTTON", L"", WS_TABSTOP | BS_DEFPUSHBUTTON, kDownloadButtonId);
  ::SendMessageW(window_, DM_SETDEFID, kDownloadButtonId, 0);
  SetApplicationIcon(window_);
  return true;
}

void ProgressWindow::Bind(TProgressForm& form) {
  form_ = &form;
  // The layout measures its texts in the font drawn at the window's resolution; the first
  // show, and a show at another resolution, lays the window out again with them.
  const int dpi = DpiOf(window_);
  const auto* metrics = dynamic_cast<const Win32TextMetrics*>(form.Metrics.get());
  if (metrics == nullptr || metrics->Dpi() != dpi) {
    form.Metrics = std::make_shared<Win32TextMetrics>(dpi);
    form.FormShow();
  }
}

void ProgressWindow::Sync() {
  TProgressForm& form = *form_;
  const int dpi = DpiOf(window_);
  if (fontDpi_ != dpi) {
    fontDpi_ = dpi;
    for (HWND text : {portStatusText_, downloadStatusText_, scanningText_}) {
      ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(dpi, true)), FALSE);
    }
    for (HWND control : progNames_) {
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(dpi)), FALSE);
    }
    for (HWND control : {message_, downloadButton_}) {
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(dpi)), FALSE);
    }
    ::InvalidateRect(window_, nullptr, TRUE);
  }
  SetText(window_, Wide(form.Caption));
  SetClientSize(window_, form.Width - kDialogFrame.width, form.Height - kDialogFrame.height);

  const TStringGrid& grid = form.PortStatus;
  Place(grid_, Rect(grid), dpi, grid.Visible);
  const bool scrolls = grid.RowCount() > grid.FixedRows + TStringGrid::kVisibleDataRows;
  const int inset = Scale(kGridFrame, dpi);
  const PixelRect gridRect = Scale(Rect(grid), dpi);
  ::SetWindowPos(scrollBar_, nullptr, gridRect.width - inset - Scale(kScrollBarWidth, dpi), inset,
                 Scale(kScrollBarWidth, dpi), std::max(gridRect.height - 2 * inset, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  SCROLLINFO scroll{};
  scroll.cbSize = sizeof scroll;
  scroll.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  scroll.nMax = std::max(grid.RowCount() - grid.FixedRows - 1, 0);
  scroll.nPage = TStringGrid::kVisibleDataRows;
  scroll.nPos = grid.TopRow() - grid.FixedRows;
  ::SetScrollInfo(scrollBar_, SB_CTL, &scroll, TRUE);
  ::ShowWindow(scrollBar_, scrolls ? SW_SHOWNA : SW_HIDE);
  const std::wstring picture = GridPicture(form);
  if (picture != gridPicture_) {
    gridPicture_ = picture;
    ::InvalidateRect(grid_, nullptr, FALSE);
  }

  SetText(portStatusText_, Wide(form.PortStatusText.Caption));
  Place(portStatusText_, Rect(form.PortStatusText), dpi, form.PortStatusText.Visible);
  SetText(scanningText_, Wide(form.ScanningText.Text));
  Place(scanningText_, Rect(form.ScanningText), dpi, form.ScanningText.Visible);

  const TPanel& panel = form.DownloadStatus;
  SetText(downloadStatusText_, Wide(form.StaticText1.Caption));
  Place(downloadStatusText_, InPanel(form.StaticText1, panel), dpi,
        panel.Visible && form.StaticText1.Visible);
  for (int slot = 0; slot < 8; ++slot) {
    const TEdit& name = form.ProgName(slot);
    SetText(progNames_[slot], Wide(name.Text));
    Place(progNames_[slot], InPanel(name, panel), dpi, panel.Visible && name.Visible);
    const TGauge& gauge = form.ProgressBar(slot);
    Place(gauges_[slot], InPanel(gauge, panel), dpi, panel.Visible && gauge.Visible);
    const std::pair<int, int> drawn{gauge.Progress, gauge.MaxValue};
    if (drawnGauges_[slot] != drawn) {
      drawnGauges_[slot] = drawn;
      ::InvalidateRect(gauges_[slot], nullptr, FALSE);
    }
  }

  Place(txStatus_, Rect(form.TXStatus), dpi, form.TXStatus.Visible);
  if (drawnIndicator_ != form.TXStatus.FillColor) {
    drawnIndicator_ = form.TXStatus.FillColor;
    ::InvalidateRect(txStatus_, nullptr, FALSE);
  }
  std::string lines;
  for (const std::string& line : form.EMessage.Lines) {
    if (!lines.empty()) lines += "\r\n";
    lines += line;
  }
  SetText(message_, WideLines(lines));
  Place(message_, Rect(form.EMessage), dpi, form.EMessage.Visible);
  Place(warningImage_, Rect(form.WarningImage), dpi, form.WarningImage.Visible);

  SetText(downloadButton_, Wide(form.DownloadButton.Caption));
  if (::IsWindowEnabled(downloadButton_) != (form.DownloadButton.Enabled ? TRUE : FALSE)) {
    ::EnableWindow(downloadButton_, form.DownloadButton.Enabled);
  }
  Place(downloadButton_, Rect(form.DownloadButton), dpi, form.DownloadButton.Visible);
}

void ProgressWindow::Show() {
  // At the designed place the first time, where the user left it later; whole on the screen.
  PlaceInWorkArea(window_, form_->Left, form_->Top, placed_);
  ::SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  RecheckPlacementSoon(window_);
  ::SetForegroundWindow(window_);
}

void ProgressWindow::ShowModeless(TProgressForm& form) {
  Bind(form);
  modal_ = false;
  Sync();
  Show();
}

int ProgressWindow::ShowModal(TProgressForm& form) {
  Bind(form);
  modal_ = true;
  modalResult_ = 0;
  Sync();
  Show();
  // Nothing is chosen yet and Download is disabled: the keys go to the grid.
  ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(grid_), TRUE);
  ::SendMessageW(window_, DM_SETDEFID, kDownloadButtonId, 0);
  RunModal(window_, nullptr, [this] { return modalResult_ != 0; });
  modal_ = false;
  return modalResult_ != 0 ? modalResult_ : kModalCancel;
}

void ProgressWindow::Close() {
  ::ShowWindow(window_, SW_HIDE);
}

void ProgressWindow::RepaintNow(TProgressForm& form) {
  form_ = &form;
  Sync();
  if (!Visible()) return;
  ::RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpPaints();
}

void ProgressWindow::ModelChanged() {
  if (form_ != nullptr) Sync();
}

INT_PTR CALLBACK ProgressWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Keep(window, reinterpret_cast<void*>(lParam));
    return FALSE;
  }
  ProgressWindow* self = Self<ProgressWindow>(window);
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR ProgressWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      // Esc (IDCANCEL) does nothing: the window has no cancel button.
      if (LOWORD(wParam) == kDownloadButtonId && HIWORD(wParam) == BN_CLICKED && modal_ &&
          form_ != nullptr && form_->DownloadButton.Enabled) {
        modalResult_ = form_->DownloadButton.ModalResult;
      }
      return TRUE;
    case WM_CLOSE:
      // The close box ends the selection, or closes the window through the model, which
      // holds the final state and then hides it.
      if (modal_) {
        modalResult_ = kModalCancel;
      } else if (form_ != nullptr && form_->Showing) {
        form_->Close();
      } else {
        Close();
      }
      return TRUE;
    case WM_SETCURSOR:
      if (ShowBusyCursor(lParam)) {
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_TIMER:
      return RecheckPlacement(window_, wParam) ? TRUE : FALSE;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      if (form_ != nullptr) {
        Bind(*form_);
        Sync();
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace downloader::win32
