// A stand-in for the ODBC installer in tests: records each call and answers
// with whatever `behaviour` does (a driver's work and its result).
#ifndef HVQ_REPAIR_TESTING_FAKE_INSTALLER_H_
#define HVQ_REPAIR_TESTING_FAKE_INSTALLER_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/odbc_installer.h"

namespace hvq::testing {

class FakeInstaller : public Installer {
 public:
  int ConfigDataSource(uint16_t request, const std::string& driver,
                       const std::string& attributes) override {
    ++calls;
    last_request = request;
    last_driver = driver;
    last_attributes = attributes;
    return behaviour ? behaviour() : 0;
  }
  std::function<int()> behaviour;
  int calls = 0;
  uint16_t last_request = 0;
  std::string last_driver;
  std::string last_attributes;
};

}  // namespace hvq::testing

#endif  // HVQ_REPAIR_TESTING_FAKE_INSTALLER_H_
