// TForm: the window class the program's forms derive from.
//
// A form is a top-level window whose owner (if any) only ties lifetimes. It
// keeps its pixel sizes on every screen, takes the system's button-face
// colour as its background, sizes its font by a description height (see
// DescriptionFont) and is centred on its screen the first time it is shown.
#ifndef HVQ_UI_FORM_H_
#define HVQ_UI_FORM_H_

#include <QWidget>

namespace hvq {

class TForm : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int fontHeight READ fontHeight WRITE setFontHeight)

 public:
  explicit TForm(QWidget* owner = nullptr);

  int fontHeight() const { return font_height_; }
  // Applies `height` (negative: character height in pixels) and the family
  // fallbacks to the current font; children without a font of their own
  // inherit it.
  void setFontHeight(int height);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int font_height_ = 0;
  bool centred_ = false;
};

}  // namespace hvq

#endif  // HVQ_UI_FORM_H_
