// The catalog: rows of MSysObjects, whose table definition is always on
// page 2. Each entry names an object (table, query, relationship, ...);
// for tables the low 24 bits of Id are the tdef page.
#ifndef HVQ_JET_CATALOG_H_
#define HVQ_JET_CATALOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hvq::jet {

class PageFile;
struct TableDef;

// Object types in MSysObjects.Type.
inline constexpr int kObjectTypeTable = 1;
inline constexpr int kObjectTypeLinkedTable = 6;
inline constexpr int kObjectTypeLinkedOdbc = 4;
inline constexpr int kObjectTypeQuery = 5;
// Flags marking system tables.
inline constexpr uint32_t kObjectFlagsSystemMask = 0x80000002u;

struct CatalogEntry {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int type = 0;
  uint32_t flags = 0;

  bool is_table() const { return type == kObjectTypeTable; }
  bool is_system_table() const {
    return is_table() && (flags & kObjectFlagsSystemMask) != 0;
  }
  bool is_user_table() const { return is_table() && !is_system_table(); }
  uint32_t tdef_page() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
};

// Reads every live row of MSysObjects, in storage order.
Result<std::vector<CatalogEntry>> ReadCatalog(PageFile& file);

}  // namespace hvq::jet

#endif  // HVQ_JET_CATALOG_H_
