#pragma once

// The monitoring report's own words, in one place, so that a firm can adapt
// them: the headings, the captions and the sentences of the conclusion
// (each sentence takes its numbers as %1, %2 … and never says more than
// they show).

#include <QString>

struct ReportTexts
{
    QString title = QStringLiteral("沉降观测报告");
    QString pageFooter = QStringLiteral("第 %1 页 共 %2 页");
    QString coverPeriod = QStringLiteral("观测期：%1 至 %2，共 %3 次观测");
    QString coverDate = QStringLiteral("报告日期：%1");
    QString coverClient = QStringLiteral("委托单位：%1");
    QString coverSurveyor = QStringLiteral("测量单位：%1");
    QString coverSignatures[3] = {QStringLiteral("编制："), QStringLiteral("审核："), QStringLiteral("批准：")};
    // Sections are numbered as they come (一、二、…), without a gap where one
    // is left out; appendices likewise (附录一、附录二).
    QString overview = QStringLiteral("工程概况");
    QString pointCount = QStringLiteral("沉降观测点 %1 个，观测 %2 次。");
    QString epochLeftOut = QStringLiteral("观测“%1”的日期“%2”不是 %3–%4 年间的年-月-日，列入成果表，不列入分析和曲线图。");
    QString epochHeadings[4] = {QStringLiteral("观测次序"), QStringLiteral("观测日期"), QStringLiteral("观测名称"),
                                QStringLiteral("荷载层数")};
    QString layout = QStringLiteral("测点布置");
    // How the elevations were measured, and how well: the instrument, the
    // benchmark, each levelling's closure against its tolerance.
    QString method = QStringLiteral("监测方法与精度");
    QString methodInstrument = QStringLiteral("水准仪：%1。");
    QString methodBenchmark = QStringLiteral("起算点：%1%2。");
    QString methodClosures = QStringLiteral("水准路线闭合差均在限差以内（%1 条，限差按读入水准原始数据时所取的等级计算）。");
    QString methodOverLimit = QStringLiteral("有 %1 条水准路线的闭合差超过限差，见下表。");
    QString methodNoLevel = QStringLiteral("各次观测的高程为键入或由工作簿调入，工程中没有水准闭合差记录。");
    QString methodUnkept = QStringLiteral("本工程未记录高程来历，无从列出各次水准测量的闭合差。");
    QString methodHeadings[5] = {QStringLiteral("观测"), QStringLiteral("原始文件"), QStringLiteral("闭合差（mm）"),
                                 QStringLiteral("限差（mm）"), QStringLiteral("结论")};
    QString withinLimit = QStringLiteral("合格");
    QString overLimit = QStringLiteral("超限");
    QString pointHeadings[3] = {QStringLiteral("点号"), QStringLiteral("点名"), QStringLiteral("标志")};
    QString results = QStringLiteral("观测成果表");
    QString curves = QStringLiteral("沉降曲线");
    QString curveKinds[4] = {QStringLiteral("沉降曲线"), QStringLiteral("沉降速率曲线"), QStringLiteral("荷载曲线"),
                             QStringLiteral("沉降平面图")};
    QString stability = QStringLiteral("稳定性分析与预测");
    QString buildingVerdict = QStringLiteral("建筑物稳定性：%1");
    QString oneForecastNote = QStringLiteral("各测点的预测说明相同：%1。");
    QString charts = QStringLiteral("：未稳定测点的沉降曲线与预测");
    QString chartsKey = QStringLiteral("红：实测；蓝：双曲线法；绿：Asaoka 法；虚线：预测最终沉降，色带：其 95 % 区间");
    QString deformation = QStringLiteral("差异沉降与倾斜");
    QString conclusion = QStringLiteral("结论");
    // Beside the plan.
    QString north = QStringLiteral("北");
    QString scaleBar = QStringLiteral("%1 m（约 1:%2）");
    QString tiltLegend = QStringLiteral("整体倾斜 %1‰，倾向方位角 %2（自北顺时针）");
    QString pointKey = QStringLiteral("测点：点名与累计沉降（mm）");
    QString contourKey = QStringLiteral("等沉线，间距 %1 mm");
    QString contourKeyPlain = QStringLiteral("等沉线");
    QString alarmKey = QStringLiteral("红色：超过预警值");
    QString backgroundKey = QStringLiteral("建筑平面");
    QString largest = QStringLiteral("截至%1（%2），本期有累计沉降的 %5 个测点中，累计沉降最大的为 %3，"
                                     "累计沉降 %4 mm；这 %5 个测点的平均累计沉降为 %6 mm。");
    QString largestPlaced = QStringLiteral("已测定坐标的 %1 个测点（差异沉降与倾斜据此计算）中，累计沉降最大的为 %2，"
                                           "累计沉降 %3 mm，平均累计沉降 %4 mm。");
    QString largestRate = QStringLiteral("最近 %1 天内沉降速率绝对值最大的为测点 %2，%3 mm/d。");
    QString verdict = QStringLiteral("按稳定速率 %1 mm/d 判定，建筑物%2。");
    QString tilt = QStringLiteral("由已测定坐标的 %4 个测点拟合，建筑物整体倾斜 %1‰，倾向方位角 %2；%3");
    QString noTilt = QStringLiteral("由已测定坐标的 %1 个测点拟合，各点沉降一致，建筑物无整体倾斜。");
    QString tiltLimit = QStringLiteral("限值 %1‰（%2）。");
    QString tiltNoLimit = QStringLiteral("未设倾斜限值。");
    QString tiltAlarmValue = QStringLiteral("本工程倾斜预警值");
    QString alarms = QStringLiteral("本期出现预警 %1 项：%2。");
    // More alarms than a sentence reads well with: the first of them, and
    // every one in a table of their own.
    QString manyAlarms = QStringLiteral("本期出现预警 %1 项，前 %2 项为：%3；全部列于“%4”。");
    QString alarmList = QStringLiteral("附表　预警一览");
    QString alarmHeadings[2] = {QStringLiteral("序号"), QStringLiteral("预警")};
    QString noAlarms = QStringLiteral("本期未出现预警。");
    // The original records: the files each epoch rests on, and every
    // elevation changed after its first entry.
    QString records = QStringLiteral("原始记录");
    QString recordsIntro = QStringLiteral("各次观测所据的原始文件（存于工程中，SHA-256 可核对），及其水准闭合差与限差。");
    QString recordsNone = QStringLiteral("键入，无原始文件");
    QString recordsUnkept = QStringLiteral("本工程未记录高程来历（在记录来历的版本之前建立）。");
    QString recordHeadings[5] = {QStringLiteral("观测"), QStringLiteral("原始文件"), QStringLiteral("SHA-256"),
                                 QStringLiteral("仪器"), QStringLiteral("闭合差 / 限差（mm）")};
    QString changes = QStringLiteral("高程修改记录");
    QString changesIntro = QStringLiteral("首次录入后被修改或删除的高程，按时间先后。");
    QString changesNone = QStringLiteral("首次录入后没有高程被修改或删除。");
    QString changesNoneRecorded = QStringLiteral("修改记录中没有首次录入后的高程修改；另有未经记录的修改，见上表。");
    QString changesOutside = QStringLiteral("发现 %1 处未经记录的修改");
    QString changesOutsideIntro = QStringLiteral("以下修改在本程序之外作出，修改记录中没有（或与记录不符）；"
                                                 "所列高程和修改记录不能作为依据。");
    QString chainEnd = QStringLiteral("修改记录共 %1 条，记录链末值（SHA-256）：%2。用 sedimetra-batch verify "
                                      "核对工程文件时，其记录链应含此值。");
    QString changeHeadings[7] = {QStringLiteral("观测"), QStringLiteral("点名"), QStringLiteral("原值"),
                                 QStringLiteral("新值"), QStringLiteral("时间"), QStringLiteral("用户"),
                                 QStringLiteral("方式")};
};

const ReportTexts &reportTexts();
