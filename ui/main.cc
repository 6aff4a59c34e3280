// The program entry: application object, title, main form, event loop.
// Always returns 0; an exception that escapes is shown in a box captioned
// with the application title (an empty message for anything that is not a
// std::exception).
#include <QString>
#include <exception>
#include <memory>

#include "ui/application.h"
#include "ui/unit1.h"

int main(int argc, char* argv[]) {
  hvq::PrepareDisplayEnvironment();
  std::unique_ptr<hvq::TApplication> application;
  try {
    application = std::make_unique<hvq::TApplication>(argc, argv);
    application->CreateForm(hvq::Form1);
    application->Run();
  } catch (const std::exception& e) {
    if (application) {
      hvq::TApplication::ShowException(QString::fromLocal8Bit(e.what()));
    }
  } catch (...) {
    if (application) hvq::TApplication::ShowException(QString());
  }
  return 0;
}
