#include "desktop/desktop_look.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolTip>

#include <memory>

namespace varnholt {

namespace {

// Long enough for a desktop service that is running, short enough not to be
// noticed at start when it hangs.
constexpr int kAskMilliseconds = 250;

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");

QDBusMessage AskBus(const QDBusConnection &bus, QDBusMessage message) {
  // A portal that is not running is not started for this: that can take seconds.
  message.setAutoStartService(false);
  return QDBusConnection(bus).call(message, QDBus::Block, kAskMilliseconds);
}

std::optional<unsigned> PortalColourScheme() {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return std::nullopt;
  const QDBusMessage owner =
      AskBus(bus, QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                 QStringLiteral("/org/freedesktop/DBus"),
                                                 QStringLiteral("org.freedesktop.DBus"),
                                                 QStringLiteral("NameHasOwner"))
                      << kPortal);
  if (owner.type() != QDBusMessage::ReplyMessage || owner.arguments().value(0).toBool() == false)
    return std::nullopt;
  const QDBusMessage reply = AskBus(
      bus, QDBusMessage::createMethodCall(
               kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
               QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"))
               << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme"));
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  // Read wraps the value in a variant, and some portals wrap it twice.
  QVariant value = reply.arguments().constFirst();
  for (int depth = 0; depth < 3 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
    value = qvariant_cast<QDBusVariant>(value).variant();
  bool ok = false;
  const unsigned scheme = value.toUInt(&ok);
  if (!ok) return std::nullopt;
  return scheme;
}

// One gsettings process for both keys, on a desktop that may keep them: a
// start without any desktop (or on KDE's) does not pay for the process.
void ReadGnomeSettings(DesktopLookHints &hints) {
  const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
  if (desktop.isEmpty() || desktop.contains(QLatin1String("KDE"), Qt::CaseInsensitive)) return;
  const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
  if (gsettings.isEmpty()) return;
  QProcess process;
  process.start(gsettings, {QStringLiteral("list-recursively"),
                            QStringLiteral("org.gnome.desktop.interface")});
  if (!process.waitForFinished(kAskMilliseconds)) {
    process.kill();
    process.waitForFinished(kAskMilliseconds);
    return;
  }
  for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
    // org.gnome.desktop.interface color-scheme 'prefer-dark'
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() < 3) continue;
    const QString value = QString::fromUtf8(words.mid(2).join(' '));
    if (words[1] == "color-scheme") hints.gnomeColourScheme = value;
    if (words[1] == "gtk-theme") hints.gnomeGtkTheme = value;
  }
}

void ReadKdeGlobals(DesktopLookHints &hints) {
  QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/kdeglobals"));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  QByteArray section;
  // A settings file of a few kilobytes; a larger one is not KDE's.
  for (const QByteArray &raw : file.read(1 << 20).split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.startsWith('[')) {
      section = line;
      continue;
    }
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) continue;
    const QByteArray key = line.left(equals).trimmed();
    const QString value = QString::fromUtf8(line.mid(equals + 1).trimmed());
    if (section == "[General]" && key == "ColorScheme") hints.kdeColourScheme = value;
    if (section == "[Colors:Window]" && key == "BackgroundNormal")
      hints.kdeWindowBackground = value;
  }
}

} // namespace

bool IsDarkPalette(const QPalette &palette) {
  return palette.color(QPalette::WindowText).lightness() >
         palette.color(QPalette::Window).lightness();
}

DesktopLookHints GatherDesktopLookHints() {
  DesktopLookHints hints;
  hints.platformPaletteDark = IsDarkPalette(QApplication::palette());
  // A dark palette given is kept, whatever else says.
  if (hints.platformPaletteDark) return hints;
  hints.portalColourScheme = PortalColourScheme();
  hints.gtkThemeVariable = qEnvironmentVariable("GTK_THEME");
  if (DesktopPrefersDark(hints)) return hints;
  ReadGnomeSettings(hints);
  if (DesktopPrefersDark(hints)) return hints;
  ReadKdeGlobals(hints);
  return hints;
}

QPalette DarkFusionPalette() {
  const QColor window(53, 53, 53), text(232, 232, 232), dimText(128, 128, 128);
  const struct {
    QPalette::ColorRole role;
    QColor normal, disabled;
  } roles[] = {
      {QPalette::Window, window, window},
      {QPalette::WindowText, text, dimText},
      {QPalette::Base, QColor(36, 36, 36), QColor(45, 45, 45)},
      {QPalette::AlternateBase, QColor(46, 46, 46), QColor(50, 50, 50)},
      {QPalette::ToolTipBase, QColor(30, 30, 30), QColor(30, 30, 30)},
      {QPalette::ToolTipText, text, dimText},
      {QPalette::PlaceholderText, QColor(150, 150, 150), QColor(96, 96, 96)},
      {QPalette::Text, text, dimText},
      {QPalette::Button, window, window},
      {QPalette::ButtonText, text, dimText},
      {QPalette::BrightText, QColor(255, 96, 96), QColor(160, 80, 80)},
      {QPalette::Highlight, QColor(42, 130, 218), QColor(80, 80, 80)},
      {QPalette::HighlightedText, Qt::white, QColor(170, 170, 170)},
      {QPalette::Link, QColor(110, 175, 255), QColor(80, 110, 150)},
      {QPalette::LinkVisited, QColor(190, 150, 255), QColor(110, 95, 140)},
      // Fusion draws its bevels and frames from these; the crop tool's
      // workspace is Dark.
      {QPalette::Light, QColor(80, 80, 80), QColor(80, 80, 80)},
      {QPalette::Midlight, QColor(66, 66, 66), QColor(66, 66, 66)},
      {QPalette::Mid, QColor(40, 40, 40), QColor(40, 40, 40)},
      {QPalette::Dark, QColor(28, 28, 28), QColor(28, 28, 28)},
      {QPalette::Shadow, QColor(12, 12, 12), QColor(12, 12, 12)},
  };
  QPalette p;
  for (const auto &r : roles) {
    p.setColor(r.role, r.normal); // every group
    p.setColor(QPalette::Disabled, r.role, r.disabled);
  }
  return p;
}

namespace {
// Fusion edges check boxes, radio buttons and text boxes in a shade of the
// window colour, which on a dark window is as dark as the box: an unticked
// image in the list would show no box at all, and a text box would be a
// faint patch. They are drawn as on a lighter window.
class DarkFusionStyle : public QProxyStyle {
public:
  DarkFusionStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
  void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
    const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (button && (element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton)) {
      QStyleOptionButton edged = *button;
      edged.palette.setColor(QPalette::Window, QColor(170, 170, 170));
      QProxyStyle::drawPrimitive(element, &edged, painter, widget);
      return;
    }
    if (element == PE_FrameLineEdit && option) {
      // The edge Fusion draws is the window colour darkened by 140 %: here
      // a grey between the window's and the text's.
      std::unique_ptr<QStyleOption> edged(
          qstyleoption_cast<const QStyleOptionFrame *>(option)
              ? new QStyleOptionFrame(*qstyleoption_cast<const QStyleOptionFrame *>(option))
              : new QStyleOption(*option));
      edged->palette.setColor(QPalette::Window, QColor(160, 160, 160));
      QProxyStyle::drawPrimitive(element, edged.get(), painter, widget);
      return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }
};
} // namespace

void UseDarkLook() {
  QApplication::setStyle(new DarkFusionStyle);
  const QPalette dark = DarkFusionPalette();
  QApplication::setPalette(dark);
  // Tooltips keep a palette of their own.
  QToolTip::setPalette(dark);
}

void FollowDesktopLook() {
  if (WantsOwnDarkPalette(GatherDesktopLookHints())) UseDarkLook();
}

} // namespace varnholt
