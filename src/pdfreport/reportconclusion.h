#pragma once

// The report's conclusion in words, from the figures of the project's one
// model at the last epoch.

#include "domain/monitoringmodel.h"
#include "pdfreport/reporttexts.h"

#include <QStringList>

// A sentence names this many alarms at most; more fill a table of their own.
constexpr int alarmsNamedInSentence = 10;

// The conclusion's sentences, each naming the points it is over; `named`
// gets every alarm in words.
QStringList conclusionSentences(const MonitoringModel &model, const ProjectSnapshot &snapshot, const Epoch &lastEpoch,
                                const ReportTexts &t, QStringList *named);
