#include "xls/sst.h"

#include <stdexcept>

#include "xls/biff_format.h"

namespace mirestal::xls {

namespace {

void Append16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void Append32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void AppendUnits(std::string& out, std::u16string_view units) {
  for (char16_t c : units) Append16(out, static_cast<uint16_t>(c));
}

}  // namespace

TsstStrings::TsstStrings() : index_(Less{this}) {}

std::u16string_view TsstStrings::Text(uint32_t index) const {
  const Entry& e = entries_[index];
  return std::u16string_view(text_).substr(e.offset, e.length);
}

uint32_t TsstStrings::AddSharedString(std::u16string_view text) {
  if (index_released_) throw std::logic_error("shared string table already closed");
  if (text.size() > kMaxChars) {
    throw std::length_error("a text of " + std::to_string(text.size()) +
                            " characters does not fit a workbook cell (at most 65535)");
  }
  ++total_;
  auto found = index_.lower_bound(text);
  if (found != index_.end() && !Less::Cmp(text, Text(*found))) {
    ++entries_[*found].uses;
    return *found;
  }
  uint32_t index = static_cast<uint32_t>(entries_.size());
  entries_.push_back(Entry{text_.size(), static_cast<uint32_t>(text.size()), 1});
  text_.append(text);
  index_.emplace_hint(found, index);
  Plan(static_cast<uint32_t>(text.size()));
  return index;
}

void TsstStrings::Plan(uint32_t length) {
  const uint32_t n = 3 + 2 * length;
  if (current_ + n > kRecordLimit) {
    size_plan_.push_back(current_);
    current_ = 0;
  }
  if (length <= kMaxWholeChars) {
    current_ += n;
    return;
  }
  size_plan_.push_back(3 + 2 * kMaxWholeChars);
  uint32_t rest = length - kMaxWholeChars;
  while (rest > kMaxPieceChars) {
    size_plan_.push_back(1 + 2 * kMaxPieceChars);
    rest -= kMaxPieceChars;
  }
  current_ = 1 + 2 * rest;
}

void TsstStrings::ReleaseIndex() {
  index_released_ = true;
  std::set<uint32_t, Less> empty(Less{this});
  index_.swap(empty);
}

std::vector<uint32_t> TsstStrings::SizePlan() const {
  std::vector<uint32_t> plan = size_plan_;
  plan.push_back(current_);
  return plan;
}

void TsstStrings::WriteSharedStrings(std::string& out) {
  const std::vector<uint32_t> plan = SizePlan();
  size_t next = 0;
  auto header = [&](uint16_t number) {
    Append16(out, number);
    Append16(out, static_cast<uint16_t>(plan.at(next++)));
  };
  header(biff::kSst);
  Append32(out, total_);
  Append32(out, unique());
  uint32_t current = 8;
  for (uint32_t i = 0; i < entries_.size(); ++i) {
    std::u16string_view text = Text(i);
    const uint32_t n = 3 + 2 * static_cast<uint32_t>(text.size());
    if (current + n > kRecordLimit) {
      header(biff::kContinue);
      current = 0;
    }
    Append16(out, static_cast<uint16_t>(text.size()));
    out.push_back('\x01');
    if (text.size() <= kMaxWholeChars) {
      AppendUnits(out, text);
      current += n;
      continue;
    }
    AppendUnits(out, text.substr(0, kMaxWholeChars));
    text.remove_prefix(kMaxWholeChars);
    while (!text.empty()) {
      header(biff::kContinue);
      out.push_back('\x01');
      size_t piece = std::min<size_t>(text.size(), kMaxPieceChars);
      AppendUnits(out, text.substr(0, piece));
      text.remove_prefix(piece);
      current = 1 + 2 * static_cast<uint32_t>(piece);
    }
  }
}

}  // namespace mirestal::xls
