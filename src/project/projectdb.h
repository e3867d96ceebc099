#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One observation epoch, a row of Sur1.
struct Epoch
{
    int cjNo = 0;
    QString date;   // MyDate, yyyy-mm-dd as typed
    QString name;   // Name
    QString layers; // Layers: the load floors as typed (a number as written)
};

// One elevation, a row of Sur2; PointH in metres.
struct Elevation
{
    int cjNo = 0;
    int cjdNo = 0;
    double pointH = 0;
};

// One settlement point, a row of Sur3.
struct Point
{
    int cjdNo = 0;
    QString name;
    int aci = 0;
    QString mark;
};

struct Rgb
{
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb &) const = default;
};

// A project file: the four tables of one building's settlement monitoring.
//
// Every write is committed at once and synced to disk. Lookups by text bind
// the text as a parameter, so any name (quotes, "%", "_", Chinese) is found
// exactly; dates and epoch names are compared without regard to letter case,
// as the uniqueness rules of epochs require, and so are point names.
//
// A call that fails returns false or nothing and leaves the reason in
// errorString(); a lookup that finds nothing returns nothing with an empty
// errorString().
class ProjectDatabase
{
public:
    ProjectDatabase();
    ~ProjectDatabase();
    ProjectDatabase(const ProjectDatabase &) = delete;
    ProjectDatabase &operator=(const ProjectDatabase &) = delete;

    // Makes a new project at `path` as a byte copy of the template, replacing
    // a file of that name only once the copy is complete.
    static bool createFromTemplate(const QString &templatePath, const QString &path,
                                   QString *error);

    // Opens the project at `path`. Refused, with the reason: a path that is
    // not a file, a file that is no SQLite database, one without the four
    // tables and their fields, one locked by another program past the wait.
    // A file without any write permission is opened read-only; its writes
    // then fail with a reason.
    bool open(const QString &path);
    QString path() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }
    QString errorString() const { return m_error; }

    // Epochs (Sur1).
    std::vector<Epoch> epochs();
    std::optional<Epoch> epochByNumber(int cjNo);
    std::optional<Epoch> epochByDate(const QString &date);
    std::optional<Epoch> epochByName(const QString &name);
    // The number a new epoch gets: 0 in an empty project, else the highest plus 1.
    std::optional<int> nextEpochNumber();
    bool addEpoch(const Epoch &epoch);
    // Changes date, name and load floors of the epoch numbered epoch.cjNo.
    bool updateEpoch(const Epoch &epoch);

    // Elevations (Sur2), in metres.
    std::optional<double> elevation(int cjNo, int cjdNo);
    // Finds the record of (cjNo, cjdNo), adds it when absent, sets PointH.
    bool setElevation(int cjNo, int cjdNo, double metres);
    // Removes the record if there is one; no record is no error.
    bool deleteElevation(int cjNo, int cjdNo);
    // The elevations of a point in CjNo order.
    std::vector<Elevation> elevationsOfPoint(int cjdNo);
    // The elevations of an epoch in CjdNo order, optionally only up to a point.
    std::vector<Elevation> elevationsOfEpoch(int cjNo, std::optional<int> upToPoint = {});
    // Every elevation, in CjNo then CjdNo order.
    std::vector<Elevation> allElevations();
    // Highest point number in Sur2; nothing when Sur2 is empty.
    std::optional<int> maxPointNumber();

    // Points (Sur3).
    std::vector<Point> points(); // in CjdNo order
    std::optional<Point> pointByNumber(int cjdNo);
    // The first point in CjdNo order with this name.
    std::optional<Point> pointByName(const QString &name);
    bool addPoint(const Point &point);
    bool renamePoint(int cjdNo, const QString &name);

    // Colours (AciRgb).
    std::optional<Rgb> colour(int aci);

    // Runs `work` as one transaction: committed when it returns true, rolled
    // back otherwise (a failure part-way leaves the project as it was).
    template <typename Work> bool inTransaction(Work work)
    {
        if (!beginTransaction())
            return false;
        if (!work()) {
            rollbackTransaction();
            return false;
        }
        return commitTransaction();
    }

private:
    QSqlQuery &statement(const char *key, const QString &sql);
    bool run(QSqlQuery &query);
    bool checkWritable();
    bool beginTransaction();
    bool commitTransaction();
    void rollbackTransaction();
    std::optional<Epoch> oneEpoch(QSqlQuery &query);
    std::optional<Point> onePoint(QSqlQuery &query);

    QString m_connection;
    QSqlDatabase m_db;
    QString m_path;
    QString m_error;
    bool m_readOnly = false;
    bool m_inTransaction = false;
    struct FileIdentity;
    std::unique_ptr<FileIdentity> m_identity;
    std::vector<std::pair<const char *, std::unique_ptr<QSqlQuery>>> m_statements;
};

// True when `path` names the same file as one of `programFiles` (the system
// database, the project template): compared as full paths after resolving
// links, without regard to letter case.
bool isSameFileIgnoringCase(const QString &path, const QStringList &programFiles);
