// Message boxes (see message_box.h).
#include "ui/message_box.h"

#include <QAbstractButton>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>

namespace hvq {
namespace {

// Places itself in the middle of its screen once its final size is known.
class CentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (QScreen* s = screen()) {
      // move() places the outer frame; centre that.
      const QRect area = s->availableGeometry();
      const QSize outer = frameGeometry().size();
      move(area.x() + (area.width() - outer.width()) / 2,
           area.y() + (area.height() - outer.height()) / 2);
    }
  }
};

}  // namespace

void ShowMessageBox(const QString& text, QMessageBox::Icon icon) {
  CentredMessageBox box(icon, QString::fromUtf8(kApplicationTitle), text,
                        QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  // A plain button, as the system's own message boxes have.
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setIcon(QIcon());
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void MessageBoxSink::ShowMessage(std::string_view cp950_text) {
  Result<std::string> text = Cp950ToUtf8(cp950_text);
  // Our texts are valid code page 950; anything else is shown as Latin-1
  // rather than not at all.
  ShowMessageBox(text.ok() ? QString::fromStdString(*text)
                           : QString::fromLatin1(
                                 cp950_text.data(),
                                 static_cast<qsizetype>(cp950_text.size())));
}

}  // namespace hvq
