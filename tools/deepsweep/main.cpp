// glimmerset-deepsweep: holds deep pictures to an arbitrary-precision oracle.
//   view ITERATION --center RE,IM --width W [--max N] [--term T] [--colour F] [--c RE,IM]...
//        [--side S] [--threads T] [--oracle-threads T]
//   nucleus ITERATION --near RE,IM --period P [--preperiod Q] [--bits B] [--max N] [--c RE,IM]...
//   period ITERATION --center RE,IM --radius R [--limit L] [--c RE,IM]...
//   sweep [--minutes M] [--seed S] [--side S] [--threads T]
#include "sweep.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;

    std::string Get(const std::string& name, const std::string& fallback = {}) const
    {
        std::string value = fallback;
        for (const auto& [key, v] : options) {
            if (key == name) {
                value = v;
            }
        }
        return value;
    }
    std::vector<std::string> All(const std::string& name) const
    {
        std::vector<std::string> values;
        for (const auto& [key, v] : options) {
            if (key == name) {
                values.push_back(v);
            }
        }
        return values;
    }
};

Args Parse(int argc, char** argv)
{
    Args args;
    for (int k = 2; k < argc; ++k) {
        if (std::strncmp(argv[k], "--", 2) == 0 && k + 1 < argc) {
            args.options.push_back({ argv[k] + 2, argv[k + 1] });
            ++k;
        } else {
            args.positional.push_back(argv[k]);
        }
    }
    return args;
}

void Split(const std::string& pair, std::string& re, std::string& im)
{
    const size_t comma = pair.find(',');
    re = pair.substr(0, comma);
    im = comma == std::string::npos ? "0" : pair.substr(comma + 1);
}

SweepView ViewFrom(const Args& args)
{
    SweepView view;
    view.iteration = args.positional.empty() ? "z = z * z + C;" : args.positional[0];
    view.termination = args.Get("term", view.termination);
    view.colour = args.Get("colour", view.colour);
    view.maxIter = std::stoi(args.Get("max", "1000"));
    for (const std::string& c : args.All("c")) {
        std::string re, im;
        Split(c, re, im);
        view.constants.push_back({ std::stod(re), std::stod(im) });
    }
    Split(args.Get("center", "0,0"), view.centreRe, view.centreIm);
    view.width = args.Get("width", "1e-20");
    view.side = std::stoi(args.Get("side", "32"));
    return view;
}

BigComplex PointOf(const std::string& pair, mpfr_prec_t bits)
{
    std::string re, im;
    Split(pair, re, im);
    bool ok = false;
    return BigComplex(BigFloat::Parse(re, bits, &ok), BigFloat::Parse(im, bits, &ok));
}

void Report(const SweepView& view, const SweepOutcome& o)
{
    if (!o.rendered) {
        std::printf("not checked: %s\n", o.problem.c_str());
        return;
    }
    std::printf("%s at %s: %d pixels, %d agree, %d chaotic, %zu wrong (%.1f %% of non-chaotic agree); "
                "%d references, %d precise, skip %d; render %.3f s, oracle %.1f s\n",
        view.iteration.c_str(), view.width.c_str(), o.pixels, o.agree, o.chaotic, o.wrong.size(),
        100.0 * o.agree / std::max(1, o.pixels - o.chaotic), o.references, o.precisePixels, o.skipRuns,
        o.renderSeconds, o.oracleSeconds);
    std::map<std::int64_t, int> histogram;
    for (const std::int64_t c : o.counts) {
        ++histogram[c];
    }
    std::printf("  counts:");
    int shown = 0;
    for (const auto& [count, pixels] : histogram) {
        if (shown++ < 8) {
            std::printf(" %lld x%d", static_cast<long long>(count), pixels);
        }
    }
    std::printf("%s\n", histogram.size() > 8 ? " ..." : "");
    for (size_t k = 0; k < o.wrong.size() && k < 8; ++k) {
        std::printf("  (%d, %d): got %lld, truth %lld\n", o.wrong[k].column, o.wrong[k].row,
            static_cast<long long>(o.wrong[k].got), static_cast<long long>(o.wrong[k].truth));
    }
}

// The size of the minibrot of z * z + z0 at nucleus c of period p: 1 / |b l^2|, where l is the
// product of 2 z along the cycle and b the sum of 1 / l's partial products.
std::string QuadraticSize(const BigComplex& c, int period)
{
    const mpfr_prec_t bits = c.Precision();
    BigComplex z(bits), l(bits), b(bits), t(bits);
    mpc_set_ui(l.get(), 1, MPC_RNDNN);
    mpc_set_ui(b.get(), 1, MPC_RNDNN);
    for (int i = 1; i < period; ++i) {
        mpc_sqr(z.get(), z.get(), MPC_RNDNN);
        mpc_add(z.get(), z.get(), c.get(), MPC_RNDNN);
        mpc_mul(l.get(), l.get(), z.get(), MPC_RNDNN);
        mpc_mul_2ui(l.get(), l.get(), 1, MPC_RNDNN);
        mpc_ui_div(t.get(), 1, l.get(), MPC_RNDNN);
        mpc_add(b.get(), b.get(), t.get(), MPC_RNDNN);
    }
    mpc_sqr(t.get(), l.get(), MPC_RNDNN);
    mpc_mul(t.get(), t.get(), b.get(), MPC_RNDNN);
    BigFloat size(bits);
    mpc_abs(size.get(), t.get(), MPFR_RNDN);
    mpfr_ui_div(size.get(), 1, size.get(), MPFR_RNDN);
    return size.ToString(6);
}

// The lowest period of a nucleus of z * z + z0 within radius of c: the first n at which the disc the
// orbit of every such point lies in (w_n = w_(n-1)^2 + c from w_0 = 0, ball arithmetic) holds 0.
int QuadraticBallPeriod(const BigComplex& c, const BigFloat& radius, int limit)
{
    const mpfr_prec_t bits = c.Precision();
    BigComplex w(bits);
    BigFloat r(bits), size(bits), t(bits);
    mpc_set_ui(w.get(), 0, MPC_RNDNN);
    for (int n = 1; n <= limit; ++n) {
        // r = 2 |w| r + r^2 + radius, rounded up.
        mpc_abs(size.get(), w.get(), MPFR_RNDU);
        mpfr_mul(t.get(), size.get(), r.get(), MPFR_RNDU);
        mpfr_mul_2ui(t.get(), t.get(), 1, MPFR_RNDU);
        mpfr_sqr(r.get(), r.get(), MPFR_RNDU);
        mpfr_add(r.get(), r.get(), t.get(), MPFR_RNDU);
        mpfr_add(r.get(), r.get(), radius.get(), MPFR_RNDU);
        mpc_sqr(w.get(), w.get(), MPC_RNDNN);
        mpc_add(w.get(), w.get(), c.get(), MPC_RNDNN);
        mpc_abs(size.get(), w.get(), MPFR_RNDD);
        if (mpfr_lessequal_p(size.get(), r.get())) {
            return n;
        }
        if (mpfr_cmp_ui(size.get(), 4) > 0) {
            return 0;
        }
    }
    return 0;
}

int CommandView(const Args& args)
{
    const SweepView view = ViewFrom(args);
    std::string ec, er;
    Split(args.Get("explain", "-1,-1"), ec, er);
    const SweepOutcome o = CheckView(view, std::stoi(args.Get("threads", "1")),
        std::stoi(args.Get("oracle-threads", "2")), std::stoi(ec), std::stoi(er));
    Report(view, o);
    return o.rendered && o.wrong.empty() ? 0 : 1;
}

int CommandNucleus(const Args& args)
{
    const SweepView view = ViewFrom(args);
    const mpfr_prec_t bits = std::stol(args.Get("bits", "256"));
    const FoundPoint f = NewtonPeriodic(view, PointOf(args.Get("near"), bits),
        std::stoi(args.Get("period", "1")), bits, std::stoi(args.Get("preperiod", "0")));
    if (!f.ok) {
        std::printf("no convergence\n");
        return 1;
    }
    BigFloat re(bits), im(bits);
    mpfr_set(re.get(), f.point.Re(), MPFR_RNDN);
    mpfr_set(im.get(), f.point.Im(), MPFR_RNDN);
    std::printf("%s,%s\n", re.ToString().c_str(), im.ToString().c_str());
    std::printf("size (as for z * z + z0): %s\n", QuadraticSize(f.point, f.period).c_str());
    return 0;
}

int CommandPeriod(const Args& args)
{
    const SweepView view = ViewFrom(args);
    bool ok = false;
    const mpfr_prec_t bits = std::stol(args.Get("bits", "256"));
    const BigFloat radius = BigFloat::Parse(args.Get("radius", "1e-10"), 64, &ok);
    if (!args.Get("quadratic").empty()) {
        std::printf("%d\n",
            QuadraticBallPeriod(
                PointOf(args.Get("center", "0,0"), bits), radius, std::stoi(args.Get("limit", "10000"))));
        return 0;
    }
    std::printf("%d\n",
        NearPeriod(
            view, PointOf(args.Get("center", "0,0"), bits), radius, std::stoi(args.Get("limit", "10000"))));
    return 0;
}

int CommandCount(const Args& args)
{
    const SweepView view = ViewFrom(args);
    const mpfr_prec_t bits = std::stol(args.Get("bits", "256"));
    std::printf("%d\n", OracleCount(view, PointOf(args.Get("at"), bits), bits));
    return 0;
}

int CommandEdge(const Args& args)
{
    const SweepView view = ViewFrom(args);
    const mpfr_prec_t bits = std::stol(args.Get("bits", "256"));
    BigComplex edge(bits);
    if (!BandEdge(view, PointOf(args.Get("from"), bits), PointOf(args.Get("to"), bits), bits, edge)) {
        std::printf("same count at both ends\n");
        return 1;
    }
    BigFloat re(bits), im(bits);
    mpfr_set(re.get(), edge.Re(), MPFR_RNDN);
    mpfr_set(im.get(), edge.Im(), MPFR_RNDN);
    std::printf("%s,%s\n", re.ToString().c_str(), im.ToString().c_str());
    return 0;
}

int CommandTrace(const Args& args)
{
    TraceView(ViewFrom(args), std::stoi(args.Get("column", "0")), std::stoi(args.Get("row", "0")),
        std::stoi(args.Get("runs", "100")), args.Get("reference"));
    return 0;
}

int CommandSweep(const Args& args)
{
    const SweepTotals t = RunSweep(std::stod(args.Get("minutes", "5")), std::stoull(args.Get("seed", "1")),
        std::stoi(args.Get("side", "16")), std::stoi(args.Get("threads", "1")),
        args.Get("log", "deepsweep.log"));
    std::printf("%d formulas, %d views, %lld pixels, %lld chaotic, %lld disagree in %d views\n", t.formulas,
        t.views, t.pixels, t.chaotic, t.wrong, t.wrongViews);
    return t.wrong == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: glimmerset-deepsweep view|nucleus|period|count|edge|trace|sweep ...\n");
        return 2;
    }
    const std::string command = argv[1];
    const Args args = Parse(argc, argv);
    const std::pair<const char*, int (*)(const Args&)> commands[] = { { "view", CommandView },
        { "nucleus", CommandNucleus }, { "period", CommandPeriod }, { "count", CommandCount },
        { "edge", CommandEdge }, { "trace", CommandTrace }, { "sweep", CommandSweep } };
    for (const auto& [name, run] : commands) {
        if (command == name) {
            return run(args);
        }
    }
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}
