#pragma once

// The plan's dialogs: "测点坐标" (where the points stand: typed, pasted
// from a spreadsheet, or read from a CSV file, a workbook or the building's
// plan drawing, all written at 确定), "平面图设置" (the building's height, structure and soil,
// the alarm values, pairs that are no neighbours, the contour interval) and
// "变形限值" (the program-wide limits table).

#include "cad/planpositions.h"
#include "project/projectdb.h"
#include "domain/buildingdeformation.h"
#include "survey/pointpositions.h"

#include <QDialog>

#include <optional>
#include <map>
#include <vector>

class QTableWidget;
class Session;

class PositionsDialog : public QDialog
{
public:
    PositionsDialog(Session &session, QWidget *parent);

    // Writes the typed positions; false (the dialog stays) when a row is
    // incomplete or the project refuses the write.
    bool save();
    // Fills X and Y of the rows named in `text` ("name<TAB>X<TAB>Y" lines);
    // the names it does not know are told.
    void paste(const QString &text);
    // Reads a CSV file, workbook or plan drawing into the table, as a paste
    // adds its rows: nothing is written before 确定, when the positions and
    // a drawing read go to the project in one transaction.
    void readFile(const QString &path);
    QTableWidget *table() const { return m_table; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fillRows();
    void swapAxes();
    std::optional<PlanUnit> askPlanUnit(const PlanUnit &likely, const QString &doubt = QString());
    // X and Y of the table's rows of that name; false when none has it.
    bool showPosition(const PositionRow &row);

    Session &m_session;
    QTableWidget *m_table;
    std::optional<PlanDrawingFile> m_plan; // read, to be kept at 确定
};

class PlanSettingsDialog : public QDialog
{
public:
    PlanSettingsDialog(Session &session, QWidget *parent);
    bool save();

private:
    // The fields as typed so far.
    std::map<QString, QString> typedFields() const;
    // "按限值表选用": the limits the fields as typed choose, or why none.
    void showChosenLimits();
    Session &m_session;
    std::vector<std::pair<QString, QWidget *>> m_fields; // header field, its editor
    class QLabel *m_limits = nullptr;
};

class LimitsDialog : public QDialog
{
public:
    LimitsDialog(Session &session, QWidget *parent);
    bool save();

private:
    void showRows(const std::vector<DeformationLimit> &limits);
    Session &m_session;
    QTableWidget *m_table;
    std::vector<DeformationLimit> m_rows;
};
