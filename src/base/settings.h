#pragma once

#include "base/result.h"

#include <QString>

#include <optional>
#include <vector>

// The program's settings: name/value rows of table Para1 in the system
// database Sdmx.mdb beside the program. Every write is committed at once.

namespace SettingKey {
inline const QString ElevationUnit = QStringLiteral("高程单位");
inline const QString PointCount = QStringLiteral("支持点数");
inline const QString LinesPerSheet = QStringLiteral("每幅线数");
inline const QString SheetsPerRow = QStringLiteral("每行幅数");
inline const QString Font1 = QStringLiteral("字体1");
inline const QString Font2 = QStringLiteral("字体2");
inline const QString FrameTemplate = QStringLiteral("图框模板");
inline const QString TableTemplate = QStringLiteral("表格模板");
inline const QString ProjectName = QStringLiteral("工程名称");
inline const QString Client = QStringLiteral("委托单位");
inline const QString Surveyor = QStringLiteral("测量单位");
inline const QString Structure = QStringLiteral("结构形式");
inline const QString Storeys = QStringLiteral("建筑层次");
inline const QString Instrument = QStringLiteral("仪器型号");
inline const QString Benchmark = QStringLiteral("起算点号");
inline const QString BenchmarkElevation = QStringLiteral("起算高程");
// The folder of the last project opened or made: where the file dialogs start.
inline const QString ProjectFolder = QStringLiteral("工程目录");
inline const QString ImportFolder = QStringLiteral("调入目录");
inline const QString ImportFileType = QStringLiteral("调入文件类型");
// The stability verdict and the settlement prediction: the limit rate
// (mm/d), the window of days it is judged over, and Asaoka's step (days).
inline const QString StableRate = QStringLiteral("稳定速率");
inline const QString StableDays = QStringLiteral("稳定天数");
inline const QString PredictionStep = QStringLiteral("预测步长");
// The least R² of a settlement forecast that is trusted (0.90 unless set).
// The widest 95 % interval of a trusted final settlement, % of it.
inline const QString MaxIntervalPercent = QStringLiteral("预测区间上限");
inline const QString ChangeLimit = QStringLiteral("高程突变限值");
// How far (m) a point's first elevation may lie from the median of the other
// points of its epoch without a question.
inline const QString FirstDeviation = QStringLiteral("首次高程偏差限值");
// How long a server session waits for another user's lock, in seconds
// (statements may run six times as long).
inline const QString ServerWait = QStringLiteral("服务器等待秒数");
// The last PostgreSQL server a project was opened from, without password:
// postgresql://user@host:port/database.
inline const QString Server = QStringLiteral("服务器");
} // namespace SettingKey

// The eight header fields of the results table (also what a frame's title
// block may show), in the order of their cells.
std::vector<QString> headerFieldKeys();

// The value a key has when its row is absent. The two template keys default to
// the first entry of their lists, which only the window knows: they give an
// empty text here. Unknown keys give an empty text.
QString settingDefault(const QString &key);

// Point count of the grid from the stored "支持点数": the leading number of the
// text rounded half to even; 15 when the row is absent; a count below 0 gives 0
// and one above the largest entry of the point-count list (150) gives 150.
int pointCountFromSetting(const std::optional<QString> &stored);

// Elevation unit from the stored "高程单位": "mm" only for exactly "mm",
// otherwise "m".
QString unitFromSetting(const std::optional<QString> &stored);
