#pragma once

// What ImageMagick may do in this program: which formats it decodes and how
// much of the machine it may take. Both are the program's own choice, not
// the system's policy.xml: ImageMagick otherwise decodes whatever a file's
// contents claim (an SVG named .png pulls other local files into the output),
// and Debian's limits stop an ordinary stitched panorama.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "platform/failure.h"

#include <cstdint>

namespace varnholt {

// Bytes for the first three, pixels for the others.
struct MagickLimits {
  std::uint64_t memory = 0, map = 0, disk = 0;
  std::uint64_t area = 0, width = 0, height = 0;
  bool operator==(const MagickLimits &) const = default;
};

// The environment variable that changes the limits, e.g. "memory=8GiB,area=2GP".
inline constexpr char kMagickLimitsVariable[] = "VARNHOLT_MAGICK_LIMITS";

// The formats read and written; every other coder, every delegate and
// indirect file lists ("@file") are refused.
QStringList AllowedImageFormats();

// The limits of one of `processes` processes that share the machine: three
// quarters of the physical memory and half the free scratch space, split
// between them; a memory-mapped cache as large as the memory; and images of
// at most as many pixels as memory and map hold together.
MagickLimits LimitsForMachine(std::uint64_t physicalMemory, int processes,
                              std::uint64_t freeScratch);

// Applies "name=value" pairs separated by commas: memory, map and disk take
// bytes with B, KiB, MiB, GiB, TiB (or KB, MB, GB, TB, powers of ten); area,
// width and height take pixels with P, KP, MP, GP. A malformed text is a
// failure (kErrUnusableValue) that says what is wrong.
Expected<MagickLimits> OverrideLimits(const MagickLimits &limits, const QString &text);

// Starts ImageMagick in this process under the policy and limits above (the
// machine's, then the variable's). Once per process, before anything else
// uses ImageMagick; later calls do nothing.
void StartMagick();

// The limits in force; all zero before StartMagick. ImageMagick's own width
// and height limits are kept as large as the area, because a size query
// beyond them fails without saying why: the check below enforces these.
MagickLimits MagickLimitsInForce();

// Refuses, before any pixel is decoded, an image that is wider, taller or
// larger than the limits allow: throws Failure with ImageMagick's
// resource-limit number, naming the limit and by how much it is exceeded.
// Does nothing before StartMagick. With the image's `file`, a picture of
// more than a gigabyte of pixels claimed by a file far too small to hold
// them is refused as damaged, before ImageMagick spends minutes on it.
void CheckImageWithinLimits(std::int64_t width, std::int64_t height,
                            const QString &file = QString());

// The smallest memory limit of the cgroups this process is in, read under
// `root` (empty: the real /proc and /sys): cgroup v2's memory.max, or v1's
// memory.limit_in_bytes, at every level from the process's own group up.
// 0 when there is none.
std::uint64_t CgroupMemoryLimit(const QString &root);

// The environment entries ("NAME=value") that tell a worker process that
// `processes` of them share the machine, so that each takes its part of it,
// and, once this process has started ImageMagick, the formats its policy
// refuses, so that a worker starts without loading every module to find
// them. Given to the workers only: this process may be inside ImageMagick on
// another thread, and its own environment stays as it is. A malformed
// override is reported here, once, rather than by every worker.
QList<QByteArray> MagickWorkerVariables(int processes);

} // namespace varnholt
