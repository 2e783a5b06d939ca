// The one conversion point between the roster's GBK bytes and Qt's strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace mirestal {

// GBK bytes to a QString; invalid bytes become U+FFFD.
QString GbkToQString(std::string_view gbk);
// A QString to GBK bytes; characters without a GBK form become '?'.
std::string QStringToGbk(const QString& text);

// UTF-8 (the program's own texts and the engine's messages) to and from QString.
inline QString Utf8ToQString(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline std::string QStringToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace mirestal
