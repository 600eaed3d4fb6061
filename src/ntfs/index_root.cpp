#include "ntfs/index_root.h"

namespace dravolin {

Result<IndexRoot> parseIndexRoot(ByteSpan value) {
  if (value.size() < 32) return makeError(ErrorKind::NotFound, "index root too short");
  IndexRoot root;
  root.indexed_attribute_type = readU32(value, 0);
  root.collation_rule = readU32(value, 4);
  root.index_buffer_size = readU32(value, 8);
  root.clusters_per_index_buffer = readU8(value, 12);
  auto node = parseIndexNode(value.subspan(16));
  if (!node) return std::unexpected(node.error());
  root.node = std::move(*node);
  return root;
}

Result<IndexRoot> readIndexRoot(const MftRecord& record) {
  auto attribute = findAttribute(record, AttributeType::IndexRoot, kIndexNameI30);
  if (!attribute) return std::unexpected(attribute.error());
  if (attribute->non_resident) return makeError(ErrorKind::NotFound, "index root not resident");
  return parseIndexRoot(attribute->value);
}

Result<std::vector<DataRun>> readIndexAllocationRuns(const MftRecord& record) {
  auto attribute = findAttribute(record, AttributeType::IndexAllocation, kIndexNameI30);
  if (!attribute) return std::unexpected(attribute.error());
  if (!attribute->non_resident) return makeError(ErrorKind::NotFound, "index allocation resident");
  return decodeDataRuns(attribute->runs, attribute->first_vcn);
}

}  // namespace dravolin
