#pragma once

// project/: the project store, a project file's records reached through
// typed calls over SQLite (Qt SQL). Uses base/.

#include "base/result.h"
#include "domain/projectvalues.h"
#include "project/provenance.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The building's plan drawing as it came (a DXF file's bytes), shown behind
// the points on the plan.
struct PlanDrawingFile
{
    QString name;    // the file's name, for the user
    QByteArray data; // the DXF file's bytes
};
// A plan drawing larger than this is not kept.
constexpr qint64 maxPlanDrawingBytes = 20 * 1024 * 1024;


// A project file: the four tables of one building's settlement monitoring.
//
// Every write is committed at once and synced to disk. Lookups by text bind
// the text as a parameter, so any name (quotes, "%", "_", Chinese) is found
// exactly; dates and epoch names are compared without regard to letter case,
// as the uniqueness rules of epochs require, and so are point names.
//
// Every call returns a Result: a failed read or write carries a sentence
// with the reason (a damaged file, a lock held too long, a read-only file),
// and a lookup that finds nothing succeeds with an empty optional.
class StoreDialect;

class ProjectDatabase
{
public:
    ProjectDatabase();
    ~ProjectDatabase();
    ProjectDatabase(const ProjectDatabase &) = delete;
    ProjectDatabase &operator=(const ProjectDatabase &) = delete;

    // Makes a new project at `path` as a byte copy of the template, replacing
    // a file of that name only once the copy is complete and synced.
    static Result<void> createFromTemplate(const QString &templatePath, const QString &path);

    // Opens the project at `path`. Refused, with the reason: a path that is
    // not a file, a file that is no SQLite database, one without the four
    // tables and their fields, one locked by another program past the wait.
    // A file without any write permission is opened read-only; its writes
    // then fail with a reason.
    //
    // A path of the form postgresql://[user@]host[:port]/database?project=NAME
    // opens that project on a PostgreSQL server: the same records, reached
    // through views that show the session only its project. A user without
    // the right to change records opens it read-only, as a read-only file.
    // `password`, when given, is used for the server instead of PGPASSWORD
    // or ~/.pgpass; it is never kept in path().
    Result<void> open(const QString &path, const QString &password = QString());
    // Opens server project `project` on the connection named `connection`,
    // already open under the user's own login and checked for this
    // program's schema: many projects read one after another over one
    // connection (the web view's overview). The connection is the caller's
    // and stays open after this store is gone; one store at a time uses it.
    Result<void> openOnServerConnection(const QString &connection, const QString &project);
    // The file's full path, or the server project's address without any password.
    QString path() const;
    bool isServer() const;
    bool isReadOnly() const;

    // How the connection really keeps commits: the journal mode and the
    // synchronous level as SQLite reports them ("delete", 2 = FULL).
    struct Durability
    {
        QString journalMode;
        int synchronous = 0;
    };
    Result<Durability> durability();
    // A number that changes when another connection commits to the file
    // (SQLite's data version); equal numbers mean nobody else wrote.
    Result<qint64> dataVersion();

    // Epochs (Sur1).
    Result<std::vector<Epoch>> epochs();
    Result<std::optional<Epoch>> epochByNumber(int cjNo);
    Result<std::optional<Epoch>> epochByDate(const QString &date);
    Result<std::optional<Epoch>> epochByName(const QString &name);
    // The number a new epoch gets: 0 in an empty project, else the highest plus 1.
    Result<int> nextEpochNumber();
    Result<void> addEpoch(const Epoch &epoch);
    // Changes date, name and load floors of the epoch numbered epoch.cjNo.
    Result<void> updateEpoch(const Epoch &epoch);
    // Removes epoch `cjNo` with its elevations, in one transaction; every
    // later epoch moves down by one number, with its elevations, so that
    // the numbers stay continuous.
    Result<void> deleteEpoch(int cjNo);
    // Puts `epoch` in at its number, in one transaction: the epoch that had
    // the number and every later one move up by one, with their elevations
    // (the reverse of deleteEpoch).
    Result<void> insertEpoch(const Epoch &epoch);
    // Adds an epoch in date order, in one transaction that first holds the
    // project against anyone else adding or moving epochs (a file's write
    // lock, a server project's lock), then reads the epochs and chooses the
    // place: after the last, or before the first one dated later (those move
    // up one number). A date or name (without regard to case) another epoch
    // has is refused. Gives the epoch as stored, and whether it was inserted.
    Result<std::pair<Epoch, bool>> addEpochByDate(const QString &date, const QString &name, const QString &layers);

    // Elevations (Sur2), in metres.
    Result<std::optional<double>> elevation(int cjNo, int cjdNo);
    // Finds the record of (cjNo, cjdNo), adds it when absent, sets PointH;
    // its origin is the current write (writingAs) and `detail`.
    Result<void> setElevation(int cjNo, int cjdNo, double metres, const ElevationDetail &detail = {});
    // Removes the record if there is one; no record is no error.
    Result<void> deleteElevation(int cjNo, int cjdNo);
    // The elevations of a point in CjNo order.
    Result<std::vector<Elevation>> elevationsOfPoint(int cjdNo);
    // The elevations of an epoch in CjdNo order, optionally only up to a point.
    Result<std::vector<Elevation>> elevationsOfEpoch(int cjNo, std::optional<int> upToPoint = {});
    // Every elevation, in CjNo then CjdNo order.
    Result<std::vector<Elevation>> allElevations();
    // Fails when an epoch or point number lies outside the 32-bit range.
    Result<void> checkKeys();

    // The results-table header fields of this project (table HeaderFields,
    // name and value), by name; empty for a project without the table, as
    // older project files are.
    Result<std::map<QString, QString>> headerFields();
    // Stores the fields in one transaction, making the table the first time.
    Result<void> setHeaderFields(const std::map<QString, QString> &fields);

    // Points (Sur3).
    Result<std::vector<Point>> points(); // in CjdNo order
    Result<std::optional<Point>> pointByNumber(int cjdNo);
    // The first point in CjdNo order with this name.
    Result<std::optional<Point>> pointByName(const QString &name);
    Result<void> addPoint(const Point &point);
    Result<void> renamePoint(int cjdNo, const QString &name);
    // A point's colour (CAD colour index) and mark.
    Result<void> setPointStyle(int cjdNo, int aci, const QString &mark);
    // Sets or clears the positions of points (by number) in one
    // transaction, adding the X and Y fields to an older project file first.
    Result<void> setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions);
    // The plan drawing kept with the project, if any; setting it replaces
    // the one there was (in the same transaction as positions, when run
    // inside inTransaction).
    Result<std::optional<PlanDrawingFile>> planDrawing();
    Result<void> setPlanDrawing(const PlanDrawingFile &drawing);
    // Removes point `cjdNo` and all its elevations, in one transaction; the
    // other points keep their numbers (a point's number is its grid row).
    Result<void> deletePoint(int cjdNo);

    // Colours (AciRgb).
    Result<std::optional<Rgb>> colour(int aci);
    // The whole colour table in Aci_Color order.
    Result<std::vector<std::pair<int, Rgb>>> colours();

    // Where the values came from. Every write is recorded: an entry (when,
    // who, how, from which file), the origin of each elevation written, and
    // a history row for each value changed or deleted. An older project
    // gets the tables on its first write. The history is written by the
    // store itself (triggers), so no write of the program's escapes it; on
    // a server, neither does one made with plain SQL.
    //
    // The writes that follow, until the scope returned ends, are recorded as
    // `how`, from the kept file `source` (and its `sheet`); by default they
    // are typed.
    class Writing
    {
    public:
        Writing(Writing &&other) noexcept;
        Writing(const Writing &) = delete;
        Writing &operator=(const Writing &) = delete;
        Writing &operator=(Writing &&) = delete;
        ~Writing();

    private:
        friend class ProjectDatabase;
        struct Way
        {
            WriteHow how = WriteHow::Typed;
            std::optional<qint64> source;
            QString sheet;
            bool operator==(const Way &) const = default;
        };
        Writing(ProjectDatabase *project, Way before) : m_project(project), m_before(std::move(before)) {}
        ProjectDatabase *m_project;
        Way m_before;
    };
    [[nodiscard]] Writing writingAs(WriteHow how, std::optional<qint64> source = {},
                                    const QString &sheet = QString());
    // Keeps a file that brings values in, once: a file whose SHA-256 is
    // kept already gives that one's id. Over maxSourceBytes, only its name,
    // size and SHA-256 are kept.
    Result<qint64> keepSource(const SourceFile &file);
    Result<std::vector<StoredSource>> sources();
    // A kept file's bytes; none when only its description was kept.
    Result<std::optional<QByteArray>> sourceData(qint64 id);
    Result<std::optional<ElevationOrigin>> origin(int cjNo, int cjdNo);
    // The history, oldest first; only that of an epoch, a point, or a cell;
    // with `changesOnly`, only elevations changed or deleted after their
    // first entry.
    Result<std::vector<HistoryRow>> history(std::optional<int> cjNo = {}, std::optional<int> cjdNo = {},
                                            bool changesOnly = false);
    // The kept files each epoch's elevations came from: (epoch, file id).
    Result<std::vector<std::pair<int, qint64>>> sourcesOfEpochs();
    // Puts back the value an elevation had before the change `row` records
    // (none: the elevation is deleted), recorded as an undo.
    Result<void> restore(const HistoryRow &row);
    // Records that the elevation stored for epoch `cjNo` and point `cjdNo`,
    // which looked like a slip, was confirmed as observed (a history row,
    // under the writing in effect: typed, or the import that asked).
    Result<void> confirmElevation(int cjNo, int cjdNo);
    // The elevations of epoch `cjNo` confirmed so, by point, as confirmed:
    // those changed since are not.
    Result<std::map<int, double>> confirmedElevations(int cjNo);
    // Everything, for a copy of the project; and, into a file just made,
    // everything written as it was (ids kept). While a copy is made its
    // records are written unrecorded (setRecording(false)): they come with
    // their history.
    // Checks the record: the history's chain, row by row, and that every
    // elevation, epoch field and point name equals the value its history
    // last recorded. Reads only.
    // Epochs are named from `firstEpochNumber` ("第 0 次" as `verify` and
    // the window number them; the report counts from 1).
    Result<RecordCheck> checkRecord(int firstEpochNumber = 0);
    // Without `withBytes`, the kept files' bytes are left out (read them
    // one at a time with sourceData): a copy then holds one file at a time.
    Result<ProvenanceRecords> provenanceRecords(bool withBytes = true);
    Result<void> writeProvenanceRecords(const ProvenanceRecords &records);
    void setRecording(bool recording) { m_recording = recording; }
    // The name the program records as the writer of a project file: the
    // user logged in to the computer.
    static QString localUser();

    // Runs `work` (returning Result<void>) as one transaction: committed when
    // it succeeds, rolled back otherwise, so that a failure part-way leaves
    // the project as it was. The failure of `work` is passed on. On a server,
    // a transaction another one deadlocked with (or that could not be
    // serialised) is run once more, whole.
    // Inside a transaction already, `work` simply joins it.
    template <typename Work> Result<void> inTransaction(Work work)
    {
        if (m_inTransaction)
            return work();
        struct Within
        {
            ProjectDatabase &db;
            ~Within() { db.transactionEnded(); }
        };
        for (int attempt = 0;; ++attempt) {
            m_retryable = false;
            Result<void> outcome = [&]() -> Result<void> {
                if (auto begun = beginTransaction(); !begun)
                    return begun;
                m_inTransaction = true;
                const Within within{*this};
                if (Result<void> done = work(); !done) {
                    rollbackTransaction();
                    return done;
                }
                return commitTransaction();
            }();
            if (outcome || !m_retryable || attempt > 0)
                return outcome;
        }
    }

private:
    bool m_inTransaction = false;
    // The entry the writes are recorded under: made by the first write of
    // a way of writing (on a server, of each transaction).
    std::optional<qint64> m_entry;
    Writing::Way m_way, m_entryWay;
    std::optional<bool> m_hasProvenance;
    bool m_recording = true;
    bool m_provenanceReady = false; // tables there, and this connection's triggers made
    Result<void> makeProvenance();
    // Inside a transaction: makes the provenance tables when missing and
    // the entry the writes of this transaction are recorded under.
    Result<void> recordWrites();
    Result<bool> hasProvenance();
    // The columns an entry is read from (as entryFrom takes them).
    QString entryColumns();
    std::optional<bool> m_entriesCarried;
    // Out of the transaction: an entry of a file's typing serves the next
    // ones too (each change keeps its own time); any other entry belongs to
    // its transaction.
    void transactionEnded();
    // PointH of (cjNo, cjdNo), the record added when absent.
    Result<void> writeElevation(int cjNo, int cjdNo, double metres);
    // Moves the epochs from `first` on (and what follows them) by `step`, 1 or -1.
    Result<void> renumberEpochs(int first, int step);
    // Writes in one transaction, recorded: the body of every public write.
    template <typename Work> Result<void> recorded(Work work)
    {
        if (auto writable = checkWritable(); !writable)
            return writable;
        return inTransaction([&]() -> Result<void> {
            if (auto ready = recordWrites(); !ready)
                return ready;
            return work();
        });
    }

    bool m_retryable = false; // the last failure was a deadlock or serialisation failure
    void noteFailure(const QSqlError &error);
    QSqlQuery &statement(const char *key, const QString &sql);
    // The fields a point is read from; its position NULL without X and Y.
    Result<QString> pointColumns();
    Result<void> run(QSqlQuery &query);
    Result<void> checkWritable();
    Result<void> beginTransaction();
    Result<void> commitTransaction();
    void rollbackTransaction();
    // Runs the query and reads its rows, or its first row, with `make`.
    template <typename Make>
    auto allRows(QSqlQuery &query, Make make) -> Result<std::vector<decltype(make(query))>>;
    template <typename Make>
    auto firstRow(QSqlQuery &query, Make make) -> Result<std::optional<decltype(make(query))>>;

    QString m_connection;
    bool m_borrowed = false; // the connection is the caller's
    QSqlDatabase m_db;
    // What a file and a server project do differently.
    std::unique_ptr<StoreDialect> m_dialect;
    std::vector<std::pair<const char *, std::unique_ptr<QSqlQuery>>> m_statements;
    // Statements the database refused to prepare, with its reason: told
    // when they are run, never a confusing failure of the run itself.
    std::map<const QSqlQuery *, QString> m_unprepared;
};


class SettingsStore;
// The header fields a project's outputs carry, by name: the project's own,
// and for a field it does not hold, the program-wide value of the settings
// (none when neither has it). A project that cannot be read gives the
// program-wide values.
std::map<QString, QString> effectiveHeaderFields(const SettingsStore &settings,
                                                 ProjectDatabase *project);

