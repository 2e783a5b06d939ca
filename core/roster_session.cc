#include "core/roster_session.h"

#include "platform/gbk.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace mirestal {

unsigned DataConditions(const TTableDataSet& dataset) {
  if (!dataset.Active()) return kAtBegin | kAtEnd | kReadOnly | kNotEditing | kEmpty;
  unsigned c = 0;
  if (dataset.Bof()) c |= kAtBegin;
  if (dataset.Eof()) c |= kAtEnd;
  if (dataset.Bof() && dataset.Eof()) c |= kEmpty;
  if (!dataset.CanModify()) c |= kReadOnly;
  const TDataSetState s = dataset.State();
  c |= (s == TDataSetState::dsEdit || s == TDataSetState::dsInsert) ? kEditing : kNotEditing;
  return c;
}

void PerformDataAction(TTableDataSet& dataset, DataAction action) {
  if (!dataset.Active()) return;
  switch (action) {
    case DataAction::kFirst: dataset.First(); break;
    case DataAction::kPrior: dataset.Prior(); break;
    case DataAction::kNext: dataset.Next(); break;
    case DataAction::kLast: dataset.Last(); break;
    case DataAction::kInsert: dataset.Insert(); break;
    case DataAction::kDelete: dataset.Delete(); break;
    case DataAction::kEdit: dataset.Edit(); break;
    case DataAction::kPost: dataset.Post(); break;
    case DataAction::kCancel: dataset.Cancel(); break;
  }
}

std::string RecordPositionText(int recno, int count) {
  if (recno >= 0 && count >= 0) return std::to_string(recno) + ":" + std::to_string(count);
  if (recno >= 0) return std::to_string(recno);
  if (count >= 0) return "( " + std::to_string(count) + " )";
  return "";
}

std::string PhotoNote(const std::string& program_dir) {
  const std::string lines[] = {
      "注意，学生照片文件的相关规则如下：",
      "一、照片采用压缩图片格式（jpg），文件的命名规则：考籍号.jpg",
      "   （例如，若考生的考籍号是12345678901234567，则其对应的照片文件名就是：12345678901234567.jpg）",
      "",
      "二、照片文件的存放路径：",
      "      " + DisplayPath("本软件文件夹/照片/"),
      "    （例如: " + DisplayPath(program_dir + "照片/") + " ）",
      "",
      "三、学生拍照结束后，请进入该照片文件夹，压缩所需照片后上传。",
  };
  std::string note = lines[0];
  for (size_t i = 1; i < std::size(lines); ++i) note += '\r' + lines[i];
  return note;
}

RosterSession::RosterSession(std::string program_dir, FileSystem& fs)
    : fs_(fs), store_(std::move(program_dir), fs), dataset_("Dbf", fs) {}

OpenOutcome RosterSession::Open(const std::string& path) {
  ScopedDisableControls suspended(dataset_);
  dataset_.Close();
  dataset_.TableName = path;
  dataset_.Exclusive = true;
  dataset_.AutoFlush = true;
  dataset_.ExactCount = true;
  key_field_name_ = kNoKeyFieldName;
  has_key_ = false;
  OpenOutcome outcome;
  try {
    dataset_.Open();
  } catch (const std::exception&) {
    // An open that got as far as its handlers is taken back whole: the roster is either open
    // and shown or closed and reported.
    try {
      dataset_.Close();
    } catch (const std::exception&) {
    }
    outcome.message = kMsgOpenFailedHead + DisplayPath(path) + kMsgOpenFailedTail;
    return outcome;
  }
  outcome.opened = true;
  if (dataset_.FindField(Utf8ToGbkLossy(kKeyFieldName))) {
    key_field_name_ = kKeyFieldName;
    has_key_ = true;
  } else {
    outcome.message = kMsgRosterWithoutKey;
  }
  return outcome;
}

std::vector<std::string> RosterSession::FieldNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < dataset_.FieldCount(); ++i) {
    names.push_back(GbkToUtf8(dataset_.Fields(i).FieldName()));
  }
  return names;
}

int RosterSession::FindListSelection() const {
  if (!has_key_) return 0;
  const std::string key = Utf8ToGbkLossy(key_field_name_);
  for (int i = 0; i < dataset_.FieldCount(); ++i) {
    if (dataset_.Fields(i).FieldName() == key) return i;  // byte for byte
  }
  return 0;
}

bool RosterSession::Editing() const {
  const TDataSetState s = dataset_.State();
  return s == TDataSetState::dsEdit || s == TDataSetState::dsInsert;
}

bool RosterSession::EditJustEnded() {
  const bool ended = was_editing_ && dataset_.State() == TDataSetState::dsBrowse;
  was_editing_ = Editing();
  return ended;
}

void RosterSession::PostPendingEdit() {
  if (Editing()) dataset_.Post();
}

bool RosterSession::RosterHasRecords() const {
  return dataset_.Active() && !dataset_.IsEmpty();
}

std::string RosterSession::FieldText(const char* name_utf8) {
  TField* field = dataset_.FindField(Utf8ToGbkLossy(name_utf8));
  if (!field) return {};
  return Trim(field->AsString());
}

StudentInfoTexts RosterSession::StudentInfo() {
  const bool open = dataset_.Active();
  const auto has = [&](const char* name) {
    return open && dataset_.FindField(Utf8ToGbkLossy(name)) != nullptr;
  };
  const auto value = [&](const char* name) {
    return dataset_.IsEmpty() ? std::string() : GbkToUtf8(FieldText(name));
  };
  StudentInfoTexts t;
  t.zch = has_key_ && open ? "考籍号：" + value(kKeyFieldName) : "考籍号未知";
  t.name = has("姓名") ? "姓名：" + value("姓名") : "姓名未知";
  t.sex = has("性别") ? "性别：" + value("性别") : "性别未知";
  return t;
}

std::string RosterSession::CurrentKey() {
  if (!has_key_ || !dataset_.Active() || dataset_.IsEmpty()) return {};
  return FieldText(kKeyFieldName);
}

std::optional<std::string> RosterSession::CurrentPhotoPath() {
  if (!has_key_ || !dataset_.Active() || dataset_.IsEmpty()) return std::nullopt;
  return store_.PhotoFileName(CurrentKey());
}

}  // namespace mirestal
