// The setup library's entry points, called by the ODBC installer
// (SQLConfigDataSource loads this library and calls ConfigDSN).
//
// Contract: every outcome is a BOOL. On FALSE one error is posted with
// SQLPostInstallerError, its text a plain English sentence naming the file
// and the reason. No exception leaves these functions.
#include <odbcinst.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "driver/attributes.h"
#include "driver/setup_request.h"
#include "platform/status.h"

namespace {

// The installer's BOOL values (unixODBC's headers do not name them).
constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

DWORD ErrorCodeFor(hvq::StatusCode code) {
  switch (code) {
    case hvq::StatusCode::kInvalidArgument:
      return ODBC_ERROR_INVALID_KEYWORD_VALUE;
    case hvq::StatusCode::kNotFound:
    case hvq::StatusCode::kAlreadyExists:
      return ODBC_ERROR_INVALID_PATH;
    default:
      return ODBC_ERROR_REQUEST_FAILED;
  }
}

BOOL Fail(DWORD code, const std::string& message) {
  // The installer keeps messages in fixed buffers; keep them short.
  std::string text = message.size() > 900 ? message.substr(0, 900) : message;
  SQLPostInstallerError(code, text.c_str());
  return kFalse;
}

BOOL HandleRequest(WORD request, LPCSTR attributes) {
  if (request != ODBC_ADD_DSN && request != ODBC_CONFIG_DSN) {
    return Fail(ODBC_ERROR_INVALID_REQUEST_TYPE,
                "this driver only compacts and repairs databases "
                "(COMPACT_DB / REPAIR_DB with ODBC_ADD_DSN or "
                "ODBC_CONFIG_DSN); request " +
                    std::to_string(request) + " is not supported");
  }
  if (attributes == nullptr) {
    return Fail(ODBC_ERROR_INVALID_KEYWORD_VALUE, "no attributes were given");
  }
  std::string_view list(attributes,
                        hvq::driver::AttributeListLength(attributes));
  hvq::Result<hvq::driver::DriverRequest> parsed =
      hvq::driver::ParseAttributes(list, hvq::driver::IsRegularFile);
  if (!parsed.ok()) {
    return Fail(ErrorCodeFor(parsed.status().code()),
                parsed.status().message());
  }
  hvq::Status st = hvq::driver::RunRequest(*parsed);
  if (!st.ok()) return Fail(ErrorCodeFor(st.code()), st.ToString());
  return kTrue;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL INSTAPI
ConfigDSN(HWND /*parent*/, WORD request, LPCSTR /*driver*/, LPCSTR attributes) {
  try {
    return HandleRequest(request, attributes);
  } catch (const std::bad_alloc&) {
    return Fail(ODBC_ERROR_OUT_OF_MEM, "out of memory");
  } catch (const std::exception& e) {
    return Fail(ODBC_ERROR_GENERAL_ERR,
                std::string("internal error: ") + e.what());
  } catch (...) {
    SQLPostInstallerError(ODBC_ERROR_GENERAL_ERR, "internal error");
    return kFalse;
  }
}

// Installing or removing the driver needs nothing from the library.
__attribute__((visibility("default"))) BOOL INSTAPI
ConfigDriver(HWND /*parent*/, WORD request, LPCSTR /*driver*/, LPCSTR /*args*/,
             LPSTR message, WORD message_max, WORD* message_out) {
  try {
    if (message_out != nullptr) *message_out = 0;
    if (message != nullptr && message_max > 0) message[0] = '\0';
    if (request == ODBC_INSTALL_DRIVER || request == ODBC_REMOVE_DRIVER) {
      return kTrue;
    }
    return Fail(ODBC_ERROR_INVALID_REQUEST_TYPE,
                "the driver has no settings to configure");
  } catch (...) {
    return kFalse;
  }
}

}  // extern "C"
