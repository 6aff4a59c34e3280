// The ODBC installer call that hands a request to a driver's setup library.
//
// Installer::ConfigDataSource mirrors SQLConfigDataSource: `attributes` is the
// attribute list exactly as handed over, i.e. each attribute followed by a
// NUL and the list ended by one further NUL. The return value is the
// installer's BOOL, unmodified; callers decide what counts as success.
#ifndef HVQ_PLATFORM_ODBC_INSTALLER_H_
#define HVQ_PLATFORM_ODBC_INSTALLER_H_

#include <cstdint>
#include <string>

namespace hvq {

inline constexpr uint16_t kOdbcAddDsn = 1;  // ODBC_ADD_DSN

class Installer {
 public:
  virtual ~Installer() = default;
  virtual int ConfigDataSource(uint16_t request, const std::string& driver,
                               const std::string& attributes) = 0;
};

// unixODBC's libodbcinst. The driver is looked up in odbcinst.ini (in
// $ODBCSYSINI when set, which unixODBC reads once per process).
Installer& OdbcInstaller();

}  // namespace hvq

#endif  // HVQ_PLATFORM_ODBC_INSTALLER_H_
