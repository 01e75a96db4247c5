// CColButton: the push button whose face colour shows a state. It paints a
// flat button frame, fills the face inside the frame edge with the colour of
// its `colourState` and draws either its window text (text mode 0, one
// centred line) or `upperText` / `lowerText` (text mode 3, two centred lines
// around the vertical centre). The button keeps no logic beyond drawing:
// owners set the state, the mode and the texts and then call update(); a
// change without update() shows nothing until the next repaint.
//
// Text placement (all halvings integer divisions, rectangle right/bottom
// exclusive, centre = ((left + right) / 2, (top + bottom) / 2)):
//   one line:  left = cx - w / 2, top = cy - h / 2
//   two lines: each left = cx - w / 2; upper top = cy - h - 2 (its bottom
//              2 pixels above the centre), lower top = cy + 2
//   pressed:   every position 1 pixel right and 1 pixel down.
// A disabled button draws its text embossed in the disabled style (light at
// +1,+1, grey on top); otherwise in the palette's button-text colour.
#pragma once

#include <QAbstractButton>
#include <QString>

#include <array>
#include <cstdint>
#include <initializer_list>

namespace plombix {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Face colour per colour state; entry 0 is never drawn.
using FaceColourTable = std::array<Rgb, 6>;

// The states every state-coloured button shares: 1 pink (252,184,184),
// 2 green (184,252,184), 3 pale (252,236,236); 0, 4 and 5 black (4 is set
// per button by its owner).
FaceColourTable StandardFaceColours();

// Plain geometry of a button, in pixels; right and bottom exclusive.
struct IntRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const IntRect&, const IntRect&) = default;
};
struct TextOrigin {
  int left = 0, top = 0;  // top-left corner of the text's bounding box
  friend bool operator==(const TextOrigin&, const TextOrigin&) = default;
};

// Width of the frame edge the face is inset by, each side.
inline constexpr int kColButtonEdge = 2;

// The face rectangle: `item` shrunk by the edge width on every side.
IntRect ColButtonFace(IntRect item);
// One line of `textWidth` x `textHeight` centred in `face`.
TextOrigin ColButtonSingleLine(IntRect face, int textWidth, int textHeight, bool pressed);
// The upper and lower lines of text mode 3.
TextOrigin ColButtonUpperLine(IntRect face, int textWidth, int textHeight, bool pressed);
TextOrigin ColButtonLowerLine(IntRect face, int textWidth, int textHeight, bool pressed);

class CColButton : public QAbstractButton {
  Q_OBJECT
 public:
  static constexpr int kTextWindow = 0;  // textMode: the window text
  static constexpr int kTextTwoLines = 3;  // textMode: upperText / lowerText

  explicit CColButton(QWidget* parent = nullptr);

  // Fields the owners set, then call update().
  int colourState = 0;  // 0 unfilled (the frame's face shows), 1..5 faceColours
  FaceColourTable faceColours{};
  int textMode = kTextWindow;
  QString upperText;
  QString lowerText;

  // Copies this button's colour table into each of `others` (no repaint).
  void CopyColoursTo(std::initializer_list<CColButton*> others) const;

  QSize sizeHint() const override;

 signals:
  // Released the right mouse button over the button (nothing acts on it).
  void rightClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace plombix
