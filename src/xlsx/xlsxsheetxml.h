#pragma once

// What a sheet's reading and its writing share of its XML. Inside xlsx/ only.

#include <string>
#include <string_view>

namespace xlsxxml {

// The number of a style attribute (s="...") among attributes, or -1.
int styleNumber(std::string_view attributes);
// The placeholder in `xml` (the first) replaced by `with`.
void replacePlaceholder(std::string &xml, const std::string &placeholder, const std::string &with);
// Where the merged cells and the page breaks go when the sheet is written.
inline const char *const mergesPlaceholder = "<sedimetraMerges></sedimetraMerges>";
inline const char *const breaksPlaceholder = "<sedimetraBreaks></sedimetraBreaks>";

} // namespace xlsxxml
