#pragma once

#include "picture.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The animation command's parts that need no files: where the keys fall, the picture of a frame, the
// frame's file name and the shard of the frames this process renders.

enum class Ease { Linear, Smooth };

// The frame on which key j of keys falls in an animation of frames frames: round(j (frames - 1) /
// (keys - 1)), so that the first key is frame 0 and the last frame frames - 1. Needs keys >= 2.
int KeyFrame(int key, int keys, int frames);

// The picture of frame of frames, from key pictures that already have the frame's size and their view
// at that size. A frame on a key is that key's picture exactly; between two keys the constants and
// the mapping's origin, scales and stretch move linearly, its rotation by angle, the centre of the
// view linearly and its width geometrically, and the iteration limit is rounded. Formulas and
// palette are those of the earlier key. Needs keys.size() >= 2 and frames >= keys.size().
Picture FramePicture(const std::vector<Picture>& keys, int frame, int frames, Ease ease);

// The first way in which picture differs from first in what an animation cannot move: a constant
// that one has and the other lacks, a formula or the palette. Empty when there is none.
std::string KeyDifference(const Picture& first, const Picture& picture);

// The file name of a frame: pattern with its one %d conversion (with an optional 0 flag and width,
// as in %05d) replaced by the frame number and %% by %. Nothing when the pattern has no such
// conversion, more than one, or another conversion; then problem says why.
std::optional<std::string> FramePath(const std::string& pattern, int frame, std::string* problem = nullptr);

// Which of the frames this process renders: those whose number modulo count is index.
struct Shard {
    int index { 0 };
    int count { 1 };
    std::string source; // the environment variable it came from; empty for --shard or none

    bool Has(int frame) const { return frame % count == index; }
};

// The shard from --shard K/N when given, otherwise from the environment of a Slurm job array, a
// Kubernetes Indexed Job or GNU Parallel (with N from --shard-count for the last two). getenv reads
// one variable (nullptr when unset). On a usage error returns false with the problem.
bool ReadShard(const std::optional<std::string>& shard, const std::optional<std::string>& shardCount,
    const std::function<const char*(const char*)>& getenv, Shard& result, std::string& problem);

// A whole number in the int range, the whole of text (an optional '-' and digits).
bool ParseWhole(std::string_view text, int& value);

// --size WxH of render and animate, each side from kMinToolSide to kMaxToolSide. On a usage error
// returns false with the problem.
bool ReadSize(const std::string& text, int& width, int& height, std::string& problem);

// --aa N of render and animate: N x N samples per pixel, 1 to 4; nothing when not given. On a usage
// error returns false with the problem.
bool ReadAntialias(const std::optional<std::string>& text, std::optional<int>& samples, std::string& problem);

// --threads N (for the render pool) and --png-level N of render and animate; threadCount and pngLevel
// keep their values when the option is not given. On a usage error returns false with the problem.
bool ReadThreadsAndPngLevel(const std::optional<std::string>& threads,
    const std::optional<std::string>& level, int& threadCount, long long& pngLevel, std::string& problem);

// Encodes the frames of pattern on disk into video at fps frames per second with ffmpeg, written whole
// or not at all. Returns the exit code, with the reason on err when it fails.
int EncodeVideo(const std::string& video, double fps, const std::string& pattern, std::ostream& err);
