#pragma once

// Several PDFs as written by QPdfWriter joined into one: the first
// document's pages, then each other's after them, every object of the
// others renumbered after the first's. Only the layout QPdfWriter writes
// is read (one cross-reference table, a catalog and one page tree); any
// other file is refused with the reason, never joined in part.

#include "base/result.h"

#include <QByteArray>

#include <vector>

Result<QByteArray> joinWrittenPdfs(const std::vector<QByteArray> &parts);
