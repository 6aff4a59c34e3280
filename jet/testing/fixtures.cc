// Hermetic test databases. See fixtures.h.
#include "jet/testing/fixtures.h"

namespace hvq::jet::testing {

Result<Fixture> BuildFragmentedDatabase(const std::string& path,
                                        const FixtureOptions& o) {
  Fixture f;
  f.path = path;
  f.options.rows = o.rows;
  f.options.tables = o.tables;
  f.options.indexes = o.indexes;
  f.options.deleted = o.deleted;
  f.options.password = o.password;
  f.options.database_key = o.database_key;
  f.options.version = o.version;
  f.options.seed = o.seed;
  HVQ_ASSIGN_OR_RETURN(f.summary, Generate(path, f.options));
  return f;
}

}  // namespace hvq::jet::testing
