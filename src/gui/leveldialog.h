#pragma once

#include "survey/levelling.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class Session;

// "水准测量平差": the digital level's raw files of the selected epoch's
// campaign checked and adjusted — the stations (checks that fail in red),
// the lines with their misclosure against the grade's tolerance, the
// adjusted heights matched to the project's points — with the grade, the
// distribution and the fixed point to choose; "写入本次观测" writes the
// matched heights into the epoch as an import does.
class LevelDialog : public QDialog
{
public:
    LevelDialog(Session &session, std::vector<LevelFile> files, QWidget *parent);

    // The heights matched to project points by point number.
    std::map<int, double> matched() const;
    // Writes the matched heights into the selected epoch, asking as an
    // import asks; true when written.
    bool writeIntoEpoch();

    // "等级表…": the program-wide grades edited and saved; true when saved.
    bool editGrades();

private:
    void recompute();
    void fillGrades(const QString &select);
    LevelGrade currentGrade() const;

    Session &m_session;
    std::vector<LevelFile> m_files;
    std::optional<LevelResult> m_result;
    // The project's point of each adjusted id; they point into the snapshot.
    std::map<QString, const Point *> m_points;
    std::vector<LevelGrade> m_grades;
    QComboBox *m_grade;
    QComboBox *m_distribute;
    QLineEdit *m_fixedId;
    QLineEdit *m_fixedHeight;
    QLabel *m_status;
    QTableWidget *m_stations;
    QTableWidget *m_lines;
    QTableWidget *m_heights;
    QPushButton *m_write;
};
