#pragma once

// What BuildReference writes run by run: the instructions of the iteration and termination programs
// with their reference values (see ProgramRecord).

#include "delta.h"
#include "precise.h"

#include <memory>
#include <vector>

// Records one program's instructions in the reference's precision, each value rounded once as the
// run writes it.
class CRecorder {
public:
    // Values past largest end the orbit. firstRun: the run this recorder starts at (another may have
    // recorded the runs before, see CTerminationRecorder).
    CRecorder(const CDeltaCode& code, CPreciseProgram& run, ProgramRecord& record, size_t reserved,
        double largest, int firstRun = 0);

    // A slot the caller set in the precise program.
    void Refresh(int slot) { m_rounded[static_cast<size_t>(slot)] = m_run.Slot(slot).ToComplex(); }
    const std::vector<Complex>& Rounded() const { return m_rounded; }

    // Runs and records one run; false when a value left the doubles' range.
    bool Run();
    // The next run takes instruction k's value as 0 instead of computing it (a landing orbit's first).
    void ZeroNext(int k) { m_nZeroAt = k; }
    // Notes a run that the caller recorded itself (with no value below the doubles' range, and every
    // value a number).
    void RecordedElsewhere()
    {
        NoteTiny(m_record.tiny.size());
        NoteSingular(false);
    }

private:
    // A part that rounds below the doubles' normal range while the exact one is not 0 lost digits.
    static bool Tiny(Complex rounded, const BigComplex& exact);
    // The run's first entry among the tiny values, once there are any (counts the run).
    void NoteTiny(size_t before);
    // Whether the run had a value that is not a number, once there was one (after NoteTiny).
    void NoteSingular(bool singular);

    const CDeltaCode& m_code;
    CPreciseProgram& m_run;
    ProgramRecord& m_record;
    std::vector<Complex> m_rounded; // every slot's value rounded to doubles
    BigComplex m_diff;
    const double m_dLargest;
    int m_nRun { 0 };
    int m_nZeroAt { -1 };
};

// Records a program that runs after every run of the iteration on its value (z = the value,
// V_iter_n = the run, z0 = the plane point): the termination, and a colour formula that decides on
// exact values. A program that carries no value of its own from run to run is run in doubles on the
// reference's rounded value, each value with a bound on its distance from the exact one; only where
// those bounds leave a comparison (or, for the termination, the final sign) to less than 2^12 times
// their size, or where a value falls below the doubles' range, is the run taken in the reference's
// precision.
class CFollowerRecorder {
public:
    // signDecides: the real part of the program's value decides (the termination), so it too must be
    // clear of 0.
    CFollowerRecorder(const CDeltaCode& code, int nSlot, ProgramRecord& record, size_t reserved,
        const BigComplex& point, mpfr_prec_t bits, bool signDecides);
    ~CFollowerRecorder();

    // Records run n from the iteration's exact value (and that rounded); false when a value is not a
    // number. value: the program's value after the run, rounded with each part's sign kept; exactRe:
    // its real part with its own exponent.
    bool Run(int n, const BigComplex& value, Complex rounded, Complex& result, ExComplex& exactRe);

private:
    bool RunInDoubles(int n, Complex z, Complex& result);
    bool RunPrecisely(int n, const BigComplex& value, Complex& result, ExComplex& exactRe);

    const CDeltaCode& m_code;
    const int m_nN;
    ProgramRecord& m_record;
    const BigComplex& m_exactPoint;
    const mpfr_prec_t m_nBits;
    const bool m_bSignDecides;
    // The program in the reference's precision, made when a run first needs it (its kernel costs as
    // much to set up as hundreds of runs in doubles).
    std::unique_ptr<CPreciseProgram> m_precise;
    std::unique_ptr<CRecorder> m_recorder;
    bool m_bCarries { false }; // the program carries values of its own from run to run
    Complex m_point;
    Complex m_pointError;
    std::vector<Complex> m_value, m_error; // every slot in doubles, and a bound on each part's error
};
