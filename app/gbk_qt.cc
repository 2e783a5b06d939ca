#include "app/gbk_qt.h"

#include "platform/gbk.h"

namespace mirestal {

QString GbkToQString(std::string_view gbk) {
  const std::u16string utf16 = GbkToUtf16(gbk);
  return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string QStringToGbk(const QString& text) { return Utf8ToGbkLossy(QStringToUtf8(text)); }

}  // namespace mirestal
