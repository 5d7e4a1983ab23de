// Images of a folder's whole tree: how it is walked, where the results go,
// and a real run of it, alone and with workers running ahead.
#include "operations/file_listing.h"
#include "platform/failure.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/output_plan.h"
#include "processing/pair_stage.h"
#include "processing/run.h"
#include "processing/run_plan.h"
#include "settings/settings.h"
#include "support/scripted_prompter.h"
#include "support/test_images.h"
#include "workers/ahead_pool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace varnholt {
namespace {

using test::TempFolder;

// Permissions do not stop root: for as long as it lives, the test looks at
// the files as nobody would.
class AsNobody {
public:
  AsNobody() : root_(::geteuid() == 0) {
    if (root_) EXPECT_EQ(::seteuid(65534), 0);
  }
  ~AsNobody() {
    if (root_) EXPECT_EQ(::seteuid(0), 0);
  }

private:
  bool root_;
};

// A file, and the folders it is in.
void Put(const QString &path, const QByteArray &bytes = "x") {
  QDir().mkpath(QFileInfo(path).path());
  test::WriteBytes(path, bytes);
}
void MakeImageAt(const QString &path) {
  QDir().mkpath(QFileInfo(path).path());
  test::MakeImage(path, 12, 8);
}

TEST(Subfolders, TheTreeIsWalkedWithoutHiddenFoldersLinksOrTheResultsFolder) {
  TempFolder dir;
  const QString in = dir.file("in");
  QString deep = "a";
  for (int level = 0; level < 14; ++level)
    deep += QStringLiteral("/level %1 of a long archive path").arg(level);
  for (const QString &name :
       {QString("top.jpg"), QString("B/b.png"), QString("a/A.jpg"), QString("a/.h.jpg"),
        QString("a/notes.txt"), deep + "/deep.jpg", QString(".hidden/h.jpg"),
        QString("web/top.jpg"), QString("locked/x.jpg"), QString("B/x/skip_b.png")})
    Put(in + '/' + name);
  ASSERT_EQ(::symlink("..", QFile::encodeName(in + "/B/loop").constData()), 0);
  ASSERT_EQ(::symlink(".", QFile::encodeName(in + "/a/here").constData()), 0);
  Put(dir.file("elsewhere/e.jpg"));
  ASSERT_EQ(::symlink("../../elsewhere", QFile::encodeName(in + "/B/away").constData()), 0);
  ASSERT_EQ(::mkdir(QFile::encodeName(in).append("/caf\xe9").constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(in + "/locked").constData(), 0), 0);
  ImageTree tree;
  {
    AsNobody nobody;
    tree = ListImageTree(in, "skip*", true, in + "/web");
  }
  EXPECT_EQ(tree.images, (QStringList{"top.jpg", "a/A.jpg", deep + "/deep.jpg", "B/b.png"}));
  EXPECT_EQ(tree.unreadableNames, QStringList{"caf\\xe9/"});
  EXPECT_EQ(tree.unreadableFolders, QStringList{"locked: Permission denied"});
  // Without a folder to leave out, the results' folder is a folder like any.
  EXPECT_TRUE(ListImageTree(in, "", false).images.contains("web/top.jpg"));
  // Without subfolders the list is what it always was.
  EXPECT_EQ(ListImageFiles(in, "", false), QStringList{"top.jpg"});
  EXPECT_THROW(ListImageTree(dir.file("missing"), "", false), Failure);
  EXPECT_THROW(ListImageTree(in, "[", false), Failure);
  ::chmod(QFile::encodeName(in + "/locked").constData(), 0755);
  ::rmdir(QFile::encodeName(in).append("/caf\xe9").constData());
}

// A folder's own images, then each subfolder's (its own subfolders after
// it), folders and names alike without case: how the tree is walked, and
// where the window's list inserts a name.
TEST(Subfolders, AFoldersOwnImagesComeBeforeThoseOfItsSubfolders) {
  const struct {
    const char *a, *b;
    bool less;
  } rows[] = {{"z.jpg", "a/b.jpg", true},       {"a/b.jpg", "z.jpg", false},
              {"a/z.jpg", "a/b/c.jpg", true},   {"a/b/c.jpg", "a/z.jpg", false},
              {"a/z.jpg", "B/a.jpg", true},     {"B/a.jpg", "a/z.jpg", false},
              {"A/x.jpg", "a/x.jpg", true},     {"a/x.jpg", "A/x.jpg", false},
              {"a/B.jpg", "a/c.jpg", true},     {"a/c.jpg", "a/c.jpg", false},
              {"ab/a.jpg", "a/b/a.jpg", false}, {"a/b/a.jpg", "ab/a.jpg", true}};
  for (const auto &row : rows)
    EXPECT_EQ(ImageNameLess(row.a, row.b), row.less) << row.a << " < " << row.b;
  const struct {
    const char *folder, *path, *subfolder;
  } places[] = {{"/in", "/in/a.jpg", ""},
                {"/in", "/in/2024/a.jpg", "2024"},
                {"/in/", "/in/2024/jan/a.jpg", "2024/jan"},
                {"/in", "/inside/a.jpg", ""},
                {"", "/in/a.jpg", ""}};
  for (const auto &place : places)
    EXPECT_EQ(ImageSubfolderIn(place.folder, place.path), place.subfolder) << place.path;
  EXPECT_EQ(SubfolderOf("/", "2024"), "/2024");
  EXPECT_EQ(SubfolderOf("/out/", ""), "/out");
  // A dot in a folder's name is no extension.
  const PairPlan pair = PlanImagePair("/out/", "2024.06/IMG", {.Prefix = "p_", .Suffix = "_s"});
  EXPECT_EQ(pair.folder, "/out/2024.06");
  EXPECT_EQ(pair.target, "p_IMG_s");
  EXPECT_EQ(ImageSubfolders({"a.jpg", "x/a.jpg", "x/b.jpg", "x/y/a.jpg", "x/a.png"}),
            (QStringList{"x", "x/y"}));
}

// A result lies beside its own image: web_a.jpg of 2025 is a photo there
// when 2025 has no a.jpg. Claims and shards know the folders apart.
TEST(Subfolders, ResultsClaimsAndShardsAreEachFoldersOwn) {
  const std::vector<Operation> web{{.Prefix = "web_"}};
  EXPECT_EQ(EarlierResults({"a.jpg", "web_a.jpg", "2024/a.jpg", "2024/web_a.jpg",
                            "2024/web_a-2.jpg", "2025/web_a.jpg", "2024/x/web_a.jpg"},
                           web),
            (QStringList{"web_a.jpg", "2024/web_a.jpg", "2024/web_a-2.jpg"}));

  RunPlan plan;
  plan.inputFolder = "/in";
  plan.images = {"a/x.png", "b/x.png", "c/x.png", "d/x.png", "d/p_x.png", "e.png"};
  plan.operations = {{1, QString(), {.Prefix = "p_"}}};
  ClaimPairs(plan, "/in"); // beside the images
  for (int i : {0, 1, 2, 4, 5})
    EXPECT_EQ(plan.whyNotRun(i, 0), "") << i;
  EXPECT_EQ(plan.whyNotRun(3, 0), "it would write over the source image p_x.png");
  // Same names in other folders are no group: one name in every folder of
  // an archive would otherwise make one part of it all.
  EXPECT_EQ(ShardParts(plan, "/in", 3), std::vector<int>({0, 0, 1, 1, 2, 2}));
}

// A real run of a tree into another folder and beside the images, alone
// and with workers running ahead of it.
class SubfolderRuns : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    for (const char *name : {"top.jpg", "2024/IMG_1.jpg", "2024/jan/IMG_1.png", "2025/b.png"})
      MakeImageAt(dir.file(QString("in/") + name));
    settings.IncludeSubfolders = true;
    if (GetParam()) ahead = std::make_unique<AheadPool>(2, QStringLiteral(VARNHOLT_EXECUTABLE));
  }
  RunOutcome go(const QString &output) {
    settings.OutputInDiffDir = !output.isEmpty();
    settings.OutputDir = output;
    ListRunSource source;
    source.folder = dir.file("in");
    const ImageTree tree = ListImageTree(source.folder, "", false, output);
    QString error;
    const std::vector<Operation> ops{{.Resize = true,
                                      .ResizeMethod = kLimitWidth,
                                      .ResizeWidth = 6,
                                      .OutputFormat = "JPG",
                                      .Prefix = "web_"}};
    const QStringList results = output.isEmpty() ? EarlierResults(tree.images, ops) : QStringList();
    for (const QString &image : tree.images)
      source.images.push_back({image, !results.contains(image)});
    source.operations = {{OperationDescription(ops[0], error)}};
    RunState state;
    return DoOperations(source, view, {settings, toolkit, prompter, ahead.get()}, state);
  }
  class NoView : public RunView {
    void ShowImage(const QString &) override {}
    void ShowOperation(const QString &) override {}
    void ShowProgress(qint64, qint64) override {}
  } view;
  TempFolder dir;
  Settings settings;
  MagickToolkit toolkit;
  test::ScriptedPrompter prompter;
  std::unique_ptr<AheadPool> ahead;
};
INSTANTIATE_TEST_SUITE_P(AloneAndAhead, SubfolderRuns, ::testing::Bool());

TEST_P(SubfolderRuns, ResultsMirrorTheTreeAndASecondExportFindsItsOwn) {
  const QStringList sources = test::FilesBelow(dir.file("in"));
  const QString out = dir.file("in/web"); // inside the tree: no image of the next run
  QDir().mkpath(out);
  for (int twice = 0; twice < 2; ++twice) {
    EXPECT_FALSE(go(out).failure);
    EXPECT_EQ(test::FilesBelow(out), (QStringList{"2024/jan/web_IMG_1.JPG", "2024/web_IMG_1.jpg",
                                                  "2025/web_b.JPG", "web_top.jpg"}));
    EXPECT_EQ(test::ImageSize(out + "/2024/jan/web_IMG_1.JPG"), QSize(6, 4));
  }
  QDir(out).removeRecursively();
  EXPECT_EQ(test::FilesBelow(dir.file("in")), sources) << "sources untouched, nothing left behind";

  for (int twice = 0; twice < 2; ++twice) {
    EXPECT_FALSE(go(QString()).failure);
    EXPECT_EQ(test::FilesBelow(dir.file("in")),
              (QStringList{"2024/IMG_1.jpg", "2024/jan/IMG_1.png", "2024/jan/web_IMG_1.JPG",
                           "2024/web_IMG_1.jpg", "2025/b.png", "2025/web_b.JPG", "top.jpg",
                           "web_top.jpg"}));
  }
}

// A subfolder that cannot be made fails its own pairs, with why; the rest
// of the tree is written.
TEST_P(SubfolderRuns, ASubfolderThatCannotBeMadeFailsOnlyItsPairs) {
  const QString out = dir.file("out");
  Put(out + "/2025", "a file where the folder would go");
  prompter.expect("Error in Operation",
                  "An error occured when processing:\r\n\r\nImage: 2025/b.png\r\nOperation: "
                  "Extract Whole Image LimitWidth (6) Prefix: \"web_\" Format: \"JPG\" "
                  "Quality: \"75\"\r\n\r\nDo you want to continue? (Cancel = Yes to All)",
                  Buttons::YesNoCancel, Icon::Question, Answer::Yes,
                  "20 - Not a directory: " + out + "/2025\r\nOperation: Setting Result File");
  EXPECT_FALSE(go(out).failure);
  EXPECT_EQ(test::FilesBelow(out),
            (QStringList{"2024/jan/web_IMG_1.JPG", "2024/web_IMG_1.jpg", "2025", "web_top.jpg"}));
}

} // namespace
} // namespace varnholt
