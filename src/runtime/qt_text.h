// GBK text <-> QString, for everything that reaches the screen.
#pragma once

#include <QString>
#include <string_view>

#include "util/types.h"

namespace newsbar {

QString ToQString(std::string_view gbk);
Text FromQString(const QString& text);

}  // namespace newsbar
