// The program entry: application object, title, main form, event loop.
// Always returns 0; an exception that escapes is shown in a box captioned
// with the application title (an empty message for anything that is not a
// std::exception).
#include <QString>
#include <cstdio>
#include <exception>
#include <memory>

#include "platform/messages.h"
#include "ui/application.h"
#include "ui/unit1.h"

namespace {

// In a box when the application object exists, else on standard error.
void ReportException(bool have_application, const char* message) {
  if (have_application) {
    hvq::TApplication::ShowException(QString::fromLocal8Bit(message));
  } else {
    std::fprintf(stderr, "%s: %s\n", hvq::kApplicationTitle, message);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  hvq::PrepareDisplayEnvironment();
  std::unique_ptr<hvq::TApplication> application;
  try {
    application = std::make_unique<hvq::TApplication>(argc, argv);
    application->CreateForm(hvq::Form1);
    application->Run();
  } catch (const std::exception& e) {
    ReportException(application != nullptr, e.what());
  } catch (...) {
    ReportException(application != nullptr, "");
  }
  return 0;
}
