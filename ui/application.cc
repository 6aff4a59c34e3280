// TApplication (see application.h).
#include "ui/application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <exception>

#include "platform/messages.h"
#include "ui/message_box.h"

namespace hvq {

void PrepareDisplayEnvironment() {
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qputenv("QT_FONT_DPI", "96");
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  const QString title = QString::fromUtf8(kApplicationTitle);
  setApplicationName(title);
  setApplicationDisplayName(title);
  setWindowIcon(QIcon(QStringLiteral(":/skin/app_icon.png")));
  // Qt's own texts (the OK button, menus) in Traditional Chinese, like the
  // rest of the program, when the translation is installed.
  auto* translator = new QTranslator(this);
  if (translator->load(QStringLiteral("qtbase_zh_TW"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(translator);
  }
}

TApplication::~TApplication() = default;

void TApplication::Run() {
  if (main_form_ == nullptr) return;
  main_form_->show();
  exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowException(QString());
  }
  return false;
}

void TApplication::ShowException(const QString& message) {
  ShowMessageBox(message, QMessageBox::Critical);
}

}  // namespace hvq
