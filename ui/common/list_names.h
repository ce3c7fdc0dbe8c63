// A protocol list of names as the texts of a drop-down list or grid column.
#pragma once

#include <QStringList>
#include <array>
#include <string_view>

namespace oxlo::ui {

template <std::size_t N>
QStringList ListNames(const std::array<std::string_view, N>& names) {
  QStringList list;
  for (std::string_view name : names)
    list << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
  return list;
}

}  // namespace oxlo::ui
