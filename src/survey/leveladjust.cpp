// The least-squares adjustment of a levelling network, and the run that
// takes the raw files to adjusted heights.
#include "survey/levelling.h"

#include "survey/levellingparts.h"
#include "domain/projectsnapshot.h"

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>

using namespace levelparts;

namespace {

using SparseMatrix = Eigen::SparseMatrix<double>;

// Entries of the inverse of a sparse symmetric matrix from its LDLᵀ factors
// (Takahashi's equations), on the pattern of the factor: the variance of
// every unknown and the covariance of any two joined by an observation,
// without forming the dense inverse.
class SelectedInverse
{
public:
    explicit SelectedInverse(const Eigen::SimplicialLDLT<SparseMatrix> &ldlt)
        : m_factor(ldlt.matrixL().nestedExpression())
        , m_order(ldlt.permutationP().indices())
    {
        m_factor.makeCompressed();
        const int n = int(m_factor.cols());
        const int *outer = m_factor.outerIndexPtr();
        const int *inner = m_factor.innerIndexPtr();
        const double *value = m_factor.valuePtr();
        const Eigen::VectorXd &d = ldlt.vectorD();
        m_diagonal.assign(size_t(n), 0.0);
        m_below.assign(size_t(m_factor.nonZeros()), 0.0);
        for (int i = n - 1; i >= 0; --i) {
            for (int e = outer[i]; e < outer[i + 1]; ++e) {
                const int j = inner[e];
                if (j <= i)
                    continue;
                double z = 0;
                for (int f = outer[i]; f < outer[i + 1]; ++f)
                    if (inner[f] > i)
                        z -= value[f] * at(inner[f], j);
                m_below[size_t(e)] = z;
            }
            double z = 1.0 / d(i);
            for (int f = outer[i]; f < outer[i + 1]; ++f)
                if (inner[f] > i)
                    z -= value[f] * m_below[size_t(f)];
            m_diagonal[size_t(i)] = z;
        }
    }
    // The entry (a, b) of the inverse, in the matrix's own order.
    double operator()(int a, int b) const { return at(m_order(a), m_order(b)); }

private:
    double at(int r, int c) const
    {
        if (r == c)
            return m_diagonal[size_t(r)];
        if (r < c)
            std::swap(r, c);
        const int *inner = m_factor.innerIndexPtr();
        const int *begin = inner + m_factor.outerIndexPtr()[c];
        const int *end = inner + m_factor.outerIndexPtr()[c + 1];
        const int *found = std::lower_bound(begin, end, r);
        return found != end && *found == r ? m_below[size_t(found - inner)] : 0.0;
    }

    SparseMatrix m_factor;
    Eigen::VectorXi m_order;
    std::vector<double> m_diagonal, m_below;
};

} // namespace

namespace {

// The least-squares solution: the unknown heights, their cofactors, each
// section's weight and correction.
struct Solution
{
    std::vector<int> unknownOf; // by point; -1 for a fixed one
    Eigen::VectorXd x, p, residual;
    std::optional<SelectedInverse> Q;

    double height(const Graph &g, int v) const
    {
        return unknownOf[size_t(v)] >= 0 ? x(unknownOf[size_t(v)]) : *g.fixedHeight[size_t(v)];
    }
};

// The normal equations of H_to − H_from = h + v, weights 1/n (or 1/L in
// km), as sparse as the network; fills the solution's unknowns and weights.
std::pair<std::vector<Eigen::Triplet<double>>, Eigen::VectorXd>
normalEquations(const Graph &g, const LevelResult &result, bool byDistance, Solution &solution)
{
    const int m = g.sections();
    int u = 0;
    solution.unknownOf.assign(size_t(g.points()), -1);
    for (int v = 0; v < g.points(); ++v)
        if (!g.fixedHeight[size_t(v)])
            solution.unknownOf[size_t(v)] = u++;
    solution.p.resize(m);
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(u);
    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(size_t(4 * m));
    for (int i = 0; i < m; ++i) {
        const Section &s = result.sections[size_t(i)];
        const auto [a, b] = g.ends[size_t(i)];
        const int ua = solution.unknownOf[size_t(a)], ub = solution.unknownOf[size_t(b)];
        double constant = s.dh;
        if (ub < 0)
            constant -= *g.fixedHeight[size_t(b)];
        if (ua < 0)
            constant += *g.fixedHeight[size_t(a)];
        const double km = s.length / 1000;
        const double p = byDistance && km > 0 ? 1 / km : 1.0 / s.stations;
        solution.p(i) = p;
        if (ub >= 0) {
            entries.emplace_back(ub, ub, p);
            rhs(ub) += p * constant;
        }
        if (ua >= 0) {
            entries.emplace_back(ua, ua, p);
            rhs(ua) -= p * constant;
        }
        if (ua >= 0 && ub >= 0) {
            entries.emplace_back(ua, ub, -p);
            entries.emplace_back(ub, ua, -p);
        }
    }
    return {std::move(entries), std::move(rhs)};
}

// Step 5: the adjustment itself; σ0 and the degrees of freedom into the result.
Result<Solution> solve(const Graph &g, bool byDistance, LevelResult &result)
{
    Solution solution;
    auto [entries, rhs] = normalEquations(g, result, byDistance, solution);
    const int u = int(rhs.size()), m = g.sections();
    solution.x = Eigen::VectorXd::Zero(u);
    if (u > 0) {
        SparseMatrix N(u, u);
        N.setFromTriplets(entries.begin(), entries.end());
        const Eigen::SimplicialLDLT<SparseMatrix> solver(N);
        if (solver.info() != Eigen::Success || !(solver.vectorD().minCoeff() > 0))
            return fail(QStringLiteral("水准网无法平差（法方程奇异）"));
        solution.x = solver.solve(rhs);
        solution.Q.emplace(solver);
    }
    solution.residual.resize(m);
    for (int i = 0; i < m; ++i)
        solution.residual(i) = solution.height(g, g.ends[size_t(i)].second)
                               - solution.height(g, g.ends[size_t(i)].first)
                               - result.sections[size_t(i)].dh;
    result.dof = m - u;
    if (result.dof > 0) {
        double vpv = 0;
        for (int i = 0; i < m; ++i)
            vpv += solution.p(i) * solution.residual(i) * solution.residual(i) * 1e6; // mm²
        result.sigma0Mm = std::sqrt(vpv / result.dof);
    }
    return solution;
}

// Step 6a: the heights and their standard deviations, and each section's
// standardised correction: v over σ0·√(Qvv), Qvv = 1/p − a·Q·aᵀ.
Result<void> heightsAndPrecision(const Graph &g, const Solution &solution, LevelResult &result)
{
    const auto cofactor = [&](int a, int b) { return (*solution.Q)(a, b); };
    for (int v = 0; v < g.points(); ++v) {
        const double h = solution.height(g, v);
        if (!usableElevation(h))
            return fail(QStringLiteral("点 %1 的平差高程不是有效的高程").arg(g.shown[size_t(v)]));
        result.heights[g.shown[size_t(v)]] = h;
        if (const int uv = solution.unknownOf[size_t(v)]; result.sigma0Mm && uv >= 0)
            result.sigmaMm[g.shown[size_t(v)]] =
                *result.sigma0Mm * std::sqrt(std::max(0.0, cofactor(uv, uv)));
    }
    if (!result.sigma0Mm || !(*result.sigma0Mm > 0))
        return success();
    for (int i = 0; i < g.sections(); ++i) {
        const int ua = solution.unknownOf[size_t(g.ends[size_t(i)].first)];
        const int ub = solution.unknownOf[size_t(g.ends[size_t(i)].second)];
        double aqa = 0;
        if (ua >= 0)
            aqa += cofactor(ua, ua);
        if (ub >= 0)
            aqa += cofactor(ub, ub);
        if (ua >= 0 && ub >= 0)
            aqa -= 2 * cofactor(ua, ub);
        const double qvv = 1 / solution.p(i) - aqa;
        if (qvv > 1e-12)
            result.sections[size_t(i)].standardised =
                solution.residual(i) * 1000 / (*result.sigma0Mm * std::sqrt(qvv));
    }
    return success();
}

// Step 6b: each section's correction shared among its stations (by count or
// length): the turning points' heights, and the intermediate sights from
// their station's back point.
void distributeCorrections(const Graph &g, const Solution &solution, bool byDistance,
                           LevelResult &result)
{
    for (int i = 0; i < g.sections(); ++i) {
        Section &s = result.sections[size_t(i)];
        s.correction = solution.residual(i);
        double h = solution.height(g, g.ends[size_t(i)].first);
        for (const int index : s.stationIndices) {
            const Station &st = result.stations[size_t(index)];
            const double share = byDistance && s.length > 0 ? st.length() / s.length
                                                            : 1.0 / s.stations;
            for (const LevelReading &r : st.intermediates)
                result.intermediates[r.point] = h + *st.b1 - r.reading;
            h += st.dh + solution.residual(i) * share;
        }
    }
}

// Step 6c: heights entered on the level that did not fix their part,
// against the adjusted heights.
void compareEntered(const std::vector<EnteredIn> &entered,
                    const std::set<const EnteredHeight *> &datumEntered, const Graph &g,
                    const Solution &solution, LevelResult &result)
{
    for (const auto &[file, e] : entered) {
        if (datumEntered.count(e))
            continue;
        const auto found = g.nodeOf.find(pointKey(e->point));
        if (found == g.nodeOf.end())
            continue;
        const double adjusted = solution.height(g, found->second);
        if (std::fabs(e->height - adjusted) > 0.05e-3)
            result.warnings << QStringLiteral("%1 在水准仪上输入的 %2 高程 %3 m 未作起算，"
                                              "与平差高程 %4 m 相差 %5 mm")
                                   .arg(where(file->path, e->line), e->point, figure(e->height, 5),
                                        figure(adjusted, 5), figure((e->height - adjusted) * 1000, 2));
    }
}

} // namespace

Result<LevelResult> adjustLevelling(const std::vector<LevelFile> &files,
                                    const LevelSettings &settings)
{
    LevelResult result;
    std::unordered_map<QString, double> fixedByKey;
    for (const auto &[id, h] : settings.fixed) {
        if (!usableElevation(h))
            return fail(QStringLiteral("起算点 %1 的高程 %2 不是有效的高程").arg(id).arg(h, 0, 'g', 6));
        fixedByKey[pointKey(id)] = h;
    }
    const std::vector<LineSpan> spans = stationsOfLines(files, settings, result);
    if (result.stations.empty())
        return fail(QStringLiteral("没有完整的测站"));
    sectionsOfLines(spans, settings, files, result);

    Graph g = graphOf(result);
    std::vector<EnteredIn> entered;
    for (const LevelFile &file : files)
        for (const EnteredHeight &e : file.enteredHeights)
            entered.emplace_back(&file, &e);
    const auto datumEntered = chooseDatums(fixedByKey, entered, g, result);
    closeLines(spans, g, settings.grade, result);
    findLoops(g, settings.grade, result);

    const auto solution = solve(g, settings.byDistance, result);
    if (!solution)
        return solution.failure();
    if (auto done = heightsAndPrecision(g, *solution, result); !done)
        return done.failure();
    distributeCorrections(g, *solution, settings.byDistance, result);
    compareEntered(entered, datumEntered, g, *solution, result);
    return result;
}

