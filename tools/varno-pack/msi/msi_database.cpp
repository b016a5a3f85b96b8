#include "msi/msi_database.h"

namespace varno::pack {

std::string CreateTableSql(const MsiTable& table) {
  std::string sql = "CREATE TABLE `" + table.name + "` (";
  for (size_t i = 0; i < table.columns.size(); ++i) sql += (i ? ", " : "") + table.columns[i];
  // No comma before the keys: both libraries' grammar reads them as the last column's tail.
  return sql + " PRIMARY KEY " + table.primaryKeys + ")";
}

std::string InsertSql(const MsiTable& table) {
  std::string names, markers;
  for (const std::string& column : table.columns) {
    // The name is the definition's first word, in backquotes.
    names += (names.empty() ? "" : ", ") + column.substr(0, column.find('`', 1) + 1);
    markers += markers.empty() ? "?" : ", ?";
  }
  return "INSERT INTO `" + table.name + "` (" + names + ") VALUES (" + markers + ")";
}

}  // namespace varno::pack
