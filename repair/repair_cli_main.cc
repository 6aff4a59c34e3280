// A console entry for the repair: runs one repair of the data.mdb beside
// this executable and prints the outcome. Takes no arguments; exit code 0.
#include "platform/messages.h"
#include "repair/repair_database.h"

int main() {
  hvq::RepairDatabase(hvq::DefaultRepairEnvironment(hvq::ConsoleMessageSink()));
  return 0;
}
