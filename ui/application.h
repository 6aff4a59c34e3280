// TApplication: the application object of the program.
//
// It carries the application title (the name the window system shows and
// the caption of every message box), the application icon, owns the forms
// made with CreateForm (the first becomes the main form) and runs the event
// loop until the main form is closed. An exception that escapes an event
// handler is shown in a box with its message and the loop goes on.
#ifndef HVQ_UI_APPLICATION_H_
#define HVQ_UI_APPLICATION_H_

#include <QApplication>
#include <QString>
#include <memory>
#include <vector>

namespace hvq {

// Fixes the display settings the window is designed for: no scaling by the
// screen's resolution, fonts sized for 96 pixels per inch. Call before the
// application object exists.
void PrepareDisplayEnvironment();

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  // Creates a form of class T owned by the application; the first one made
  // is the main form.
  template <class T>
  void CreateForm(T*& form) {
    form = new T(nullptr);
    forms_.emplace_back(form);
    if (main_form_ == nullptr) main_form_ = form;
  }
  QWidget* main_form() const { return main_form_; }

  // Shows the main form and runs the loop until it has been closed.
  void Run();

  bool notify(QObject* receiver, QEvent* event) override;

  // The box for an exception: its message, the application title as
  // caption.
  static void ShowException(const QString& message);

 private:
  std::vector<std::unique_ptr<QWidget>> forms_;
  QWidget* main_form_ = nullptr;
};

}  // namespace hvq

#endif  // HVQ_UI_APPLICATION_H_
