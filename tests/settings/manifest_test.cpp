#include "settings/manifest.h"
#include "support/test_images.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace varnholt {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

const char kExpected[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?> \r\n"
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

TEST_F(Manifest, TheRestartStartsThisProgramWithTheSameArguments) {
  QStringList started;
  ProcessRestarter real({"/home/u/My Shoot", "--x"}, [&](const QString &p, const QStringList &a) {
    started = QStringList(p) + a;
    return true;
  });
  EXPECT_TRUE(real.restart());
  EXPECT_EQ(started,
            QStringList({QCoreApplication::applicationFilePath(), "/home/u/My Shoot", "--x"}));

  qputenv("VARNHOLT_RESTARTED", "1");
  EXPECT_TRUE(ProcessRestarter::TakeRestartedMark());
  EXPECT_FALSE(ProcessRestarter::TakeRestartedMark()) << "nothing this instance starts inherits it";
}

} // namespace
} // namespace varnholt
