#pragma once

// The report's pages painted, each with the header and footer every page
// carries, into one PDF.

#include "base/result.h"
#include "pdfreport/reportpages.h"

#include <QByteArray>

#include <functional>
#include <vector>

// The PDF's bytes; `progress` is told (page, pages) on the calling thread.
Result<QByteArray> paintPages(const std::vector<ReportPage> &pages, const PageFrame &frame,
                              const std::function<void(int, int)> &progress);
