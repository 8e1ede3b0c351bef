#pragma once

// What every window's layout needs whatever draws it: the size of a text in the window's
// font, as the toolkit at hand measures it, and a window kept inside the screen's work area.
// All sizes are in designed pixels (96 dots per inch); a toolkit that scales converts.

#include <memory>
#include <string>
#include <string_view>

namespace downloader {

struct TextSize {
  int width = 0;
  int height = 0;
};

/// A text's size in a window's font. A toolkit gives the metrics of the font it draws with
/// (its substitute for "MS Sans Serif" included); runs without one count characters.
class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  /// The size of `text` in the window font (bold when asked), a line for each line break;
  /// an empty text is one line high.
  virtual TextSize Extent(std::string_view text, bool bold = false) const = 0;
  /// The height of `text` broken at blanks into lines at most `width` wide.
  virtual int WrappedHeight(std::string_view text, int width, bool bold = false) const = 0;
};

/// Metrics of a font of fixed cells: every character `charWidth` wide, lines `lineHeight`
/// high, broken at blanks as a toolkit breaks them.
class FixedTextMetrics final : public TextMetrics {
 public:
  FixedTextMetrics(int charWidth, int lineHeight)
      : charWidth_(charWidth), lineHeight_(lineHeight) {}
  TextSize Extent(std::string_view text, bool bold = false) const override;
  int WrappedHeight(std::string_view text, int width, bool bold = false) const override;

 private:
  int charWidth_;
  int lineHeight_;
};

/// The metrics a window starts with until a toolkit gives its own: 6 by 13 pixels a
/// character.
std::shared_ptr<const TextMetrics> DefaultTextMetrics();

/// A caption as shown: "&" marks the access key and is not drawn, "&&" is one "&".
std::string WithoutAccessKey(std::string_view caption);

/// `text` with every tab replaced by blanks up to the next multiple of `every` columns
/// (one column a byte), so that texts laid out in columns (the help) keep them.
std::string ExpandTabs(std::string_view text, int every = 8);

/// A rectangle on the screen: left, top, width, height.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

/// `window` moved only as far as it must to lie inside `workArea`: a window that fits keeps
/// what it can of its position; one larger than the work area shows its top left corner
/// (its caption and close box).
ScreenRect KeepInside(const ScreenRect& window, const ScreenRect& workArea);

}  // namespace downloader
