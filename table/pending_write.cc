// Placeholder definitions of the write side while it is being built in dbf_write.cc,
// memo_write.cc, disk_write.cc and pack.cc; table/CMakeLists.txt drops this file as soon as
// those exist. Every operation refuses with an error; nothing here writes.
#include "table/dataset.h"
#include "table/memo.h"

namespace mirestal {
namespace {
[[noreturn]] void NotYet() { throw ETableError("Writing tables is not available in this build"); }
}  // namespace

bool DiskFile::LockRegion(uint64_t, uint64_t) { NotYet(); }
void DiskFile::UnlockRegion() { NotYet(); }
void DbfFile::AppendCurrent() { NotYet(); }
void DbfFile::RewriteRecord(int) { NotYet(); }
void DbfFile::MarkDeleted() { NotYet(); }
void DbfFile::Recall() { NotYet(); }
void DbfFile::WriteHeader() { NotYet(); }
void DbfFile::RefreshHeader() { NotYet(); }
void DbfFile::Flush() { NotYet(); }
void DbfFile::Truncate(uint64_t) { NotYet(); }
bool DbfFile::LockRecord(int) { NotYet(); }
bool DbfFile::LockAppend() { NotYet(); }
bool DbfFile::LockTable() { NotYet(); }
void DbfFile::Unlock() { NotYet(); }
void DbfFile::RaiseWriteError() { NotYet(); }
void DbfFieldAccess::BlankRecord() { NotYet(); }
void DbfFieldAccess::PutFieldRawText(int, std::string_view) { NotYet(); }
void DbfFieldAccess::PutFieldNumber(int, double) { NotYet(); }
void DbfFieldAccess::PutFieldLogical(int, bool) { NotYet(); }
void DbfFieldAccess::PutFieldText(int, std::string_view) { NotYet(); }
void DbfFieldAccess::PutFieldMemo(int, std::string_view) { NotYet(); }
uint32_t MemoFile::WriteText(uint32_t, std::string_view) { NotYet(); }
uint32_t MemoFileDb4::WriteText(uint32_t, std::string_view) { NotYet(); }
void MemoFileDb4::ReleaseMemo(uint32_t) { NotYet(); }
uint32_t MemoFileFox::WriteText(uint32_t, std::string_view) { NotYet(); }
void DbfHandler::Pack() { NotYet(); }
void TField::SetAsString(const std::string&) { NotYet(); }
void TField::SetAsFloat(double) { NotYet(); }
void TField::SetAsInteger(int64_t) { NotYet(); }
void TField::SetAsBoolean(bool) { NotYet(); }
void TField::SetAsDate(const std::optional<TDate>&) { NotYet(); }
void TField::Clear() { NotYet(); }

}  // namespace mirestal
