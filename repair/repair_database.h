// The repair: compacts data.mdb in the program's folder through the ODBC
// installer's Access driver and puts the compacted file in its place.
//
// Contract, for the program folder F (the executable's folder, with its
// trailing '/'):
//  - A stale F"data_repair.mdb" is deleted before the driver is called,
//    unless F"data.mdb" is missing: then that file may hold the only copy of
//    the data, it is left alone and the run ends with the failure message.
//  - The driver is asked to compact F"data.mdb" into F"data_repair.mdb".
//    Only a result whose low 16 bits equal 1 is success.
//  - On success the compacted file replaces data.mdb through SafeReplace;
//    data.mdb is never missing, and is either unchanged or the complete
//    compacted file. If the replacement cannot be made, the scratch file is
//    removed and the failure message shown. Success without a scratch file
//    leaves data.mdb unchanged and shows the success message.
//  - On failure any scratch file is removed.
//  - Exactly one message is shown per run.
#ifndef HVQ_REPAIR_REPAIR_DATABASE_H_
#define HVQ_REPAIR_REPAIR_DATABASE_H_

#include <functional>
#include <string>

#include "platform/file_ops.h"
#include "platform/messages.h"
#include "platform/odbc_installer.h"
#include "platform/program_path.h"
#include "platform/status.h"

namespace hvq {

inline constexpr char kDatabaseFileName[] = "data.mdb";
inline constexpr char kRepairFileName[] = "data_repair.mdb";
inline constexpr char kAccessDriver[] = "Microsoft Access Driver (*.mdb)";
// The database's password, a fixed value of the build.
inline constexpr char kDatabasePassword[] = "pinrok36248153xuvqz";

// The outcome messages, code page 950 bytes.
// "資料庫修護成功！"
inline constexpr char kSuccessMessage[] =
    "\xb8\xea\xae\xc6\xae\x77\xad\xd7\xc5\x40\xa6\xa8\xa5\x5c\xa1\x49";
// "資料庫修護失敗！"
inline constexpr char kFailureMessage[] =
    "\xb8\xea\xae\xc6\xae\x77\xad\xd7\xc5\x40\xa5\xa2\xb1\xd1\xa1\x49";

// The COMPACT_DB attribute text for `folder` (which ends with '/'), followed
// by its terminating NUL and the NUL that ends the attribute list.
std::string BuildCompactionAttributes(const std::string& folder);

// What the repair uses of the platform; tests substitute each piece.
struct RepairEnvironment {
  std::function<Result<std::string>()> exe_name;
  FileOps* files = nullptr;
  Installer* installer = nullptr;
  MessageSink* messages = nullptr;
};

// The real platform, reporting through `messages`.
RepairEnvironment DefaultRepairEnvironment(MessageSink& messages);

// Runs one repair and reports its outcome through env.messages.
void RepairDatabase(const RepairEnvironment& env);

}  // namespace hvq

#endif  // HVQ_REPAIR_REPAIR_DATABASE_H_
