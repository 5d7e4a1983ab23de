#include "mainwindow/editor_fixture.h"

#include "dialogs/frm_go.h"
#include "mainwindow/check_list_model.h"
#include "processing/run.h"

#include <QDir>

#include <functional>
#include <tuple>
#include <utility>

namespace varnholt::test {
namespace {

const QString kSaveTitle = QStringLiteral("Save Operation?");
const QString kSaveText =
    QStringLiteral("Do you want to save the selected operation before processing images?");
const QString kDoneTitle = QStringLiteral("Done!");
const QString kDoneText =
    QStringLiteral("Process Finished! Would you like to see the resultant files?");

class StartRun : public EditorTest {
protected:
  // The list from lines of a list file, and the editor as saved.
  void LoadList(const QByteArray &lines) {
    const QString file = lists.file("run.vop");
    WriteBytes(file, lines);
    window->Operations().OperationsFileToList(file);
  }
  QStringList Files() const { return QDir(images.path()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(StartRun, RunsEveryTickedOperationOnEveryTickedImageAndOffersTheResults) {
  Make({"a.png", "b.png", "c.png"}, 8, 6);
  Start();
  Entry("b.png")->setCheckState(Qt::Unchecked);
  LoadList(
      "1>Extract (1,1)-(4,3) Prefix: \"th_\" Quality: \"75\"\r\n"
      "0>Extract Whole Image Prefix: \"no_\" Quality: \"75\"\r\n"
      "1>Extract Whole Image LimitWidth (4) Suffix: \"_s\" Format: \"GIF\" Quality: \"75\"\r\n");
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::Yes);
  QString shownWithDone; // the run window's counts, on the screen under the question
  focusTaker.peek = [&](const QString &) {
    if (window->RunWindow()->isVisible())
      shownWithDone = Control<QLabel>(*window->RunWindow(), "lblRunCounts")->text();
  };
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(shownWithDone, "4 written, 0 skipped, 0 failed");

  // The one file a pair writes takes the format's name as its extension.
  EXPECT_EQ(Files(),
            QStringList({"a.png", "a_s.GIF", "b.png", "c.png", "c_s.GIF", "th_a.png", "th_c.png"}));
  EXPECT_EQ(ImageSize(images.file("th_a.png")), QSize(4, 3));
  EXPECT_EQ(shell.opened, QStringList({images.path()}));
  EXPECT_EQ(Listed(), Files()) << "the image list shows the new files";
  EXPECT_FALSE(window->RunWindow()->isVisible());
}

// Exported again beside the images: the results are listed apart and
// unticked, so a second run replaces them and writes no web_web_* file. A
// result ticked by hand is an image like any other, protected as one.
TEST_F(StartRun, ExportingAgainTakesOnlyTheImagesNotTheirResults) {
  Make({"a.png", "b.png"}, 8, 6);
  Start();
  LoadList("1>Extract Whole Image Prefix: \"web_\" Format: \"JPG\" Quality: \"75\"\r\n");
  const QStringList results = {"a.png", "b.png", "web_a.JPG", "web_b.JPG"};
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::No);
    QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
    EXPECT_EQ(Files(), results);
    EXPECT_EQ(Listed(), results);
    EXPECT_EQ(Listed(true), QStringList({"a.png", "b.png"}));
    EXPECT_EQ(Entry("web_a.JPG")->toolTip(), kMarkedResultTip);
    EXPECT_EQ(Entry("a.png")->toolTip(), "");
  }
  // Unticked, the list no longer writes them: no longer results.
  Find<QListWidget>("lstOperations")->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(Entry("web_a.JPG")->toolTip(), "");
  Find<QListWidget>("lstOperations")->item(0)->setCheckState(Qt::Checked);
  Entry("web_a.JPG")->setCheckState(Qt::Checked);
  const QString over = images.file("web_a.JPG");
  prompter.expect(kOperationErrorTitle,
                  OperationErrorText("a.png", "Extract Whole Image Prefix: \"web_\" Format: "
                                              "\"JPG\" Quality: \"75\""),
                  Buttons::YesNoCancel, Icon::Question, Answer::Yes,
                  "1001 - The result would replace the image " + over +
                      " of this run, so it was not written: " + over +
                      "\r\nOperation: Setting Result File");
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::No);
  const QByteArray source = ReadBytes(images.file("web_a.JPG"));
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(ReadBytes(images.file("web_a.JPG")), source) << "a source is never written over";
  EXPECT_TRUE(Files().contains("web_web_a.JPG"));
}

TEST_F(StartRun, DoneOpensTheOutputFolderWhenResultsGoThere) {
  Make({"a.png"});
  TempFolder output;
  settings.OutputInDiffDir = true;
  settings.OutputDir = output.path();
  Start();
  LoadList("1>Extract Whole Image Quality: \"75\"\r\n");
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::Yes);
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(shell.opened, QStringList({output.path()}));
  EXPECT_TRUE(QFile::exists(output.file("a.png")));

  // Where no file manager answers, the user is told where the files are.
  shell.result = false;
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::Yes);
  prompter.expect("Resultant Files",
                  "No file manager could open the folder of the resultant files:\r\n\r\n" +
                      output.path(),
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(shell.opened.size(), 2);
}

TEST_F(StartRun, AnUnsavedEditIsOfferedBeforeTheRun) {
  Make({"a.png"});
  Start();
  LoadList("1>Extract Whole Image Prefix: \"p_\" Quality: \"75\"\r\n");
  Type(Box("txtPrefix"), "q_");

  prompter.expect(kSaveTitle, kSaveText, Buttons::YesNoCancel, Icon::Question, Answer::Cancel);
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(window->RunWindow(), nullptr);

  prompter.expect(kSaveTitle, kSaveText, Buttons::YesNoCancel, Icon::Question, Answer::No);
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::No);
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(Files(), QStringList({"a.png", "p_a.png"}));
  EXPECT_EQ(List("lstOperations")->count(), 1);
  const frmGo *first = window->RunWindow();

  // Yes with nothing highlighted adds the editor's operation, which runs too.
  prompter.expect(kSaveTitle, kSaveText, Buttons::YesNoCancel, Icon::Question, Answer::Yes);
  prompter.expect("Operation Addition", kCopyOnlyText, Buttons::YesNo, Icon::Question, Answer::Yes);
  // p_a.png is in the list now, as a result of the list: unticked, replaced.
  prompter.expect(kDoneTitle, kDoneText, Buttons::YesNo, Icon::Question, Answer::No);
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(List("lstOperations")->count(), 2);
  EXPECT_TRUE(QFile::exists(images.file("q_a.png")));
  EXPECT_EQ(window->RunWindow(), first) << "the run window is made once and shown again";
  EXPECT_TRUE(shell.opened.isEmpty());
}

// Nothing ticked, or two ticked operations that would write the same files:
// the run does not start and nothing is written.
TEST_F(StartRun, RefusesToStartWithNothingTickedOrWithClashes) {
  Start();
  LoadList("1>Extract Whole Image Prefix: \"th_\" Quality: \"75\"\r\n"
           "1>Extract Whole Image Prefix: \"sm_\" Quality: \"75\"\r\n"
           "1>Extract Whole Image Prefix: \"th_\" Format: \"PNG\" Quality: \"75\"\r\n");
  ExpectOk("Nothing to Do", "No images or operations selected!");
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);

  Make({"a.png"});
  window->Images().RefreshFileList();
  ExpectOk("Clashes Detected",
           "The following prefix/suffix clashes were found in selected operations (which means "
           "files would be overwritten):\r\n\r\nPrefix: \"th_\", Suffix: \"\" at position 3\r\n\r\n"
           "Please Adjust prefix/suffix values, or deselect operations to rectify.");
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);

  for (int row = 0; row < 3; ++row)
    List("lstOperations")->item(row)->setCheckState(Qt::Unchecked);
  ExpectOk("Nothing to Do", "No images or operations selected!");
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  EXPECT_EQ(window->RunWindow(), nullptr);
  EXPECT_EQ(Files(), QStringList({"a.png"}));
}

// No at an error ends the run there, with no Done question, but the list is rebuilt.
TEST_F(StartRun, NoAtAnErrorEndsTheRunWithoutTheDoneQuestion) {
  Touch("img.png"); // no image: its first operation fails
  Start();
  LoadList("1>Extract Whole Image Prefix: \"p_\" Quality: \"75\"\r\n"
           "1>Extract Whole Image Prefix: \"q_\" Quality: \"75\"\r\n");
  Make({"late.png"}); // appears only when the list is rebuilt
  prompter.expect(
      kOperationErrorTitle,
      OperationErrorText("img.png", "Extract Whole Image Prefix: \"p_\" Quality: \"75\""),
      Buttons::YesNoCancel, Icon::Question, Answer::No,
      "425 - improper image header `" + images.file("img.png") +
          "' @ error/png.c/ReadPNGImage/4115\r\nOperation: Getting Image Size");
  QTest::mouseClick(Button("cmdGo"), Qt::LeftButton);
  ASSERT_NE(window->RunWindow(), nullptr);
  EXPECT_TRUE(window->RunWindow()->ProcessAborted());
  EXPECT_EQ(window->RunWindow()->findChild<QLabel *>("lblRunCounts")->text(),
            "0 written, 1 skipped (stopped), 1 failed");
  EXPECT_TRUE(Listed().contains("late.png"));
  EXPECT_TRUE(shell.opened.isEmpty());
  EXPECT_TRUE(errors.reports.empty());
}

// What a run reads is the lists' entries as they stand at each step: a tick
// clicked in a list box, one the window sets, and one changed mid-run.
TEST_F(StartRun, TheRunReadsEachTickAsTheListsHoldItThen) {
  Make({"a.png", "b.png", "c.png"});
  Start();
  LoadList("1>Extract Whole Image Prefix: \"p_\" Quality: \"75\"\r\n"
           "0>Extract Whole Image Prefix: \"q_\" Quality: \"75\"\r\n");
  const RunSource &source = window->Source();
  Entry("b.png")->setCheckState(Qt::Unchecked);
  List("lstOperations")->item(1)->setCheckState(Qt::Checked);
  EXPECT_EQ(source.inputFolder(), images.path());
  ASSERT_EQ(source.imageCount(), 3);
  for (const auto &[row, text, ticked] :
       {std::tuple{0, "a.png", true}, {1, "b.png", false}, {2, "c.png", true}}) {
    EXPECT_EQ(source.imageText(row), text);
    EXPECT_EQ(source.imageTicked(row), ticked) << text;
  }
  EXPECT_EQ(source.operationCount(), 2);
  EXPECT_TRUE(source.operationTicked(1)) << "ticked in the box";
  QTest::mouseClick(Button("cmdDeselectAll"), Qt::LeftButton);
  EXPECT_TRUE(Ticked().isEmpty()) << "the boxes show what the window set";
  EXPECT_FALSE(source.imageTicked(0) || source.imageTicked(2));
  QTest::mouseClick(Button("cmdSelectAll"), Qt::LeftButton);

  // Unticked in the box while a.png is being done: the run leaves c.png out.
  struct UntickingView : RunView {
    std::function<void()> onFirst;
    void ShowImage(const QString &) override {
      if (onFirst) std::exchange(onFirst, nullptr)();
    }
    void ShowOperation(const QString &) override {}
    void ShowProgress(qint64, qint64) override {}
  } view;
  view.onFirst = [this] { Entry("c.png")->setCheckState(Qt::Unchecked); };
  RunState state;
  const RunOutcome outcome = DoOperations(source, view, {settings, toolkit, prompter}, state);
  EXPECT_FALSE(outcome.ProcessAborted);
  EXPECT_EQ(Files(),
            QStringList({"a.png", "b.png", "c.png", "p_a.png", "p_b.png", "q_a.png", "q_b.png"}));
}

} // namespace
} // namespace varnholt::test
