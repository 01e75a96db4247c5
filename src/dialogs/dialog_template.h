// Dialog templates: the layout of each window as a table of controls in
// dialog units, and the builder that turns such a table into Qt widgets.
//
// Dialog units (DU) make a layout follow its font: one horizontal unit is a
// quarter of the font's average character width, one vertical unit an eighth
// of its character height. The builder starts from the rule of the desktop
// platform the layouts were drawn for:
//
//   avgCharWidth = (width of "A..Za..z" / 26 + 1) / 2        (integer steps)
//   charHeight   = ascent + descent of the font               (pixels)
//
// The layouts were drawn for a narrower font than ours, and for that
// platform's narrower check boxes and button frames, so with these units
// alone some captions do not fit their rectangles (the check box "Equal"
// loses its last letter). The builder therefore raises each unit, per
// template, to the smallest value at which every text a control shows -- its
// template text and the captions it takes at run time -- fits that control
// with the font and style actually used (FitBaseUnits, ControlNeed). Units
// are kept in sixteenths of a pixel so that a raised unit may lie between
// whole pixels; the tables stay in dialog units, the one source of the
// layout. The conversion:
//
//   x px = MulDiv(x DU, avgCharWidth, 4 * 16)
//   y px = MulDiv(y DU, charHeight, 8 * 16)     (both in 1/16 px)
//
// where MulDiv(a, b, c) = a * b / c rounded to the nearest integer, halves
// away from zero. Each of x, y, width and height is converted on its own, so
// the right edge is x px + width px (not the converted right edge).
// Worked example: the platform units 6 x 13 px (an 8-point dialog font at
// 96 dpi) are 96 x 208 sixteenths: the main window's 321 x 228 DU become
// 482 x 371 px (481.5 and 370.5 rounded up). Raised to 7 1/4 px (116
// sixteenths) a 28 DU check box is 28 * 116 / 64 = 50.75 -> 51 px wide.
//
// What a control needs (ControlNeed, pixels, with the widget's own font and
// style): labels the advance of their text and one line's height; push
// buttons the text plus the style's frame and button margin; check boxes and
// radios the text beside their indicator (the style's contents rectangle);
// group boxes their title rectangle with the same margin on both sides; menu
// buttons the text with room for the drop-down arrow on both sides (it stays
// centred); number edits their widest value inside the edit's frame and
// margins; state-coloured buttons their text inside the face, two-line ones
// both lines on either side of the centre. Pictures, colour pickers and the
// preview show no text.
//
// Dialog font: "DejaVu Sans" at 8 points (installed by the bootstrap step on
// every machine we build on, so layouts and tests come out the same
// everywhere); when that family is missing Qt substitutes the closest sans
// face and the layout still follows whatever font is used.
//
// Texts follow the platform's mnemonic rule: "&&" shows a single "&" and a
// single "&" marks the next letter. Buttons, check boxes, radios, group boxes
// and menu buttons get the text as written (Qt applies the same rule); plain
// labels get ShownLabelText(), because QLabel shows "&" literally. Texts put
// into labels later at run time (file names) are shown exactly as given.
#pragma once

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <span>

class QButtonGroup;
class QFont;

namespace plombix {

// The id of controls that have none (plain labels, group boxes, pictures).
inline constexpr int kNoId = -1;

enum class ControlKind {
  Label,              // QLabel, text left, centred or right
  PushButton,         // QPushButton
  DefaultPushButton,  // QPushButton, the dialog's default button
  CheckBox,           // QCheckBox
  Radio,              // QRadioButton; kGroupStart opens a QButtonGroup
  NumberEdit,         // QLineEdit taking digits only; ranges checked on read-back
  GroupBox,           // QGroupBox, kept below the controls it frames
  Picture,            // PictureLabel with the bitmap `bitmapId`
  MenuButton,         // QToolButton, instant pop-up; the menu is set later
  ColourPicker,       // ColourPickerButton
  ColButton,          // CColButton (state-coloured toggle or two-line button)
  PreviewBox,         // made by BuildOptions::previewFactory, else a placeholder
};

enum ControlFlag : unsigned {
  kGroupStart = 1u << 0,   // first radio of a group
  kTextCentre = 1u << 1,   // label text centred
  kTextRight = 1u << 2,    // label text right-aligned
  kHidden = 1u << 3,       // created hidden
  kNotify = 1u << 4,       // picture reports clicks (PictureLabel::clicked)
  kUnderlined = 1u << 5,   // dialog font with underlining (link buttons)
  kTwoLine = 1u << 6,      // CColButton in text mode 3, text "upper\n\nlower"
  kBorder = 1u << 7,       // thin line border drawn by a QFrame (preview box)
  kFileName = 1u << 8,     // label showing file names: a NameLabel (name_label.h)
};

struct ControlSpec {
  int id = kNoId;
  ControlKind kind = ControlKind::Label;
  const char* text = "";  // UTF-8, as the platform writes it ("&&" for "&")
  int x = 0, y = 0, w = 0, h = 0;  // dialog units
  unsigned flags = 0;
  int bitmapId = 0;  // Picture: the built-in bitmap shown
};

// A text a control takes at run time, as it shows on screen (no mnemonic
// rule): the widest forms of the captions its owners set, for the fit of the
// dialog units. Two-line buttons write "upper\n\nlower".
struct RunTimeText {
  int id = kNoId;
  const char* text = "";  // UTF-8
};

struct DialogTemplate {
  int id = 0;
  const char* caption = "";  // UTF-8
  int widthDu = 0;           // client area in dialog units
  int heightDu = 0;
  std::span<const ControlSpec> controls;
  std::span<const RunTimeText> runTimeTexts = {};
  // Folding: while folded, every control whose rectangle starts at or below
  // this line is hidden (0: the template does not fold).
  int foldDu = 0;
};

// Template 102, the main window (every control, the labels and group boxes
// without id included), 100 the About box, 122 the support window.
const DialogTemplate& MainWindowTemplate();
const DialogTemplate& AboutTemplate();
const DialogTemplate& SupportTemplate();

// The first control with `id` in `tmpl`, or null.
const ControlSpec* FindControl(const DialogTemplate& tmpl, int id);

// --- Dialog units ------------------------------------------------------------

// Base units are counted in sixteenths of a pixel.
inline constexpr int kUnitSteps = 16;

struct DialogBaseUnits {
  int avgCharWidth = 0;  // 1/16 pixels
  int charHeight = 0;    // 1/16 pixels
  // Units of whole pixels, as the platform rule gives them.
  static constexpr DialogBaseUnits Pixels(int avgCharWidthPx, int charHeightPx) {
    return {avgCharWidthPx * kUnitSteps, charHeightPx * kUnitSteps};
  }
  friend bool operator==(const DialogBaseUnits&, const DialogBaseUnits&) = default;
};

// a * b / c rounded to nearest, halves away from zero; -1 when c is 0 or
// when the result does not fit in an int (both as the platform does).
int MulDiv(int a, int b, int c);
// The platform's average character width from the advance of the 52 letters.
int AverageCharWidth(int widthOf52Letters);
int DuToPixelsX(int du, DialogBaseUnits units);
int DuToPixelsY(int du, DialogBaseUnits units);
// The platform's base units of `font` (see the file comment), before any
// raise.
DialogBaseUnits BaseUnitsOf(const QFont& font);
// The dialog font (see the file comment).
QFont DialogFont();

// --- Fitting the units to the captions ---------------------------------------

// The pixels one control needs for one of its texts.
struct ControlNeed {
  int widthDu = 0, heightDu = 0;  // the control's rectangle
  QSize pixels;                   // what its text needs (0 where nothing)
};

// The smallest units, each at least the one in `start`, at which every need
// fits: DuToPixelsX(widthDu) >= pixels.width() and the same vertically. A
// need that no unit up to four times `start` satisfies (a text in a
// rectangle 0 DU wide) is left unmet rather than growing the window without
// bound. Needs of 0 pixels never raise a unit.
DialogBaseUnits FitBaseUnits(DialogBaseUnits start, std::span<const ControlNeed> needs);

// The pixels `widget`, made for `spec` by the builder, needs to show `text`
// (as it shows on screen) whole, with its own font and style; see the file
// comment for each kind.
QSize NeededPixels(const ControlSpec& spec, const QWidget& widget, const QString& text);

// Every text control `spec` of `tmpl` can show, as it shows on screen: the
// template text (mnemonic rule applied) and the template's run-time texts
// for its id. Empty texts are left out.
QStringList ShownTexts(const DialogTemplate& tmpl, const ControlSpec& spec);

// The text a plain label shows for a platform text: "&&" -> "&", a single
// "&" dropped (it would only underline the next letter).
QString ShownLabelText(const QString& platformText);

// The built-in bitmap `id` (":/bitmaps/<id>.png"); a null pixmap when the
// resource is missing.
QPixmap BitmapPixmap(int id);

// --- Number read-back --------------------------------------------------------

// Range of the number edits: border percentages and the slideshow duration.
struct NumberRange {
  int min = 0;
  int max = 0;
};
inline constexpr NumberRange kPercentRange{0, 99};
inline constexpr NumberRange kDurationRange{2, 240};

struct NumberReadBack {
  bool ok = false;
  int value = 0;    // valid when ok
  QString message;  // the operator's message when not ok
};

// "Please enter an integer between <min> and <max>." (used for every
// failure: empty, not a number, out of range).
QString RangeMessage(NumberRange range);
// Parses an edit's text (blanks around it allowed, optional sign, decimal
// digits) against `range`. Never fails silently: not ok always carries the
// range message.
[[nodiscard]] NumberReadBack ReadNumber(const QString& text, NumberRange range);

// --- Builder -----------------------------------------------------------------

struct BuildOptions {
  // Creates the preview box (PreviewBox kind) as a child of `parent`; the
  // builder sets its geometry. Without it a plain QFrame placeholder is made.
  std::function<QWidget*(QWidget* parent, const ControlSpec& spec)> previewFactory;
  // Sets the dialog font on the parent (its children inherit it). On by
  // default; the base units always come from the dialog font.
  bool setParentFont = true;
};

// What the builder made: control id -> widget, the radio groups, the client
// size in pixels. Widgets are children of the parent and die with it.
class BuiltDialog {
 public:
  QWidget* control(int id) const { return byId_.value(id, nullptr); }
  template <class T>
  T* as(int id) const {
    return qobject_cast<T*>(control(id));
  }
  // The group opened by the radio `firstId` (ids 0..n-1 in table order), or
  // null.
  QButtonGroup* radioGroup(int firstId) const { return groups_.value(firstId, nullptr); }
  // Every widget made, in table order (labels without id included).
  const QList<QWidget*>& widgets() const { return all_; }
  QSize clientSize() const { return clientSize_; }
  // The units the layout was built with (raised to fit the captions), and
  // the platform's units of the dialog font it started from.
  DialogBaseUnits baseUnits() const { return units_; }
  DialogBaseUnits platformUnits() const { return platformUnits_; }
  // Folds the dialog (hides every control starting at or below the
  // template's fold line) or unfolds it (shows again exactly the controls
  // the fold hid). Nothing happens for a template without a fold line or
  // when the state does not change.
  void setFolded(bool folded);
  bool folded() const { return folded_; }

 private:
  friend BuiltDialog BuildDialog(const DialogTemplate&, QWidget*, const BuildOptions&);
  QHash<int, QWidget*> byId_;
  QHash<int, QButtonGroup*> groups_;
  QList<QWidget*> all_;
  QSize clientSize_;
  DialogBaseUnits units_;
  DialogBaseUnits platformUnits_;
  QList<qsizetype> belowFold_;  // indices into all_ the fold line hides
  QList<QPointer<QWidget>> hiddenByFold_;
  bool folded_ = false;
};

// Creates every control of `tmpl` as a child of `parent` in table order (the
// tab order), fits the dialog units to the controls' texts (see the file
// comment), places the controls and returns the lookup. A control made as a
// QFrame (the placeholder, or what the preview factory made) gets a thin
// line border when the table asks for one (kBorder). The parent is not
// resized: the caller applies clientSize() (fixed or not) itself.
BuiltDialog BuildDialog(const DialogTemplate& tmpl, QWidget* parent,
                        const BuildOptions& options = {});

}  // namespace plombix
