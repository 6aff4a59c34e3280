// TForm (see form.h).
#include "ui/form.h"

#include <QScreen>
#include <QShowEvent>

#include "ui/skin.h"

namespace hvq {

TForm::TForm(QWidget* owner) : QWidget(owner, Qt::Window) {
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);
}

void TForm::setFontHeight(int height) {
  font_height_ = height;
  QFont f = DescriptionFont(font(), height);
  // Small Ming glyphs read best drawn from their bitmaps, black on white.
  f.setStyleStrategy(QFont::NoAntialias);
  setFont(f);
}

void TForm::showEvent(QShowEvent* event) {
  if (!centred_ && !event->spontaneous()) {
    centred_ = true;
    if (QScreen* s = screen()) {
      const QRect area = s->availableGeometry();
      const QSize outer = frameGeometry().size();
      move(area.x() + (area.width() - outer.width()) / 2,
           area.y() + (area.height() - outer.height()) / 2);
    }
  }
  QWidget::showEvent(event);
}

}  // namespace hvq
