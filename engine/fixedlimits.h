#pragma once

// The program's fixed ranges, in one place so that the script, its files, the dialogs and the tool
// agree on them. Each is inclusive. (Not named limits.h: this folder is on the include path, where it
// would hide the C header.)

// A script's target image, a side in pixels: what the setters clamp to and the export size dialog
// accepts.
inline constexpr int kMinImageSide = 100;
inline constexpr int kMaxImageSide = 4096;

// The tool's --size: thumbnails below a script's own smallest target too, never larger than it.
inline constexpr int kMinToolSide = 16;
inline constexpr int kMaxToolSide = kMaxImageSide;

// A script's iteration limit: what the settings command and the file's usual line hold.
inline constexpr int kMinIterations = 1;
inline constexpr int kMaxIterations = 10000;
// The extended limit, beyond that range, for deep views whose minibrots need millions of runs: the
// tool's --iterations, its JSON, the window's item of its own and a line of the script file that
// older readers pass over. A count up to it fits every int that holds one.
inline constexpr int kMaxExtendedIterations = 1'000'000'000;

// Samples per pixel a side of an anti-aliased export.
inline constexpr int kMinAntialias = 1;
inline constexpr int kMaxAntialias = 4;

// The settings dialog's iteration field accepts less than the script does: 0 (applied as 1) to
// 4096.
inline constexpr int kMinIterationsField = 0;
inline constexpr int kMaxIterationsField = 4096;

// The one clamp of every range above, so that a value is brought into range alike wherever it enters
// (the setters, the file, the tool's options and JSON): saturating, whatever integer type it comes in.
template <typename T> constexpr int ClampToRange(T value, int min, int max)
{
    return value < min ? min : value > max ? max : static_cast<int>(value);
}

// A palette mapping's sine, brought into [-1, 1]; a sine that is not a number stays as it is.
constexpr double ClampSine(double sine) { return sine < -1.0 ? -1.0 : sine > 1.0 ? 1.0 : sine; }
