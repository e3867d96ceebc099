#pragma once

// The report's pages, each painted by a function of what it shows, a
// painter and the page's body: a PDF page, or an image in a test. Lengths
// are device units of reportDpi (mm() converts); a painter onto another
// device scales to it. The pages take their figures ready made (from the
// project's one model) and only lay them out.

#include "pdfreport/reporttexts.h"
#include "domain/buildingdeformation.h"
#include "domain/stability.h"
#include "xlsx/workbook.h"
#include "preview/planpicture.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QStringList>

#include <functional>
#include <memory>
#include <variant>
#include <vector>

class Drawing;
class ProjectSnapshot;
class QPainter;

constexpr double reportDpi = 300;
// Millimetres on paper in device units.
inline double mm(double millimetres)
{
    return millimetres * reportDpi / 25.4;
}
// The page's frame, in mm, the one place it is given: the margins, and
// within them the room of the header (a page's title, date and project)
// and of the footer (its number). A page's body is what is left.
struct PageFrameSize
{
    static constexpr double left = 15, right = 12, top = 12, bottom = 12, header = 10, footer = 10;
};
// The body of an A4 (or A3) page, in mm.
constexpr double bodyWidthMm(bool landscape, bool a3 = false)
{
    const double across = a3 ? (landscape ? 420 : 297) : (landscape ? 297 : 210);
    return across - PageFrameSize::left - PageFrameSize::right;
}
constexpr double bodyHeightMm(bool landscape, bool a3 = false)
{
    const double down = a3 ? (landscape ? 297 : 420) : (landscape ? 210 : 297);
    return down - PageFrameSize::top - PageFrameSize::bottom - PageFrameSize::header - PageFrameSize::footer;
}
QFont reportFont(double points, bool bold = false);
extern const QString reportFontFamily;

// The cover: the title, the project's name (wrapped, pushing what follows
// down), the lines under it and the signature lines.
struct CoverPage
{
    QString title, projectName;
    QStringList lines;
    QStringList signatures;
};
void paintCover(QPainter &p, const QRectF &body, const CoverPage &cover);

// A page of a table: its title and intro on the first page only, the
// headings on every page, the rows this page holds.
struct TablePage
{
    QString title;
    QStringList intro;
    QStringList headings;
    std::vector<QStringList> rows;
    std::vector<double> weights; // the columns' shares of the width
    double points = 9;
};
// The pages of a table on A4 (landscape or not): as many rows on each as
// its body holds at the heights the rows are drawn at.
std::vector<TablePage> tablePages(const QString &title, const QStringList &intro, const QStringList &headings,
                                  const std::vector<QStringList> &rows, const std::vector<double> &weights,
                                  bool landscape, double points = 9);
void paintTablePage(QPainter &p, const QRectF &body, const TablePage &page);

// The plan at the epoch, scaled for paper, with its legend at the right.
void paintPlanPage(QPainter &p, const QRectF &body, const QString &title, const PlanPicture &picture,
                   const PlanFigures &figures);

// A page of the results table as the template lays it out: the header
// rows then the page's rows, merged cells drawn as one.
// The results sheet's cells as the workbook shows them (numbers as shown).
class ResultsCells
{
public:
    virtual ~ResultsCells() = default;
    virtual QString text(int row, int column) const = 0;
};
struct ResultsPage
{
    QString title; // on the first page only
    std::vector<int> rows;
    std::vector<XlsxSheet::Range> merges;
    std::vector<double> widths;
    std::shared_ptr<const ResultsCells> cells; // shared by every page of the table
};
void paintResultsPage(QPainter &p, const QRectF &body, const ResultsPage &page);

// One sheet of a drawing (`cell`, in drawing units) under its caption.
void paintSheetPage(QPainter &p, const QRectF &body, const QString &caption, const Drawing &drawing,
                    const QRectF &cell, const std::function<QColor(int)> &colour);
// The cells of the sheet size from (0, 0) rightwards and downwards that
// hold anything, each entity in the one holding the middle of its extent.
std::vector<QRectF> sheetsOf(const Drawing &drawing, double width, double height, int perRow);
// A drawing's colour number as it prints on white paper.
QColor paperColour(const ProjectSnapshot &snapshot, int aci);
// A colour as it reads on white paper: a bright one (yellow, cyan) darker.
QColor onPaper(const QColor &colour);

// One point's chart of cumulative settlement against days: observed, and
// the accepted forecast with its band, clipped to `box`. The report's charts
// and the web view's curves.
void drawStabilityChart(QPainter &p, const QRectF &box, const PointStability &point, int step);
// Up to six points' settlement charts, three to a row: observed, and the
// accepted forecasts only, each clipped to its frame.
void paintStabilityCharts(QPainter &p, const QRectF &body, const QString &title, const QString &key,
                          const std::vector<const PointStability *> &points, int step);

// The conclusion's numbered sentences, each wrapped below the last.
void paintConclusion(QPainter &p, const QRectF &body, const QString &title, const QStringList &sentences);

// What every page carries: after the cover, a header with the project's
// name at the left (smaller, then cut, if long) and the title and date at
// the right; the page's number at the foot. Returns the body between them.
struct PageFrame
{
    QString title, projectName, date, footer; // footer: "第 %1 页 共 %2 页"
    int page = 1, pages = 1;
};
QRectF paintPageFrame(QPainter &p, const QRectF &page, const PageFrame &frame);

// The other kinds of page, each what it shows.
struct PlanPage
{
    QString title;
    PlanPicture picture;
    PlanFigures figures;
};
// A drawing's colours as they print on white paper, by colour number.
using PaperPalette = std::vector<QColor>;
PaperPalette paperPalette(const ProjectSnapshot &snapshot);
struct SheetPage
{
    QString caption;
    std::shared_ptr<const Drawing> drawing; // shared by the drawing's sheets
    QRectF cell;                            // the sheet, in drawing units
    std::shared_ptr<const PaperPalette> palette;
};
struct StabilityChartsPage
{
    QString title, key;
    std::vector<PointStability> points; // up to six
    int step = 1;
};
struct ConclusionPage
{
    QString title;
    QStringList sentences;
};

// One page of the report: its paper and what it shows. A report is a list
// of these before anything is painted, so what it holds can be read.
struct ReportPage
{
    using Content =
        std::variant<CoverPage, TablePage, PlanPage, ResultsPage, SheetPage, StabilityChartsPage, ConclusionPage>;
    bool landscape = false;
    // An A3 page, for a sheet drawn for A3: its text keeps the height it
    // was drawn at, as a client reads it on paper.
    bool a3 = false;
    Content content;
};
// Paints the page's body by what it shows.
void paintReportPage(QPainter &p, const QRectF &body, const ReportPage &page);
