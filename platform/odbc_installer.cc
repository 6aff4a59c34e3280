#include "platform/odbc_installer.h"

#include <odbcinst.h>

namespace hvq {
namespace {

class OdbcInstallerImpl final : public Installer {
 public:
  int ConfigDataSource(uint16_t request, const std::string& driver,
                       const std::string& attributes) override {
    // The list must end with an empty attribute; refuse rather than let the
    // installer read past the buffer.
    if (attributes.size() < 2 || attributes[attributes.size() - 1] != '\0' ||
        attributes[attributes.size() - 2] != '\0') {
      return 0;
    }
    return SQLConfigDataSource(nullptr, request, driver.c_str(),
                               attributes.data());
  }
};

}  // namespace

Installer& OdbcInstaller() {
  static OdbcInstallerImpl installer;
  return installer;
}

}  // namespace hvq
