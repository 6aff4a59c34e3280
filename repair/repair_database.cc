#include "repair/repair_database.h"

namespace hvq {

std::string BuildCompactionAttributes(const std::string& folder) {
  std::string text;
  text += "COMPACT_DB=";
  text += folder;
  text += "data.mdb ";
  text += folder;
  text += "data_repair.mdb General;PWD=";
  text += kDatabasePassword;
  text += ";DataDirectory=";
  text += folder;
  text += ";MaxScanRows=20";
  // The text's own terminator, then the empty entry that ends the list.
  text.push_back('\0');
  text.push_back('\0');
  return text;
}

RepairEnvironment DefaultRepairEnvironment(MessageSink& messages) {
  RepairEnvironment env;
  env.exe_name = [] { return ExeName(); };
  env.files = &PosixFileOps();
  env.installer = &OdbcInstaller();
  env.messages = &messages;
  return env;
}

void RepairDatabase(const RepairEnvironment& env) {
  FileOps& files = *env.files;
  MessageSink& messages = *env.messages;

  Result<std::string> exe = env.exe_name();
  if (!exe.ok()) {
    messages.ShowMessage(kFailureMessage);
    return;
  }
  const std::string folder = ExtractFilePath(*exe);
  const std::string attributes = BuildCompactionAttributes(folder);
  const std::string database_file = folder + kDatabaseFileName;
  const std::string repair_file = folder + kRepairFileName;

  if (files.FileExists(repair_file)) {
    // Without data.mdb beside it, the scratch file may be the only copy of
    // the data (a replacement that never finished): leave it for the user.
    if (!files.FileExists(database_file)) {
      messages.ShowMessage(kFailureMessage);
      return;
    }
    (void)files.DeleteFile(repair_file);
  }

  const int result =
      env.installer->ConfigDataSource(kOdbcAddDsn, kAccessDriver, attributes);
  const bool succeeded = (static_cast<unsigned>(result) & 0xFFFFu) == 1u;

  if (!succeeded) {
    if (files.FileExists(repair_file)) (void)files.DeleteFile(repair_file);
    messages.ShowMessage(kFailureMessage);
    return;
  }

  if (files.FileExists(repair_file)) {
    ReplaceOutcome outcome = SafeReplace(files, repair_file, database_file);
    if (!outcome.replaced) {
      // data.mdb is exactly as it was; the compacted copy is dropped.
      (void)files.DeleteFile(repair_file);
      messages.ShowMessage(kFailureMessage);
      return;
    }
    // Replaced: data.mdb is the complete compacted file even if flushing the
    // folder failed afterwards (the old or the new file survives a crash,
    // both whole), so the repair is reported as done.
  }
  messages.ShowMessage(kSuccessMessage);
}

}  // namespace hvq
