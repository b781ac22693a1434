// Definitions taken from another file of the same application (a backup, an empty
// copy) for tables whose own definition is missing or damaged.
#include <vector>

#include "cells/KvExceptions.h"
#include "cells/KvStream.h"
#include "tps/KvTPS.h"
#include "tps/KvTPSOwner.h"
#include "tps/KvTPSRecords.h"

std::vector<TTPSForeignDefinition> TpsReadDefinitions(const std::string& path,
                                                      const std::optional<std::string>& owner) {
  if (!FileExists(path)) throw Exception("The definitions file " + path + " was not found");
  TFileStream stream(path);
  std::span<const std::uint8_t> bytes = stream.View();
  std::vector<std::uint8_t> copy;
  if (bytes.empty() && stream.Size() > 0) {
    copy.resize(std::size_t(stream.Size()));
    stream.Seek(0);
    copy.resize(stream.Read(copy.data(), copy.size()));
    bytes = copy;
  }
  TTPSFileView view(bytes);
  if (owner && bytes.size() >= kTpsHeaderSize && !TpsHeaderSignatureOk(bytes))
    view.DecryptWith(MakeOwnerKey(*owner));
  std::uint8_t header[512];
  TTPSRecords records, memos;
  TTPSByteStore store;
  TpsCollectRecords(view, header, records, memos, store);
  TpsJoinDefinitions(records, store);

  std::vector<TTPSForeignDefinition> out;
  for (const TTPSRecord& r : records.Items()) {
    if (r.Kind != tpsKindDefinition || !r.Body) continue;
    TTPSForeignDefinition d;
    d.TableNumber = r.TableNumber;
    d.Definition = static_cast<const TTPSRecordTableDefinitionBody&>(*r.Body);
    d.Definition.ParseDefinition(r.Bytes(), r.HeaderLength);
    if (!TpsDefinitionDamage(d.Definition, r.Bytes().size()).empty()) continue;
    if (const TTPSRecordTableNameBody* name = TpsFindTableName(records, r.TableNumber))
      d.Name = name->Name;
    out.push_back(std::move(d));
  }
  return out;
}
