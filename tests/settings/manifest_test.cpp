#include "settings/manifest.h"
#include "support/test_images.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const char kExpected[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?> \r\n"
                         "<assembly \r\n"
                         "   xmlns=\"urn:schemas-microsoft-com:asm.v1\" \r\n"
                         "   manifestVersion=\"1.0\">\r\n"
                         "<assemblyIdentity \r\n"
                         "    processorArchitecture=\"x86\" \r\n"
                         "    version=\"1.0.0.0\"\r\n"
                         "    type=\"win32\"\r\n"
                         "    name=\"varnholt\"/>\r\n"
                         "    <description>Batch image processor</description>\r\n"
                         "    <dependency>\r\n"
                         "    <dependentAssembly>\r\n"
                         "    <assemblyIdentity\r\n"
                         "         type=\"win32\"\r\n"
                         "         name=\"Microsoft.Windows.Common-Controls\"\r\n"
                         "         version=\"6.0.0.0\"\r\n"
                         "         publicKeyToken=\"6595b64144ccf1df\"\r\n"
                         "         language=\"*\"\r\n"
                         "         processorArchitecture=\"x86\"/>\r\n"
                         "    </dependentAssembly>\r\n"
                         "    </dependency>\r\n"
                         "</assembly>\r\n";

class Manifest : public ::testing::Test {
protected:
  struct Recorder : Restarter {
    bool restart() override {
      ++restarts;
      return true;
    }
    int restarts = 0;
  };
  TempFolder folder;
  Recorder restarter;
};

TEST_F(Manifest, OnlyAFirstWriteRestartsAndAnOverwriteReplacesALeftover) {
  const ManifestPlace place{folder.path(), "varnholt", "1.0.0.0", "Batch image processor"};
  EXPECT_EQ(place.path(), folder.file("varnholt.manifest"));
  const struct {
    const char *leftover; // written read-only before the call
    bool restart;
    bool existed, written, restarted;
  } rows[] = {
      {nullptr, true, false, true, true},
      // The restarted instance finds it and goes on; so does a start after a crash.
      {nullptr, true, true, false, false},
      {"stale", false, true, true, false},
  };
  for (const auto &row : rows) {
    if (row.leftover) {
      QFile::remove(place.path());
      WriteBytes(place.path(), row.leftover);
      QFile::setPermissions(place.path(), QFile::ReadOwner);
    }
    const ManifestWrite result = WriteManifest(place, row.restart, true, &restarter);
    EXPECT_EQ(ReadBytes(place.path()), QByteArray(kExpected));
    EXPECT_EQ(QList<bool>({result.existed, result.written, result.restarted}),
              QList<bool>({row.existed, row.written, row.restarted}));
    EXPECT_EQ(restarter.restarts, 1);
  }
  EXPECT_TRUE(DeleteManifest(place));
  EXPECT_FALSE(QFile::exists(place.path()));
  EXPECT_FALSE(DeleteManifest(place));

  // A link planted at the name: neither writing nor deleting reaches its target.
  const QString script = folder.file("script.sh");
  WriteBytes(script, "#!/bin/sh\n");
  QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadOther | QFile::ExeOther);
  const auto permissions = QFile::permissions(script);
  for (const bool write : {true, false}) {
    ASSERT_TRUE(QFile::link(script, place.path()));
    if (write) EXPECT_TRUE(WriteManifest(place, false, true, nullptr).written);
    EXPECT_TRUE(DeleteManifest(place));
    EXPECT_EQ(QList<bool>({QFile::exists(place.path()), QFileInfo(place.path()).isSymLink()}),
              QList<bool>({false, false}));
    EXPECT_EQ(ReadBytes(script), "#!/bin/sh\n");
    EXPECT_EQ(QFile::permissions(script), permissions);
  }

  // A folder that cannot be written means no manifest and no restart.
  WriteBytes(folder.file("plain"), "a file, not a folder");
  const ManifestWrite written =
      WriteManifest({folder.file("plain"), "varnholt", "1.0.0.0", ""}, true, true, &restarter);
  EXPECT_FALSE(written.existed || written.written || written.restarted);
  EXPECT_EQ(restarter.restarts, 1);
}

TEST_F(Manifest, PlaceholdersAreFilledOnceInTheirOrder) {
  const ManifestPlace place{folder.path(), "EXEVERSION", "1.0.0.0", "EXENAME & <co>"};
  const QByteArray text = ManifestText(place);
  EXPECT_TRUE(text.contains("name=\"1.0.0.0\"/>")) << "a name is filled in before the version";
  EXPECT_TRUE(text.contains("<description>EXENAME & <co></description>"));
}

TEST_F(Manifest, TheRestartExecsThisExecutableWithTheSameArgumentsAndMarksIt) {
  for (const bool replaced : {true, false}) {
    QByteArrayList execd;
    bool markedDuringExec = false;
    ProcessRestarter seam({"varnholt", "/home/u/My \"Shoot\" $HOME", "-x"},
                          [&](const QByteArray &program, const QByteArrayList &argv) {
                            execd = QByteArrayList{program} + argv;
                            markedDuringExec = qEnvironmentVariableIsSet("VARNHOLT_RESTARTED");
                            return replaced;
                          });
    EXPECT_EQ(seam.restart(), replaced);
    EXPECT_EQ(execd,
              QByteArrayList({"/proc/self/exe", "varnholt", "/home/u/My \"Shoot\" $HOME", "-x"}));
    EXPECT_TRUE(markedDuringExec);
    EXPECT_EQ(ProcessRestarter::TakeRestartedMark(), replaced)
        << "a failed exec leaves no mark for what this instance starts later";
    EXPECT_FALSE(ProcessRestarter::TakeRestartedMark());
  }
}

// The real exec, in a small program that restarts itself once: the process
// id, the arguments and the environment stay, and the mark is taken off.
TEST(Restart, ReplacesTheProcessInPlace) {
  QProcess probe;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("VARNHOLT_PROBE", "kept");
  probe.setProcessEnvironment(environment);
  const QStringList arguments{"My \"Shoot\" $HOME", "-x", "two\nlines"};
  probe.start(VARNHOLT_RESTART_PROBE, arguments);
  ASSERT_TRUE(probe.waitForStarted());
  const QString pid = QString::number(probe.processId());
  ASSERT_TRUE(probe.waitForFinished(10000));
  QByteArrayList args{VARNHOLT_RESTART_PROBE};
  for (const QString &argument : arguments)
    args << argument.toUtf8().toPercentEncoding();
  const QByteArray tail = args.join(' ') + " kept\n";
  EXPECT_EQ(probe.readAllStandardOutput(),
            "before " + pid.toUtf8() + ' ' + tail + "after " + pid.toUtf8() + ' ' + tail);
  EXPECT_EQ(probe.exitCode(), 0);
}

} // namespace
} // namespace varnholt
