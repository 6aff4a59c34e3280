// The main window on the offscreen platform: the layout, texts, fonts and
// colours of the form description, the drawn frame, the repair button's
// click with a substituted installer, the link label, the title-bar buttons
// and the application's exception box.
#include "ui/unit1.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_ops.h"
#include "repair/repair_database.h"
#include "repair/testing/fake_installer.h"
#include "ui/application.h"
#include "ui/skin.h"

namespace hvq {
namespace {

const char kCaption[] = "HVQ資料庫維護程式 2005/08/13";

using testing::FakeInstaller;

// What a message box showed while it was open.
struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons standard_buttons;
  qsizetype button_count = 0;
  bool modal = false;
  QPoint centre, screen_centre;
};

// Polls the top-level widgets for an open QMessageBox, records it and
// presses its OK button, so that the modal box returns.
class BoxWatcher : public QObject {
 public:
  BoxWatcher() {
    connect(&timer_, &QTimer::timeout, this, &BoxWatcher::Poll);
    timer_.start(5);
  }
  std::vector<SeenBox> seen;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      SeenBox s;
      s.title = box->windowTitle();
      s.text = box->text();
      s.icon = box->icon();
      s.standard_buttons = box->standardButtons();
      s.button_count = box->buttons().size();
      s.modal = box->isModal() && box->windowModality() == Qt::ApplicationModal;
      s.centre = box->frameGeometry().center();
      s.screen_centre = box->screen()->availableGeometry().center();
      seen.push_back(s);
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
      } else {
        box->reject();
      }
    }
  }
  QTimer timer_;
};

// Names, sizes and contents of the files in `dir`.
QStringList Snapshot(const QString& dir) {
  QStringList out;
  for (const QFileInfo& info :
       QDir(dir).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
    QFile f(info.filePath());
    f.open(QIODevice::ReadOnly);
    out << info.fileName() + ":" + QString::fromLatin1(f.readAll().toHex()) +
               ":" + info.lastModified().toString(Qt::ISODateWithMs);
  }
  return out;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
  return f.readAll();
}

// A widget whose handler of a user event throws what `thrower` throws.
class ThrowingWidget : public QWidget {
 public:
  std::function<void()> thrower;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) thrower();
    return QWidget::event(e);
  }
};

}  // namespace

class UnitTest : public QObject {
  Q_OBJECT

 private:
  // Makes `form` run its repairs against `installer` in `dir_`.
  void UseInstaller(TForm1& form, FakeInstaller* installer) {
    const std::string exe = (dir_->path() + "/HVQ_Repair").toStdString();
    form.SetEnvironmentFactory([installer, exe](MessageSink& sink) {
      RepairEnvironment env;
      env.exe_name = [exe]() -> Result<std::string> { return exe; };
      env.files = &PosixFileOps();
      env.installer = installer;
      env.messages = &sink;
      return env;
    });
  }

  // A shown form; with `installer`, its repairs run against it in `dir_`.
  std::unique_ptr<TForm1> MakeForm(FakeInstaller* installer = nullptr) {
    auto form = std::make_unique<TForm1>(nullptr);
    if (installer != nullptr) UseInstaller(*form, installer);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) return nullptr;
    return form;
  }

  QString InDir(const char* name) const { return dir_->filePath(name); }

  std::unique_ptr<QTemporaryDir> dir_;

 private Q_SLOTS:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }

  void publishedMembersInOrder() {
    const QMetaObject& meta = TForm1::staticMetaObject;
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
      names << QString::fromLatin1(meta.property(i).name());
    }
    QCOMPARE(names, (QStringList{"suiForm1", "suiThemeManager1", "suiButton1",
                                 "lblPhase", "suiURLLabel1"}));
    QVERIFY(meta.indexOfSlot("suiButton1Click()") >= meta.methodOffset());

    auto form = MakeForm();
    QVERIFY(form);
    for (const QString& name : names) {
      QObject* member =
          form->property(name.toLatin1().constData()).value<QObject*>();
      QVERIFY2(member != nullptr, qPrintable(name));
      QCOMPARE(member->objectName(), name);
    }
    QCOMPARE(form->objectName(), QString("Form1"));
  }

  void geometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("expected");
    // The whole window is the client area; the frame covers it.
    QTest::newRow("Form1 size") << "Form1" << QRect(0, 0, 258, 187);
    QTest::newRow("suiForm1") << "suiForm1" << QRect(0, 0, 258, 187);
    QTest::newRow("lblPhase") << "lblPhase" << QRect(16, 56, 233, 33);
    QTest::newRow("suiURLLabel1") << "suiURLLabel1" << QRect(24, 152, 55, 11);
    QTest::newRow("suiButton1") << "suiButton1" << QRect(144, 136, 89, 33);
    // Inside the 1-pixel border; 23 high.
    QTest::newRow("title bar") << "titleBar" << QRect(1, 1, 256, 23);
    // 19 x 19, 2 px from the bar's top; close at the right edge, then
    // minimise, then the control box.
    QTest::newRow("close") << "suiForm1CloseButton" << QRect(234, 2, 19, 19);
    QTest::newRow("minimise")
        << "suiForm1MinimizeButton" << QRect(214, 2, 19, 19);
    QTest::newRow("control box")
        << "suiForm1ControlBoxButton" << QRect(194, 2, 19, 19);
  }
  void geometry() {
    QFETCH(QString, name);
    QFETCH(QRect, expected);
    auto form = MakeForm();
    QVERIFY(form);
    QWidget* w = name == "Form1" ? form.get() : form->findChild<QWidget*>(name);
    QVERIFY(w != nullptr);
    if (w == form.get()) {
      QCOMPARE(w->size(), expected.size());
    } else {
      QCOMPARE(w->geometry(), expected);
    }
  }

  void windowSettings() {
    auto form = MakeForm();
    QVERIFY(form);
    QCOMPARE(form->minimumSize(), QSize(130, 50));
    QVERIFY(form->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!form->windowIcon().isNull());
    // Centred on the screen when shown.
    const QPoint screen_centre = form->screen()->availableGeometry().center();
    QVERIFY2(
        (form->frameGeometry().center() - screen_centre).manhattanLength() <= 1,
        "window not centred");
    // The system's button face behind everything.
    QCOMPARE(form->palette().color(QPalette::Window),
             form->palette().color(QPalette::Button));
    // The button is the one control that takes the keyboard focus.
    QCOMPARE(form->suiButton1->focusPolicy(), Qt::StrongFocus);
    QVERIFY(!form->suiThemeManager1->isVisible());
  }

  void texts_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("expected");
    QTest::newRow("window caption") << "window caption" << kCaption;
    QTest::newRow("frame caption") << "frame caption" << kCaption;
    QTest::newRow("lblPhase") << "lblPhase"
                              << "# 請將本程式與資料檔放在同一資料夾下！";
    QTest::newRow("link text") << "link text"
                               << "Ostrevin";
    QTest::newRow("button") << "button"
                            << "修護資料庫";
    QTest::newRow("frame style") << "frame style"
                                 << "Protein";
    QTest::newRow("button style") << "button style"
                                  << "BlueGlass";
    QTest::newRow("theme style") << "theme style"
                                 << "Protein";
    QTest::newRow("theme components") << "theme components"
                                      << "suiForm1";
  }
  void texts() {
    QFETCH(QString, what);
    QFETCH(QString, expected);
    auto form = MakeForm();
    QVERIFY(form);
    const QMap<QString, QString> actual = {
        {"window caption", form->windowTitle()},
        {"frame caption", form->suiForm1->caption()},
        {"lblPhase", form->lblPhase->text()},
        {"link text", form->suiURLLabel1->text()},
        {"button", form->suiButton1->text()},
        {"frame style", form->suiForm1->uiStyle()},
        {"button style", form->suiButton1->uiStyle()},
        {"theme style", form->suiThemeManager1->uiStyle()},
        {"theme components", form->suiThemeManager1->componentList().join("|")},
    };
    QVERIFY(actual.contains(what));
    QCOMPARE(actual.value(what), expected);
    // The address is a web address; the label starts out unhovered.
    QVERIFY(QUrl(form->suiURLLabel1->url()).scheme().startsWith("http"));
  }

  void colours_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("border") << "border" << QColor(0, 0, 0);
    QTest::newRow("client") << "client" << QColor(251, 251, 251);
    QTest::newRow("caption") << "caption" << QColor(255, 255, 255);
    QTest::newRow("link") << "link" << QColor(0, 0, 255);
    QTest::newRow("link hovered") << "link hovered" << QColor(255, 0, 0);
  }
  void colours() {
    QFETCH(QString, what);
    QFETCH(QColor, expected);
    auto form = MakeForm();
    QVERIFY(form);
    const QMap<QString, QColor> actual = {
        {"border", form->suiForm1->borderColor()},
        {"client", form->suiForm1->color()},
        {"caption", form->suiForm1->titleBarFontColor()},
        {"link", form->suiURLLabel1->linkColor()},
        {"link hovered", form->suiURLLabel1->hoverColor()},
    };
    QCOMPARE(actual.value(what), expected);
    QCOMPARE(form->suiForm1->borderWidth(), 1);
  }

  void fonts_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("underline");
    QTest::newRow("window") << "window"
                            << "MS Sans Serif" << false << false;
    QTest::newRow("lblPhase") << "lblPhase"
                              << "MS Sans Serif" << false << false;
    QTest::newRow("button") << "button"
                            << "MS Sans Serif" << false << false;
    QTest::newRow("title bar") << "title bar"
                               << "Tahoma" << true << false;
    QTest::newRow("link") << "link"
                          << "新細明體" << false << true;
  }
  void fonts() {
    QFETCH(QString, what);
    QFETCH(QString, family);
    QFETCH(bool, bold);
    QFETCH(bool, underline);
    auto form = MakeForm();
    QVERIFY(form);
    const QMap<QString, QFont> actual = {
        {"window", form->font()},
        {"lblPhase", form->lblPhase->font()},
        {"button", form->suiButton1->font()},
        {"title bar", form->suiForm1->titleBarFont()},
        {"link", form->suiURLLabel1->font()},
    };
    const QFont f = actual.value(what);
    QCOMPARE(f.families().value(0), family);
    // Han text falls back to the installed Ming face.
    QCOMPARE(f.families().last(), QString("AR PL UMing TW"));
    QCOMPARE(f.pixelSize(), 11);
    QCOMPARE(f.bold(), bold);
    QCOMPARE(f.underline(), underline);
  }

  void skinImages_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("icon") << ":/skin/app_icon.png" << QSize(32, 32);
    QTest::newRow("title left") << ":/skin/title_left.png" << QSize(441, 23);
    QTest::newRow("title client") << ":/skin/title_client.png" << QSize(1, 23);
    QTest::newRow("title right") << ":/skin/title_right.png" << QSize(1, 23);
    for (const char* kind : {"close", "min", "menu"}) {
      for (const char* state : {"normal", "hover", "pressed"}) {
        const QString path = QString(":/skin/title_%1_%2.png").arg(kind, state);
        QTest::newRow(qPrintable(path)) << path << QSize(19, 19);
      }
    }
  }
  void skinImages() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    QCOMPARE(image.depth(), 32);
    QVERIFY(image.hasAlphaChannel());
  }

  // The frame as drawn: border, client colour, the title bar from its
  // images (the left image clipped, the right one whole at the right edge,
  // the middle one stretched when the window is wide), the buttons' images.
  void drawnFrame() {
    auto form = MakeForm();
    QVERIFY(form);
    const QImage left(":/skin/title_left.png");
    const QImage middle(":/skin/title_client.png");
    const QImage right(":/skin/title_right.png");
    auto pixel = [&](int x, int y) {
      return form->grab().toImage().pixelColor(x, y).rgb();
    };
    const QImage shot = form->grab().toImage();
    for (QPoint p : {QPoint(0, 0), QPoint(257, 0), QPoint(0, 186),
                     QPoint(257, 186), QPoint(0, 100), QPoint(120, 186)}) {
      QCOMPARE(shot.pixelColor(p).rgb(), qRgb(0, 0, 0));
    }
    for (QPoint p : {QPoint(1, 24), QPoint(5, 100), QPoint(256, 185)}) {
      QCOMPARE(shot.pixelColor(p).rgb(), qRgb(251, 251, 251));
    }
    // Title bar row 21 (below the caption), frame x = bar x + 1.
    QCOMPARE(shot.pixelColor(101, 22).rgb(), left.pixelColor(100, 21).rgb());
    QCOMPARE(shot.pixelColor(256, 10).rgb(), right.pixelColor(0, 9).rgb());
    QVERIFY(left.pixelColor(100, 21).rgb() != qRgb(251, 251, 251));

    const QImage close = form->findChild<QWidget*>("suiForm1CloseButton")
                             ->grab()
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    const QImage close_normal = QImage(":/skin/title_close_normal.png")
                                    .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(close.pixelColor(9, 9), close_normal.pixelColor(9, 9));

    // Wider than the left image: the middle image fills the gap.
    form->resize(600, 187);
    QCOMPARE(form->suiForm1->geometry(), QRect(0, 0, 600, 187));
    QCOMPARE(pixel(500, 22), middle.pixelColor(0, 21).rgb());
    QCOMPARE(pixel(598, 10), right.pixelColor(0, 9).rgb());
    QCOMPARE(pixel(599, 10), qRgb(0, 0, 0));
    QCOMPARE(form->findChild<QWidget*>("suiForm1CloseButton")->geometry(),
             QRect(598 - 3 - 19, 2, 19, 19));
  }

  void titleButtonImagesFollowPointer() {
    auto form = MakeForm();
    QVERIFY(form);
    auto* button =
        form->findChild<TsuiTitleBarButton*>("suiForm1MinimizeButton");
    QVERIFY(button != nullptr);
    const QImage normal = button->normalImage().toImage();
    const QImage hover = button->hoverImage().toImage();
    const QImage pressed = button->pressedImage().toImage();
    QVERIFY(normal != hover && normal != pressed && hover != pressed);
    QCOMPARE(button->CurrentImage().toImage(), normal);
    QTest::mouseMove(form.get(), button->mapTo(form.get(), QPoint(9, 9)));
    QTRY_VERIFY(button->underMouse());
    QCOMPARE(button->CurrentImage().toImage(), hover);
    QCOMPARE(button->grab().toImage().pixelColor(9, 2), hover.pixelColor(9, 2));
    button->setDown(true);
    QCOMPARE(button->CurrentImage().toImage(), pressed);
    button->setDown(false);
    QTest::mouseMove(form.get(), QPoint(100, 100));
    QTRY_VERIFY(!button->underMouse());
    QCOMPARE(button->CurrentImage().toImage(), normal);
  }

  void clickRunsRepair_data() {
    QTest::addColumn<int>("driver_result");
    QTest::addColumn<bool>("driver_writes");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("database_after");
    QTest::newRow("compacted")
        << 1 << true << "資料庫修護成功！" << QByteArray("compacted");
    QTest::newRow("driver failed")
        << 0 << true << "資料庫修護失敗！" << QByteArray("original");
    QTest::newRow("result 2")
        << 2 << false << "資料庫修護失敗！" << QByteArray("original");
  }
  void clickRunsRepair() {
    QFETCH(int, driver_result);
    QFETCH(bool, driver_writes);
    QFETCH(QString, message);
    QFETCH(QByteArray, database_after);
    WriteFile(InDir("data.mdb"), "original");
    const QString scratch = InDir("data_repair.mdb");
    FakeInstaller installer;
    installer.behaviour = [&] {
      if (driver_writes) WriteFile(scratch, "compacted");
      return driver_result;
    };
    auto form = MakeForm(&installer);
    QVERIFY(form);
    const QString label_before = form->lblPhase->text();

    BoxWatcher watcher;
    QTest::mouseClick(form->suiButton1, Qt::LeftButton);

    QCOMPARE(installer.calls, 1);
    QCOMPARE(installer.last_request, uint16_t{1});
    QCOMPARE(installer.last_driver, std::string(kAccessDriver));
    QVERIFY(installer.last_attributes.find(dir_->path().toStdString() +
                                           "/data.mdb ") != std::string::npos);
    QCOMPARE(watcher.seen.size(), size_t{1});
    const SeenBox& box = watcher.seen[0];
    QCOMPARE(box.text, message);
    QCOMPARE(box.title, QString("HVQ_Repair"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.standard_buttons,
             QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.button_count, 1);
    QVERIFY(box.modal);
    QVERIFY2((box.centre - box.screen_centre).manhattanLength() <= 1,
             qPrintable(QString("box centre %1,%2, screen centre %3,%4")
                            .arg(box.centre.x())
                            .arg(box.centre.y())
                            .arg(box.screen_centre.x())
                            .arg(box.screen_centre.y())));
    QCOMPARE(ReadFile(InDir("data.mdb")), database_after);
    QVERIFY(!QFile::exists(scratch));
    // The handler changes nothing on the window.
    QVERIFY(form->suiButton1->isEnabled());
    QCOMPARE(form->lblPhase->text(), label_before);

    // The next click is an ordinary run; Enter on the focused button clicks
    // it too.
    QTest::mouseClick(form->suiButton1, Qt::LeftButton);
    QCOMPARE(installer.calls, 2);
    QCOMPARE(watcher.seen.size(), size_t{2});
    form->suiButton1->setFocus();
    QTest::keyClick(form->suiButton1, Qt::Key_Return);
    QCOMPARE(installer.calls, 3);
    QCOMPARE(watcher.seen.size(), size_t{3});
  }

  void linkHoverColours() {
    auto form = MakeForm();
    QVERIFY(form);
    TsuiURLLabel* link = form->suiURLLabel1;
    auto count = [&](QRgb colour) {
      const QImage image = link->grab().toImage();
      int n = 0;
      for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
          n += image.pixelColor(x, y).rgb() == colour;
        }
      }
      return n;
    };
    QVERIFY(!link->hovered());
    QVERIFY(count(qRgb(0, 0, 255)) > 20);
    QCOMPARE(count(qRgb(255, 0, 0)), 0);

    QTest::mouseMove(form.get(), QPoint(30, 157));
    QTRY_VERIFY(link->hovered());
    QCOMPARE(link->textColor(), QColor(255, 0, 0));
    QVERIFY(count(qRgb(255, 0, 0)) > 20);
    QCOMPARE(count(qRgb(0, 0, 255)), 0);

    QTest::mouseMove(form.get(), QPoint(120, 100));
    QTRY_VERIFY(!link->hovered());
    QCOMPARE(link->textColor(), QColor(0, 0, 255));
    QVERIFY(count(qRgb(0, 0, 255)) > 20);
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
  }

  void linkOpens_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("opened");
    QTest::newRow("address")
        << "https://example.com/" << QStringList{"https://example.com/"};
    QTest::newRow("blanks around")
        << "  https://example.com/x  " << QStringList{"https://example.com/x"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("all blank") << "   \t " << QStringList{};
  }
  void linkOpens() {
    QFETCH(QString, address);
    QFETCH(QStringList, opened);
    auto form = MakeForm();
    QVERIFY(form);
    QStringList seen;
    form->suiURLLabel1->setOpener(
        [&](const QUrl& url) { seen << url.toString(); });
    form->suiURLLabel1->setUrl(address);
    QTest::mouseClick(form->suiURLLabel1, Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(seen, opened);
  }

  // The entry's path: the application makes the main form and runs the
  // loop; closing the form through the title bar ends the loop. No repair
  // runs and no file in the program's folder changes.
  void closingEndsLoopAndTouchesNoFile() {
    WriteFile(InDir("data.mdb"), "original");
    WriteFile(InDir("data_repair.mdb"), "left over");
    const QStringList before = Snapshot(dir_->path());
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    QVERIFY(app != nullptr);
    TForm1* form = nullptr;
    app->CreateForm(form);
    QVERIFY(form != nullptr);
    QCOMPARE(app->main_form(), form);
    FakeInstaller installer;
    UseInstaller(*form, &installer);
    bool was_shown = false;
    QTimer::singleShot(0, form, [&] {
      was_shown = form->isVisible();
      QTest::mouseClick(form->findChild<QWidget*>("suiForm1CloseButton"),
                        Qt::LeftButton);
    });
    app->Run();
    QVERIFY(was_shown);
    QVERIFY(!form->isVisible());
    QCOMPARE(installer.calls, 0);
    QCOMPARE(Snapshot(dir_->path()), before);
  }

  void minimiseButton() {
    auto form = MakeForm();
    QVERIFY(form);
    QTest::mouseClick(form->findChild<QWidget*>("suiForm1MinimizeButton"),
                      Qt::LeftButton);
    QTRY_VERIFY(form->windowState().testFlag(Qt::WindowMinimized));
  }

  void controlBoxOpensSystemMenu() {
    auto form = MakeForm();
    QVERIFY(form);
    QWidget* box = form->findChild<QWidget*>("suiForm1ControlBoxButton");
    QTest::mouseClick(box, Qt::LeftButton);
    auto* menu = form->findChild<QMenu*>("systemMenu");
    QVERIFY(menu != nullptr);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->pos(), box->mapToGlobal(QPoint(0, box->height())));
    auto* close = menu->findChild<QAction*>("closeAction");
    auto* minimise = menu->findChild<QAction*>("minimizeAction");
    QVERIFY(close && close->isEnabled() && minimise && minimise->isEnabled());
    close->trigger();
    menu->close();
    QTRY_VERIFY(!form->isVisible());
  }

  void draggingTitleBarMovesWindow() {
    auto form = MakeForm();
    QVERIFY(form);
    QWidget* bar = form->suiForm1->titleBar();
    const QPoint start = form->pos();
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(60, 10));
    QTest::mouseMove(bar, QPoint(90, 30));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(90, 30));
    QTRY_COMPARE(form->pos(), start + QPoint(30, 20));
    // A press on a button does not drag.
    QWidget* close = form->findChild<QWidget*>("suiForm1CloseButton");
    QTest::mousePress(close, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(close, QPoint(15, 15));
    QCOMPARE(form->pos(), start + QPoint(30, 20));
  }

  void resizingByTheFrameEdges_data() {
    QTest::addColumn<QPoint>("grip");  // in the frame
    QTest::addColumn<QPoint>("drag");
    QTest::addColumn<QRect>("change");  // of the window's geometry
    QTest::newRow("bottom right")
        << QPoint(256, 185) << QPoint(40, 30) << QRect(0, 0, 40, 30);
    QTest::newRow("left") << QPoint(1, 100) << QPoint(-20, 7)
                          << QRect(-20, 0, 20, 0);
    QTest::newRow("top border")
        << QPoint(100, 0) << QPoint(5, -10) << QRect(0, -10, 0, 10);
    // Never smaller than 130 x 50; the left edge stops, the right one stays.
    QTest::newRow("minimum") << QPoint(256, 185) << QPoint(-400, -400)
                             << QRect(0, 0, 130 - 258, 50 - 187);
    QTest::newRow("minimum from the left")
        << QPoint(2, 100) << QPoint(300, 0) << QRect(128, 0, 130 - 258, 0);
    QTest::newRow("client area")
        << QPoint(100, 100) << QPoint(30, 30) << QRect(0, 0, 0, 0);
  }
  void resizingByTheFrameEdges() {
    QFETCH(QPoint, grip);
    QFETCH(QPoint, drag);
    QFETCH(QRect, change);
    auto form = MakeForm();
    QVERIFY(form);
    const QRect before = form->geometry();
    QTest::mousePress(form->suiForm1, Qt::LeftButton, {}, grip);
    // The pointer's global position is taken before the window changes.
    const QPoint target = form->suiForm1->mapToGlobal(grip + drag);
    QMouseEvent move(QEvent::MouseMove, form->suiForm1->mapFromGlobal(target),
                     target, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->suiForm1, &move);
    QTest::mouseRelease(form->suiForm1, Qt::LeftButton, {},
                        form->suiForm1->mapFromGlobal(target));
    const QRect expected(before.x() + change.x(), before.y() + change.y(),
                         before.width() + change.width(),
                         before.height() + change.height());
    QTRY_COMPARE(form->geometry(), expected);
    QCOMPARE(form->suiForm1->geometry(), QRect(QPoint(0, 0), expected.size()));
  }

  // The frame hands its style to its controls only when told to; the form
  // keeps it off, so the button stays "BlueGlass" under the "Protein"
  // theme.
  void frameStylePropagation_data() {
    QTest::addColumn<bool>("auto_update_sub");
    QTest::addColumn<QString>("button_style");
    QTest::newRow("kept") << false << "BlueGlass";
    QTest::newRow("handed on") << true << "Protein";
  }
  void frameStylePropagation() {
    QFETCH(bool, auto_update_sub);
    QFETCH(QString, button_style);
    QWidget window;
    auto* frame = new TsuiForm(&window);
    frame->setObjectName("frame");
    auto* button = new TsuiButton(frame);
    button->setUiStyle("BlueGlass");
    frame->setUiStyleAutoUpdateSub(auto_update_sub);
    auto* theme = new TsuiThemeManager(&window);
    theme->setComponentList({"frame"});
    theme->setUiStyle("Protein");
    QCOMPARE(frame->uiStyle(), QString("Protein"));
    QCOMPARE(button->uiStyle(), button_style);
  }

  void exceptionInHandlerShowsBox_data() {
    QTest::addColumn<bool>("standard");
    QTest::addColumn<QString>("text");
    QTest::newRow("std::exception") << true << "disk on fire";
    QTest::newRow("other object") << false << "";
  }
  void exceptionInHandlerShowsBox() {
    QFETCH(bool, standard);
    QFETCH(QString, text);
    ThrowingWidget widget;
    widget.thrower = [standard] {
      if (standard) throw std::runtime_error("disk on fire");
      throw 42;
    };
    BoxWatcher watcher;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&widget, &event);
    QCOMPARE(watcher.seen.size(), size_t{1});
    QCOMPARE(watcher.seen[0].text, text);
    QCOMPARE(watcher.seen[0].title, QString("HVQ_Repair"));
    QCOMPARE(watcher.seen[0].button_count, 1);
  }
};

}  // namespace hvq

int main(int argc, char** argv) {
  hvq::PrepareDisplayEnvironment();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  hvq::TApplication app(argc, argv);
  hvq::UnitTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "unit1_test.moc"
