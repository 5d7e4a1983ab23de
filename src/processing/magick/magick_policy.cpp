#include "processing/magick/magick_policy.h"

#include "platform/failure.h"
#include "platform/owner_tag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <sys/statvfs.h>
#include <unistd.h>

#include <wand/MagickWand.h>

namespace varnholt {

namespace {

constexpr std::uint64_t kMiB = 1024ull * 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;
// Sixteen bits for each of red, green, blue and alpha: what one pixel takes
// in ImageMagick's pixel cache (Q16).
constexpr std::uint64_t kBytesPerPixel = 8;
// Internal: how many worker processes share the machine (see
// MagickShareVariable).
constexpr char kProcessesVariable[] = "VARNHOLT_MAGICK_PROCESSES";
// Internal: the modules and coders the parent refused, "M,M;C,C", so that a
// worker need not load every module to find them again.
constexpr char kRefusedVariable[] = "VARNHOLT_MAGICK_REFUSED";

// The modules whose coders may run, and the names those coders go by. MPR
// is the registry the toolkit keeps decoded pictures in.
// HEIC is libheif's module: HEIC and HEIF from phones and cameras, and AVIF.
const QSet<QString> kAllowedModules = {"BMP", "GIF",  "JPEG", "PNG",  "TIFF",
                                       "TGA", "MIFF", "MPR",  "HEIC", "WEBP"};
const QSet<QString> kAllowedCoders = {"BMP",   "BMP2", "BMP3",  "GIF",    "GIF87", "JPEG",  "JPG",
                                      "JPE",   "PNG",  "PNG00", "PNG8",   "PNG24", "PNG32", "PNG48",
                                      "PNG64", "TIFF", "TIF",   "TIFF64", "TGA",   "MIFF",  "MPR",
                                      "MPRI",  "HEIC", "HEIF",  "AVIF",   "WEBP"};
// Refused by name as well, for an ImageMagick built without modules, where
// hidden coders like these cannot be listed.
const QStringList kAlwaysRefused = {"EPHEMERAL", "MSL",     "MVG",  "SVG",   "MSVG",   "TEXT",
                                    "TXT",       "URL",     "HTTP", "HTTPS", "FTP",    "FILE",
                                    "PS",        "EPS",     "PDF",  "XPS",   "INLINE", "DATA",
                                    "LABEL",     "CAPTION", "SHOW", "WIN",   "X",      "MAGICK"};

std::mutex limitsMutex;
MagickLimits inForce;
QByteArray refusedInForce; // as kRefusedVariable says it, once started

std::uint64_t PhysicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  std::uint64_t memory =
      pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 2 * kGiB;
  // A container's, a service's or an app's own limit, when it has one below the machine's.
  if (const std::uint64_t limit = CgroupMemoryLimit(QString())) memory = std::min(memory, limit);
  return memory;
}

// A number in a small file of the cgroup tree; 0 for "max", for no file and
// for v1's "no limit" (the largest multiple of the page size).
std::uint64_t LimitIn(const QString &file) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return 0;
  bool ok = false;
  const std::uint64_t value = in.read(64).trimmed().toULongLong(&ok);
  return ok && value < (std::uint64_t(1) << 62) ? value : 0;
}

std::uint64_t FreeSpace(const QString &folder) {
  struct statvfs st {};
  if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0) return 0;
  return std::uint64_t(st.f_bavail) * std::uint64_t(st.f_frsize);
}

int SharingProcesses() {
  bool ok = false;
  const int n = qEnvironmentVariableIntValue(kProcessesVariable, &ok);
  return ok && n > 0 ? n : 1;
}

// "12", "1.5GiB", "300MP": the number and its unit's factor.
bool ReadQuantity(const QString &text, bool pixels, std::uint64_t &value) {
  static const QRegularExpression form(
      QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*([A-Za-z]*)\\s*$"));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch()) return false;
  const QString unit = m.captured(2).toUpper();
  double factor = 0;
  if (pixels) {
    const QStringList units = {"", "P", "KP", "MP", "GP", "TP"};
    const qsizetype i = units.indexOf(unit);
    if (i < 0) return false;
    factor = std::pow(1000.0, double(std::max<qsizetype>(0, i - 1)));
  } else {
    const QStringList binary = {"B", "KIB", "MIB", "GIB", "TIB"};
    const QStringList decimal = {"", "KB", "MB", "GB", "TB"};
    if (const qsizetype i = binary.indexOf(unit); i >= 0)
      factor = std::pow(1024.0, double(i));
    else if (const qsizetype k = decimal.indexOf(unit); k >= 0)
      factor = std::pow(1000.0, double(k));
    else
      return false;
  }
  // The number has only digits and one point, so the C locale's reading is
  // the only one there is.
  const double v = m.captured(1).toDouble() * factor;
  if (!(v >= 1) || v >= 1.8e19) return false;
  value = std::uint64_t(v);
  return true;
}

// "10100 pixels" up to a million, "150.3 megapixels" from there on.
QString Pixels(double pixels) {
  if (pixels < 1e6) return QString::number(pixels, 'f', 0) + " pixels";
  return QString::number(pixels / 1e6, 'f', 1) + " megapixels";
}

std::uint64_t ImageMagickSide(const MagickLimits &l) {
  return std::max({l.width, l.height, l.area});
}

// The policy as ImageMagick reads it from a policy.xml. ImageMagick refuses
// a right as soon as any matching entry refuses it, so "refuse everything,
// then allow these" cannot be said: each module and coder is refused by name.
QByteArray PolicyXml(const MagickLimits &l, const QStringList &modules, const QStringList &coders) {
  QByteArray xml = "<policymap>\n";
  const auto resource = [&](const char *name, std::uint64_t value) {
    xml += "  <policy domain=\"resource\" name=\"" + QByteArray(name) + "\" value=\"" +
           QByteArray::number(qulonglong(value)) + "\"/>\n";
  };
  resource("memory", l.memory);
  resource("map", l.map);
  resource("disk", l.disk);
  resource("area", l.area);
  resource("width", ImageMagickSide(l));
  resource("height", ImageMagickSide(l));
  xml += "  <policy domain=\"delegate\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"filter\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"path\" rights=\"none\" pattern=\"@*\"/>\n";
  // Loading every module asks with its file's name, in small letters; a
  // single format with its tag, in capitals.
  for (const QString &m : modules)
    for (const QString &name : {m, m.toLower()})
      xml += "  <policy domain=\"module\" rights=\"none\" pattern=\"" + name.toLatin1() + "\"/>\n";
  for (const QString &c : coders)
    xml += "  <policy domain=\"coder\" rights=\"none\" pattern=\"" + c.toLatin1() + "\"/>\n";
  return xml + "</policymap>\n";
}

QStringList Listed(char **names, size_t count) {
  QStringList list;
  if (!names) return list;
  for (size_t i = 0; i < count; ++i) {
    list << QString::fromLatin1(names[i]).toUpper();
    RelinquishMagickMemory(names[i]);
  }
  RelinquishMagickMemory(names);
  return list;
}

QStringList Refused(const QStringList &present, const QSet<QString> &allowed) {
  QStringList refused;
  for (const QString &name : present)
    // Names go into the policy text as they stand: only plain ones.
    if (!allowed.contains(name) && !refused.contains(name) &&
        QRegularExpression(QStringLiteral("^[A-Z0-9_-]+$")).match(name).hasMatch())
      refused << name;
  return refused;
}

// The refusals a worker was handed: only names fit for the policy's text, and
// never fewer than the ones refused by name whatever is installed.
bool HandedRefusals(QStringList &modules, QStringList &coders) {
  if (!qEnvironmentVariableIsSet(kProcessesVariable)) return false;
  const QList<QByteArray> parts = qgetenv(kRefusedVariable).split(';');
  if (parts.size() != 2) return false;
  static const QRegularExpression plain(QStringLiteral("^[A-Z0-9_-]+$"));
  const auto names = [](const QByteArray &text, QStringList &out) {
    for (const QByteArray &name : text.split(','))
      if (!name.isEmpty()) {
        if (!plain.match(QString::fromLatin1(name)).hasMatch()) return false;
        out << QString::fromLatin1(name);
      }
    return true;
  };
  QStringList m, c;
  if (!names(parts[0], m) || !names(parts[1], c)) return false;
  for (const QString &name : kAlwaysRefused)
    if (!c.contains(name)) return false;
  modules = m, coders = c;
  return true;
}

void OverridesFromEnvironment(MagickLimits &limits, bool warn) {
  const QString text = qEnvironmentVariable(kMagickLimitsVariable);
  if (text.isEmpty()) return;
  const Expected<MagickLimits> overridden = OverrideLimits(limits, text);
  if (overridden)
    limits = *overridden;
  else if (warn)
    std::fprintf(stderr, "varnholt: warning: %s is ignored: %s\n", kMagickLimitsVariable,
                 overridden.error().description().toLocal8Bit().constData());
}

// Drops the policy ImageMagick has read, so that it reads the files again.
void ReloadPolicy() {
  PolicyComponentTerminus();
  PolicyComponentGenesis();
  if (char *value = GetPolicyValue("resource:memory")) RelinquishMagickMemory(value);
}

void SetResourceLimits(const MagickLimits &limits) {
  SetMagickResourceLimit(MemoryResource, limits.memory);
  SetMagickResourceLimit(MapResource, limits.map);
  SetMagickResourceLimit(DiskResource, limits.disk);
  SetMagickResourceLimit(AreaResource, limits.area);
  // ImageMagick fails a size query beyond its width or height limit without
  // a word, so its own two stay wide enough for CheckImageWithinLimits to
  // say which limit an image breaks, and by how much.
  SetMagickResourceLimit(WidthResource, ImageMagickSide(limits));
  SetMagickResourceLimit(HeightResource, ImageMagickSide(limits));
}

void Start() {
  MagickLimits limits =
      LimitsForMachine(PhysicalMemory(), SharingProcesses(), FreeSpace(QDir::tempPath()));
  // Worker processes leave the warning to the process that started them.
  OverridesFromEnvironment(limits, !qEnvironmentVariableIsSet(kProcessesVariable));

  // ImageMagick reads policy.xml from MAGICK_CONFIGURE_PATH before the
  // system's, and the first value it finds for a limit is the one that
  // counts: so ours is a file in a folder of our own, put first.
  // Named for this process, so a run that finds it left behind knows whose it was.
  QTemporaryDir folder(QDir::tempPath() + "/varnholt-" + OwnerTag() + "-policy-XXXXXX");
  const QString file = folder.path() + "/policy.xml";
  const auto write = [&](const QStringList &modules, const QStringList &coders) {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(PolicyXml(limits, modules, coders)) < 0)
      throw Failure(kErrToolkit, "Cannot write ImageMagick's policy to " + file);
  };
  if (!folder.isValid())
    throw Failure(kErrToolkit,
                  "Cannot create a folder for ImageMagick's policy: " + folder.errorString());
  const bool hadPath = qEnvironmentVariableIsSet("MAGICK_CONFIGURE_PATH");
  const QByteArray oldPath = qgetenv("MAGICK_CONFIGURE_PATH");
  QByteArray path = QFile::encodeName(folder.path());
  if (!oldPath.isEmpty()) path += ":" + oldPath;

  QStringList modules, coders;
  if (HandedRefusals(modules, coders)) {
    // A worker takes the parent's list: finding it means loading every
    // allowed module, the time and memory of a worker's start.
    write(modules, coders);
    qputenv("MAGICK_CONFIGURE_PATH", path);
    MagickWandGenesis();
  } else {
    write({}, kAlwaysRefused);
    qputenv("MAGICK_CONFIGURE_PATH", path);
    MagickWandGenesis();

    // The modules are listed from their folder without loading any of them.
    ExceptionInfo *exception = AcquireExceptionInfo();
    size_t count = 0;
    char **names = GetModuleList("*", MagickImageCoderModule, &count, exception);
    modules = Refused(Listed(names, count), kAllowedModules);
    write(modules, kAlwaysRefused);
    ReloadPolicy();
    // Now only the allowed modules load; the other names their coders go by
    // (MNG in the PNG module, say) are refused one by one.
    coders = kAlwaysRefused;
    names = GetMagickList("*", &count, exception);
    coders += Refused(Listed(names, count), kAllowedCoders);
    DestroyExceptionInfo(exception);
    write(modules, coders);
    ReloadPolicy();
  }

  if (hadPath)
    qputenv("MAGICK_CONFIGURE_PATH", oldPath);
  else
    qunsetenv("MAGICK_CONFIGURE_PATH");

  SetResourceLimits(limits);
  std::lock_guard lock(limitsMutex);
  inForce = limits;
  refusedInForce = modules.join(u',').toLatin1() + ';' + coders.join(u',').toLatin1();
}

} // namespace

QStringList AllowedImageFormats() {
  return {"BMP", "GIF", "JPEG", "PNG", "TIFF", "TGA", "MIFF", "HEIC", "AVIF", "WEBP"};
}

MagickLimits LimitsForMachine(std::uint64_t physicalMemory, int processes,
                              std::uint64_t freeScratch) {
  const std::uint64_t share = std::uint64_t(std::max(1, processes));
  MagickLimits l;
  l.memory = std::max(256 * kMiB, physicalMemory / 4 * 3 / share);
  l.disk = freeScratch / 2 / share;
  // The mapped cache lives in the scratch folder too.
  l.map = std::max(std::min(l.memory, l.disk), 256 * kMiB);
  l.area = (l.memory + l.map) / kBytesPerPixel;
  l.width = l.height = l.area;
  return l;
}

Expected<MagickLimits> OverrideLimits(const MagickLimits &limits, const QString &text) {
  MagickLimits changed = limits;
  for (const QString &pair : text.split(u',', Qt::SkipEmptyParts)) {
    const qsizetype eq = pair.indexOf(u'=');
    const QString name = pair.left(eq).trimmed().toLower();
    std::uint64_t *field = name == "memory"   ? &changed.memory
                           : name == "map"    ? &changed.map
                           : name == "disk"   ? &changed.disk
                           : name == "area"   ? &changed.area
                           : name == "width"  ? &changed.width
                           : name == "height" ? &changed.height
                                              : nullptr;
    if (eq < 0 || !field)
      return Failure(kErrUnusableValue, "\"" + pair.trimmed() +
                                            "\" is not one of memory, map, disk, area, width, "
                                            "height = value");
    const bool pixels =
        field == &changed.area || field == &changed.width || field == &changed.height;
    if (!ReadQuantity(pair.mid(eq + 1), pixels, *field))
      return Failure(kErrUnusableValue,
                     "\"" + pair.mid(eq + 1).trimmed() + "\" is not " +
                         (pixels ? "a number of pixels (like 300MP)" : "a size (like 4GiB)"));
  }
  return changed;
}

void StartMagick() {
  static std::once_flag once;
  std::call_once(once, Start);
}

MagickLimits MagickLimitsInForce() {
  std::lock_guard lock(limitsMutex);
  return inForce;
}

void CheckImageWithinLimits(std::int64_t width, std::int64_t height, const QString &file) {
  const MagickLimits l = MagickLimitsInForce();
  if (l.area == 0 || width <= 0 || height <= 0) return;
  const auto refuse = [](const QString &what) {
    throw Failure(ResourceLimitError, "Image too large: " + what + " (" +
                                          QString::fromLatin1(kMagickLimitsVariable) +
                                          " can raise it)");
  };
  if (std::uint64_t(width) > l.width)
    refuse(QStringLiteral("%1 pixels wide, %2 more than the width limit of %3")
               .arg(width)
               .arg(std::uint64_t(width) - l.width)
               .arg(l.width));
  if (std::uint64_t(height) > l.height)
    refuse(QStringLiteral("%1 pixels high, %2 more than the height limit of %3")
               .arg(height)
               .arg(std::uint64_t(height) - l.height)
               .arg(l.height));
  const double pixels = double(width) * double(height);
  if (pixels > double(l.area))
    refuse(QStringLiteral("%1x%2 is %3, %4 more than the area limit of %5")
               .arg(width)
               .arg(height)
               .arg(Pixels(pixels), Pixels(pixels - double(l.area)), Pixels(double(l.area))));
  // No photograph or scan packs more than a few dozen pixels into a byte; a
  // flat PNG reaches about a thousand. A picture whose pixels would take more
  // than a gigabyte, from a file that small, is a damaged header or a file
  // made to exhaust memory: decoding it takes minutes and gigabytes.
  constexpr double kMostPixelsPerByte = 256;
  const qint64 bytes = file.isEmpty() ? -1 : QFileInfo(file).size();
  if (bytes >= 0 && pixels * double(kBytesPerPixel) > double(kGiB) &&
      pixels > kMostPixelsPerByte * double(std::max<qint64>(bytes, 1)))
    throw Failure(ResourceLimitError,
                  QStringLiteral("Image too large for its file, damaged or made to exhaust "
                                 "memory: %1x%2 is %3 from a file of %4 bytes")
                      .arg(width)
                      .arg(height)
                      .arg(Pixels(pixels))
                      .arg(bytes));
}

std::uint64_t CgroupMemoryLimit(const QString &root) {
  QFile self(root + QStringLiteral("/proc/self/cgroup"));
  if (!self.open(QIODevice::ReadOnly)) return 0;
  std::uint64_t smallest = 0;
  const auto take = [&](const QString &mount, QString path, const QString &file) {
    // Every level from the process's own group up to the mount's root: a
    // limit on any of them applies. In a container the path is the host's
    // and only the levels it can see exist.
    for (;;) {
      const std::uint64_t limit = LimitIn(root + mount + path + u'/' + file);
      if (limit > 0 && (smallest == 0 || limit < smallest)) smallest = limit;
      if (path.isEmpty() || path == u'/') break;
      path = path.left(std::max<qsizetype>(0, path.lastIndexOf(u'/')));
    }
  };
  for (const QByteArray &line : self.read(64 * 1024).split('\n')) {
    // "ID:CONTROLLERS:PATH"; the path may hold colons itself.
    const qsizetype first = line.indexOf(':'), second = line.indexOf(':', first + 1);
    if (first < 0 || second < 0) continue;
    const QList<QByteArray> controllers = line.mid(first + 1, second - first - 1).split(',');
    QString path = QString::fromUtf8(line.mid(second + 1));
    if (path.contains(QStringLiteral(".."))) continue;
    if (path.endsWith(u'/')) path.chop(1);
    if (line.left(first) == "0" && controllers == QList<QByteArray>{""}) {
      take(QStringLiteral("/sys/fs/cgroup"), path, QStringLiteral("memory.max"));
      take(QStringLiteral("/sys/fs/cgroup/unified"), path, QStringLiteral("memory.max"));
    } else if (controllers.contains("memory")) {
      take(QStringLiteral("/sys/fs/cgroup/memory"), path, QStringLiteral("memory.limit_in_bytes"));
    }
  }
  return smallest;
}

QList<QByteArray> MagickWorkerVariables(int processes) {
  MagickLimits ignored;
  OverridesFromEnvironment(ignored, true);
  QList<QByteArray> variables{QByteArray(kProcessesVariable) + '=' +
                              QByteArray::number(std::max(1, processes))};
  std::lock_guard lock(limitsMutex);
  if (!refusedInForce.isEmpty()) variables << QByteArray(kRefusedVariable) + '=' + refusedInForce;
  return variables;
}

} // namespace varnholt
